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
    ASSERT_TRUE(outbox.Add(*dcmtkpeer::NativeImage(uid, 8, 8), {"B"}, error)) << error;
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

// One object of three makes the PACS drop the association every time it arrives. Each loss
// opens a new association for the objects not yet tried, the culprit going last; after three
// losses it is failed with the cause, and the others have all arrived.
TEST(OutboxDelivery, AnObjectThatKeepsDroppingTheAssociationFailsAndTheOthersStillGo) {
  TempDir dir;
  Outbox outbox = OpenedOutbox(dir);
  const std::vector<std::string> uids = {"1.2.826.0.1.3680043.10.441", "1.2.826.0.1.3680043.10.442",
                                         "1.2.826.0.1.3680043.10.443"};
  std::string error;
  for (const std::string& uid : uids) {
    ASSERT_TRUE(outbox.Add(*dcmtkpeer::NativeImage(uid, 8, 8), {"B"}, error)) << error;
  }
  const std::vector<Step> accept = {
      Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, kExplicitVRLittleEndian}}))};
  const std::vector<Step> stored = StoreAnswered(0);
  const std::vector<Step> dropped = {Step::ReceivePdu(), Step::ReceivePdu(),
                                     Step::Send(testpeer::Abort()), Step::Close()};
  auto connection = [&](std::initializer_list<const std::vector<Step>*> parts) {
    std::vector<Step> steps = accept;
    for (const std::vector<Step>* part : parts)
      steps.insert(steps.end(), part->begin(), part->end());
    return steps;
  };
  // First 441 stored and 442 dropped; then 443 stored and 442 dropped; then 442 dropped alone.
  testpeer::ScriptedPeer peer(
      {connection({&stored, &dropped}), connection({&stored, &dropped}), connection({&dropped})});
  const DeliveryReport report = DeliverOutbox(outbox, DicomTarget(peer.Port()));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  EXPECT_EQ(report.delivered, 2u);
  EXPECT_EQ(report.failed, 1u);
  EXPECT_EQ(report.waiting, 0u);
  ASSERT_EQ(report.objects.size(), 3u);
  const std::vector<OutboxEntry> left = outbox.Entries();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].sopInstanceUid, uids[1]);
  EXPECT_EQ(left[0].state, OutboxState::Failed);
  EXPECT_EQ(left[0].cause.rfind("the connection was lost 3 times while it was sent (", 0), 0u)
      << left[0].cause;
}

// The same with a real PACS: an object whose file was cut short in the outbox ends failed, and
// the objects queued before and after it arrive.
TEST(OutboxDelivery, ATruncatedObjectEndsFailedAndTheOthersArrive) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available()) << "Orthanc missing (scripts/setup.sh)";
  TempDir dir;
  Outbox outbox = OpenedOutbox(dir);
  std::vector<std::string> uids;
  std::string error;
  for (int n = 1; n <= 3; ++n) {
    uids.push_back("1.2.826.0.1.3680043.10.44" + std::to_string(n + 4));
    OutboxEntry added;
    ASSERT_TRUE(outbox.Add(*dcmtkpeer::NativeImage(uids.back(), 256, 256), {"B"}, error, &added))
        << error;
    if (n == 2) fs::resize_file(outbox.PathOf(added), fs::file_size(outbox.PathOf(added)) / 2);
  }
  // Orthanc waits for the rest of the cut object until its time-out, then drops the association.
  TempDir orthancWork;
  testsupport::OrthancPacs::Options options;
  options.scpTimeoutSeconds = 1;
  testsupport::OrthancPacs orthanc(orthancWork, options);
  ASSERT_TRUE(orthanc.Running());
  const DeliveryReport report = DeliverOutbox(outbox, DicomTarget(orthanc.Port(), "ORTHANC"));
  EXPECT_EQ(report.delivered, 2u) << report.cause;
  EXPECT_EQ(report.failed, 1u);
  const std::multiset<std::string> stored = orthanc.InstanceUids();
  EXPECT_EQ(std::set<std::string>(stored.begin(), stored.end()),
            (std::set<std::string>{uids[0], uids[2]}));
  const std::vector<OutboxEntry> left = outbox.Entries();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].sopInstanceUid, uids[1]);
  EXPECT_EQ(left[0].state, OutboxState::Failed);
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

// A batch queued while its PACS is down waits for that PACS: a later Send to another PACS, and
// the background sender working for that other one, never deliver it there; once its own PACS is
// back it arrives there, once.
TEST(OutboxDelivery, ABatchWaitsForItsOwnPacsAndArrivesThereOnceItIsBack) {
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
  // Nobody listens on the research archive's port.
  const int researchPort = testsupport::FreePort();
  const PacsTarget research = DicomTarget(std::to_string(researchPort), "ORTHANC");
  const OutboxSendResult down =
      SendPreparedThroughOutbox(items, outbox, research, OutboxSendMode::QueueAndDeliver);
  EXPECT_FALSE(down.success);
  EXPECT_EQ(down.message.English(),
            "The PACS did not answer: 4 objects wait in the outbox and will be sent when it "
            "answers");
  EXPECT_EQ(down.queuedItems, (std::vector<size_t>{0, 1, 2, 3}));
  std::set<std::string> queued;
  for (const OutboxEntry& entry : outbox.Entries()) {
    EXPECT_EQ(entry.state, OutboxState::Waiting);
    EXPECT_EQ(entry.cause, kPacsDidNotAnswer);
    EXPECT_EQ(DestinationText(entry.destination),
              "ORTHANC at 127.0.0.1:" + std::to_string(researchPort));
    queued.insert(entry.sopInstanceUid);
  }
  ASSERT_EQ(queued.size(), 4u);

  // The settings now name the clinic's PACS: a Send there takes its own batch only, and the
  // sender working for it leaves the research batch waiting for its archive.
  TempDir clinicWork;
  testsupport::OrthancPacs clinic(clinicWork);
  ASSERT_TRUE(clinic.Running());
  const PacsTarget clinicTarget = DicomTarget(clinic.Port(), "ORTHANC");
  testsupport::WriteFile(dir / "c.jpg", testpictures::MakeJpeg(64, 48, false));
  ASSERT_TRUE(PrepareRoeBatch(1));
  const OutboxSendResult other = SendPreparedThroughOutbox(
      {(dir / "c.jpg").string()}, outbox, clinicTarget, OutboxSendMode::QueueAndDeliver);
  EXPECT_TRUE(other.success) << other.message;
  std::vector<std::string> indicator;
  std::mutex mutex;
  OutboxSender sender(
      outbox,
      [&](PacsTarget& target, std::string&) {
        target = clinicTarget;
        return true;
      },
      [&](const OutboxStatus& status) {
        std::lock_guard lock(mutex);
        indicator.push_back(OutboxIndicatorText(status));
      });
  sender.Start();
  auto waitFor = [&](auto done, const char* what) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << what;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  };
  waitFor([&] { return sender.Status().nextTry.has_value() && !sender.Status().delivering; },
          "the sender made no try");
  EXPECT_EQ(sender.Status().waiting, 0u);
  ASSERT_EQ(sender.Status().waitingElsewhere.size(), 1u);
  EXPECT_EQ(sender.Status().waitingElsewhere[0],
            (ArchiveCount{"ORTHANC at 127.0.0.1:" + std::to_string(researchPort), 4}));
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(indicator.back().rfind("4 waiting for ORTHANC at 127.0.0.1:" +
                                         std::to_string(researchPort) + " \u00b7 next try ",
                                     0),
              0u)
        << indicator.back();
  }
  EXPECT_EQ(clinic.InstanceUids().size(), 1u);

  // The research archive is back: the next try takes the batch there.
  TempDir researchWork;
  testsupport::OrthancPacs::Options options;
  options.dicomPort = researchPort;
  testsupport::OrthancPacs researchPacs(researchWork, options);
  ASSERT_TRUE(researchPacs.Running());
  sender.DeliverNow();
  waitFor([&] { return outbox.Entries().empty() && !sender.Status().delivering; },
          "the outbox was not delivered");
  EXPECT_EQ(sender.Status().storedAfterWaiting, (std::vector<ArchiveCount>{{"ORTHANC", 4}}));
  EXPECT_EQ(StoredAfterWaitingMessage(sender.Status().storedAfterWaiting).English(),
            "4 waiting objects were stored on ORTHANC");
  sender.Stop();
  const std::multiset<std::string> stored = researchPacs.InstanceUids();
  EXPECT_EQ(std::set<std::string>(stored.begin(), stored.end()), queued);
  EXPECT_EQ(stored.size(), 4u);
  EXPECT_EQ(clinic.InstanceUids().size(), 1u);
  // Nothing is left to send again.
  EXPECT_TRUE(DeliverOutbox(outbox, clinicTarget).objects.empty());
}

TEST(OutboxDelivery, OverDicomWebTheOutboxGoesByStowRs) {
  ASSERT_TRUE(testsupport::OrthancPacs::DicomWebAvailable())
      << "Orthanc or its DICOMweb plugin missing (scripts/setup.sh installs them)";
  TempDir dir;
  Outbox outbox = OpenedOutbox(dir);
  std::string error;
  const std::set<std::string> uids = {"1.2.826.0.1.3680043.10.411", "1.2.826.0.1.3680043.10.412"};
  for (const std::string& uid : uids) {
    ASSERT_TRUE(outbox.Add(*dcmtkpeer::NativeImage(uid, 8, 8), {"B"}, error)) << error;
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
