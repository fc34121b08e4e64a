// Storage commitment: the report read in every shape a PACS may encode it, the request and a
// report on the same association with a scripted PACS, and the listener a PACS calls back.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "bufdata.h"
#include "captured_log.h"
#include "commitment.h"
#include "commitmentlistener.h"
#include "dimse.h"
#include "pdu_service.h"
#include "scripted_peer.h"
#include "storage.h"
#include "testsupport.h"

using testpeer::Bytes;
using testpeer::ScriptedPeer;
using testpeer::Step;

namespace {

constexpr uint8_t kLastCommand = 0x03;
constexpr uint8_t kLastDataSet = 0x02;
constexpr const char* kPhoto = "1.2.840.10008.5.1.4.1.1.77.1.4";
constexpr const char* kPdf = "1.2.840.10008.104.1";

Bytes Encode(DcmObj& dataSet, const std::string& transferSyntax = kImplicitVRLittleEndian) {
  dataSet.SetTransferSyntax(transferSyntax);
  BufData buffer;
  buffer.WriteDataSet(dataSet);
  return buffer.stream;
}

std::unique_ptr<DcmObj> Decode(const Bytes& bytes,
                               const std::string& transferSyntax = kImplicitVRLittleEndian) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->SetTransferSyntax(transferSyntax);
  BufData buffer;
  buffer.stream = bytes;
  EXPECT_TRUE(buffer.ReadDataSet(*dataSet));
  return dataSet;
}

// The message carried by received P-DATA-TF PDUs (one item each), decoded.
std::unique_ptr<DcmObj> DecodePData(const Bytes& pdu,
                                    const std::string& transferSyntax = kImplicitVRLittleEndian) {
  if (pdu.size() < 12 || pdu[0] != 0x04) return std::make_unique<DcmObj>();
  return Decode(Bytes(pdu.begin() + 12, pdu.end()), transferSyntax);
}

CommitmentResult Report(const std::string& transactionUid,
                        std::vector<std::pair<std::string, int>> instances) {
  CommitmentResult result;
  result.transactionUid = transactionUid;
  for (const auto& [uid, reason] : instances) {
    CommitmentOutcome outcome;
    outcome.sopClassUid = kPhoto;
    outcome.sopInstanceUid = uid;
    outcome.committed = reason == 0;
    outcome.failureReason = reason;
    result.objects.push_back(outcome);
  }
  return result;
}

// Implicit VR little-endian element bytes, as a hand-written PACS would put them.
void PutElement(Bytes& bytes, uint16_t group, uint16_t element, uint32_t length,
                const std::string& value = {}) {
  for (uint16_t part : {group, element}) {
    bytes.push_back(static_cast<uint8_t>(part));
    bytes.push_back(static_cast<uint8_t>(part >> 8));
  }
  for (int shift = 0; shift < 32; shift += 8)
    bytes.push_back(static_cast<uint8_t>(length >> shift));
  bytes.insert(bytes.end(), value.begin(), value.end());
}
void PutUid(Bytes& bytes, uint16_t group, uint16_t element, std::string uid) {
  if (uid.size() % 2 != 0) uid.push_back('\0');
  PutElement(bytes, group, element, static_cast<uint32_t>(uid.size()), uid);
}

// The report of transaction 1.2.3 with every sequence and item of undefined length: 1.1 committed;
// 1.2 failed with reason 0x0112; an item without instance; a nested sequence inside an item.
Bytes FlatReport() {
  Bytes bytes;
  PutUid(bytes, 0x0008, 0x1195, "1.2.3");
  PutElement(bytes, 0x0008, 0x1198, kUndefinedLength);  // Failed SOP Sequence
  PutElement(bytes, 0xFFFE, 0xE000, kUndefinedLength);
  PutUid(bytes, 0x0008, 0x1150, kPhoto);
  PutUid(bytes, 0x0008, 0x1155, "1.2");
  PutElement(bytes, 0x0008, 0x1197, 2, std::string("\x12\x01", 2));
  PutElement(bytes, 0xFFFE, 0xE00D, 0);
  PutElement(bytes, 0xFFFE, 0xE000, kUndefinedLength);  // no instance: passed over
  PutUid(bytes, 0x0008, 0x1150, kPhoto);
  PutElement(bytes, 0xFFFE, 0xE00D, 0);
  PutElement(bytes, 0xFFFE, 0xE0DD, 0);
  PutElement(bytes, 0x0008, 0x1199, kUndefinedLength);  // Referenced SOP Sequence
  PutElement(bytes, 0xFFFE, 0xE000, kUndefinedLength);
  PutUid(bytes, 0x0008, 0x1150, kPhoto);
  // A sequence inside the item whose own item names another instance: not part of the report.
  PutElement(bytes, 0x0008, 0x1152, kUndefinedLength);
  PutElement(bytes, 0xFFFE, 0xE000, kUndefinedLength);
  PutUid(bytes, 0x0008, 0x1155, "9.9");
  PutElement(bytes, 0xFFFE, 0xE00D, 0);
  PutElement(bytes, 0xFFFE, 0xE0DD, 0);
  PutUid(bytes, 0x0008, 0x1155, "1.1");
  PutElement(bytes, 0xFFFE, 0xE00D, 0);
  PutElement(bytes, 0xFFFE, 0xE0DD, 0);
  return bytes;
}

// "instance:committed" or "instance:reason" per outcome, in report order.
std::vector<std::string> Summary(const CommitmentResult& result) {
  std::vector<std::string> lines;
  for (const CommitmentOutcome& outcome : result.objects) {
    lines.push_back(outcome.sopInstanceUid + ":" +
                    (outcome.committed ? "committed" : std::to_string(outcome.failureReason)));
  }
  return lines;
}

TEST(CommitmentReport, ReadsNestedAndUndefinedLengthSequencesAlike) {
  const CommitmentResult built = Report("1.2.3", {{"1.1", 0}, {"1.2", 0x0112}});
  struct Case {
    const char* name;
    Bytes bytes;
    std::string transferSyntax;
  };
  const Case cases[] = {
      {"defined lengths, implicit VR", Encode(*BuildCommitmentReport(built)),
       kImplicitVRLittleEndian},
      {"defined lengths, explicit VR",
       Encode(*BuildCommitmentReport(built), kExplicitVRLittleEndian), kExplicitVRLittleEndian},
      {"undefined lengths", FlatReport(), kImplicitVRLittleEndian},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dataSet = Decode(c.bytes, c.transferSyntax);
    CommitmentResult result;
    std::string error;
    uint16_t status = 0;
    ASSERT_TRUE(ReadCommitmentReport(*dataSet, kEventFailuresExist, result, error, status))
        << error;
    EXPECT_EQ(result.transactionUid, "1.2.3");
    EXPECT_EQ(Summary(result), (std::vector<std::string>{"1.2:274", "1.1:committed"}));
    EXPECT_EQ(result.Find("1.2")->cause,
              "not committed: failure reason 0x0112 (no such object instance)");
    EXPECT_EQ(result.Find("1.1")->sopClassUid, kPhoto);
    EXPECT_FALSE(result.AllCommitted());
  }
}

// A report is taken at its word only where that cannot turn a failure into success.
TEST(CommitmentReport, FailuresWinAndBrokenReportsAreRefusedWithTheirStatus) {
  {
    // Listed as committed and failed, under event type 1: failed.
    auto dataSet = BuildCommitmentReport(Report("1.2.3", {{"1.1", 0}, {"1.2", 0}}));
    auto failed = BuildCommitmentReport(Report("x", {{"1.2", 0x0110}}));
    const auto decoded = Decode(Encode(*dataSet));
    DcmObj merged;
    for (size_t i = 0; i < failed->Count(); ++i) {
      if (failed->ObjAt(i) && failed->ObjAt(i)->header.Is(0x0008, 0x1198)) {
        merged.AddSequence(0x0008, 0x1198, std::move(failed->entries[i].obj));
      }
    }
    merged.AddString(0x0008, 0x1195, "1.2.3");
    for (size_t i = 0; i < decoded->Count(); ++i) {
      if (decoded->ObjAt(i) && decoded->ObjAt(i)->header.Is(0x0008, 0x1199)) {
        merged.AddSequence(0x0008, 0x1199, std::move(decoded->entries[i].obj));
      }
    }
    CommitmentResult result;
    std::string error;
    uint16_t status = 0;
    ASSERT_TRUE(
        ReadCommitmentReport(*Decode(Encode(merged)), kEventAllCommitted, result, error, status));
    EXPECT_EQ(Summary(result), (std::vector<std::string>{"1.2:272", "1.1:committed"}));
  }
  struct Refused {
    const char* name;
    std::string transactionUid;
    uint16_t eventType;
    uint16_t status;
  };
  for (const Refused& c : {Refused{"no transaction UID", "", 1, kStatusMissingAttribute},
                           Refused{"event type 3", "1.2.3", 3, kStatusNoSuchEventType},
                           Refused{"event type 0", "1.2.3", 0, kStatusNoSuchEventType}}) {
    SCOPED_TRACE(c.name);
    auto dataSet = BuildCommitmentReport(Report(c.transactionUid, {{"1.1", 0}}));
    CommitmentResult result;
    std::string error;
    uint16_t status = 0;
    EXPECT_FALSE(
        ReadCommitmentReport(*Decode(Encode(*dataSet)), c.eventType, result, error, status));
    EXPECT_EQ(status, c.status);
    EXPECT_FALSE(error.empty());
  }
}

TEST(CommitmentReport, ObjectsTheReportLeavesOutAreNotCommitted) {
  CommitmentResult result = Report("1.2.3", {{"1.1", 0}});
  AddUnreported(result, {{kPhoto, "1.1"}, {kPdf, "1.5"}});
  ASSERT_EQ(result.objects.size(), 2u);
  EXPECT_FALSE(result.Find("1.5")->committed);
  EXPECT_EQ(result.Find("1.5")->sopClassUid, kPdf);
  EXPECT_EQ(result.Find("1.5")->cause, "not named in the PACS's storage commitment report");
  EXPECT_FALSE(result.AllCommitted());
  EXPECT_FALSE(CommitmentResult().AllCommitted());
}

// The PACS answers the N-ACTION and reports at once on the same association, with a failure.
TEST(CommitmentRequest, ReportOnTheSameAssociationIsAnsweredAndDelivered) {
  const std::string uid = "2.25.42";
  auto eventCommand = BuildCommitmentEventReportRQ(9, kEventFailuresExist);
  auto report = BuildCommitmentReport(Report(uid, {{"1.1", 0}, {"1.5", 0x0213}}));
  ScriptedPeer peer(
      {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, kImplicitVRLittleEndian}})),
       Step::ReceivePdu(), Step::ReceivePdu(),
       Step::Send(
           testpeer::PData(1, {{kLastCommand, testpeer::ResponseCommand(kCommandActionRSP, 0)}})),
       Step::Pause(std::chrono::milliseconds(300)),
       Step::Send(testpeer::PData(1, {{kLastCommand, Encode(*eventCommand)}})),
       Step::Send(testpeer::PData(1, {{kLastDataSet, Encode(*report)}})), Step::ReceivePdu(),
       Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()});
  RemoteNode node{"VELLORAN", "PACS", "127.0.0.1", peer.Port()};
  CommitmentResults results;
  std::string error;
  const std::vector<CommitmentObject> objects = {{kPhoto, "1.1"}, {kPdf, "1.5"}};
  EXPECT_EQ(RequestCommitment(node, objects, 5, results, error, std::chrono::seconds(10), uid), uid)
      << error;
  ASSERT_TRUE(peer.Finish()) << peer.Problem();

  const std::vector<Bytes> received = peer.Received();
  ASSERT_EQ(received.size(), 5u);
  // The association proposes the Storage Commitment Push Model class.
  const std::string request(received[0].begin(), received[0].end());
  EXPECT_NE(request.find(kStorageCommitmentSopClass), std::string::npos);
  const auto action = DecodePData(received[1]);
  EXPECT_EQ(action->GetUS(0x0000, 0x0100), kCommandActionRQ);
  EXPECT_EQ(action->GetString(0x0000, 0x0003), kStorageCommitmentSopClass);
  EXPECT_EQ(action->GetString(0x0000, 0x1001), kStorageCommitmentSopInstance);
  EXPECT_EQ(action->GetUS(0x0000, 0x1008), 1);
  // The request's data set, read back the way a PACS would: both objects under the transaction.
  CommitmentResult asked;
  std::string readError;
  uint16_t status = 0;
  ASSERT_TRUE(ReadCommitmentReport(*DecodePData(received[2]), 1, asked, readError, status));
  EXPECT_EQ(asked.transactionUid, uid);
  EXPECT_EQ(Summary(asked), (std::vector<std::string>{"1.1:committed", "1.5:committed"}));
  EXPECT_EQ(asked.Find("1.5")->sopClassUid, kPdf);
  // The report is answered with success, naming its message and event type.
  const auto answer = DecodePData(received[3]);
  EXPECT_EQ(answer->GetUS(0x0000, 0x0100), kCommandEventReportRSP);
  EXPECT_EQ(answer->GetUS(0x0000, 0x0120), 9);
  EXPECT_EQ(answer->GetUS(0x0000, 0x0900), 0);
  EXPECT_EQ(answer->GetUS(0x0000, 0x1002), kEventFailuresExist);
  EXPECT_EQ(received[4][0], 0x05);  // then released

  const auto result = results.WaitFor(uid, std::chrono::milliseconds(0));
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(Summary(*result), (std::vector<std::string>{"1.5:531", "1.1:committed"}));
}

TEST(CommitmentRequest, RefusalsAreReportedWithoutTransaction) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
    const char* errorPart;
  };
  const Case cases[] = {
      {"association rejected",
       {Step::ReceivePdu(), Step::Send(testpeer::AssociateRJ()), Step::ExpectClose()},
       "did not accept an association"},
      {"class not accepted",
       {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 3, kImplicitVRLittleEndian}})),
        Step::WaitForClose()},
       "did not accept an association"},
      {"N-ACTION failed",
       {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, kImplicitVRLittleEndian}})),
        Step::ReceivePdu(), Step::ReceivePdu(),
        Step::Send(testpeer::PData(
            1, {{kLastCommand, testpeer::ResponseCommand(kCommandActionRSP, 0x0213)}})),
        Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()},
       "refused the storage commitment request: status 0x0213"},
      {"another response",
       {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, kImplicitVRLittleEndian}})),
        Step::ReceivePdu(), Step::ReceivePdu(),
        Step::Send(
            testpeer::PData(1, {{kLastCommand, testpeer::ResponseCommand(kCommandStoreRSP, 0)}})),
        Step::WaitForClose()},
       "answered the storage commitment request with something else"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedPeer peer(c.steps);
    RemoteNode node{"VELLORAN", "PACS", "127.0.0.1", peer.Port()};
    CommitmentResults results;
    std::string error;
    EXPECT_EQ(RequestCommitment(node, {{kPhoto, "1.1"}}, 5, results, error), "");
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
    EXPECT_TRUE(peer.Finish()) << peer.Problem();
  }
}

// A PACS (here our own association service as requestor) calls the listener back, taking the SCP
// role by role selection, as a storage commitment SCP must on an association it opens.
struct CallingPacs {
  PDU_Service service;
  bool Open(const std::string& calledAe, int port, const std::string& callingAe = "ORTHANC") {
    service.assocRQ.UserInfo.Role.SOPClassUID = kStorageCommitmentSopClass;
    service.assocRQ.UserInfo.Role.SCURole = 0;
    service.assocRQ.UserInfo.Role.SCPRole = 1;
    return OpenAssociation(service, callingAe, calledAe, "127.0.0.1", std::to_string(port),
                           kStorageCommitmentSopClass, kExplicitVRLittleEndian, "", 5);
  }
  // Sends the report and gives the status of the answer (-1 when none came).
  int Send(uint16_t eventType, DcmObj& report) {
    auto command = BuildCommitmentEventReportRQ(NextMessageID(), eventType);
    report.SetTransferSyntax(*service.GetTransferSyntaxUID(service.pdata.PresentationContextID));
    DcmObj answer;
    if (!service.Write(*command, kStorageCommitmentSopClass, MessageKind::Command) ||
        !service.Write(report, kStorageCommitmentSopClass, MessageKind::DataSet) ||
        !service.Read(answer, MessageKind::Command)) {
      return -1;
    }
    EXPECT_EQ(answer.GetUS(0x0000, 0x0100), kCommandEventReportRSP);
    EXPECT_EQ(answer.GetUS(0x0000, 0x1002), eventType);
    return answer.GetUS(0x0000, 0x0900);
  }
};

TEST(CommitmentListener, ReportsFromACallingPacsAreDeliveredByTransaction) {
  CommitmentResults results;
  CommitmentListener listener("VELLORAN", results);
  const int port = testsupport::FreePort();
  std::string error;
  ASSERT_TRUE(listener.Start(std::to_string(port), ListenScope::LoopbackOnly, error)) << error;

  {
    CallingPacs pacs;
    ASSERT_TRUE(pacs.Open("VELLORAN", port));
    // The SCP role it asked for is granted, the SCU role is not.
    EXPECT_EQ(pacs.service.assocAC.UserInfo.Role.SOPClassUID, kStorageCommitmentSopClass);
    EXPECT_EQ(pacs.service.assocAC.UserInfo.Role.SCPRole, 1);
    EXPECT_EQ(pacs.service.assocAC.UserInfo.Role.SCURole, 0);
    auto all = BuildCommitmentReport(Report("2.25.1", {{"1.1", 0}, {"1.2", 0}}));
    EXPECT_EQ(pacs.Send(kEventAllCommitted, *all), 0);
    // Two reports on one association; the second one with a failure.
    auto some = BuildCommitmentReport(Report("2.25.2", {{"1.3", 0}, {"1.4", 0x0122}}));
    EXPECT_EQ(pacs.Send(kEventFailuresExist, *some), 0);
    // A broken one is answered with its failure status and delivers nothing.
    auto broken = BuildCommitmentReport(Report("", {{"1.5", 0}}));
    EXPECT_EQ(pacs.Send(kEventAllCommitted, *broken), kStatusMissingAttribute);
    CloseAssociation(pacs.service);
  }
  const auto first = results.WaitFor("2.25.1", std::chrono::seconds(5));
  ASSERT_TRUE(first.has_value());
  EXPECT_TRUE(first->AllCommitted());
  const auto second = results.WaitFor("2.25.2", std::chrono::seconds(5));
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(Summary(*second), (std::vector<std::string>{"1.4:290", "1.3:committed"}));
  EXPECT_FALSE(results.WaitFor("", std::chrono::milliseconds(0)).has_value());
  // Not yet arrived: the wait ends empty at its limit.
  EXPECT_FALSE(results.WaitFor("2.25.3", std::chrono::milliseconds(50)).has_value());

  // Verification is served so that the PACS's echo of this node succeeds; another AE title is
  // turned away.
  EXPECT_TRUE(EchoSCU("ORTHANC", "VELLORAN", "127.0.0.1", std::to_string(port), 5, false));
  CallingPacs stranger;
  EXPECT_FALSE(stranger.Open("SOMEONE", port));
  listener.Stop();
  EXPECT_FALSE(listener.Running());
}

// Stopping does not wait for a PACS that holds its association open without a word: the
// association is cut at once, long before the listener's receive time-out.
TEST(CommitmentListener, StopCutsAnIdleAssociation) {
  CommitmentResults results;
  CommitmentListener listener("", results);
  listener.timeoutSeconds = 300;
  const int port = testsupport::FreePort();
  std::string error;
  ASSERT_TRUE(listener.Start(std::to_string(port), ListenScope::LoopbackOnly, error)) << error;
  CallingPacs idle;
  ASSERT_TRUE(idle.Open("ANYONE", port));
  const auto start = std::chrono::steady_clock::now();
  listener.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  DcmObj nothing;
  EXPECT_FALSE(idle.service.Read(nothing, MessageKind::Command));
}

// Only the PACS may report: its AE title, calling from its address. Anyone else that reaches the
// port is rejected and logged with the address and AE title it came with, and its report marks
// nothing committed.
TEST(CommitmentListener, OnlyThePacsFromItsAddressMayReport) {
  const struct {
    const char* name;
    const char* callingAe;
    const char* pacsHost;
    bool accepted;
  } rows[] = {
      {"the PACS", "ORTHANC", "127.0.0.1", true},
      {"another AE title", "INTRUDER", "127.0.0.1", false},
      {"another address", "ORTHANC", "127.0.0.2", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CapturedLog log;
    CommitmentResults results;
    CommitmentListener listener("VELLORAN", results);
    listener.AcceptOnlyFrom("ORTHANC", row.pacsHost);
    const int port = testsupport::FreePort();
    std::string error;
    ASSERT_TRUE(listener.Start(std::to_string(port), ListenScope::LoopbackOnly, error)) << error;
    CallingPacs caller;
    ASSERT_EQ(caller.Open("VELLORAN", port, row.callingAe), row.accepted);
    if (row.accepted) {
      auto report = BuildCommitmentReport(Report("2.25.7", {{"1.1", 0}}));
      EXPECT_EQ(caller.Send(kEventAllCommitted, *report), 0);
      CloseAssociation(caller.service);
      EXPECT_TRUE(results.WaitFor("2.25.7", std::chrono::seconds(5)).has_value());
    } else {
      EXPECT_TRUE(log.Contains("rejected: calling AE title \"" + std::string(row.callingAe) +
                               "\" from 127.0.0.1, only ORTHANC at " + row.pacsHost + " may call"))
          << log.Text();
      EXPECT_FALSE(results.Has("2.25.7"));
    }
  }
}

// A caller that trickles its association request a byte at a time holds neither the port nor the
// PACS: the PACS's report is taken meanwhile, and the trickler is cut at its association's
// deadline.
TEST(CommitmentListener, ATricklingCallerDelaysNoReportAndIsCutAtItsDeadline) {
  CommitmentResults results;
  CommitmentListener listener("VELLORAN", results);
  listener.timeoutSeconds = 2;
  const int port = testsupport::FreePort();
  std::string error;
  ASSERT_TRUE(listener.Start(std::to_string(port), ListenScope::LoopbackOnly, error)) << error;
  std::atomic<bool> cut = false;
  std::thread trickler([&] {
    Socket socket;
    socket.TimeOut = 5;
    if (!socket.Open("127.0.0.1", std::to_string(port))) return;
    // An A-ASSOCIATE-RQ of 256 bytes, a byte every 200 ms: well within every receive time-out,
    // and on for far longer than the association's deadline.
    Bytes request = {0x01, 0x00, 0x00, 0x00, 0x01, 0x00};
    request.resize(6 + 256, 0x00);
    for (size_t i = 0; i < request.size() && !cut; ++i) {
      if (!socket.SendBinary(&request[i], 1)) cut = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  CallingPacs pacs;
  ASSERT_TRUE(pacs.Open("VELLORAN", port));
  auto report = BuildCommitmentReport(Report("2.25.8", {{"1.1", 0}}));
  EXPECT_EQ(pacs.Send(kEventAllCommitted, *report), 0);
  CloseAssociation(pacs.service);
  EXPECT_TRUE(results.WaitFor("2.25.8", std::chrono::seconds(5)).has_value());
  EXPECT_FALSE(cut) << "the report was only taken after the trickler was cut";
  trickler.join();
  EXPECT_TRUE(cut) << "the trickler was never cut";
  listener.Stop();
}

}  // namespace
