// Storage associations against a scripted peer: the object's own transfer syntax and Implicit VR
// Little Endian in separate contexts, each object on the context of its own syntax; and how an
// association ends when the peer releases, aborts, paces its PDUs without end or answers without
// a status.
#include <gtest/gtest.h>

#include <chrono>

#include "captured_log.h"
#include "dimse.h"
#include "pdu_service.h"
#include "received_request.h"
#include "scripted_peer.h"
#include "storage.h"

using testpeer::AcceptedContext;
using testpeer::Bytes;
using testpeer::FromHex;
using testpeer::ScriptedPeer;
using testpeer::Step;

namespace {

constexpr uint8_t kLastCommand = 0x03;
constexpr const char* kPdfClass = "1.2.840.10008.5.1.4.1.1.104.1";
constexpr const char* kVideoClass = "1.2.840.10008.5.1.4.1.1.77.1.1.1";
constexpr const char* kMpeg4 = "1.2.840.10008.1.2.4.102";
constexpr const char* kJpegBaseline = "1.2.840.10008.1.2.4.50";

std::unique_ptr<DcmObj> SmallObject(const std::string& sopClass, const std::string& syntax) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->SetTransferSyntax(syntax);
  dataSet->AddString(0x0008, 0x0016, sopClass);
  dataSet->AddString(0x0008, 0x0018, "1.2.3.77");
  dataSet->AddString(0x0010, 0x0010, "DOE^JANE");
  return dataSet;
}

Bytes StoreResponse(uint8_t context) {
  return testpeer::PData(context, {{kLastCommand, testpeer::ResponseCommand(kCommandStoreRSP, 0)}});
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(StoreAssociation, ProposesTheOwnSyntaxAndImplicitInSeparateContexts) {
  struct Case {
    std::string own;
    // (context ID, transfer syntaxes) in proposed order
    std::vector<std::pair<int, std::vector<std::string>>> expected;
  };
  const Case cases[] = {
      {kJpegBaseline, {{1, {kJpegBaseline}}, {3, {kImplicitVRLittleEndian}}}},
      {kMpeg4, {{1, {kMpeg4}}, {3, {kImplicitVRLittleEndian}}}},
      {kExplicitVRLittleEndian, {{1, {kExplicitVRLittleEndian}}, {3, {kImplicitVRLittleEndian}}}},
      {kImplicitVRLittleEndian, {{1, {kImplicitVRLittleEndian}}}},
      {"", {{1, {kImplicitVRLittleEndian}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.own);
    ScriptedPeer peer({Step::ReceivePdu(), Step::Close()});
    PDU_Service service;
    EXPECT_FALSE(OpenStoreAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                                      kVideoClass, c.own, 2));
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    const AAssociateRQ request = ParseRequest(peer.Received().at(0));
    std::vector<std::pair<int, std::vector<std::string>>> proposed;
    for (const PresentationContext& context : request.PresContexts) {
      EXPECT_EQ(context.AbsSyntax.UID, kVideoClass);
      std::vector<std::string> syntaxes;
      for (const UIDitem& syntax : context.TrnSyntax) syntaxes.push_back(syntax.UID);
      proposed.emplace_back(context.PresentationContextID, syntaxes);
    }
    EXPECT_EQ(proposed, c.expected);
  }
}

// A peer that accepts the own syntax's context gets the object as it is, on that context; one
// that refuses it gets a conversion on the Implicit context, or nothing when none is possible.
TEST(StoreAssociation, EachObjectTravelsOnTheContextOfItsOwnSyntax) {
  struct Case {
    const char* name;
    std::string sopClass;
    std::string own;
    std::vector<AcceptedContext> accepted;
    int expected;
    uint8_t context;  // the context of the command and data set sent
    std::string sentSyntax;
  };
  const Case cases[] = {
      {"video, both accepted",
       kVideoClass,
       kMpeg4,
       {{1, 0, kMpeg4}, {3, 0, kImplicitVRLittleEndian}},
       kStoreWritten,
       1,
       kMpeg4},
      {"video, only Implicit accepted",
       kVideoClass,
       kMpeg4,
       {{1, 4, kMpeg4}, {3, 0, kImplicitVRLittleEndian}},
       kStoreConversionFailed,
       0,
       ""},
      {"PDF, both accepted",
       kPdfClass,
       kExplicitVRLittleEndian,
       {{1, 0, kExplicitVRLittleEndian}, {3, 0, kImplicitVRLittleEndian}},
       kStoreWritten,
       1,
       kExplicitVRLittleEndian},
      {"PDF, own refused",
       kPdfClass,
       kExplicitVRLittleEndian,
       {{1, 4, kExplicitVRLittleEndian}, {3, 0, kImplicitVRLittleEndian}},
       kStoreWritten,
       3,
       kImplicitVRLittleEndian},
      // A transfer syntax we never proposed for a context makes that context unusable: the
      // object goes out losslessly on the other one, never converted to the unproposed syntax.
      {"own context accepted with an unproposed syntax",
       kPdfClass,
       kExplicitVRLittleEndian,
       {{1, 0, kJpegBaseline}, {3, 0, kImplicitVRLittleEndian}},
       kStoreWritten,
       3,
       kImplicitVRLittleEndian},
      {"accepts are listed in another order",
       kPdfClass,
       kExplicitVRLittleEndian,
       {{3, 0, kImplicitVRLittleEndian}, {1, 0, kExplicitVRLittleEndian}},
       kStoreWritten,
       1,
       kExplicitVRLittleEndian},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Step> steps = {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC(c.accepted))};
    if (c.expected == kStoreWritten) {
      steps.push_back(Step::ReceivePdu());
      steps.push_back(Step::ReceivePdu());
      steps.push_back(Step::Send(StoreResponse(c.context)));
    }
    steps.push_back(Step::ReceivePdu());
    steps.push_back(Step::Send(testpeer::ReleaseRP()));
    steps.push_back(Step::WaitForClose());
    ScriptedPeer peer(steps);
    PDU_Service service;
    ASSERT_TRUE(OpenStoreAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                                     c.sopClass, c.own, 5));
    auto dataSet = SmallObject(c.sopClass, c.own);
    EXPECT_EQ(WriteStoreRQ(service, *dataSet, c.sopClass), c.expected);
    if (c.expected == kStoreWritten) EXPECT_EQ(ReadStoreRSP(service), 0);
    EXPECT_TRUE(CloseAssociation(service));
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    if (c.expected != kStoreWritten) continue;
    const std::vector<Bytes> received = peer.Received();
    ASSERT_EQ(received.size(), 4u);
    EXPECT_EQ(received[1][10], c.context);
    EXPECT_EQ(received[2][10], c.context);
    EXPECT_EQ(dataSet->transferSyntax, c.sentSyntax);
  }
}

// After the peer's release request or abort nothing more is written: the next object fails at
// once, without a byte on the wire.
TEST(StoreAssociation, NothingIsWrittenAfterThePeerReleasedOrAborted) {
  struct Case {
    const char* name;
    std::vector<Step> ending;
    AssociationState state;
    size_t pdusReceived;
  };
  const Case cases[] = {
      {"release request",
       {Step::Send(testpeer::ReleaseRQ()), Step::ReceivePdu(), Step::WaitForClose()},
       AssociationState::Released,
       4},
      {"abort",
       {Step::Send(testpeer::Abort()), Step::WaitForClose()},
       AssociationState::Aborted,
       3},
  };
  LogLevel = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    std::vector<Step> steps = {Step::ReceivePdu(),
                               Step::Send(testpeer::AssociateAC({{1, 0, kExplicitVRLittleEndian}})),
                               Step::ReceivePdu(), Step::ReceivePdu()};
    steps.insert(steps.end(), c.ending.begin(), c.ending.end());
    ScriptedPeer peer(steps);
    PDU_Service service;
    ASSERT_TRUE(OpenStoreAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                                     kPdfClass, kExplicitVRLittleEndian, 5));
    auto first = SmallObject(kPdfClass, kExplicitVRLittleEndian);
    ASSERT_EQ(WriteStoreRQ(service, *first, kPdfClass), kStoreWritten);
    EXPECT_EQ(ReadStoreRSP(service), -1);
    EXPECT_EQ(service.State(), c.state);
    auto second = SmallObject(kPdfClass, kExplicitVRLittleEndian);
    EXPECT_EQ(WriteStoreRQ(service, *second, kPdfClass), kStoreWriteFailed);
    DcmObj command;
    command.AddString(0x0000, 0x0002, kPdfClass);
    EXPECT_FALSE(service.Write(command, kPdfClass, MessageKind::Command));
    EXPECT_TRUE(
        log.Contains(std::string("ERROR, PDU_Service::Write, association ") + StateName(c.state)))
        << log.Text();
    EXPECT_FALSE(CloseAssociation(service));
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    // Request, command, data set and, after a release request, our release reply: no second
    // C-STORE and no release request of our own.
    const std::vector<Bytes> received = peer.Received();
    ASSERT_EQ(received.size(), c.pdusReceived);
    if (c.state == AssociationState::Released) EXPECT_EQ(received.back(), testpeer::ReleaseRP());
  }
  LogLevel = 0;
}

// A response is awaited for the time-out at most, however the peer paces what it sends, and a
// message is refused once it grows past what a response may hold.
TEST(StoreAssociation, ResponsesHaveADeadlineAndASizeCap) {
  struct Case {
    const char* name;
    Bytes repeated;
    const char* logLine;
    double maxSeconds;
  };
  const Case cases[] = {
      {"endless empty P-DATA-TF", FromHex("04 00 00000000"), "ERROR, Socket::ReadBinary, Timed out",
       3.0},
      {"endless non-last fragments", testpeer::PData(1, {{0x01, Bytes(2, 0)}}),
       "ERROR, Socket::ReadBinary, Timed out", 3.0},
      {"command longer than any response", testpeer::PData(1, {{0x01, Bytes(16000, 0)}}),
       "message longer than 65536", 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    ScriptedPeer peer(
        {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, kImplicitVRLittleEndian}})),
         Step::ReceivePdu(), Step::Repeat(c.repeated, std::chrono::milliseconds(20))});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(EchoSCU("VELLORAN", "PEER", "127.0.0.1", peer.Port(), 2, false));
    EXPECT_LT(SecondsSince(start), c.maxSeconds);
    EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
  }
}

// A response that carries no Status reports nothing and is never taken for success.
TEST(StoreAssociation, ResponsesWithoutStatusAreFailures) {
  const auto answer = [](uint16_t commandField) {
    return std::vector<Step>{
        Step::ReceivePdu(),
        Step::Send(testpeer::AssociateAC({{1, 0, kImplicitVRLittleEndian}})),
        Step::ReceivePdu(),
        Step::Send(testpeer::PData(
            1, {{kLastCommand, testpeer::ResponseCommandWithoutStatus(commandField)}})),
        Step::ReceivePdu(),
        Step::Send(testpeer::ReleaseRP()),
        Step::WaitForClose()};
  };
  CapturedLog log;
  {
    ScriptedPeer peer(answer(kCommandEchoRSP));
    EXPECT_FALSE(EchoSCU("VELLORAN", "PEER", "127.0.0.1", peer.Port(), 2, false));
  }
  EXPECT_TRUE(log.Contains("ERROR, ReadEchoRSP, response without status")) << log.Text();
  {
    ScriptedPeer peer(answer(kCommandStoreRSP));
    PDU_Service service;
    ASSERT_TRUE(OpenStoreAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                                     kPdfClass, kImplicitVRLittleEndian, 2));
    ASSERT_TRUE(CStore::WriteRQ(&service, nullptr, kPdfClass));
    EXPECT_EQ(ReadStoreRSP(service), -1);
    EXPECT_TRUE(CloseAssociation(service));
  }
  EXPECT_TRUE(log.Contains("ERROR, CStore::ReadRSP, response without status"));
  {
    ScriptedPeer peer(answer(kCommandFindRSP));
    PDU_Service service;
    ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                                "1.2.840.10008.5.1.4.1.2.2.1", 2));
    DcmObj identifier;
    ASSERT_TRUE(CFind::WriteRQ(&service, identifier, "1.2.840.10008.5.1.4.1.2.2.1"));
    EXPECT_EQ(CFind::ReadRSP(&service, identifier), -1);
    EXPECT_TRUE(CloseAssociation(service));
  }
  EXPECT_TRUE(log.Contains("ERROR, CFind::ReadRSP, response without status"));
}

}  // namespace
