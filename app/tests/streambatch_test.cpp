// Batches converted one item at a time: into the outbox and into a folder, going past the items
// that give no object and naming them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <regex>
#include <thread>

#include "batch.h"
#include "conversioncontext.h"
#include "dicomfile.h"
#include "log.h"
#include "savestream.h"
#include "sendoutbox.h"
#include "streambatch.h"
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
    UserMessage message;
    ASSERT_TRUE(PrepareBatch(form, nullptr, 4, SetupConfig{}, message)) << message;
  }

  std::string Write(const std::string& name, const std::string& bytes) {
    testsupport::WriteFile(dir_ / name, bytes);
    return (dir_ / name).string();
  }

  TempDir dir_;
};

TEST_F(StreamedBatchTest, QueueingGoesPastItemsThatGiveNoObjectAndNamesThem) {
  const std::vector<std::string> items = {
      Write("a.png", testpictures::MakePng(16, 8, testpictures::PngKind::Rgb)),
      Write("notes.xyz", "not a kind the batch converts"),
      Write("broken.png", "\x89PNG not really"), Write("c.pdf", "%PDF-1.4\n%%EOF\n")};
  Outbox outbox(dir_ / "outbox");
  std::string error;
  ASSERT_TRUE(outbox.Open(error)) << error;
  BatchReport report;
  const OutboxSendResult result = SendPreparedThroughOutbox(
      items, outbox, PacsTarget{}, OutboxSendMode::QueueOnly, {}, {}, &report);
  EXPECT_FALSE(result.success);
  EXPECT_EQ(result.queuedItems, (std::vector<size_t>{0, 3}));
  EXPECT_EQ(result.skippedItems, (std::vector<size_t>{1, 2}));
  EXPECT_EQ(report.DeliveredItems(), (std::vector<size_t>{0, 3}));
  EXPECT_NE(result.message.English().find("\nbroken.png: "), std::string::npos) << result.message;
  EXPECT_NE(result.message.English().find(
                "\n2 of 4 items were not sent: notes.xyz (unknown kind), broken.png ("),
            std::string::npos)
      << result.message;
  const std::vector<OutboxEntry> queued = outbox.Entries();
  ASSERT_EQ(queued.size(), 2u);
  DicomFile file;
  ASSERT_TRUE(ReadDicomFile(outbox.PathOf(queued[0]).string(), file, error)) << error;
  EXPECT_EQ(file.dataSet.GetString(0x0010, 0x0010), "Roe^Rick");
  EXPECT_EQ(queued[0].batch, BatchUIDRoot);

  // Cancelled before the first item: nothing is queued and every item stays.
  std::stop_source stop;
  stop.request_stop();
  const OutboxSendResult cancelled = SendPreparedThroughOutbox(
      items, outbox, PacsTarget{}, OutboxSendMode::QueueAndDeliver, {}, stop.get_token());
  EXPECT_FALSE(cancelled.success);
  EXPECT_TRUE(cancelled.queuedItems.empty());
  EXPECT_EQ(cancelled.message.English(),
            "Send cancelled: 0 of 4 items were put in the outbox; the other 4 stay in the list.");
  EXPECT_EQ(outbox.Entries().size(), 2u);
}

TEST_F(StreamedBatchTest, SavingWritesEveryObjectThatWasMadeAndNamesTheRest) {
  const std::string png = Write("a.png", testpictures::MakePng(16, 8, testpictures::PngKind::Rgb));
  const std::string pdf = Write("c.pdf", "%PDF-1.4\n%%EOF\n");
  const std::string broken = Write("broken.png", "\x89PNG not really");
  const fs::path out = dir_ / "out";
  fs::create_directories(out);
  std::vector<std::string> written;
  UserMessage message;
  BatchReport report;
  EXPECT_FALSE(SaveItemsToFolder({png, broken, pdf}, out.string(), written, message, {}, &report));
  EXPECT_NE(message.English().find("1 of 3 items were not written: broken.png ("),
            std::string::npos)
      << message;
  EXPECT_EQ(report.DeliveredItems(), (std::vector<size_t>{0, 2}));
  ASSERT_EQ(written.size(), 2u);
  // Exactly the files written, each named by its SOP Instance UID; nothing half-done is left.
  std::vector<std::string> names;
  for (const fs::directory_entry& item : fs::directory_iterator(out)) {
    names.push_back(item.path().filename().string());
  }
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

// Pictures are encoded ahead on worker threads while the item in hand is written: each object
// still holds the picture of the item it is named for, in list order, around the items that are
// converted in hand or give no object.
TEST_F(StreamedBatchTest, PicturesEncodedAheadKeepTheirItems) {
  std::vector<std::string> items;
  std::map<std::string, uint16_t> widthOf;
  for (uint16_t n = 0; n < 12; ++n) {
    const std::string name = "p" + std::to_string(n) + (n % 2 == 0 ? ".jpg" : ".png");
    const uint16_t width = static_cast<uint16_t>(8 + n);
    items.push_back(Write(name, n % 2 == 0
                                    ? testpictures::MakeJpeg(width, 8, false)
                                    : testpictures::MakePng(width, 8, testpictures::PngKind::Rgb)));
    widthOf[name] = width;
    if (n == 4) items.push_back(Write("c.pdf", "%PDF-1.4\n%%EOF\n"));
    if (n == 7) items.push_back(Write("broken.png", "\x89PNG not really"));
  }
  std::vector<size_t> made;
  BatchReport report;
  const StreamedBatch batch = ConvertItemsOneByOne(
      items,
      [&](DcmObj& object, size_t item, std::string&) {
        made.push_back(item);
        const std::string name = fs::path(items[item]).filename().string();
        EXPECT_EQ(report.NameOf(object), name);
        if (widthOf.count(name) > 0) EXPECT_EQ(object.GetUS(0x0028, 0x0011), widthOf[name]) << name;
        return true;
      },
      {}, {}, &report);
  EXPECT_EQ(batch.skipped, std::vector<size_t>{9});
  std::vector<size_t> expected;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i != 9) expected.push_back(i);
  }
  EXPECT_EQ(made, expected);
}

// The files of a folder by name.
std::map<std::string, std::string> FilesIn(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& item : fs::directory_iterator(folder)) {
    files[item.path().filename().string()] = testsupport::ReadFile(item.path());
  }
  return files;
}

// Saving a batch one object at a time, with every picture encoded on the workers, writes the same
// files as the whole batch converted on one thread and then written: the same objects, UIDs and
// bytes, whatever the pictures' sizes and the items between them.
TEST_F(StreamedBatchTest, StreamedSavingWritesTheSameFilesAsTheWholeBatchOnOneThread) {
  std::vector<std::string> items;
  for (uint32_t i = 0; i < 7; ++i) {
    const uint32_t side = i % 3 == 0 ? 640 : 24;
    items.push_back(
        Write("p" + std::to_string(i) + ".jpg", testpictures::MakeJpeg(side, side * 3 / 4, false)));
    if (i == 2) items.push_back(Write("r.pdf", "%PDF-1.4 r"));
    if (i == 4)
      items.push_back(Write("b.png", testpictures::MakePng(40, 30, testpictures::PngKind::Rgb)));
  }
  UserMessage message;
  // The clock texts of both runs agree only within one second; retry when it ticked meanwhile.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::string before = NowText();
    const fs::path streamed = dir_ / ("streamed" + std::to_string(attempt));
    const fs::path whole = dir_ / ("whole" + std::to_string(attempt));
    fs::create_directories(streamed);
    fs::create_directories(whole);
    InstanceCounter = 0;
    std::vector<std::string> written;
    ASSERT_TRUE(SaveItemsToFolder(items, streamed.string(), written, message)) << message;
    InstanceCounter = 0;
    BatchLists lists;
    ASSERT_TRUE(ConvertItems(items, lists, message, nullptr, 1)) << message;
    std::vector<std::string> wholeWritten;
    ASSERT_TRUE(WriteBatch(lists, whole.string(), wholeWritten, message)) << message;
    if (NowText() != before) continue;
    const auto expected = FilesIn(whole);
    const auto got = FilesIn(streamed);
    ASSERT_EQ(expected.size(), items.size());
    ASSERT_EQ(got.size(), expected.size());
    for (const auto& [name, bytes] : expected) {
      ASSERT_EQ(got.count(name), 1u) << name;
      EXPECT_TRUE(got.at(name) == bytes) << name;
    }
    return;
  }
  FAIL() << "the clock ticked during every attempt";
}

// However long the batch and however slowly its objects are taken, the workers run only one
// picture each ahead of the one in hand: the batch says how many it held at once.
TEST_F(StreamedBatchTest, PicturesInMemoryStayBoundedWhileTheSinkIsSlow) {
  std::vector<std::string> items;
  for (uint32_t i = 0; i < 16; ++i) {
    items.push_back(Write("p" + std::to_string(i) + ".jpg", testpictures::MakeJpeg(64, 48, false)));
  }
  const fs::path logFile = dir_ / "log.txt";
  SetLogTarget(logFile.string(), "", "");
  size_t made = 0;
  const StreamedBatch batch = ConvertItemsOneByOne(items, [&](DcmObj&, size_t, std::string&) {
    // Long enough for every worker to finish its picture and look for the next one.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ++made;
    return true;
  });
  ReleaseLogTarget();
  EXPECT_TRUE(batch.complete);
  EXPECT_EQ(made, items.size());
  const unsigned cores = std::thread::hardware_concurrency();
  const std::string log = testsupport::ReadFile(logFile);
  std::smatch found;
  if (cores < 2) {
    EXPECT_FALSE(std::regex_search(log, found, std::regex("pictures encoded on"))) << log;
    return;
  }
  ASSERT_TRUE(std::regex_search(
      log, found,
      std::regex("16 pictures encoded on ([0-9]+) threads, at most ([0-9]+) in memory")))
      << log;
  EXPECT_EQ(std::stoul(found[1].str()), cores);
  EXPECT_LE(std::stoul(found[2].str()), cores + 1);
  EXPECT_GE(std::stoul(found[2].str()), 2u);
}

}  // namespace
