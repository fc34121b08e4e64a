// Delivering the outbox: a refused object is kept with its cause, a batch waits while the PACS is
// away and arrives once when it is back, and what the indicator says meanwhile.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <mutex>
#include <set>
#include <thread>

#include "dcmtk_peer.h"
#include "dimse.h"
#include "orthanc.h"
#include "outbox_testing.h"
#include "outboxsender.h"
#include "scripted_peer.h"
#include "send.h"
#include "sendoutbox.h"
#include "testpictures.h"
#include "testsupport.h"
#include "uids.h"

namespace {

namespace fs = std::filesystem;
using outboxtesting::OpenedOutbox;
using outboxtesting::PrepareRoeBatch;
using testpeer::Step;
using testsupport::TempDir;

RemoteNode Node(const std::string& port, const char* calledAet) {
  RemoteNode node;
  node.callingAet = "VELLORAN";
  node.calledAet = calledAet;
  node.host = "127.0.0.1";
  node.port = port;
  return node;
}

PacsTarget DicomTarget(const std::string& port, const char* calledAet = "PEER") {
  PacsTarget target;
  target.node = Node(port, calledAet);
  return target;
}

// One object's request (command, then its data set) answered with `status`.
std::vector<Step> StoreAnswered(uint16_t status) {
  return {Step::ReceivePdu(), Step::ReceivePdu(),
          Step::Send(
              testpeer::PData(1, {{0x03, testpeer::ResponseCommand(kCommandStoreRSP, status)}}))};
}

TEST(OutboxDelivery, AnObjectRefusedWithAFailureStatusIsKeptWithItsCause) {
  TempDir dir;
  Outbox outbox = OpenedOutbox(dir);
  const std::vector<std::string> uids = {"1.2.826.0.1.3680043.10.401", "1.2.826.0.1.3680043.10.402",
                                         "1.2.826.0.1.3680043.10.403"};
  std::string error;
  for (const std::string& uid : uids) {
    ASSERT_TRUE(outbox.Add(*dcmtkpeer::NativeImage(uid, 8, 8), "B", error)) << error;
  }
  // One association for the three images; the second is refused for lack of resources, the third
  // stored with a warning (coerced), which counts as stored.
  std::vector<Step> steps = {Step::ReceivePdu(),
                             Step::Send(testpeer::AssociateAC({{1, 0, kExplicitVRLittleEndian}}))};
  for (uint16_t status : {0x0000, 0xA700, 0xB000}) {
    for (Step& step : StoreAnswered(status)) steps.push_back(std::move(step));
  }
  steps.insert(steps.end(),
               {Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()});
  testpeer::ScriptedPeer peer(steps);
  const DeliveryReport report = DeliverOutbox(outbox, DicomTarget(peer.Port()));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  EXPECT_EQ(report.delivered, 2u);
  EXPECT_EQ(report.failed, 1u);
  EXPECT_EQ(report.waiting, 0u);
  const std::vector<OutboxEntry> left = outbox.Entries();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].sopInstanceUid, uids[1]);
  EXPECT_EQ(left[0].state, OutboxState::Failed);
  EXPECT_NE(left[0].cause.find("0xA700"), std::string::npos) << left[0].cause;
  EXPECT_TRUE(fs::exists(outbox.PathOf(left[0])));
  // A failed object is not sent again by itself: the next delivery has nothing to do.
  EXPECT_TRUE(DeliverOutbox(outbox, DicomTarget("1")).objects.empty());
}

// A connection that accepts `transferSyntax`, answers each object with its status and releases.
std::vector<Step> Association(const std::string& transferSyntax,
                              const std::vector<uint16_t>& statuses) {
  std::vector<Step> steps = {Step::ReceivePdu(),
                             Step::Send(testpeer::AssociateAC({{1, 0, transferSyntax}}))};
  for (uint16_t status : statuses) {
    for (Step& step : StoreAnswered(status)) steps.push_back(std::move(step));
  }
  steps.insert(steps.end(),
               {Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()});
  return steps;
}

// Objects go out while the batch is converted, one association at a time: the pictures on the
// one opened for the first picture, the PDF between them on its own once the batch is converted.
TEST(OutboxDelivery, SendDeliversWhileConvertingOnOneAssociationPerKind) {
  TempDir dir;
  auto write = [&](const std::string& name, const std::string& bytes) {
    testsupport::WriteFile(dir / name, bytes);
    return (dir / name).string();
  };
  const std::vector<std::string> items = {
      write("a.png", testpictures::MakePng(16, 8, testpictures::PngKind::Rgb)),
      write("report.pdf", "%PDF-1.4\n%%EOF\n"),
      write("b.jpg", testpictures::MakeJpeg(16, 8, false))};
  ASSERT_TRUE(PrepareRoeBatch(items.size()));
  testpeer::ScriptedPeer peer(
      {Association("1.2.840.10008.1.2.4.50", {0, 0}), Association(kExplicitVRLittleEndian, {0})});
  Outbox outbox = OpenedOutbox(dir);
  const OutboxSendResult result = SendPreparedThroughOutbox(items, outbox, DicomTarget(peer.Port()),
                                                            OutboxSendMode::QueueAndDeliver);
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  EXPECT_TRUE(result.success) << result.message;
  EXPECT_EQ(result.message.English(), "Images sent OK");
  EXPECT_EQ(result.delivery.delivered, 3u);
  EXPECT_TRUE(outbox.Entries().empty());
}

// A cancel while the batch goes out: the object in flight is finished, no other is sent, and the
// objects not reached wait in the outbox untried for its own deliveries.
TEST(OutboxDelivery, CancellingSendStopsTheDeliveryAfterTheObjectInFlight) {
  TempDir dir;
  std::vector<std::string> items;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) {
    testsupport::WriteFile(dir / name, testpictures::MakeJpeg(16, 8, false));
    items.push_back((dir / name).string());
  }
  ASSERT_TRUE(PrepareRoeBatch(items.size()));
  // The peer takes one object, then expects the release: a second object fails its script.
  testpeer::ScriptedPeer peer({Association("1.2.840.10008.1.2.4.50", {0})});
  Outbox outbox = OpenedOutbox(dir);
  std::stop_source stop;
  OutboxSendProgress progress;
  progress.delivered = [&](const DeliveredObject&, size_t, size_t) { stop.request_stop(); };
  const OutboxSendResult result =
      SendPreparedThroughOutbox(items, outbox, DicomTarget(peer.Port()),
                                OutboxSendMode::QueueAndDeliver, progress, stop.get_token());
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  EXPECT_FALSE(result.success);
  EXPECT_EQ(result.delivery.delivered, 1u);
  EXPECT_EQ(result.deliveredItems, std::vector<size_t>{0});
  const size_t queued = result.queuedItems.size();
  ASSERT_GE(queued, 1u);
  EXPECT_EQ(
      result.message.English().rfind(
          "Send cancelled: " + std::to_string(queued) + " of 4 items were put in the outbox", 0),
      0u)
      << result.message;
  EXPECT_EQ(result.message.English().find("did not answer"), std::string::npos) << result.message;
  const std::vector<OutboxEntry> left = outbox.Entries();
  EXPECT_EQ(left.size(), result.queuedObjects - 1);
  for (const OutboxEntry& entry : left) {
    EXPECT_EQ(entry.state, OutboxState::Waiting);
    EXPECT_EQ(entry.attempts, 0);
    EXPECT_TRUE(fs::exists(outbox.PathOf(entry)));
  }
}

TEST(OutboxDelivery, ABatchWaitsWhileThePacsIsAwayAndArrivesOnceItIsBack) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available() && testsupport::HaveProgram("ffmpeg"))
      << "Orthanc or ffmpeg missing (scripts/setup.sh installs them)";
  TempDir dir;
  std::vector<std::string> items = {(dir / "a.jpg").string(), (dir / "b.png").string(),
                                    (dir / "letter.pdf").string(), (dir / "clip.mp4").string()};
  testsupport::WriteFile(items[0], testpictures::MakeJpeg(64, 48, false));
  testsupport::WriteFile(items[1], testpictures::MakePng(32, 16, testpictures::PngKind::Rgb));
  testsupport::WriteFile(items[2], "%PDF-1.4\n%%EOF\n");
  ASSERT_EQ(testsupport::RunCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                     "testsrc=size=64x48:rate=5", "-t", "1", "-pix_fmt", "yuv420p",
                                     items[3]})
                .exitCode,
            0);
  ASSERT_TRUE(PrepareRoeBatch(items.size()));

  Outbox outbox = OpenedOutbox(dir);
  // Nobody listens on the PACS's port.
  const std::string downPort = std::to_string(testsupport::FreePort());
  const OutboxSendResult down = SendPreparedThroughOutbox(
      items, outbox, DicomTarget(downPort, "ORTHANC"), OutboxSendMode::QueueAndDeliver);
  EXPECT_FALSE(down.success);
  EXPECT_EQ(down.message.English(),
            "The PACS did not answer: 4 objects wait in the outbox and will be sent when it "
            "answers");
  EXPECT_EQ(down.queuedItems, (std::vector<size_t>{0, 1, 2, 3}));
  std::set<std::string> queued;
  for (const OutboxEntry& entry : outbox.Entries()) {
    EXPECT_EQ(entry.state, OutboxState::Waiting);
    EXPECT_EQ(entry.cause, kPacsDidNotAnswer);
    queued.insert(entry.sopInstanceUid);
  }
  ASSERT_EQ(queued.size(), 4u);

  // The PACS is back; the sender, started as the program starts, finds the waiting objects.
  TempDir orthancWork;
  testsupport::OrthancPacs orthanc(orthancWork);
  ASSERT_TRUE(orthanc.Running());
  std::vector<std::string> indicator;
  std::mutex mutex;
  OutboxSender sender(
      outbox,
      [&](PacsTarget& target, std::string&) {
        target = DicomTarget(orthanc.Port(), "ORTHANC");
        return true;
      },
      [&](const OutboxStatus& status) {
        std::lock_guard lock(mutex);
        indicator.push_back(OutboxIndicatorText(status));
      });
  sender.Start();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (sender.Status().waiting + sender.Status().failed > 0 || sender.Status().delivering ||
         indicator.empty()) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the outbox was not delivered";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  sender.Stop();
  EXPECT_TRUE(outbox.Entries().empty());
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(indicator.back(), "");
  }
  const std::multiset<std::string> stored = orthanc.InstanceUids();
  EXPECT_EQ(std::set<std::string>(stored.begin(), stored.end()), queued);
  EXPECT_EQ(stored.size(), 4u);
  // Nothing is left to send again.
  EXPECT_TRUE(DeliverOutbox(outbox, DicomTarget(orthanc.Port(), "ORTHANC")).objects.empty());
}

TEST(OutboxDelivery, OverDicomWebTheOutboxGoesByStowRs) {
  ASSERT_TRUE(testsupport::OrthancPacs::DicomWebAvailable())
      << "Orthanc or its DICOMweb plugin missing (scripts/setup.sh installs them)";
  TempDir dir;
  Outbox outbox = OpenedOutbox(dir);
  std::string error;
  const std::set<std::string> uids = {"1.2.826.0.1.3680043.10.411", "1.2.826.0.1.3680043.10.412"};
  for (const std::string& uid : uids) {
    ASSERT_TRUE(outbox.Add(*dcmtkpeer::NativeImage(uid, 8, 8), "B", error)) << error;
  }
  TempDir orthancWork;
  testsupport::OrthancPacs::Options options;
  options.dicomWeb = true;
  testsupport::OrthancPacs orthanc(orthancWork, options);
  ASSERT_TRUE(orthanc.Running());
  PacsTarget target;
  target.useWeb = true;
  target.web.baseUrl = orthanc.WebUrl();
  target.web.timeoutSeconds = 30;
  const DeliveryReport report = DeliverOutbox(outbox, target);
  EXPECT_EQ(report.delivered, 2u) << report.cause;
  EXPECT_TRUE(outbox.Entries().empty());
  const std::multiset<std::string> stored = orthanc.InstanceUids();
  EXPECT_EQ(std::set<std::string>(stored.begin(), stored.end()), uids);
}

TEST(OutboxSender, PausesGrowFromTenSecondsToTenMinutes) {
  const std::pair<int, int> cases[] = {{1, 10}, {2, 20}, {3, 40}, {6, 320}, {7, 600}, {40, 600}};
  for (const auto& [rounds, seconds] : cases) {
    EXPECT_EQ(RetryDelay(rounds).count(), seconds) << rounds << " rounds";
  }
}

TEST(OutboxSender, TheIndicatorSaysWhatWaitsWhenTheNextTryIsAndWhy) {
  OutboxStatus status;
  EXPECT_EQ(OutboxIndicatorText(status), "");
  status.waiting = 3;
  std::tm local{};
  local.tm_year = 124;
  local.tm_mon = 0;
  local.tm_mday = 2;
  local.tm_hour = 14;
  local.tm_min = 5;
  local.tm_isdst = -1;
  status.nextTry = std::chrono::system_clock::from_time_t(std::mktime(&local));
  status.cause = kPacsDidNotAnswer;
  EXPECT_EQ(OutboxIndicatorText(status),
            "3 waiting \u00b7 next try 14:05 \u00b7 PACS did not answer");
  status.delivering = true;
  status.failed = 1;
  EXPECT_EQ(OutboxIndicatorText(status),
            "3 waiting \u00b7 sending \u00b7 PACS did not answer \u00b7 1 failed");
}

}  // namespace
