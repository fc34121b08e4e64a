// Storage commitment through the outbox: an object the PACS stored stays in the outbox until the
// PACS has committed it; without a report it is asked for again, and an object the PACS cannot
// commit is kept as failed until a retry sends it again.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <set>
#include <thread>

#include "dcmtk_peer.h"
#include "orthanc.h"
#include "outbox_testing.h"
#include "outboxsender.h"
#include "send.h"
#include "sendoutbox.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using outboxtesting::OpenedOutbox;
using testsupport::TempDir;

// Orthanc knowing this program as the modality "VELLORAN" at `callbackPort`, where it reports
// storage commitment.
struct CommittingOrthanc {
  explicit CommittingOrthanc(const TempDir& work)
      : callbackPort(testsupport::FreePort()),
        pacs(work, testsupport::OrthancPacs::Options::ReportingTo("VELLORAN", callbackPort)) {}
  // The outbox's target, asking for commitment; `listening` says whether our listener takes the
  // report on the callback port.
  PacsTarget Target(bool listening, std::chrono::seconds wait) const {
    PacsTarget target;
    target.node = RemoteNode{"VELLORAN", "ORTHANC", "127.0.0.1", pacs.Port()};
    target.commit = true;
    if (listening) target.commitPort = std::to_string(callbackPort);
    target.commitWait = wait;
    return target;
  }
  std::set<std::string> Instances() const {
    const std::multiset<std::string> held = pacs.InstanceUids();
    return {held.begin(), held.end()};
  }
  int callbackPort;
  testsupport::OrthancPacs pacs;
};

std::set<std::string> UidsIn(const std::vector<OutboxEntry>& entries, OutboxState state) {
  std::set<std::string> uids;
  for (const OutboxEntry& entry : entries) {
    if (entry.state == state) uids.insert(entry.sopInstanceUid);
  }
  return uids;
}

TEST(OutboxCommitment, SendEndsWhenOrthancHasCommittedTheBatchAndTheOutboxIsEmpty) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available()) << "Orthanc missing (scripts/setup.sh)";
  TempDir dir;
  const std::vector<std::string> items = {(dir / "a.jpg").string(), (dir / "letter.pdf").string()};
  testsupport::WriteFile(items[0], testpictures::MakeJpeg(64, 48, false));
  testsupport::WriteFile(items[1], "%PDF-1.4\n%%EOF\n");
  ASSERT_TRUE(outboxtesting::PrepareRoeBatch(items.size()));
  TempDir orthancWork;
  CommittingOrthanc orthanc(orthancWork);
  ASSERT_TRUE(orthanc.pacs.Running()) << testsupport::ReadFile(orthancWork / "orthanc.log");
  Outbox outbox = OpenedOutbox(dir);

  const OutboxSendResult result =
      SendPreparedThroughOutbox(items, outbox, orthanc.Target(true, std::chrono::seconds(60)),
                                OutboxSendMode::QueueAndDeliver);
  EXPECT_TRUE(result.success) << result.message;
  EXPECT_EQ(result.message.English(), "Images sent OK");
  EXPECT_EQ(result.deliveredItems, (std::vector<size_t>{0, 1}));
  std::set<std::string> committed;
  for (const DeliveredObject& object : result.delivery.objects) {
    EXPECT_TRUE(object.committed) << object.entry.sopInstanceUid;
    EXPECT_EQ(object.settled, OutboxState::Gone);
    committed.insert(object.entry.sopInstanceUid);
  }
  EXPECT_EQ(committed.size(), 2u);
  EXPECT_EQ(orthanc.Instances(), committed);
  EXPECT_TRUE(outbox.Entries().empty());
}

TEST(OutboxCommitment, StoredObjectsWaitForTheReportAndOneThePacsCannotCommitFailsUntilRetried) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available()) << "Orthanc missing (scripts/setup.sh)";
  TempDir dir;
  TempDir orthancWork;
  CommittingOrthanc orthanc(orthancWork);
  ASSERT_TRUE(orthanc.pacs.Running()) << testsupport::ReadFile(orthancWork / "orthanc.log");
  Outbox outbox = OpenedOutbox(dir);
  const std::set<std::string> first = {"1.2.826.0.1.3680043.10.421", "1.2.826.0.1.3680043.10.422"};
  std::string error;
  for (const std::string& uid : first) {
    ASSERT_TRUE(outbox.Add(*dcmtkpeer::NativeImage(uid, 8, 8), {"B"}, error)) << error;
  }

  // Nobody listens where Orthanc reports: the objects are stored but stay, as stored, with the
  // reason; a later delivery does not send them again.
  const DeliveryReport unreported =
      DeliverOutbox(outbox, orthanc.Target(false, std::chrono::seconds(2)));
  EXPECT_EQ(unreported.stored, 2u);
  EXPECT_EQ(unreported.delivered, 0u);
  EXPECT_EQ(orthanc.Instances(), first);
  EXPECT_EQ(UidsIn(outbox.Entries(), OutboxState::Stored), first);
  for (const OutboxEntry& entry : outbox.Entries()) {
    EXPECT_NE(entry.cause.find("no storage commitment report"), std::string::npos) << entry.cause;
    EXPECT_TRUE(fs::exists(outbox.PathOf(entry)));
  }

  // An object marked stored that Orthanc never received: Orthanc cannot commit it.
  const std::string missing = "1.2.826.0.1.3680043.10.423";
  OutboxEntry added;
  ASSERT_TRUE(outbox.Add(*dcmtkpeer::NativeImage(missing, 8, 8), {"B"}, error, &added)) << error;
  ASSERT_TRUE(outbox.MarkStored(added.file, "stored, awaiting storage commitment"));

  // The background sender, with the listener up this time, asks again for everything stored.
  OutboxSender sender(outbox, [&](PacsTarget& target, std::string&) {
    target = orthanc.Target(true, std::chrono::seconds(60));
    return true;
  });
  sender.Start();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (sender.Status().stored > 0 || sender.Status().failed == 0 || sender.Status().delivering) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no commitment was asked for";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  sender.Stop();
  std::vector<OutboxEntry> left = outbox.Entries();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].sopInstanceUid, missing);
  EXPECT_EQ(left[0].state, OutboxState::Failed);
  EXPECT_EQ(left[0].cause.rfind("not committed by the PACS: ", 0), 0u) << left[0].cause;
  EXPECT_TRUE(fs::exists(outbox.PathOf(left[0])));

  // Retried, it is sent, stored and committed like the others.
  EXPECT_EQ(outbox.Retry({missing}), 1u);
  const DeliveryReport retried =
      DeliverOutbox(outbox, orthanc.Target(true, std::chrono::seconds(60)));
  EXPECT_EQ(retried.delivered, 1u) << retried.cause;
  ASSERT_EQ(retried.objects.size(), 1u);
  EXPECT_TRUE(retried.objects[0].committed);
  EXPECT_TRUE(outbox.Entries().empty());
  std::set<std::string> all = first;
  all.insert(missing);
  EXPECT_EQ(orthanc.Instances(), all);
}

// An object queued with commitment asked keeps that wish: stored without a report, it survives a
// restart as stored, and a later delivery whose own settings ask for no commitment still asks its
// PACS to commit it, and lets it go only once committed.
TEST(OutboxCommitment, AnObjectQueuedWithCommitmentLeavesOnlyCommittedWhateverTheLaterDelivery) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available()) << "Orthanc missing (scripts/setup.sh)";
  TempDir dir;
  TempDir orthancWork;
  CommittingOrthanc orthanc(orthancWork);
  ASSERT_TRUE(orthanc.pacs.Running()) << testsupport::ReadFile(orthancWork / "orthanc.log");
  const PacsTarget unheard = orthanc.Target(false, std::chrono::seconds(1));
  const std::string uid = "1.2.826.0.1.3680043.10.431";
  {
    Outbox outbox = OpenedOutbox(dir);
    std::string error;
    ASSERT_TRUE(outbox.Add(*dcmtkpeer::NativeImage(uid, 8, 8),
                           {"B", {}, DestinationOf(unheard), true}, error))
        << error;
    EXPECT_EQ(DeliverOutbox(outbox, unheard).stored, 1u);
  }
  Outbox outbox = OpenedOutbox(dir);
  ASSERT_EQ(UidsIn(outbox.Entries(), OutboxState::Stored), std::set<std::string>{uid});
  PacsTarget withoutCommitment = orthanc.Target(true, std::chrono::seconds(60));
  withoutCommitment.commit = false;
  const DeliveryReport report = DeliverOutbox(outbox, withoutCommitment);
  EXPECT_EQ(report.delivered, 1u) << report.cause;
  ASSERT_EQ(report.objects.size(), 1u);
  EXPECT_TRUE(report.objects[0].committed);
  EXPECT_TRUE(outbox.Entries().empty());
}

TEST(OutboxCommitment, TheIndicatorCountsObjectsAwaitingCommitment) {
  std::tm local{};
  local.tm_year = 124;
  local.tm_mday = 2;
  local.tm_hour = 14;
  local.tm_min = 5;
  local.tm_isdst = -1;
  const auto at1405 = std::chrono::system_clock::from_time_t(std::mktime(&local));
  struct Case {
    size_t waiting, stored, failed;
    const char* cause;
    const char* text;
  };
  const Case cases[] = {
      {0, 2, 0, "no report", "2 awaiting commitment \u00b7 next try 14:05 \u00b7 no report"},
      {3, 2, 1, "PACS did not answer",
       "3 waiting \u00b7 2 awaiting commitment \u00b7 next try 14:05 \u00b7 PACS did not answer "
       "\u00b7 1 failed"},
      {0, 0, 1, "", "1 failed"},
  };
  for (const Case& c : cases) {
    OutboxStatus status;
    status.waiting = c.waiting;
    status.stored = c.stored;
    status.failed = c.failed;
    status.nextTry = at1405;
    status.cause = c.cause;
    EXPECT_EQ(OutboxIndicatorText(status), c.text);
  }
}

}  // namespace
