// The program's own work files (scans, print jobs) queued in the outbox while the PACS was away:
// deleted once their objects are delivered later, by the background sender; the user's own files
// are never touched.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "orthanc.h"
#include "outbox_testing.h"
#include "outboxsender.h"
#include "send.h"
#include "sendoutbox.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

TEST(OutboxWorkFiles, AWorkFileGoesOnceTheSenderHasDeliveredItsObjectLaterAndUserFilesStay) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available()) << "Orthanc missing (scripts/setup.sh)";
  TempDir dir;
  const fs::path work = dir / "work";
  fs::create_directories(work);
  fs::create_directories(dir / "photos");
  // A scanned page the program made, and a photo of the user's.
  const std::vector<std::string> items = {(work / "scan_0001.png").string(),
                                          (dir / "photos" / "a.jpg").string()};
  testsupport::WriteFile(items[0], testpictures::MakePng(32, 16, testpictures::PngKind::Rgb));
  testsupport::WriteFile(items[1], testpictures::MakeJpeg(64, 48, false));
  ASSERT_TRUE(outboxtesting::PrepareRoeBatch(items.size()));
  Outbox outbox = outboxtesting::OpenedOutbox(dir);

  // The PACS is away: both wait in the outbox, and the scan stays in the work folder.
  const int pacsPort = testsupport::FreePort();
  PacsTarget away;
  away.node = RemoteNode{"VELLORAN", "ORTHANC", "127.0.0.1", std::to_string(pacsPort)};
  const OutboxSendResult queued =
      SendPreparedThroughOutbox(items, outbox, away, OutboxSendMode::QueueAndDeliver);
  EXPECT_EQ(queued.queuedItems, (std::vector<size_t>{0, 1}));
  EXPECT_EQ(queued.delivery.waiting, 2u);
  EXPECT_TRUE(fs::exists(items[0]));

  // Back again: the background sender delivers them and the scan goes with its object.
  TempDir orthancWork;
  testsupport::OrthancPacs::Options options;
  options.dicomPort = pacsPort;
  testsupport::OrthancPacs orthanc(orthancWork, options);
  ASSERT_TRUE(orthanc.Running());
  OutboxSender sender(
      outbox,
      [&](PacsTarget& target, std::string&) {
        target.node = RemoteNode{"VELLORAN", "ORTHANC", "127.0.0.1", orthanc.Port()};
        return true;
      },
      {}, work);
  sender.Start();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!outbox.Entries().empty() || sender.Status().delivering) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the outbox was not delivered";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  sender.Stop();
  EXPECT_FALSE(fs::exists(items[0]));
  EXPECT_TRUE(fs::exists(items[1]));
}

}  // namespace
