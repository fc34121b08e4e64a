// Sending a converted batch to DCMTK's storescp: one association per kind, progress over the batch.
#include "send.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "bufdata.h"
#include "captured_log.h"
#include "dcmtk_peer.h"
#include "dicomfile.h"
#include "dimse.h"
#include "scripted_peer.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

constexpr const char* kPdfClass = "1.2.840.10008.5.1.4.1.1.104.1";

// A peer on this machine, called by the title the scripted peers answer to unless told otherwise.
RemoteNode Peer(const std::string& port, const char* calledAet = "PEER") {
  RemoteNode node;
  node.callingAet = "VELLORAN";
  node.calledAet = calledAet;
  node.host = "127.0.0.1";
  node.port = port;
  return node;
}

TEST(SendLists, ProgressCountsTheObjectsOfTheWholeBatch) {
  ASSERT_TRUE(testsupport::HaveProgram("storescp"))
      << "storescp missing (scripts/setup.sh installs it)";
  testsupport::TempDir folder;
  dcmtkpeer::StoreSCP peer(folder.path(), {"1.2.840.10008.5.1.4.1.1.7", kPdfClass},
                           {kExplicitVRLittleEndian, kImplicitVRLittleEndian});
  ASSERT_TRUE(peer.Running());
  BatchLists lists;
  lists.images.push_back(dcmtkpeer::NativeImage("1.2.826.0.1.3680043.10.301", 8, 8));
  lists.images.push_back(dcmtkpeer::NativeImage("1.2.826.0.1.3680043.10.302", 8, 8));
  auto pdf = std::make_unique<DcmObj>();
  pdf->SetTransferSyntax(kExplicitVRLittleEndian);
  pdf->AddString(0x0008, 0x0016, kPdfClass);
  pdf->AddString(0x0008, 0x0018, "1.2.826.0.1.3680043.10.303");
  pdf->AddString(0x0010, 0x0010, "DOE^JANE");
  lists.pdfs.push_back(std::move(pdf));

  const RemoteNode pacs = Peer(peer.Port(), "STORESCP");
  // Two associations (images, then the PDF), numbered as one run of three objects.
  std::vector<std::pair<size_t, size_t>> places;
  ASSERT_TRUE(SendLists(lists, pacs, [&](const DcmObj&, size_t index, size_t total, bool stored) {
    EXPECT_TRUE(stored);
    places.emplace_back(index, total);
  }));
  EXPECT_EQ(places, (std::vector<std::pair<size_t, size_t>>{{0, 3}, {1, 3}, {2, 3}}));
  EXPECT_EQ(peer.Received().size(), 3u);
  EXPECT_TRUE(lists.images.empty() && lists.pdfs.empty());
}

// PDFs and videos travel from their files: one cut short after its conversion ends the association
// (half a message cannot be taken back) and is reported, and the object sent before it arrived
// whole.
TEST(SendLists, ASourceCutShortAfterConversionIsReportedAsNotStored) {
  ASSERT_TRUE(testsupport::HaveProgram("storescp"))
      << "storescp missing (scripts/setup.sh installs it)";
  testsupport::TempDir folder;
  dcmtkpeer::StoreSCP peer(folder / "in", {kPdfClass}, {kExplicitVRLittleEndian});
  ASSERT_TRUE(peer.Running());
  const std::string whole(1200001, 'w');
  testsupport::WriteFile(folder / "whole.pdf", whole);
  testsupport::WriteFile(folder / "cut.pdf", std::string(1500000, 'c'));
  BatchForm form;
  form.patientName = "Roe^Rick";
  form.patientId = "PID7";
  form.modalityText = "OT";
  std::string message;
  ASSERT_TRUE(PrepareBatch(form, nullptr, 2, SetupConfig{}, message)) << message;
  BatchLists lists;
  ASSERT_TRUE(ConvertItems({(folder / "whole.pdf").string(), (folder / "cut.pdf").string()}, lists,
                           message))
      << message;
  std::filesystem::resize_file(folder / "cut.pdf", 100);

  const RemoteNode pacs = Peer(peer.Port(), "STORESCP");
  CapturedLog log;
  std::vector<bool> stored;
  EXPECT_FALSE(SendLists(lists, pacs,
                         [&](const DcmObj&, size_t, size_t, bool ok) { stored.push_back(ok); }));
  EXPECT_EQ(stored, (std::vector<bool>{true, false}));
  EXPECT_TRUE(log.Contains("has changed: it now ends at byte 100 of 1500000")) << log.Text();
  const auto received = peer.Received();
  ASSERT_EQ(received.size(), 1u);
  DicomFile file;
  std::string error;
  ASSERT_TRUE(ReadDicomFile(received[0].string(), file, error)) << error;
  EXPECT_TRUE(file.dataSet.FindTag(0x0042, 0x0011)->Bytes() == whole + '\0');
}

using testpeer::Bytes;
using testpeer::Step;

// One object's request (command, then its data set in one PDU) answered with `status`.
std::vector<Step> StoreAnswered(uint16_t status) {
  return {Step::ReceivePdu(), Step::ReceivePdu(),
          Step::Send(
              testpeer::PData(1, {{0x03, testpeer::ResponseCommand(kCommandStoreRSP, status)}}))};
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

// The command set of a P-DATA-TF PDU holding one item.
std::unique_ptr<DcmObj> Command(const Bytes& pdu) {
  auto command = std::make_unique<DcmObj>();
  BufData buffer;
  buffer.stream.assign(pdu.begin() + 12, pdu.end());
  buffer.ReadDataSet(*command);
  return command;
}

// The abstract syntax of the first presentation context of an A-ASSOCIATE-RQ.
std::string AbstractSyntax(const Bytes& request) {
  // Header (6), fixed fields (68), application context item (4 + 21), context item head (8).
  const size_t at = 6 + 68 + 25 + 8;
  if (request.size() < at + 4 || request[at] != 0x30) return "?";
  const size_t length = size_t{request[at + 2]} << 8 | request[at + 3];
  return std::string(request.begin() + static_cast<long>(at + 4),
                     request.begin() + static_cast<long>(at + 4 + length));
}

TEST(SendLists, AFailingObjectDoesNotStopTheRestOfItsList) {
  testpeer::ScriptedPeer peer(Association(kExplicitVRLittleEndian, {0xA700, 0, 0}));
  DataSetList list;
  for (const char* uid :
       {"1.2.826.0.1.3680043.10.311", "1.2.826.0.1.3680043.10.312", "1.2.826.0.1.3680043.10.313"}) {
    list.push_back(dcmtkpeer::NativeImage(uid, 8, 8));
  }
  std::vector<bool> stored;
  EXPECT_FALSE(
      SendObjectList(list, "1.2.840.10008.5.1.4.1.1.7", kExplicitVRLittleEndian, Peer(peer.Port()),
                     [&](const DcmObj&, size_t, size_t, bool ok) { stored.push_back(ok); }));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  EXPECT_EQ(stored, (std::vector<bool>{false, true, true}));
  const std::vector<Bytes> received = peer.Received();
  ASSERT_EQ(received.size(), 8u);
  EXPECT_EQ(Command(received[1])->GetString(0x0000, 0x1000), "1.2.826.0.1.3680043.10.311");
  EXPECT_EQ(Command(received[3])->GetString(0x0000, 0x1000), "1.2.826.0.1.3680043.10.312");
  EXPECT_EQ(Command(received[5])->GetString(0x0000, 0x1000), "1.2.826.0.1.3680043.10.313");
}

// Warning statuses mean stored (PS3.4 B.2.3): counting them as failed would make users send
// the objects again.
TEST(SendLists, WarningStatusesCountAsStored) {
  testpeer::ScriptedPeer peer(Association(kExplicitVRLittleEndian, {0xB000, 0x0001, 0xB007}));
  DataSetList list;
  for (const char* uid :
       {"1.2.826.0.1.3680043.10.321", "1.2.826.0.1.3680043.10.322", "1.2.826.0.1.3680043.10.323"}) {
    list.push_back(dcmtkpeer::NativeImage(uid, 8, 8));
  }
  std::vector<bool> stored;
  EXPECT_TRUE(
      SendObjectList(list, "1.2.840.10008.5.1.4.1.1.7", kExplicitVRLittleEndian, Peer(peer.Port()),
                     [&](const DcmObj&, size_t, size_t, bool ok) { stored.push_back(ok); }));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  EXPECT_EQ(stored, (std::vector<bool>{true, true, true}));
}

TEST(SendBatch, OneAssociationPerKindInTheOrderImagesDocumentsPdfs) {
  testsupport::TempDir folder;
  auto write = [&](const std::string& name, const std::string& bytes) {
    testsupport::WriteFile(folder / name, bytes);
    return (folder / name).string();
  };
  const std::string docx = (folder / "letter.docx").string();
  const auto zipped = testsupport::RunCommand(
      {"/usr/bin/python3", "-c",
       "import sys, zipfile\n"
       "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
       "    z.writestr('word/document.xml', '<w:document xmlns:w=\"http://schemas.openxmlformats"
       ".org/wordprocessingml/2006/main\"><w:body><w:p><w:r><w:t>All is well.</w:t></w:r></w:p>"
       "</w:body></w:document>')\n",
       docx});
  ASSERT_EQ(zipped.exitCode, 0) << zipped.errors;
  // Given in another order than they are sent.
  const std::vector<std::string> items = {
      write("report.pdf", "%PDF-1.4\n%%EOF\n"), docx,
      write("a.png", testpictures::MakePng(16, 8, testpictures::PngKind::Rgb)),
      write("b.jpg", testpictures::MakeJpeg(16, 8, false))};

  constexpr const char* kJpegBaseline = "1.2.840.10008.1.2.4.50";
  testpeer::ScriptedPeer peer({Association(kJpegBaseline, {0, 0}),
                               Association(kExplicitVRLittleEndian, {0}),
                               Association(kExplicitVRLittleEndian, {0})});
  BatchForm form;
  form.patientName = "Roe^Rick";
  form.patientId = "PID7";
  form.modalityText = "CT";
  std::string message;
  std::vector<size_t> places;
  EXPECT_TRUE(SendBatch(form, nullptr, items, SetupConfig{}, Peer(peer.Port()), message,
                        [&](const DcmObj&, size_t index, size_t total, bool ok) {
                          EXPECT_TRUE(ok);
                          EXPECT_EQ(total, 4u);
                          places.push_back(index);
                        }))
      << message;
  EXPECT_EQ(message, "Images sent OK");
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  EXPECT_EQ(places, (std::vector<size_t>{0, 1, 2, 3}));

  // Per association: the request, command and data set of each object, the release request.
  const std::vector<Bytes> received = peer.Received();
  ASSERT_EQ(received.size(), 6u + 4u + 4u);
  // Photos of a CT batch are Secondary Capture objects.
  EXPECT_EQ(AbstractSyntax(received[0]), "1.2.840.10008.5.1.4.1.1.7");
  EXPECT_EQ(AbstractSyntax(received[6]), "1.2.840.10008.5.1.4.1.1.88.11");
  EXPECT_EQ(AbstractSyntax(received[10]), "1.2.840.10008.5.1.4.1.1.104.1");
  EXPECT_EQ(Command(received[1])->GetString(0x0000, 0x0002), "1.2.840.10008.5.1.4.1.1.7");
  EXPECT_EQ(Command(received[3])->GetString(0x0000, 0x0002), "1.2.840.10008.5.1.4.1.1.7");
  EXPECT_EQ(Command(received[7])->GetString(0x0000, 0x0002), "1.2.840.10008.5.1.4.1.1.88.11");
  EXPECT_EQ(Command(received[11])->GetString(0x0000, 0x0002), "1.2.840.10008.5.1.4.1.1.104.1");
}

// A peer that asks for a release after the first object: the rest of the batch is reported as
// not stored at once, and not one more byte of it is written.
TEST(SendObjectList, StopsWhenThePeerReleasesInTheMiddle) {
  using testpeer::Step;
  testpeer::ScriptedPeer peer(
      {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, kExplicitVRLittleEndian}})),
       Step::ReceivePdu(), Step::ReceivePdu(),
       Step::Send(testpeer::PData(1, {{0x03, testpeer::ResponseCommand(0x8001, 0)}})),
       Step::ReceivePdu(), Step::ReceivePdu(), Step::Send(testpeer::ReleaseRQ()),
       Step::ReceivePdu(), Step::WaitForClose()});
  DataSetList list;
  for (const char* uid : {"1.2.826.0.1.3680043.10.311", "1.2.826.0.1.3680043.10.312",
                          "1.2.826.0.1.3680043.10.313", "1.2.826.0.1.3680043.10.314"}) {
    auto pdf = std::make_unique<DcmObj>();
    pdf->SetTransferSyntax(kExplicitVRLittleEndian);
    pdf->AddString(0x0008, 0x0016, kPdfClass);
    pdf->AddString(0x0008, 0x0018, uid);
    list.push_back(std::move(pdf));
  }
  const RemoteNode pacs = Peer(peer.Port());
  CapturedLog log;
  std::vector<bool> stored;
  EXPECT_FALSE(
      SendObjectList(list, kPdfClass, kExplicitVRLittleEndian, pacs,
                     [&](const DcmObj&, size_t, size_t, bool ok) { stored.push_back(ok); }));
  EXPECT_EQ(stored, (std::vector<bool>{true, false, false, false}));
  EXPECT_TRUE(
      log.Contains("ERROR, SendObjectList, association released by the peer, 2 objects "
                   "not sent"))
      << log.Text();
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  // Request, two C-STOREs (command and data set each) and our release reply: nothing after it.
  const auto received = peer.Received();
  ASSERT_EQ(received.size(), 6u);
  EXPECT_EQ(received.back(), testpeer::ReleaseRP());
}

}  // namespace
