// Batches converted one item at a time: into the outbox and into a folder, and where a bad item
// stops them.
#include <gtest/gtest.h>

#include <algorithm>

#include "dicomfile.h"
#include "savestream.h"
#include "sendoutbox.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

class StreamedBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BatchForm form;
    form.patientName = "Roe^Rick";
    form.patientId = "PID24";
    form.modalityText = "XC";
    std::string message;
    ASSERT_TRUE(PrepareBatch(form, nullptr, 4, SetupConfig{}, message)) << message;
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    testsupport::WriteFile(dir_ / name, bytes);
    return (dir_ / name).string();
  }

  TempDir dir_;
};

TEST_F(StreamedBatchTest, QueueingStopsAtABadItemAndKeepsWhatWasQueued) {
  const std::vector<std::string> items = {
      Write("a.png", testpictures::MakePng(16, 8, testpictures::PngKind::Rgb)),
      Write("notes.xyz", "not a kind the batch converts"),
      Write("broken.png", "\x89PNG not really"), Write("c.pdf", "%PDF-1.4\n%%EOF\n")};
  Outbox outbox(dir_ / "outbox");
  std::string error;
  ASSERT_TRUE(outbox.Open(error)) << error;
  const OutboxSendResult result =
      SendPreparedThroughOutbox(items, outbox, PacsTarget{}, OutboxSendMode::QueueOnly);
  EXPECT_FALSE(result.success);
  EXPECT_EQ(result.queuedItems, std::vector<size_t>{0});
  EXPECT_EQ(result.skippedItems, std::vector<size_t>{1});
  EXPECT_NE(result.message.find("broken.png"), std::string::npos) << result.message;
  const std::vector<OutboxEntry> queued = outbox.Entries();
  ASSERT_EQ(queued.size(), 1u);
  DicomFile file;
  ASSERT_TRUE(ReadDicomFile(outbox.PathOf(queued[0]).string(), file, error)) << error;
  EXPECT_EQ(file.dataSet.GetString(0x0010, 0x0010), "Roe^Rick");
  EXPECT_EQ(queued[0].batch, BatchUIDRoot);
}

TEST_F(StreamedBatchTest, SavingWritesEveryObjectOrNothing) {
  const std::string png = Write("a.png", testpictures::MakePng(16, 8, testpictures::PngKind::Rgb));
  const std::string pdf = Write("c.pdf", "%PDF-1.4\n%%EOF\n");
  const std::string broken = Write("broken.png", "\x89PNG not really");
  const fs::path out = dir_ / "out";
  fs::create_directories(out);
  auto listing = [&] {
    std::vector<std::string> names;
    for (const fs::directory_entry& item : fs::directory_iterator(out)) {
      names.push_back(item.path().filename().string());
    }
    return names;
  };

  std::vector<std::string> written;
  std::string message;
  EXPECT_FALSE(SaveItemsToFolder({png, broken, pdf}, out.string(), written, message));
  EXPECT_NE(message.find("broken.png"), std::string::npos) << message;
  EXPECT_TRUE(written.empty());
  EXPECT_TRUE(listing().empty()) << "a stopped batch left files behind";

  ASSERT_TRUE(SaveItemsToFolder({png, pdf}, out.string(), written, message)) << message;
  ASSERT_EQ(written.size(), 2u);
  std::vector<std::string> names = listing();
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected;
  for (const std::string& path : written) {
    DicomFile file;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(path, file, error)) << error;
    EXPECT_EQ(fs::path(path).filename(), file.dataSet.GetString(0x0008, 0x0018) + ".dcm");
    expected.push_back(fs::path(path).filename().string());
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
}

}  // namespace
