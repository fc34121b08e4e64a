// The association service against a scripted peer: the request it sends, and how it ends when
// the peer rejects, aborts, releases, goes silent or sends what it must not.
#include "pdu_service.h"

#include <gtest/gtest.h>

#include <chrono>

#include "captured_log.h"
#include "received_request.h"
#include "scripted_peer.h"

using testpeer::Bytes;
using testpeer::FromHex;
using testpeer::ScriptedPeer;
using testpeer::Step;

namespace {

constexpr const char* kVerification = "1.2.840.10008.1.1";

// The A-ASSOCIATE-RQ for Verification from "VELLORAN" to "ANY-SCP", 210 bytes:
//   01 00 000000CC               A-ASSOCIATE-RQ, length 204
//   0001 0000                    protocol version 1, reserved
//   called title "ANY-SCP" and calling title "VELLORAN", blank padded to 16; 32 zero bytes
//   10 00 0015 (21 characters)   application context "1.2.840.10008.3.1.1.1"
//   20 00 002E 01 00 00 00       presentation context 1, length 46, with
//     30 00 0011 (17)            abstract syntax "1.2.840.10008.1.1"
//     40 00 0011 (17)            transfer syntax "1.2.840.10008.1.2"
//   50 00 0039                   user information, length 57, with
//     51 00 0004 00004000        maximum length 16384
//     52 00 001E (30)            implementation class UID, the organisation root + ".999"
//     55 00 000B (11)            implementation version name "Brindlewick"
Bytes KnownVerificationRequest() {
  Bytes bytes = FromHex("01 00 000000CC 0001 0000");
  auto hex = [&bytes](const char* text) {
    const Bytes more = FromHex(text);
    bytes.insert(bytes.end(), more.begin(), more.end());
  };
  testpeer::PutText(bytes, "ANY-SCP         VELLORAN        ");
  bytes.resize(bytes.size() + 32, 0);
  hex("10 00 0015");
  testpeer::PutText(bytes, "1.2.840.10008.3.1.1.1");
  hex("20 00 002E 01 00 00 00 30 00 0011");
  testpeer::PutText(bytes, "1.2.840.10008.1.1");
  hex("40 00 0011");
  testpeer::PutText(bytes, "1.2.840.10008.1.2");
  hex("50 00 0039 51 00 0004 00004000 52 00 001E");
  testpeer::PutText(bytes, "2.25.186492035740155963118.999");
  hex("55 00 000B");
  testpeer::PutText(bytes, "Brindlewick");
  return bytes;
}

Bytes AcceptImplicit() {
  return testpeer::AssociateAC({{1, 0, "1.2.840.10008.1.2"}});
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(OpenAssociation, SendsTheKnownRequestAndReleases) {
  ScriptedPeer peer({Step::ReceivePdu(), Step::Send(AcceptImplicit()), Step::ReceivePdu(),
                     Step::Send(testpeer::ReleaseRP())});
  PDU_Service service;
  ASSERT_TRUE(
      OpenAssociation(service, "VELLORAN", "ANY-SCP", "127.0.0.1", peer.Port(), kVerification, 5));
  EXPECT_EQ(service.pdata.PresentationContextID, 1);
  EXPECT_EQ(service.GetTransferSyntaxUID(1), "1.2.840.10008.1.2");
  EXPECT_FALSE(service.GetTransferSyntaxUID(3).has_value());
  // One proposed context and one accept item: the first message ID is 3.
  EXPECT_EQ(NextMessageID(), 3);
  EXPECT_EQ(NextMessageID(), 5);
  EXPECT_TRUE(service.IsConnected());
  EXPECT_TRUE(CloseAssociation(service));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();

  const std::vector<Bytes> received = peer.Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0], KnownVerificationRequest());
  EXPECT_EQ(received[1], testpeer::ReleaseRQ());

  const AAssociateRQ request = ParseRequest(received[0]);
  EXPECT_EQ(request.CallingApTitle, "VELLORAN        ");
  ASSERT_EQ(request.PresContexts.size(), 1u);
  EXPECT_EQ(request.PresContexts[0].AbsSyntax.UID, kVerification);
  EXPECT_EQ(request.UserInfo.MaxLength.MaximumLength, 16384u);
  EXPECT_EQ(request.UserInfo.ImplementationVersion.ImplementationVersionName, "Brindlewick");
}

TEST(OpenAssociation, TraceOfTheKnownRequestGivesItsSizes) {
  // With debug logging the request's sizes appear in the log; each sub-item size counts its
  // 4-byte header, the user information length does not.
  ScriptedPeer peer({Step::ReceivePdu(), Step::Send(AcceptImplicit()), Step::ReceivePdu(),
                     Step::Send(testpeer::ReleaseRP())});
  LogLevel = 2;
  CapturedLog log;
  PDU_Service service;
  ASSERT_TRUE(
      OpenAssociation(service, "VELLORAN", "ANY-SCP", "127.0.0.1", peer.Port(), kVerification, 5));
  EXPECT_TRUE(CloseAssociation(service));
  LogLevel = 0;
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  const std::string text = log.Text();
  const char* const lines[] = {
      "INFO, MaxSubLength::Size, Length=8, MaxSubLength.MaximumLength=16384\n",
      "INFO, ImpClass::Size, Length=34, \"2.25.186492035740155963118.999\"\n",
      "INFO, ImpVersion::Size, Length=15, \"Brindlewick\"\n",
      "INFO, UserInformation::Size, Length=57\n",
      "INFO, AAssociateRQ::Write\n",
      "Length: 204\n",
      "CalledApTitle: ANY-SCP         \n",
      "INFO, PresentationContext::Write\n",
      "Length: 46\n",
      "AbsSyntax: 1.2.840.10008.1.1\n",
      "TrnSyntax: 1.2.840.10008.1.2\n",
      "Presentation Context Accept ID: 1, Transfer Syntax: 1.2.840.10008.1.2\n",
  };
  // In this order, each once.
  size_t at = 0;
  for (const char* line : lines) {
    const size_t found = text.find(line, at);
    ASSERT_NE(found, std::string::npos) << line << "\n" << text;
    at = found + 1;
  }
  EXPECT_EQ(text.find("INFO, UserInformation::Size"), text.rfind("INFO, UserInformation::Size"));
}

// The user information item that ends every request: maximum length, implementation class and
// version, then (with a user name) the user identity sub-item: type 2 (user name and passcode),
// positive response requested, each field behind its 16-bit length.
Bytes UserInformationItem(const std::string& userName, const std::string& passcode) {
  Bytes sub = FromHex("51 00 0004 00004000 52 00 001E");
  testpeer::PutText(sub, "2.25.186492035740155963118.999");
  const Bytes version = FromHex("55 00 000B");
  sub.insert(sub.end(), version.begin(), version.end());
  testpeer::PutText(sub, "Brindlewick");
  if (!userName.empty()) {
    testpeer::Put8(sub, 0x58);
    testpeer::Put8(sub, 0);
    testpeer::Put16(sub, static_cast<uint16_t>(6 + userName.size() + passcode.size()));
    testpeer::Put8(sub, 2);
    testpeer::Put8(sub, 1);
    testpeer::Put16(sub, static_cast<uint16_t>(userName.size()));
    testpeer::PutText(sub, userName);
    testpeer::Put16(sub, static_cast<uint16_t>(passcode.size()));
    testpeer::PutText(sub, passcode);
  }
  Bytes item = {0x50, 0x00};
  testpeer::Put16(item, static_cast<uint16_t>(sub.size()));
  item.insert(item.end(), sub.begin(), sub.end());
  return item;
}

TEST(OpenAssociation, ProposesTitlesAndTransferSyntaxes) {
  const std::string implicit = "1.2.840.10008.1.2";
  const std::string explicitLE = "1.2.840.10008.1.2.1";
  const std::string jpeg = "1.2.840.10008.1.2.4.50";
  struct Case {
    std::string calling;
    std::string first;
    std::string second;
    std::string userName;
    std::string expectedCalling;
    std::vector<std::string> expectedSyntaxes;
  };
  const Case cases[] = {
      {"VELLORAN", "", "", "", "VELLORAN        ", {implicit}},
      {"ABCDEFGHIJKLMNOPQRST", jpeg, "", "", "ABCDEFGHIJKLMNOP", {jpeg, implicit}},
      {"PACS", implicit, "", "", "PACS            ", {implicit}},
      {"PACS", explicitLE, explicitLE, "", "PACS            ", {explicitLE, implicit}},
      {"PACS", jpeg, explicitLE, "doctor", "PACS            ", {explicitLE, jpeg, implicit}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expectedCalling + " " + c.first + " " + c.second);
    ScriptedPeer peer({Step::ReceivePdu(), Step::Close()});
    PDU_Service service;
    service.UserName = c.userName;
    service.Passcode = "secret";
    EXPECT_FALSE(OpenAssociation(service, c.calling, "ANY-SCP", "127.0.0.1", peer.Port(),
                                 kVerification, c.first, c.second, 2));
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    const AAssociateRQ request = ParseRequest(peer.Received().at(0));
    EXPECT_EQ(request.CallingApTitle, c.expectedCalling);
    ASSERT_EQ(request.PresContexts.size(), 1u);
    EXPECT_EQ(request.PresContexts[0].PresentationContextID, 1);
    std::vector<std::string> syntaxes;
    for (const UIDitem& syntax : request.PresContexts[0].TrnSyntax) syntaxes.push_back(syntax.UID);
    EXPECT_EQ(syntaxes, c.expectedSyntaxes);
    // The request ends with the user information item, byte for byte.
    const Bytes sent = peer.Received().at(0);
    const Bytes expected = UserInformationItem(c.userName, "secret");
    ASSERT_GE(sent.size(), expected.size());
    EXPECT_EQ(Bytes(sent.end() - static_cast<long>(expected.size()), sent.end()), expected);
  }
}

TEST(OpenAssociation, FailsCleanlyWhenThePeerMisbehaves) {
  const Bytes accept = AcceptImplicit();
  const Bytes truncatedAccept(accept.begin(), accept.begin() + 30);
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> logLines;  // all of these
    std::string alternative;            // or, when not empty, this one alone
    Bytes endExpected;                  // the A-ABORT or A-RELEASE-RQ the peer receives, if any
  };
  const Case cases[] = {
      {"rejected",
       {Step::ReceivePdu(), Step::Send(testpeer::AssociateRJ()), Step::ExpectClose()},
       {"ERROR, PDU_Service::Connect, association rejected permanently by the called "
        "application: no reason given (result 1, source 1, reason 1)",
        "ERROR, Association Rejected..."}},
      {"closes at once",
       {Step::Close()},
       {"ERROR, Association RQ failed!"},
       "ERROR, Corrupt Transmission..."},
      {"silent",
       {Step::ReceivePdu(), Step::ExpectClose()},
       {"ERROR, Socket::ReadBinary, Timed out", "ERROR, Corrupt Transmission..."}},
      // An accepted association with nothing usable in it is released, not reset.
      {"accepts an unusable transfer syntax",
       {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, "1.2.840.10008.1.2.5"}})),
        Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()},
       {"ERROR, Transfer Syntax is Empty",
        "ERROR, PDU_Service::Connect, InterogateAAssociateAC failed"},
       "",
       testpeer::ReleaseRQ()},
      {"refuses the context",
       {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 3, ""}})), Step::ReceivePdu(),
        Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()},
       {"ERROR, Transfer Syntax is Empty",
        "ERROR, PDU_Service::Connect, InterogateAAssociateAC failed"},
       "",
       testpeer::ReleaseRQ()},
      {"accepts a context never proposed",
       {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{7, 0, "1.2.840.10008.1.2"}})),
        Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()},
       {"context 7 was not proposed", "ERROR, Transfer Syntax is Empty"},
       "",
       testpeer::ReleaseRQ()},
      {"huge A-ASSOCIATE-AC length",
       {Step::ReceivePdu(), Step::Send(FromHex("02 00 FFFFFFF0")), Step::ReceivePdu(),
        Step::ExpectClose()},
       {"PDU length 4294967280 outside", "ERROR, PDU_Service::Connect, A-ASSOCIATE-AC refused"},
       "",
       FromHex("07 00 00000004 00 00 02 06")},
      {"truncated A-ASSOCIATE-AC",
       {Step::ReceivePdu(), Step::Send(truncatedAccept), Step::Close()},
       {"connection ended inside the PDU", "A-ASSOCIATE-AC refused"}},
      // AA-3: an abort is never answered; ExpectClose fails on any byte we send.
      {"aborts instead of answering",
       {Step::ReceivePdu(), Step::Send(FromHex("07 00 00000004 00 00 02 01")), Step::ExpectClose()},
       {"ERROR, PDU_Service::Connect, association aborted by the service provider: unrecognized "
        "PDU (source 2, reason 1)"}},
      {"unknown PDU type",
       {Step::ReceivePdu(), Step::Send(FromHex("09 00 00000004 00000000")), Step::ReceivePdu(),
        Step::ExpectClose()},
       {"ERROR, Corrupt Transmission..."},
       "",
       FromHex("07 00 00000004 00 00 02 01")},
  };
  LogLevel = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    ScriptedPeer peer(c.steps);
    PDU_Service service;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(OpenAssociation(service, "VELLORAN", "ANY-SCP", "127.0.0.1", peer.Port(),
                                 kVerification, 1));
    EXPECT_LT(SecondsSince(start), 6.0);
    EXPECT_FALSE(service.IsConnected());
    EXPECT_FALSE(CloseAssociation(service));
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    bool allFound = true;
    for (const std::string& line : c.logLines) allFound = allFound && log.Contains(line);
    EXPECT_TRUE(allFound || (!c.alternative.empty() && log.Contains(c.alternative))) << log.Text();
    if (!c.endExpected.empty()) {
      ASSERT_EQ(peer.Received().size(), 2u);
      EXPECT_EQ(peer.Received()[1], c.endExpected);
    }
  }
  LogLevel = 0;
}

TEST(PduServiceRead, EndsCleanlyWhenThePeerMisbehaves) {
  const Bytes echoCommand = testpeer::ResponseCommand(0x8030, 0x0000);
  const Bytes echoResponse = testpeer::PData(1, {{0x03, echoCommand}});
  struct Case {
    const char* name;
    std::vector<Step> steps;  // after the association and our request
    const char* logLine;
    Bytes expectedReply;          // what the peer should receive after our request, if anything
    bool releasedByPeer = false;  // the connection stays open until the peer closes it
  };
  const Case cases[] = {
      {"abort during a store",
       {Step::Send(testpeer::Abort()), Step::ExpectClose()},
       "WARNING, PDU_Service::Read Abort-RQ, association aborted by the service user (source 0, "
       "reason 0)"},
      {"release request from the peer",
       {Step::Send(testpeer::ReleaseRQ()), Step::ReceivePdu(), Step::ExpectClose()},
       "INFO, PDU_Service::Read Release-RQ",
       testpeer::ReleaseRP(),
       true},
      {"unknown PDU type",
       {Step::Send(FromHex("09 00 00000004 00000000")), Step::ReceivePdu(), Step::ExpectClose()},
       "ERROR, PDU_Service::Read Protocol Error",
       FromHex("07 00 00000004 00 00 02 01")},
      {"association request in the data phase",
       {Step::Send(KnownVerificationRequest()), Step::ReceivePdu(), Step::ExpectClose()},
       "ERROR, PDU_Service::Read Associate-RQ",
       FromHex("07 00 00000004 00 00 02 02")},
      {"truncated P-DATA-TF",
       {Step::Send(Bytes(echoResponse.begin(), echoResponse.begin() + 20)), Step::Close()},
       "ERROR, PDU_Service::Read, pdata.ReadDynamic(Link)"},
      {"huge P-DATA-TF length",
       {Step::Send(FromHex("04 00 7FFFFFFF 7FFFFFFB 01 03")), Step::ReceivePdu(),
        Step::ExpectClose()},
       "exceeds 65536",
       FromHex("07 00 00000004 00 00 02 06")},
      {"silent", {Step::ExpectClose()}, "ERROR, Socket::ReadBinary, Timed out"},
      {"response flagged as a data set",
       {Step::Send(testpeer::PData(1, {{0x02, testpeer::ResponseCommand(0x8030, 0x0000)}})),
        Step::ReceivePdu(), Step::ExpectClose()},
       "ERROR, PDU_Service::Read, a data set arrived where a command was expected",
       FromHex("07 00 00000004 00 00 02 05")},
      {"fragments mixing command and data set",
       {Step::Send(testpeer::PData(1, {{0x01, Bytes(echoCommand.begin(), echoCommand.begin() + 8)},
                                       {0x02, Bytes(echoCommand.begin() + 8, echoCommand.end())}})),
        Step::ReceivePdu(), Step::ExpectClose()},
       "fragments of one message mix command and data set",
       FromHex("07 00 00000004 00 00 02 06")},
      {"release reply nobody asked for",
       {Step::Send(testpeer::ReleaseRP()), Step::ReceivePdu(), Step::ExpectClose()},
       "WARNING, PDU_Service::Read Release-RSP",
       FromHex("07 00 00000004 00 00 02 02")},
      {"closes at once", {Step::Close()}, "ERROR, Buffer::ReadBlock, Error from ReadBinary()"},
  };
  LogLevel = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    std::vector<Step> steps = {Step::ReceivePdu(), Step::Send(AcceptImplicit()),
                               Step::ReceivePdu()};
    steps.insert(steps.end(), c.steps.begin(), c.steps.end());
    ScriptedPeer peer(steps);
    PDU_Service service;
    ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "ANY-SCP", "127.0.0.1", peer.Port(),
                                kVerification, 1));
    // A dummy command stands in for a C-STORE request.
    DcmObj command;
    command.AddString(0x0000, 0x0002, "1.2.840.10008.5.1.4.1.1.7");
    ASSERT_TRUE(service.Write(command, "", MessageKind::Command));

    const auto start = std::chrono::steady_clock::now();
    DcmObj response;
    EXPECT_FALSE(service.Read(response, MessageKind::Command));
    EXPECT_LT(SecondsSince(start), 6.0);
    EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
    // A failed read ends the association by itself: closed, or released by the peer and left
    // for the peer to close.
    EXPECT_EQ(service.IsConnected(), c.releasedByPeer);
    EXPECT_EQ(service.ReleasedByPeer(), c.releasedByPeer);
    EXPECT_FALSE(service.Read(response, MessageKind::Command));
    EXPECT_FALSE(CloseAssociation(service));
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    const std::vector<Bytes> received = peer.Received();
    if (!c.expectedReply.empty()) {
      // Nothing else follows: after a release from the peer no release request is sent.
      ASSERT_EQ(received.size(), 3u);
      EXPECT_EQ(received[2], c.expectedReply);
    }
  }
  LogLevel = 0;
}

// How a release of ours ends (PS3.8 Table 9-10, Sta7 and the requestor's collision states Sta9
// and Sta11): completed only by the peer's A-RELEASE-RP.
TEST(CloseAssociation, ReportsWhetherTheReleaseCompleted) {
  struct Case {
    const char* name;
    std::vector<Step> steps;  // after our A-RELEASE-RQ arrived
    bool completed;
    std::vector<Bytes> sentAfterRequest;  // what we send after our A-RELEASE-RQ
    const char* logLine;
  };
  const Case cases[] = {
      {"release reply", {Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()}, true, {}, ""},
      // AR-8, AR-9, then AR-3 on the peer's reply: as requestor we answer the collision first.
      {"release collision",
       {Step::Send(testpeer::ReleaseRQ()), Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()),
        Step::ExpectClose()},
       true,
       {testpeer::ReleaseRP()},
       "INFO, CloseAssociation, release collision: the peer asked for a release too"},
      // AR-6: the end of a message the peer was still sending is dropped.
      {"a response still on its way",
       {Step::Send(testpeer::PData(1, {{0x03, testpeer::ResponseCommand(0x8030, 0)}})),
        Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()},
       true,
       {},
       ""},
      {"abort instead of the reply",
       {Step::Send(testpeer::Abort()), Step::ExpectClose()},
       false,
       {},
       "WARNING, CloseAssociation, the release did not complete: the peer aborted the release: the "
       "service user (source 0, reason 0)"},
      {"connection closed",
       {Step::Close()},
       false,
       {},
       "the connection ended before the A-RELEASE-RP"},
      {"collision reply missing",
       {Step::Send(testpeer::ReleaseRQ()), Step::ReceivePdu(), Step::Close()},
       false,
       {testpeer::ReleaseRP()},
       "the connection ended before the A-RELEASE-RP"},
      // AA-8: anything else is a protocol error answered with an A-ABORT.
      {"association accept instead of the reply",
       {Step::Send(AcceptImplicit()), Step::ReceivePdu(), Step::ExpectClose()},
       false,
       {FromHex("07 00 00000004 00 00 02 02")},
       "arrived instead of the A-RELEASE-RP"},
  };
  LogLevel = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    std::vector<Step> steps = {Step::ReceivePdu(), Step::Send(AcceptImplicit()),
                               Step::ReceivePdu()};
    steps.insert(steps.end(), c.steps.begin(), c.steps.end());
    ScriptedPeer peer(steps);
    PDU_Service service;
    ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "ANY-SCP", "127.0.0.1", peer.Port(),
                                kVerification, 2));
    EXPECT_EQ(CloseAssociation(service), c.completed);
    EXPECT_FALSE(service.IsConnected());
    EXPECT_EQ(service.State(), AssociationState::Idle);
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    const std::vector<Bytes> received = peer.Received();
    ASSERT_EQ(received.size(), 2 + c.sentAfterRequest.size());
    EXPECT_EQ(received[1], testpeer::ReleaseRQ());
    for (size_t i = 0; i < c.sentAfterRequest.size(); ++i) {
      EXPECT_EQ(received[2 + i], c.sentAfterRequest[i]);
    }
    if (*c.logLine) EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
    EXPECT_EQ(log.Contains("WARNING, CloseAssociation"), !c.completed) << log.Text();
  }
  LogLevel = 0;
}

TEST(PduServiceRead, ResponseAfterRequest) {
  ScriptedPeer peer(
      {Step::ReceivePdu(), Step::Send(AcceptImplicit()), Step::ReceivePdu(),
       Step::Send(testpeer::PData(1, {{0x03, testpeer::ResponseCommand(0x8030, 0x0000)}})),
       Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP())});
  PDU_Service service;
  ASSERT_TRUE(
      OpenAssociation(service, "VELLORAN", "ANY-SCP", "127.0.0.1", peer.Port(), kVerification, 2));
  DcmObj command;
  command.AddString(0x0000, 0x0002, kVerification);
  ASSERT_TRUE(service.Write(command, kVerification, MessageKind::Command));
  DcmObj response;
  ASSERT_TRUE(service.Read(response, MessageKind::Command));
  EXPECT_EQ(response.GetUS(0x0000, 0x0100), 0x8030);
  EXPECT_EQ(response.GetUS(0x0000, 0x0900), 0x0000);
  EXPECT_TRUE(CloseAssociation(service));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  // Our request went out as one last-fragment command item on context 1.
  const Bytes request = peer.Received().at(1);
  EXPECT_EQ(request[0], 0x04);
  EXPECT_EQ(request[10], 1);
  EXPECT_EQ(request[11], 0x03);
}

}  // namespace
