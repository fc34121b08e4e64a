// DIMSE requests and responses over a real association with a scripted peer: echo, find, store.
#include <gtest/gtest.h>

#include <algorithm>
#include <stop_token>

#include "bufdata.h"
#include "captured_log.h"
#include "charset.h"
#include "dimse.h"
#include "pdu_service.h"
#include "query.h"
#include "scripted_peer.h"
#include "storage.h"
#include "storeoutcome.h"

using testpeer::AcceptedContext;
using testpeer::Bytes;
using testpeer::ScriptedPeer;
using testpeer::Step;

namespace {

constexpr uint8_t kLastCommand = 0x03;
constexpr uint8_t kLastDataSet = 0x02;
constexpr const char* kSecondaryCapture = "1.2.840.10008.5.1.4.1.1.7";

// The data of a P-DATA-TF PDU holding one item, decoded as an Implicit VR command set.
std::unique_ptr<DcmObj> DecodeCommand(const Bytes& pdu) {
  auto command = std::make_unique<DcmObj>();
  if (pdu.size() < 12 || pdu[0] != 0x04) return command;
  BufData buffer;
  buffer.stream.assign(pdu.begin() + 12, pdu.end());
  buffer.ReadDataSet(*command);
  return command;
}

Bytes Encode(DcmObj& dataSet) {
  BufData buffer;
  buffer.WriteDataSet(dataSet);
  return buffer.stream;
}

// Steps of a peer that accepts one context with `transferSyntax`.
std::vector<Step> Accepting(const std::string& transferSyntax) {
  return {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, transferSyntax}}))};
}

void Append(std::vector<Step>& steps, std::vector<Step> more) {
  steps.insert(steps.end(), more.begin(), more.end());
}

std::vector<Step> Releasing() {
  return {Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()};
}

// One C-STORE request received (command, then data set) and answered with success.
std::vector<Step> StoreAnswered() {
  return {Step::ReceivePdu(), Step::ReceivePdu(),
          Step::Send(testpeer::PData(
              1, {{kLastCommand, testpeer::ResponseCommand(kCommandStoreRSP, 0)}}))};
}

std::unique_ptr<DcmObj> SmallObject(const std::string& instanceUid,
                                    const std::string& transferSyntax) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->SetTransferSyntax(transferSyntax);
  dataSet->AddString(0x0008, 0x0016, kSecondaryCapture);
  dataSet->AddString(0x0008, 0x0018, instanceUid);
  dataSet->AddString(0x0010, 0x0010, "DOE^JANE");
  return dataSet;
}

TEST(EchoService, AnsweredEchoSucceedsWithOneVerificationContextAndMessageId3) {
  std::vector<Step> steps = Accepting(kImplicitVRLittleEndian);
  Append(steps, {Step::ReceivePdu(),
                 Step::Send(testpeer::PData(
                     1, {{kLastCommand, testpeer::ResponseCommand(kCommandEchoRSP, 0)}}))});
  Append(steps, Releasing());
  ScriptedPeer peer(steps);
  EXPECT_TRUE(EchoSCU("VELLORAN", "PEER", "127.0.0.1", peer.Port(), 5, false));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  const auto received = peer.Received();
  ASSERT_EQ(received.size(), 3u);
  auto command = DecodeCommand(received[1]);
  EXPECT_EQ(command->GetUS(0, 0x0100), kCommandEchoRQ);
  EXPECT_EQ(command->GetUS(0, 0x0110), 3);
  EXPECT_EQ(command->GetString(0, 0x0002), kVerificationSopClass);
  EXPECT_EQ(received[2][0], 0x05);  // then the release request
}

TEST(EchoService, FailuresGiveFalseWithTheirLogLines) {
  struct Case {
    const char* name;
    Bytes response;  // empty: the peer closes instead of answering
    std::string logLine;
  };
  const Case cases[] = {
      {"failure status", testpeer::ResponseCommand(kCommandEchoRSP, 0x0110), ""},
      {"wrong response", testpeer::ResponseCommand(kCommandStoreRSP, 0), ""},
      {"peer aborts", {}, "WARNING, PDU_Service::Read Abort-RQ"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    std::vector<Step> steps = Accepting(kImplicitVRLittleEndian);
    steps.push_back(Step::ReceivePdu());
    if (c.response.empty()) {
      steps.push_back(Step::Send(testpeer::Abort()));
      steps.push_back(Step::ExpectClose());
    } else {
      steps.push_back(Step::Send(testpeer::PData(1, {{kLastCommand, c.response}})));
      Append(steps, Releasing());
    }
    ScriptedPeer peer(steps);
    EXPECT_FALSE(EchoSCU("VELLORAN", "PEER", "127.0.0.1", peer.Port(), 5, false));
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    if (!c.logLine.empty()) {
      EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
    }
    // The echo request reached the peer before the failure.
    const auto received = peer.Received();
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(DecodeCommand(received[1])->GetUS(0, 0x0100), kCommandEchoRQ);
  }
  CapturedLog log;
  EXPECT_FALSE(
      EchoSCU("VELLORAN", "PEER", "127.0.0.1", std::to_string(testsupport::FreePort()), 5, false));
  EXPECT_TRUE(log.Contains("ERROR, Connecting to Socket: 127.0.0.1:")) << log.Text();
  EXPECT_TRUE(log.Contains("ERROR, PDU_Service::Connect, Socket Level Error"));
  EXPECT_TRUE(log.Contains("ERROR, EchoSCU, OpenAssoc failed"));
}

TEST(FindService, PendingResponsesBecomeRecordsUntilTheFinalOne) {
  DcmObj match;
  match.AddString(0x0010, 0x0010, "DOE^JANE");
  match.AddString(0x0020, 0x000D, "1.2.3.4");
  const Bytes identifier = Encode(match);
  std::vector<Step> steps = Accepting(kImplicitVRLittleEndian);
  // Command and identifier of the request, then: a pending match whose command and identifier
  // share one PDU, a failure status without identifier, and the final response.
  Append(steps, {Step::ReceivePdu(), Step::ReceivePdu(),
                 Step::Send(testpeer::PData(
                     1, {{kLastCommand, testpeer::ResponseCommand(kCommandFindRSP, 0xFF00, 0x0102)},
                         {kLastDataSet, identifier}})),
                 Step::Send(testpeer::PData(
                     1, {{kLastCommand, testpeer::ResponseCommand(kCommandFindRSP, 0xC000)}})),
                 Step::Send(testpeer::PData(
                     1, {{kLastCommand, testpeer::ResponseCommand(kCommandFindRSP, 0)}}))});
  Append(steps, Releasing());
  ScriptedPeer peer(steps);

  PDU_Service service;
  ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                              kStudyRootFindSopClass, 5));
  QueryList list;
  StudyInfo query;
  query.patientName = "DOE*";
  list.emplace_back(query);
  ASSERT_TRUE(WriteFindRQ(service, list, kStudyRootFindSopClass, "STUDY"));
  EXPECT_TRUE(list.empty());  // the query record is consumed

  EXPECT_EQ(ReadFindRSP(service, list, "STUDY"), 0xFF00);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(std::get<StudyInfo>(list[0]).patientName, "DOE^JANE");
  EXPECT_EQ(std::get<StudyInfo>(list[0]).studyInstanceUid, "1.2.3.4");
  EXPECT_EQ(ReadFindRSP(service, list, "STUDY"), 0xC000);
  ASSERT_EQ(list.size(), 2u);  // a failure appends one empty record
  EXPECT_EQ(std::get<StudyInfo>(list[1]).patientName, "");
  EXPECT_EQ(ReadFindRSP(service, list, "STUDY"), 0);
  EXPECT_EQ(list.size(), 2u);
  EXPECT_TRUE(CloseAssociation(service));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();

  const auto received = peer.Received();
  auto command = DecodeCommand(received[1]);
  EXPECT_EQ(command->GetUS(0, 0x0100), kCommandFindRQ);
  EXPECT_EQ(command->GetUS(0, 0x0800), kDataSetFollows);
  auto sent = DecodeCommand(received[2]);  // the identifier, decoded the same way
  EXPECT_EQ(sent->GetString(0x0010, 0x0010), "DOE*");
  EXPECT_EQ(sent->GetString(0x0008, 0x0052), "STUDY");
}

// The pending statuses 0xFF00 and 0xFF01 (optional keys not supported) both bring a match.
TEST(FindService, BothPendingStatusesBringMatchesUntilTheFinalResponse) {
  DcmObj match;
  match.AddString(0x0010, 0x0010, "DOE^JANE");
  std::vector<Step> steps = Accepting(kImplicitVRLittleEndian);
  Append(steps, {Step::ReceivePdu(), Step::ReceivePdu()});
  for (uint16_t status : {0xFF00, 0xFF01}) {
    steps.push_back(Step::Send(testpeer::PData(
        1, {{kLastCommand, testpeer::ResponseCommand(kCommandFindRSP, status, 0x0102)},
            {kLastDataSet, Encode(match)}})));
  }
  steps.push_back(Step::Send(
      testpeer::PData(1, {{kLastCommand, testpeer::ResponseCommand(kCommandFindRSP, 0)}})));
  Append(steps, Releasing());
  ScriptedPeer peer(steps);
  PDU_Service service;
  ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                              kStudyRootFindSopClass, 5));
  DcmObj query;
  query.AddString(0x0010, 0x0010, "DOE*");
  std::vector<std::string> names;
  EXPECT_EQ(RunFind(service, query, kStudyRootFindSopClass,
                    [&](DcmObj& found) { names.push_back(found.GetString(0x0010, 0x0010)); }),
            FindEnd::Completed);
  EXPECT_EQ(names, (std::vector<std::string>{"DOE^JANE", "DOE^JANE"}));
  EXPECT_TRUE(CloseAssociation(service));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  // Request command and identifier, then straight to the release: nothing was cancelled.
  const auto received = peer.Received();
  ASSERT_EQ(received.size(), 4u);
  EXPECT_EQ(DecodeCommand(received[1])->GetUS(0, 0x0100), kCommandFindRQ);
  EXPECT_EQ(received[3], testpeer::ReleaseRQ());
}

// A cancelled search sends C-CANCEL-FIND-RQ for its request and reads on to the final response;
// matches that still come are not handed on.
TEST(FindService, CancelSendsCancelRequestAndReadsToTheFinalResponse) {
  struct Case {
    const char* name;
    uint16_t finalStatus;
    FindEnd expected;
  };
  const Case cases[] = {
      {"peer confirms the cancel", 0xFE00, FindEnd::Cancelled},
      {"peer had finished anyway", 0x0000, FindEnd::Cancelled},
      {"peer fails the search", 0xC000, FindEnd::Failed},
  };
  DcmObj match;
  match.AddString(0x0010, 0x0010, "DOE^JANE");
  const Bytes pending = testpeer::PData(
      1, {{kLastCommand, testpeer::ResponseCommand(kCommandFindRSP, 0xFF00, 0x0102)},
          {kLastDataSet, Encode(match)}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Step> steps = Accepting(kImplicitVRLittleEndian);
    // The request, one match, then our cancel; one more match was already on its way.
    Append(steps,
           {Step::ReceivePdu(), Step::ReceivePdu(), Step::Send(pending), Step::ReceivePdu(),
            Step::Send(pending),
            Step::Send(testpeer::PData(
                1, {{kLastCommand, testpeer::ResponseCommand(kCommandFindRSP, c.finalStatus)}}))});
    Append(steps, Releasing());
    ScriptedPeer peer(steps);
    PDU_Service service;
    ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                                kStudyRootFindSopClass, 5));
    DcmObj query;
    query.AddString(0x0010, 0x0010, "DOE*");
    std::stop_source stop;
    int matches = 0;
    EXPECT_EQ(RunFind(
                  service, query, kStudyRootFindSopClass,
                  [&](DcmObj&) {
                    ++matches;
                    stop.request_stop();
                  },
                  stop.get_token()),
              c.expected);
    EXPECT_EQ(matches, 1);
    EXPECT_TRUE(CloseAssociation(service));
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    const auto received = peer.Received();
    ASSERT_EQ(received.size(), 5u);
    // C-CANCEL-RQ (PS3.7 9.3.2.3): one last-fragment command item naming the find request.
    const Bytes& cancel = received[3];
    EXPECT_EQ(cancel[11], kLastCommand);
    const auto command = DecodeCommand(cancel);
    EXPECT_EQ(command->GetUS(0, 0x0100), kCommandCancelRQ);
    EXPECT_EQ(command->GetUS(0, 0x0120), DecodeCommand(received[1])->GetUS(0, 0x0110));
    EXPECT_EQ(command->GetUS(0, 0x0800), kNoDataSet);
    EXPECT_EQ(command->FindTag(0, 0x0110), nullptr);
    ASSERT_NE(command->FindTag(0, 0x0000), nullptr);
    EXPECT_EQ(command->FindTag(0, 0x0000)->GetUL(), 30u);
    EXPECT_EQ(received[4], testpeer::ReleaseRQ());
  }
}

// Every response must answer the request just sent: Message ID Being Responded To, and for
// C-STORE the Affected SOP Instance UID when the response gives one.
TEST(ResponseMatching, AResponseToAnotherRequestFailsTheOperation) {
  struct Case {
    const char* name;
    uint16_t commandField;
    testpeer::ResponseFields fields;
    const char* logLine;
  };
  const Case cases[] = {
      {"echo, wrong message ID",
       kCommandEchoRSP,
       {99, "", ""},
       "ERROR, ReadEchoRSP, response to message ID 99, but request 3 was sent"},
      {"find, wrong message ID",
       kCommandFindRSP,
       {99, "", ""},
       "ERROR, CFind::ReadRSP, response to message ID 99, but request 3 was sent"},
      {"store, wrong message ID",
       kCommandStoreRSP,
       {99, "", ""},
       "ERROR, CStore::ReadRSP, response to message ID 99, but request 3 was sent"},
      {"store, wrong instance",
       kCommandStoreRSP,
       {testpeer::kAnswerLastRequest, "", "1.2.3.99"},
       "ERROR, CStore::ReadRSP, response for SOP instance 1.2.3.99, but 1.2.3.9 was sent"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    std::vector<Step> steps = Accepting(kExplicitVRLittleEndian);
    steps.push_back(Step::ReceivePdu());
    if (c.commandField != kCommandEchoRSP) steps.push_back(Step::ReceivePdu());
    steps.push_back(Step::Send(testpeer::PData(
        1, {{kLastCommand, testpeer::ResponseCommand(c.commandField, 0, 0x0101, c.fields)}})));
    Append(steps, Releasing());
    ScriptedPeer peer(steps);
    PDU_Service service;
    ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                                kSecondaryCapture, kExplicitVRLittleEndian, "", 5));
    if (c.commandField == kCommandEchoRSP) {
      ASSERT_TRUE(WriteEchoRQ(service, kVerificationSopClass));
      EXPECT_FALSE(ReadEchoRSP(service));
    } else if (c.commandField == kCommandFindRSP) {
      DcmObj query;
      query.AddString(0x0010, 0x0010, "DOE*");
      EXPECT_EQ(RunFind(service, query, kStudyRootFindSopClass, {}), FindEnd::Failed);
    } else {
      auto dataSet = SmallObject("1.2.3.9", kExplicitVRLittleEndian);
      ASSERT_EQ(WriteStoreRQ(service, *dataSet, kSecondaryCapture), kStoreWritten);
      const int status = ReadStoreRSP(service);
      EXPECT_EQ(status, kStoreResponseMismatch);
      EXPECT_FALSE(StoreOutcomeFromStatus(status).IsStored());
    }
    EXPECT_TRUE(CloseAssociation(service));
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
    EXPECT_EQ(DecodeCommand(peer.Received()[1])->GetUS(0, 0x0110), 3);
  }
}

TEST(MessageTrace, DumpsShowTextsAsUtf8WhateverSetTheMessageUses) {
  struct Case {
    const char* what;
    const char* characterSet;
    std::string name;   // as the peer sends it
    std::string shown;  // as the log must show it
  };
  const Case cases[] = {
      {"Cyrillic", "ISO_IR 144", "\xB8\xD2\xD0\xDD\xDE\xD2", "Иванов"},
      {"Greek", "ISO_IR 126", "\xC4\xE9\xEF\xED\xF5\xF3\xE9\xEF", "Διονυσιο"},
      {"Japanese with ISO 2022 escapes", "\\ISO 2022 IR 87", "Yamada=\x1B$B;3ED\x1B(B",
       "Yamada=山田"},
      {"bytes that are not UTF-8 in a UTF-8 message", "ISO_IR 192", "A\xFF\xFE!",
       "A\xEF\xBF\xBD\xEF\xBF\xBD!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DcmObj match;
    match.AddString(0x0008, 0x0005, c.characterSet);
    match.Append(DcmTag::FromBytes(0x0010, 0x0010, static_cast<uint32_t>(c.name.size()),
                                   c.name.data(), "PN"));
    std::vector<Step> steps = Accepting(kImplicitVRLittleEndian);
    Append(steps,
           {Step::ReceivePdu(), Step::ReceivePdu(),
            Step::Send(testpeer::PData(
                1, {{kLastCommand, testpeer::ResponseCommand(kCommandFindRSP, 0xFF00, 0x0102)},
                    {kLastDataSet, Encode(match)}}))});
    Append(steps, Releasing());
    ScriptedPeer peer(steps);
    CapturedLog log;
    PDU_Service service;
    service.TraceMessages = true;
    ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                                kStudyRootFindSopClass, 5));
    DcmObj query;
    query.AddString(0x0010, 0x0010, "");
    ASSERT_TRUE(CFind::WriteRQ(&service, query, kStudyRootFindSopClass));
    DcmObj answer;
    EXPECT_EQ(CFind::ReadRSP(&service, answer), 0xFF00);
    EXPECT_TRUE(CloseAssociation(service));
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    const std::string text = log.Text();
    EXPECT_TRUE(IsValidUtf8(text)) << text;
    EXPECT_NE(text.find("PN, Patient\u2019s Name: " + c.shown), std::string::npos) << text;
  }
}

TEST(FindService, EmptyIdentifierSendsOnlyTheCommand) {
  std::vector<Step> steps = Accepting(kImplicitVRLittleEndian);
  Append(steps, {Step::ReceivePdu(),
                 Step::Send(testpeer::PData(
                     1, {{kLastCommand, testpeer::ResponseCommand(kCommandFindRSP, 0)}}))});
  Append(steps, Releasing());
  ScriptedPeer peer(steps);
  PDU_Service service;
  ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                              kModalityWorklistFindSopClass, 5));
  DcmObj empty;
  EXPECT_TRUE(CFind::WriteRQ(&service, empty, kModalityWorklistFindSopClass));
  EXPECT_EQ(CFind::ReadRSP(&service, empty), 0);
  EXPECT_TRUE(CloseAssociation(service));
  // Had an identifier followed, the release request would not be the next PDU; and the command
  // does not announce one.
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  EXPECT_EQ(DecodeCommand(peer.Received()[1])->GetUS(0, 0x0800), kNoDataSet);
  EXPECT_EQ(peer.Received()[2][0], 0x05);

  CapturedLog log;
  EXPECT_FALSE(CFind::WriteRQ(nullptr, empty, kModalityWorklistFindSopClass));
  EXPECT_TRUE(log.Contains("ERROR, CFind::WriteRQ, PDU is NULL"));
}

// Warnings mean stored (PS3.4 B.2.3) and are logged as warnings with the peer's comment;
// failures are named. Either way the status reaches the caller unchanged.
TEST(StoreService, StatusesOfResponsesReachTheCaller) {
  struct Case {
    const char* name;
    uint16_t commandField;
    uint16_t status;
    std::string comment;
    int expected;
    bool stored;
    std::string logLine;
  };
  const Case cases[] = {
      {"success", kCommandStoreRSP, 0, "", 0, true, ""},
      {"warning 0001", kCommandStoreRSP, 0x0001, "", 1, true,
       "WARNING, CStore::ReadRSP, stored with status 0x0001 (warning)"},
      {"coercion", kCommandStoreRSP, 0xB000, "", 0xB000, true,
       "WARNING, CStore::ReadRSP, stored with status 0xB000 (warning: coercion of data elements)"},
      {"elements discarded", kCommandStoreRSP, 0xB006, "private tags dropped", 0xB006, true,
       "WARNING, CStore::ReadRSP, stored with status 0xB006 (warning: elements discarded), Error "
       "Comment: private tags dropped"},
      {"does not match SOP class", kCommandStoreRSP, 0xB007, "", 0xB007, true,
       "WARNING, CStore::ReadRSP, stored with status 0xB007"},
      {"refused", kCommandStoreRSP, 0xA700, "disk full", 0xA700, false,
       "ERROR, CStore::ReadRSP, status == 42752, not stored: status 0xA700 (refused: out of "
       "resources), Error Comment: disk full"},
      {"error", kCommandStoreRSP, 0xA900, "", 0xA900, false,
       "ERROR, CStore::ReadRSP, status == 43264, not stored: status 0xA900"},
      {"cannot understand", kCommandStoreRSP, 0xC123, "", 0xC123, false,
       "not stored: status 0xC123 (error: cannot understand)"},
      {"not a store response", kCommandFindRSP, 0, "", -2, false,
       "ERROR, CStore::ReadRSP, not a C-Store RSP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    std::vector<Step> steps = Accepting(kExplicitVRLittleEndian);
    testpeer::ResponseFields fields;
    fields.errorComment = c.comment;
    Append(steps, {Step::ReceivePdu(), Step::ReceivePdu(),
                   Step::Send(testpeer::PData(
                       1, {{kLastCommand, testpeer::ResponseCommand(c.commandField, c.status,
                                                                    0x0101, fields)}}))});
    Append(steps, Releasing());
    ScriptedPeer peer(steps);
    PDU_Service service;
    ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                                kSecondaryCapture, kExplicitVRLittleEndian, "", 5));
    auto dataSet = SmallObject("1.2.3.9", kExplicitVRLittleEndian);
    EXPECT_EQ(WriteStoreRQ(service, *dataSet, kSecondaryCapture), kStoreWritten);
    std::string comment;
    const int status = ReadStoreRSP(service, &comment);
    EXPECT_EQ(status, c.expected);
    EXPECT_EQ(StoreOutcomeFromStatus(status).IsStored(), c.stored);
    EXPECT_EQ(comment, c.expected < 0 ? "" : c.comment);
    EXPECT_TRUE(CloseAssociation(service));
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    if (!c.logLine.empty()) {
      EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
    }
    EXPECT_EQ(log.Contains("ERROR, CStore::ReadRSP"), !c.stored) << log.Text();
    auto command = DecodeCommand(peer.Received()[1]);
    EXPECT_EQ(command->GetString(0, 0x1000), "1.2.3.9");
    EXPECT_EQ(command->GetUS(0, 0x0110), 3);
  }
}

TEST(StoreService, SecondObjectOnTheAssociationGetsTheNextMessageId) {
  std::vector<Step> steps = Accepting(kExplicitVRLittleEndian);
  for (int object = 0; object < 2; ++object) {
    Append(steps, StoreAnswered());
  }
  Append(steps, Releasing());
  ScriptedPeer peer(steps);
  PDU_Service service;
  ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(),
                              kSecondaryCapture, kExplicitVRLittleEndian, "", 5));
  for (const char* uid : {"1.2.3.11", "1.2.3.12"}) {
    auto dataSet = SmallObject(uid, kExplicitVRLittleEndian);
    ASSERT_EQ(WriteStoreRQ(service, *dataSet, kSecondaryCapture), kStoreWritten);
    EXPECT_EQ(ReadStoreRSP(service), 0);
  }
  EXPECT_TRUE(CloseAssociation(service));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  // Association request, then command and data set of each object, then the release request.
  const auto received = peer.Received();
  ASSERT_EQ(received.size(), 6u);
  const auto first = DecodeCommand(received[1]);
  const auto second = DecodeCommand(received[3]);
  EXPECT_EQ(first->GetUS(0, 0x0110), 3);
  EXPECT_EQ(first->GetString(0, 0x1000), "1.2.3.11");
  EXPECT_EQ(second->GetUS(0, 0x0110), 5);
  EXPECT_EQ(second->GetString(0, 0x1000), "1.2.3.12");
  EXPECT_EQ(received[5], testpeer::ReleaseRQ());
}

// What is sent for an object whose encoding differs from the accepted one.
TEST(StoreService, EncodingIsAdaptedOrTheObjectIsNotSent) {
  struct Case {
    const char* name;
    std::string sopClass;
    std::string objectSyntax;
    std::string accepted;
    int expected;
  };
  const Case cases[] = {
      // A PDF object written with explicit VR goes out relabelled, without VRs.
      {"explicit to implicit", "1.2.840.10008.5.1.4.1.1.104.1", kExplicitVRLittleEndian,
       kImplicitVRLittleEndian, kStoreWritten},
      // Video pixel data cannot be re-encoded; sending it as implicit would corrupt it.
      {"video to implicit", "1.2.840.10008.5.1.4.1.1.77.1.1.1", "1.2.840.10008.1.2.4.102",
       kImplicitVRLittleEndian, kStoreConversionFailed},
      // Big-endian values would be misread after a mere relabel.
      {"big endian to implicit", "1.2.840.10008.5.1.4.1.1.104.1", kExplicitVRBigEndian,
       kImplicitVRLittleEndian, kStoreConversionFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Step> steps = Accepting(c.accepted);
    if (c.expected == kStoreWritten) {
      Append(steps, StoreAnswered());
    }
    Append(steps, Releasing());
    ScriptedPeer peer(steps);
    PDU_Service service;
    ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(), c.sopClass,
                                c.objectSyntax, "", 5));
    auto dataSet = SmallObject("1.2.3.10", c.objectSyntax);
    EXPECT_EQ(WriteStoreRQ(service, *dataSet, c.sopClass), c.expected);
    if (c.expected == kStoreWritten) {
      EXPECT_EQ(ReadStoreRSP(service), 0);
      EXPECT_EQ(dataSet->transferSyntax, c.accepted);
    }
    EXPECT_TRUE(CloseAssociation(service));
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    if (c.expected != kStoreWritten) {
      // Nothing of the refused object went out: the release request follows the set-up.
      ASSERT_EQ(peer.Received().size(), 2u);
      EXPECT_EQ(peer.Received()[1], testpeer::ReleaseRQ());
    } else {
      // Implicit VR: the name element starts with its tag and a 32-bit length, no "PN".
      const Bytes data = peer.Received()[2];
      const Bytes name = {0x10, 0x00, 0x10, 0x00, 0x08, 0x00, 0x00, 0x00, 'D', 'O', 'E', '^'};
      EXPECT_NE(std::search(data.begin(), data.end(), name.begin(), name.end()), data.end());
    }
  }
}

}  // namespace
