// Sending a converted batch to DCMTK's storescp: one association per kind, progress over the batch.
#include "send.h"

#include <gtest/gtest.h>

#include <stop_token>
#include <utility>
#include <vector>

#include "bufdata.h"
#include "captured_log.h"
#include "dcmtk_peer.h"
#include "dicomfile.h"
#include "dimse.h"
#include "orthanc.h"
#include "scripted_peer.h"
#include "search.h"
#include "syntaxes.h"
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
  const std::string whole = "%PDF-1.4\n" + std::string(1200001 - 9, 'w');
  testsupport::WriteFile(folder / "whole.pdf", whole);
  testsupport::WriteFile(folder / "cut.pdf", "%PDF-1.4\n" + std::string(1500000 - 9, 'c'));
  BatchForm form;
  form.patientName = "Roe^Rick";
  form.patientId = "PID7";
  form.modalityText = "OT";
  UserMessage message;
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
  UserMessage message;
  std::vector<size_t> places;
  EXPECT_TRUE(SendBatch(form, nullptr, items, SetupConfig{}, Peer(peer.Port()), message,
                        [&](const DcmObj&, size_t index, size_t total, bool ok) {
                          EXPECT_TRUE(ok);
                          EXPECT_EQ(total, 4u);
                          places.push_back(index);
                        }))
      << message;
  EXPECT_EQ(message.English(), "Images sent OK");
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

// The patient typed for the batches below.
BatchForm TypedPatient() {
  BatchForm form;
  form.patientName = "ROE^RICK";
  form.patientId = "PID7";
  form.modalityText = "OT";
  return form;
}

std::string Photo(const std::filesystem::path& folder, const std::string& name) {
  testsupport::WriteFile(folder / name, testpictures::MakePng(16, 8, testpictures::PngKind::Rgb));
  return (folder / name).string();
}

// A storescp that takes Secondary Capture photos only, as JPEG or Explicit VR Little Endian.
dcmtkpeer::StoreSCP PhotoStoreSCP(const testsupport::TempDir& folder) {
  return dcmtkpeer::StoreSCP(folder / "in", {"1.2.840.10008.5.1.4.1.1.7"},
                             {kJpegBaselineSyntax, kExplicitVRLittleEndian});
}

// A photo and a TXT file without text: the photo arrives, the TXT gave no object, so it is not
// counted as sent, it is named, and the batch fails although every object made was stored.
TEST(SendBatch, ItemsWithoutAnObjectAreNamedAndFailTheBatchWhileTheRestArrives) {
  ASSERT_TRUE(testsupport::HaveProgram("storescp"))
      << "storescp missing (scripts/setup.sh installs it)";
  testsupport::TempDir folder;
  dcmtkpeer::StoreSCP peer = PhotoStoreSCP(folder);
  ASSERT_TRUE(peer.Running());
  testsupport::WriteFile(folder / "empty.txt", "");
  testsupport::WriteFile(folder / "notes.odt", "PK");
  const std::vector<std::string> items = {Photo(folder.path(), "photo.png"),
                                          (folder / "empty.txt").string(),
                                          (folder / "notes.odt").string()};
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(TypedPatient(), nullptr, items.size(), SetupConfig{}, message));
  BatchReport report;
  EXPECT_FALSE(SendPreparedBatch(items, Peer(peer.Port(), "STORESCP"), message, {}, {}, &report));
  EXPECT_EQ(message.English(),
            "ERROR Sending Images, please check Log file\n"
            "2 of 3 items were not sent: empty.txt (no text), notes.odt (unknown kind)");
  EXPECT_EQ(peer.Received().size(), 1u);
  EXPECT_EQ(report.DeliveredItems(), std::vector<size_t>{0});
  EXPECT_EQ(report.Fate(1), ItemFate::NoObject);
}

// Cancel while a batch of photos goes out: the object in flight is finished, nothing after it is
// sent, and the message says which items were stored.
TEST(SendBatch, CancelStopsAfterTheObjectInFlight) {
  ASSERT_TRUE(testsupport::HaveProgram("storescp"))
      << "storescp missing (scripts/setup.sh installs it)";
  testsupport::TempDir folder;
  dcmtkpeer::StoreSCP peer = PhotoStoreSCP(folder);
  ASSERT_TRUE(peer.Running());
  std::vector<std::string> items;
  for (int i = 0; i < 12; ++i)
    items.push_back(Photo(folder.path(), "p" + std::to_string(i) + ".png"));
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(TypedPatient(), nullptr, items.size(), SetupConfig{}, message));
  std::stop_source cancel;
  BatchReport report;
  // The user presses Cancel while the third object is on its way.
  const SendProgress progress = [&](const DcmObj&, size_t index, size_t, bool) {
    if (index == 1) cancel.request_stop();
  };
  EXPECT_FALSE(SendPreparedBatch(items, Peer(peer.Port(), "STORESCP"), message, progress,
                                 cancel.get_token(), &report));
  EXPECT_EQ(peer.Received().size(), 2u);
  EXPECT_EQ(report.DeliveredItems(), (std::vector<size_t>{0, 1}));
  EXPECT_EQ(report.Count(ItemFate::Waiting), 10u);
  EXPECT_EQ(message.English(),
            "Send cancelled: 2 of 12 items were stored: p0.png, p1.png; the other 10 stay "
            "in the list.");

  // Cancelled before anything was converted: nothing is sent, every item stays.
  std::stop_source early;
  early.request_stop();
  EXPECT_FALSE(SendPreparedBatch(items, Peer(peer.Port(), "STORESCP"), message, {},
                                 early.get_token(), &report));
  EXPECT_EQ(peer.Received().size(), 2u);
  EXPECT_TRUE(report.DeliveredItems().empty());
}

// A failed Send keeps its sentence and says under it what went wrong, in words a receptionist
// can act on.
TEST(SendBatch, AFailedSendNamesItsFirstCause) {
  testsupport::TempDir folder;
  const std::string photo = Photo(folder.path(), "a.png");
  const std::string nobody = std::to_string(testsupport::FreePort());
  struct Case {
    const char* name;
    std::vector<testpeer::Step> steps;  // empty: nobody listens
    std::string cause;
  };
  const Case cases[] = {
      {"nobody listens", {}, "The PACS at 127.0.0.1:" + nobody + " did not answer"},
      {"calling AE title refused",
       {Step::ReceivePdu(), Step::Send(testpeer::FromHex("03 00 00000004 00 01 01 03")),
        Step::WaitForClose()},
       "PACS refused the AE title VELLORAN"},
      {"called AE title refused",
       {Step::ReceivePdu(), Step::Send(testpeer::FromHex("03 00 00000004 00 01 01 07")),
        Step::WaitForClose()},
       "The PACS at 127.0.0.1:PORT is not called PEER"},
      {"object refused", Association(kJpegBaselineSyntax, {0xA700}),
       "a.png: status 0xA700 (refused: out of resources)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<testpeer::ScriptedPeer> peer;
    std::string port = nobody;
    if (!c.steps.empty()) {
      peer = std::make_unique<testpeer::ScriptedPeer>(c.steps);
      port = peer->Port();
    }
    UserMessage message;
    EXPECT_FALSE(SendBatch(TypedPatient(), nullptr, {photo}, SetupConfig{}, Peer(port), message));
    std::string cause = c.cause;
    if (const size_t at = cause.find("PORT"); at != std::string::npos) cause.replace(at, 4, port);
    EXPECT_EQ(message.English(), "ERROR Sending Images, please check Log file\n" + cause +
                                     "\n1 of 1 items were not sent: a.png");
    if (peer) EXPECT_TRUE(peer->Finish()) << peer->Problem();
  }
}

// A file named .pdf that holds no PDF gives no object: the Send fails and says so in the words
// the user needs, and nothing is sent for it.
TEST(SendBatch, AFileThatIsNoPdfIsNamedAsTheCause) {
  testsupport::TempDir folder;
  const std::string report = (folder.path() / "report.pdf").string();
  testsupport::WriteFile(report, "Dear colleague,\nthe wound heals well.\n");
  UserMessage message;
  EXPECT_FALSE(SendBatch(TypedPatient(), nullptr, {report}, SetupConfig{},
                         Peer(std::to_string(testsupport::FreePort())), message));
  EXPECT_EQ(message.English(),
            "ERROR Sending Images, please check Log file\nreport.pdf: not a PDF file\n"
            "1 of 1 items were not sent: report.pdf (not a PDF file)");
}

// A kept print job in the work folder goes with a photo to a PACS that takes images only: the
// photo is stored and leaves, the job's object was never acknowledged, so its file stays.
TEST(SendBatch, AWorkFolderFileIsDeletedOnlyWhenItsOwnObjectWasStored) {
  ASSERT_TRUE(testsupport::HaveProgram("storescp"))
      << "storescp missing (scripts/setup.sh installs it)";
  testsupport::TempDir folder;
  const auto work = folder / "work";
  std::filesystem::create_directories(work);
  dcmtkpeer::StoreSCP peer(folder / "in", {"1.2.840.10008.5.1.4.1.1.7"},
                           {kJpegBaselineSyntax, kExplicitVRLittleEndian});
  ASSERT_TRUE(peer.Running());
  const std::string scan = Photo(folder / "work", "scan.png");
  const std::string job = (work / "job.pdf").string();
  testsupport::WriteFile(job, "%PDF-1.4\n%%EOF\n");
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(TypedPatient(), nullptr, 2, SetupConfig{}, message));
  BatchReport report;
  EXPECT_FALSE(
      SendPreparedBatch({scan, job}, Peer(peer.Port(), "STORESCP"), message, {}, {}, &report));
  EXPECT_EQ(FinishDeliveredItems(report, work), std::vector<size_t>{0});
  EXPECT_FALSE(std::filesystem::exists(scan));
  EXPECT_TRUE(std::filesystem::exists(job));
  EXPECT_EQ(message.English(),
            "ERROR Sending Images, please check Log file\nThe PACS at 127.0.0.1:" + peer.Port() +
                " did not accept the connection\n1 of 2 items were not sent: job.pdf");
}

// Against Orthanc: a birth date left unknown arrives empty (never today's date), and a chosen
// worklist row's patient arrives whatever is typed.
TEST(SendBatch, TheBatchCarriesThePatientOnScreen) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available() && testsupport::HaveProgram("dump2dcm"))
      << "Orthanc or dump2dcm missing (scripts/setup.sh installs them)";
  testsupport::TempDir work;
  testsupport::OrthancPacs pacs(work);
  ASSERT_TRUE(pacs.Running()) << testsupport::ReadFile(work / "orthanc.log");
  testsupport::WriteFile(
      work / "entry.txt",
      "(0008,0050) SH [0042]\n(0010,0010) PN [DOE^JANE]\n(0010,0020) LO [12345]\n"
      "(0010,0030) DA [19800512]\n(0010,0040) CS [F]\n(0032,1060) LO [CHEST]\n"
      "(0040,0100) SQ\n(fffe,e000) -\n(0008,0060) CS [CR]\n(0040,0001) AE [ORTHANC]\n"
      "(0040,0002) DA [20240301]\n(0040,0003) TM [101500]\n(fffe,e00d) -\n(fffe,e0dd) -\n");
  ASSERT_EQ(testsupport::RunCommand(
                {"dump2dcm", (work / "entry.txt").string(), (pacs.Worklists() / "e.wl").string()})
                .exitCode,
            0);
  RemoteNode node = Peer(pacs.Port(), "ORTHANC");
  const std::string photo = Photo(work.path(), "photo.png");

  UserMessage message;
  BatchForm typed = TypedPatient();  // birth date never chosen
  ASSERT_TRUE(SendBatch(typed, nullptr, {photo}, SetupConfig{}, node, message)) << message;
  const std::string typedPatient = pacs.Get("/patients?expand");
  EXPECT_NE(typedPatient.find("\"PatientBirthDate\" : \"\""), std::string::npos) << typedPatient;

  SearchForm query;
  query.toDate = "20240301";
  std::vector<StudyInfo> results;
  ASSERT_EQ(SearchWorklist(node, query, results), SearchOutcome::Completed);
  ASSERT_EQ(results.size(), 1u);
  ASSERT_TRUE(SendBatch(typed, &results[0], {photo}, SetupConfig{}, node, message)) << message;
  const std::string studies = pacs.Get("/studies?expand");
  EXPECT_NE(studies.find("\"AccessionNumber\" : \"0042\""), std::string::npos) << studies;
  const std::string patients = pacs.Get("/patients?expand");
  for (const char* value : {"\"PatientName\" : \"DOE^JANE\"", "\"PatientID\" : \"12345\"",
                            "\"PatientBirthDate\" : \"19800512\""}) {
    EXPECT_NE(patients.find(value), std::string::npos) << value << "\n" << patients;
  }
}

}  // namespace
