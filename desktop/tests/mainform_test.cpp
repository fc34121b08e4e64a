// The main window driven through its handlers as a person would use it: captions, the item strip,
// searches against Orthanc, Send to storescp, Save To Folder, Clear and the preview.
#include "mainform.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <set>
#include <thread>

#include "bufdata.h"
#include "dcmtk_peer.h"
#include "dicomfile.h"
#include "dimse.h"
#include "formfixture.h"
#include "guiwork.h"
#include "log.h"
#include "orthanc.h"
#include "outboxform.h"
#include "scripted_peer.h"
#include "scripted_worklist.h"
#include "stripview.h"
#include "testpictures.h"
#include "uids.h"

namespace {

constexpr const char* kPdf =
    "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
    "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
    "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]>>endobj\n"
    "trailer<</Root 1 0 R>>\n%%EOF\n";

using MainFormTest = FormTest;

TEST_F(MainFormTest, CaptionsComeFromTheIniAndEveryControlIsNamedForScreenReaders) {
  TForm1& form = Form("[MainForm]\nPatientIDLbl=Paciente\nStringGrid1AN=Acc.\n");
  EXPECT_EQ(form.windowTitle(), "VELLORAN");
  EXPECT_EQ(form.PatientIDLbl->text(), "Paciente");
  EXPECT_EQ(form.Edit1->accessibleName(), "Paciente");
  EXPECT_EQ(form.PatientIDLbl->buddy(), form.Edit1);
  const std::pair<QWidget*, const char*> defaults[] = {
      {form.PatientNameLbl, "Patient Name"},
      {form.Edit2, "Patient Name"},
      {form.PatientBDLbl, "Patient BD / From"},
      {form.DateTimePicker1, "Patient BD / From"},
      {form.AccessionNumberLbl, "Accession Number"},
      {form.Edit5, "Accession Number"},
      {form.PatientSexLbl, "Patient Sex"},
      {form.ComboBox1, "Patient Sex"},
      {form.StudyDescriptionLbl, "Study Description"},
      {form.Edit6, "Study Description"},
      {form.StudyDateLbl, "Study Date / To"},
      {form.DateTimePicker2, "Study Date / To"},
      {form.ComboBox2, "Modality"},
      {form.SearchPACSBtn, "Search PACS"},
      {form.ClearBtn, "Clear"},
      {form.SendBtn, "Send"},
      {form.EndBtn, "End"},
      {form.SetupBtn, "Setup"},
      {form.AddImageBtn, "Add File"},
      {form.SearchWLBtn, "Search WL"},
      {form.AddFolderBtn, "Add Folder"},
      {form.SaveToFolderBtn, "Save To Folder"},
      {form.AboutBtn, "About"},
      {form.ScanBtn, "Scan"},
  };
  for (const auto& [control, name] : defaults) {
    EXPECT_EQ(control->accessibleName(), name) << control->objectName().toStdString();
  }
  const char* headers[] = {"Name",       "ID",  "Sex", "Birth Date", "Study Description",
                           "Study Date", "Acc."};
  for (int column = 0; column < 7; ++column) {
    EXPECT_EQ(form.StringGrid1->horizontalHeaderItem(column)->text(), headers[column]);
  }
  EXPECT_EQ(form.StringGrid1->rowCount(), 1);  // the empty row under the header
  EXPECT_EQ(form.ComboBox1->currentText(), "Male");
  EXPECT_EQ(form.ComboBox2->currentText(), "ALL");
  EXPECT_EQ(form.DateTimePicker1->text(), "unknown");
  // Its calendar opens at this month, not at the lowest date that stands for "unknown".
  QCalendarWidget* calendar = form.DateTimePicker1->calendarWidget();
  calendar->setCurrentPage(1800, 1);
  QShowEvent shown;
  QCoreApplication::sendEvent(calendar, &shown);
  EXPECT_EQ(calendar->yearShown(), QDate::currentDate().year());
  EXPECT_EQ(calendar->monthShown(), QDate::currentDate().month());
  // Start-up made the folders and the day's log.
  EXPECT_TRUE(std::filesystem::is_directory(app_ / "work"));
  EXPECT_TRUE(std::filesystem::is_directory(app_ / "logs"));
  EXPECT_EQ(LogFilePath(), DailyLogFile(form.Folders()));

  form.AboutBtnClick();
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_EQ(dialogs_.messages[0], "VELLORAN V" VELLORAN_VERSION "\nDICOM Converter");
}

TEST_F(MainFormTest, AddFileRefusesADuplicateAndAddFolderTakesTheTenKindsOnly) {
  TForm1& form = Form();
  const std::string photo = Write("one/photo.jpg", testpictures::MakeJpeg(40, 30, false));
  dialogs_.openAnswers = {QString::fromStdString(photo), QString::fromStdString(photo), {}};
  form.AddImageBtnClick();
  form.AddImageBtnClick();
  form.AddImageBtnClick();  // cancelled
  EXPECT_EQ(form.Items().Size(), 1u);
  EXPECT_EQ(dialogs_.messages, QStringList{"ERROR, already in the list"});
  EXPECT_EQ(dialogs_.filters[0],
            "Images (*.jpg *.bmp *png);;Text (*.doc *.docx *.rtf *.txt *.html);;PDF "
            "(*.pdf);;Video (*.mp4)");

  const std::string jpeg = testpictures::MakeJpeg(20, 20, false);
  for (const char* name : {"mixed/a.jpg", "mixed/b.JPG", "mixed/c.jpeg", "mixed/d.htm",
                           "mixed/.e.jpg", "mixed/sub/f.jpg"}) {
    Write(name, jpeg);
  }
  dialogs_.folderAnswers = {QString::fromStdString((files_ / "mixed").string()), {}};
  form.AddFolderBtnClick();
  EXPECT_EQ(dialogs_.folderTitles[0], "Please select a folder with DICOM objects:");
  EXPECT_EQ(form.Items().Snapshot(),
            (std::vector<std::string>{photo, (files_ / "mixed" / "a.jpg").string(),
                                      (files_ / "mixed" / "b.JPG").string()}));
  EXPECT_EQ(form.Image1->TileCount(), 3u);
  EXPECT_EQ(form.Image1->width(), 3 * 96);
  // A cancelled folder dialog adds nothing and gives Send and End back.
  form.AddFolderBtnClick();
  EXPECT_EQ(form.Items().Size(), 3u);
  EXPECT_TRUE(form.SendBtn->isEnabled());
  EXPECT_TRUE(form.EndBtn->isEnabled());

  // Dropping the same folder and a file adds as Add Folder and Add File would.
  const std::string pdf = Write("drop/report.pdf", kPdf);
  form.AddDroppedPaths({QString::fromStdString((files_ / "mixed").string()),
                        QString::fromStdString(pdf), QString::fromStdString(photo)});
  EXPECT_EQ(form.Items().Size(), 6u);
  EXPECT_EQ(dialogs_.messages.last(), "ERROR, already in the list: photo.jpg");
}

TEST_F(MainFormTest, KeysAndClicksReachTheHandlersAsAPersonUsesThem) {
  TForm1& form = Form();
  form.show();
  QTest::keyClicks(form.Edit2, "ROE^RICK");
  EXPECT_EQ(form.Edit2->text(), "ROE^RICK");
  // Tab moves on to the patient ID, as the form's order says.
  form.Edit2->setFocus();
  QTest::keyClick(form.Edit2, Qt::Key_Tab);
  EXPECT_TRUE(WaitFor([&form] { return form.Edit1->hasFocus(); }, std::chrono::seconds(5)));
  const std::string first = Write("a.pdf", kPdf);
  const std::string second = Write("b.pdf", kPdf);
  dialogs_.openAnswers = {QString::fromStdString(first), QString::fromStdString(second)};
  QTest::mouseClick(form.AddImageBtn, Qt::LeftButton);
  QTest::mouseClick(form.AddImageBtn, Qt::LeftButton);
  ASSERT_EQ(form.Image1->TileCount(), 2u);
  dialogs_.confirmAnswers = {true};
  QTest::mouseClick(form.Image1, Qt::RightButton, {}, QPoint(96 + 10, 40));
  EXPECT_EQ(form.Items().Snapshot(), std::vector<std::string>{first});
  QTest::mouseClick(form.Image1, Qt::LeftButton, {}, QPoint(10, 40));
  EXPECT_EQ(dialogs_.opened, QStringList{QString::fromStdString(first)});
  QTest::mouseClick(form.SendBtn, Qt::LeftButton);
  EXPECT_EQ(dialogs_.messages.last(), "Patient ID can't be empty");
}

TEST_F(MainFormTest, StripClicksDeleteAfterConfirmationPreviewPicturesAndOpenPdfs) {
  TForm1& form = Form();
  // A panorama and a tall picture in the 350 x 379 preview.
  const std::string wide =
      Write("wide.png", testpictures::MakePng(400, 100, testpictures::PngKind::Rgb));
  const std::string tall = Write("tall.bmp", testpictures::MakeBmp(100, 400, 24, false));
  const std::string pdf = Write("doc.pdf", kPdf);
  const std::string broken = Write("broken.jpg", "not a picture");
  for (const std::string& path : {wide, tall, pdf, broken}) form.Items().Append(path);
  form.RefreshItemStrip();

  form.Image1MouseDown(Qt::LeftButton, 10);
  EXPECT_EQ(ShownPreview(form), QRect(0, (379 - 87) / 2, 350, 87));
  form.Image1MouseDown(Qt::LeftButton, 96 + 95);
  EXPECT_EQ(ShownPreview(form), QRect((350 - 94) / 2, 0, 94, 379));
  form.Image1MouseDown(Qt::LeftButton, 2 * 96);
  EXPECT_EQ(dialogs_.opened, QStringList{QString::fromStdString(pdf)});
  // The PDF leaves the preview as it was.
  EXPECT_EQ(ShownPreview(form), QRect((350 - 94) / 2, 0, 94, 379));
  // A picture that cannot be decoded gets a note instead of a picture; nothing stops.
  form.Image1MouseDown(Qt::LeftButton, 3 * 96 + 1);
  EXPECT_TRUE(ShownPreview(form).isEmpty());
  form.Image1MouseDown(Qt::LeftButton, 4 * 96 + 1);  // past the last tile: nothing

  dialogs_.confirmAnswers = {false, true};
  form.Image1MouseDown(Qt::RightButton, 96 + 3);
  EXPECT_EQ(form.Items().Size(), 4u);
  form.Image1MouseDown(Qt::RightButton, 96 + 3);
  EXPECT_EQ(form.Items().Snapshot(), (std::vector<std::string>{wide, pdf, broken}));
  EXPECT_EQ(dialogs_.confirmations.last(), "WARNING: Delete this image?");
  EXPECT_EQ(form.Image1->TileCount(), 3u);
  EXPECT_TRUE(std::filesystem::exists(tall));  // the file stays on disk
}

TEST_F(MainFormTest, UnknownKindsAreReportedAtEveryRedrawAndThreadsAppendsShowOnTheTimer) {
  TForm1& form = Form();
  form.Items().Append(Write("notes.xyz", "x"));
  form.RefreshItemStrip();
  form.RefreshItemStrip();
  EXPECT_EQ(dialogs_.messages,
            (QStringList{"ERROR, can't process .XYZ", "ERROR, can't process .XYZ"}));
  EXPECT_EQ(form.Image1->TileCount(), 1u);

  std::thread printer([&form, this] { form.Items().AppendFromThread(Write("job.pdf", kPdf)); });
  printer.join();
  EXPECT_EQ(form.Image1->TileCount(), 1u);
  form.Timer1Timer();
  EXPECT_EQ(form.Image1->TileCount(), 2u);
}

TEST_F(MainFormTest, SendGoesToThePacsAndDeletesOnlyTheProgramsOwnFiles) {
  ASSERT_TRUE(testsupport::HaveProgram("storescp"));
  testsupport::TempDir received;
  dcmtkpeer::StoreSCP peer(
      received.path(), {"1.2.840.10008.5.1.4.1.1.7", "1.2.840.10008.5.1.4.1.1.104.1"},
      {kExplicitVRLittleEndian, kImplicitVRLittleEndian, "1.2.840.10008.1.2.4.50"});
  ASSERT_TRUE(peer.Running());
  TForm1& form = Form("[velloran]\nremoteAET=STORESCP\nremotePort=" + peer.Port() + "\n");
  ASSERT_EQ(setupcfg.remotePort, peer.Port());

  // Checks come first, with the first problem only.
  form.SendBtnClick();
  EXPECT_EQ(dialogs_.messages.last(), "Patient Name can't be empty");
  form.Edit2->setText("DOE^JANE");
  form.SendBtnClick();
  EXPECT_EQ(dialogs_.messages.last(), "Patient ID can't be empty");
  form.Edit1->setText("PID-42");
  form.SendBtnClick();
  EXPECT_EQ(dialogs_.messages.last(), "No files to send");

  // The birth date was never chosen: it shows "unknown" and no date is sent for it.
  EXPECT_EQ(form.DateTimePicker1->text(), "unknown");
  const std::string outside = Write("photo.jpg", testpictures::MakeJpeg(64, 48, false));
  const auto scan = form.Folders().workFolder / "scan1.jpg";
  testsupport::WriteFile(scan, testpictures::MakeJpeg(32, 32, true));
  const std::string pdf = Write("report.pdf", kPdf);
  for (const std::string& path : {outside, scan.string(), pdf}) form.Items().Append(path);
  form.RefreshItemStrip();
  form.SendBtnClick();
  EXPECT_TRUE(form.BatchRunning());
  // Everything that could change the batch waits until it is done.
  for (QPushButton* button : {form.SendBtn, form.SaveToFolderBtn, form.ClearBtn, form.AddImageBtn,
                              form.AddFolderBtn, form.ScanBtn, form.SetupBtn}) {
    EXPECT_FALSE(button->isEnabled()) << button->objectName().toStdString();
  }
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  EXPECT_EQ(dialogs_.messages.last(), "Images sent OK");
  EXPECT_TRUE(form.Items().Empty());
  EXPECT_EQ(form.Image1->TileCount(), 0u);
  EXPECT_FALSE(std::filesystem::exists(scan));
  EXPECT_TRUE(std::filesystem::exists(outside));
  EXPECT_TRUE(form.SendBtn->isEnabled());
  ASSERT_EQ(peer.Received().size(), 3u);
  for (const auto& path : peer.Received()) {
    DicomFile file;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(path.string(), file, error)) << error;
    EXPECT_EQ(file.dataSet.GetString(0x0010, 0x0010), "DOE^JANE");
    EXPECT_EQ(file.dataSet.GetString(0x0020, 0x000D), CurrentStudy.studyInstanceUid);
    // Type 2: present, and empty rather than today's date.
    ASSERT_NE(file.dataSet.FindTag(0x0010, 0x0030), nullptr);
    EXPECT_EQ(file.dataSet.GetString(0x0010, 0x0030), "");
  }

  // A photo with a TXT file without text: the photo goes, the TXT stays in the list, named.
  const std::string empty = Write("empty.txt", "");
  form.Items().Append(outside);
  form.Items().Append(empty);
  form.SendBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  EXPECT_EQ(dialogs_.messages.last(),
            "ERROR Sending Images, please check Log file\n"
            "1 of 2 items were not sent: empty.txt (no text)");
  EXPECT_EQ(form.Items().Snapshot(), std::vector<std::string>{empty});
  EXPECT_EQ(peer.Received().size(), 4u);

  form.Items().Clear();
  // A PACS that is gone: the object waits in the outbox, the item leaves the list and the
  // indicator says so.
  form.Items().Append(outside);
  setupcfg.remotePort = std::to_string(testsupport::FreePort());
  form.SendBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  EXPECT_EQ(dialogs_.messages.last(),
            "The PACS did not answer: 1 object waits in the outbox and will be sent when it "
            "answers");
  EXPECT_TRUE(form.Items().Empty());
  ASSERT_NE(form.OutboxOfWindow(), nullptr);
  ASSERT_EQ(form.OutboxOfWindow()->Entries().size(), 1u);
  // The sender still works for the PACS the window started with: the object waits for its own.
  const QString meantFor = QString::fromStdString("STORESCP at 127.0.0.1:" + setupcfg.remotePort);
  ASSERT_TRUE(WaitFor([&form] { return form.OutboxBtn->text().contains("next try"); }));
  EXPECT_TRUE(form.OutboxBtn->text().startsWith("1 waiting for " + meantFor + " \u00b7 next try "))
      << form.OutboxBtn->text().toStdString();
  EXPECT_TRUE(form.OutboxBtn->text().endsWith("PACS did not answer"));

  // Without the outbox the failure is reported and the items stay, as Send always did.
  setupcfg.keepUnsentInOutbox = false;
  form.Items().Append(outside);
  form.SendBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  EXPECT_EQ(dialogs_.messages.last(),
            QString::fromStdString("ERROR Sending Images, please check Log file\nThe PACS at "
                                   "127.0.0.1:" +
                                   setupcfg.remotePort +
                                   " did not answer\n1 of 1 items were not sent: photo.jpg"));
  EXPECT_EQ(form.Items().Size(), 1u);
  form.Items().Clear();

  // Retry now sends nothing elsewhere; Send to the current PACS, once the question is answered,
  // sends the object to the PACS the sender works for (the one the window started with), and the
  // indicator says that the waiting object arrived.
  TOutboxFrm dialog(*form.OutboxOfWindow(), *form.Sender(), dialogs_, &form);
  EXPECT_EQ(dialog.ElsewhereLabel->text(), "1 waiting for " + meantFor);
  EXPECT_EQ(dialog.ObjectGrid->item(0, TOutboxFrm::State)->text(), "waiting for its PACS");
  dialog.RetryBtnClick();
  EXPECT_EQ(form.OutboxOfWindow()->Entries().size(), 1u);
  dialogs_.confirmAnswers = {false};
  dialog.SendToCurrentBtnClick();
  EXPECT_EQ(dialogs_.confirmations.last(),
            "Send to the current PACS: Send 1 object meant for " + meantFor +
                " to STORESCP at 127.0.0.1:" + QString::fromStdString(peer.Port()) +
                " instead?\nIt will not be sent to " + meantFor + ".");
  EXPECT_EQ(form.OutboxOfWindow()->Entries().size(), 1u);
  dialogs_.confirmAnswers = {true};
  dialog.SendToCurrentBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return form.OutboxOfWindow()->Entries().empty(); }));
  ASSERT_TRUE(WaitFor(
      [&form] { return form.OutboxBtn->text() == "1 waiting object was stored on STORESCP"; }));
  EXPECT_EQ(peer.Received().size(), 5u);
}

TEST_F(MainFormTest, TheOutboxDialogRemovesAnObjectOnlyAfterItsQuestion) {
  TForm1& form = Form("[velloran]\nremotePort=" + std::to_string(testsupport::FreePort()) + "\n");
  ASSERT_NE(form.OutboxOfWindow(), nullptr);
  form.Edit2->setText("ROE^RICK");
  form.Edit1->setText("PID7");
  form.Items().Append(Write("report.pdf", kPdf));
  form.SendBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  ASSERT_EQ(form.OutboxOfWindow()->Entries().size(), 1u);

  TOutboxFrm dialog(*form.OutboxOfWindow(), *form.Sender(), dialogs_, &form);
  ASSERT_EQ(dialog.ObjectGrid->rowCount(), 1);
  // Whose it is, which file, what kind, when, for which PACS, and how it stands.
  const std::pair<TOutboxFrm::Column, QString> cells[] = {
      {TOutboxFrm::Patient, "ROE^RICK \u00b7 ID PID7"},
      {TOutboxFrm::File, "report.pdf"},
      {TOutboxFrm::Kind, "PDF"},
      {TOutboxFrm::Destination,
       "PACSAET at 127.0.0.1:" + QString::fromStdString(setupcfg.remotePort)},
      {TOutboxFrm::State, "waiting"},
      {TOutboxFrm::Cause, "PACS did not answer"},
  };
  for (const auto& [column, text] : cells) {
    EXPECT_EQ(dialog.ObjectGrid->item(0, column)->text(), text) << column;
  }
  EXPECT_FALSE(dialog.ObjectGrid->item(0, TOutboxFrm::BatchTime)->text().isEmpty());
  EXPECT_TRUE(dialog.ElsewhereLabel->isHidden());
  EXPECT_FALSE(dialog.SendToCurrentBtn->isEnabled());
  dialog.ObjectGrid->selectRow(0);
  dialogs_.confirmAnswers = {false};
  dialog.RemoveBtnClick();
  EXPECT_EQ(dialogs_.confirmations.last(),
            "WARNING: Remove 1 object from the outbox?\nThey will not be sent to the PACS.");
  EXPECT_EQ(form.OutboxOfWindow()->Entries().size(), 1u);
  dialog.ObjectGrid->selectRow(0);
  dialogs_.confirmAnswers = {true};
  dialog.RemoveBtnClick();
  EXPECT_TRUE(form.OutboxOfWindow()->Entries().empty());
  EXPECT_EQ(dialog.ObjectGrid->rowCount(), 0);
  ASSERT_TRUE(WaitFor([&form] { return form.OutboxBtn->isHidden(); }));
}

// With DICOMweb chosen in the settings, Send stores by STOW-RS and Search PACS asks by QIDO-RS,
// with the window's usual messages; a server that is gone is named by its address.
TEST_F(MainFormTest, SendAndSearchPacsGoByDicomwebWhenTheSettingsSaySo) {
  ASSERT_TRUE(testsupport::OrthancPacs::DicomWebAvailable()) << "Orthanc's DICOMweb plugin missing";
  testsupport::TempDir work;
  testsupport::OrthancPacs::Options options;
  options.dicomWeb = true;
  testsupport::OrthancPacs pacs(work, options);
  ASSERT_TRUE(pacs.Running()) << testsupport::ReadFile(work / "orthanc.log");
  // The DICOM address points nowhere: only DICOMweb can reach the PACS.
  TForm1& form = Form("[velloran]\nremoteProtocol=DICOMweb\nwebURL=" + pacs.WebUrl() +
                      "\nremotePort=" + std::to_string(testsupport::FreePort()) + "\n");
  form.Edit2->setText("WEB^WANDA");
  form.Edit1->setText("PID-WEB");
  form.Items().Append(Write("report.pdf", kPdf));
  form.Items().Append(Write("photo.jpg", testpictures::MakeJpeg(64, 48, false)));
  form.SendBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  EXPECT_EQ(dialogs_.messages.last(), "Images sent OK");
  EXPECT_TRUE(form.Items().Empty());
  // Two instance IDs, each in quotes, are all Orthanc holds.
  const std::string instances = pacs.Get("/instances");
  EXPECT_EQ(std::count(instances.begin(), instances.end(), '"'), 4) << instances;

  form.Edit2->clear();
  form.SearchPACSBtnClick();
  ASSERT_EQ(form.SearchResults().size(), 1u) << dialogs_.messages.join("|").toStdString();
  EXPECT_EQ(form.StringGrid1->item(0, 0)->text(), "WEB^WANDA");
  EXPECT_EQ(form.SearchResults()[0].studyInstanceUid, CurrentStudy.studyInstanceUid);

  const std::string gone = "http://127.0.0.1:" + std::to_string(testsupport::FreePort()) + "/dw";
  setupcfg.webURL = gone;
  form.SearchPACSBtnClick();
  EXPECT_EQ(dialogs_.messages.last().toStdString(), "ERROR, couldn't connect to " + gone);
  EXPECT_TRUE(form.SearchResults().empty());
  form.Items().Append(Write("again.pdf", kPdf));
  form.Edit2->setText("WEB^WANDA");
  // Through the outbox the object waits for the DICOMweb PACS and its item leaves the list.
  form.SendBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  EXPECT_TRUE(
      dialogs_.messages.last().startsWith("The PACS did not answer: 1 object waits in the outbox"))
      << dialogs_.messages.last().toStdString();
  EXPECT_TRUE(form.Items().Empty());
  // Without the outbox the item stays and the error is shown.
  setupcfg.keepUnsentInOutbox = false;
  form.Items().Append(Write("again.pdf", kPdf));
  form.SendBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  // The failure sentence, with the cause and the item not sent under it.
  const std::string failed = dialogs_.messages.last().toStdString();
  EXPECT_TRUE(failed.starts_with("ERROR Sending Images, please check Log file\n")) << failed;
  EXPECT_NE(failed.find("again.pdf"), std::string::npos) << failed;
  EXPECT_EQ(form.Items().Size(), 1u);
}

// Cancel (or Escape) while photos go out: the batch stops after the object in flight, the message
// says which were stored, and the rest stay in the list. The PACS takes its time over the second
// object, which is in flight when Escape is pressed.
TEST_F(MainFormTest, CancelStopsASendAfterTheObjectInFlightAndKeepsTheRest) {
  using testpeer::Step;
  auto stored = [] {
    return Step::Send(testpeer::PData(1, {{0x03, testpeer::ResponseCommand(kCommandStoreRSP, 0)}}));
  };
  testpeer::ScriptedPeer peer(
      {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, "1.2.840.10008.1.2.4.50"}})),
       Step::ReceiveMessage(), Step::ReceiveMessage(), stored(), Step::ReceiveMessage(),
       Step::ReceiveMessage(), Step::Pause(std::chrono::seconds(3)), stored(), Step::ReceivePdu(),
       Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()});
  // Stored directly: through the outbox a cancel stops the conversion, which the outbox's own
  // tests show.
  TForm1& form =
      Form("[velloran]\nremoteAET=PEER\nremotePort=" + peer.Port() + "\nkeepUnsentInOutbox=0\n");
  form.Edit2->setText("DOE^JANE");
  form.Edit1->setText("PID-42");
  constexpr size_t kPhotos = 20;
  for (size_t i = 0; i < kPhotos; ++i) {
    form.Items().Append(
        Write("p" + std::to_string(i) + ".jpg", testpictures::MakeJpeg(64, 48, false)));
  }
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  EXPECT_TRUE(form.CancelBtn->isHidden());
  // Escape as soon as the window shows the first object stored.
  bool pressed = false;
  QObject::connect(form.ProgressBar1, &QProgressBar::valueChanged, &form, [&](int value) {
    if (value < 1 || pressed) return;
    pressed = true;
    QTest::keyClick(&form, Qt::Key_Escape);
  });
  form.SendBtnClick();
  ASSERT_TRUE(form.BatchRunning());
  EXPECT_TRUE(form.CancelBtn->isVisible());
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  EXPECT_TRUE(pressed);
  EXPECT_TRUE(form.CancelBtn->isHidden());
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  EXPECT_EQ(dialogs_.messages.last(),
            "Send cancelled: 2 of 20 items were stored: p0.jpg, p1.jpg; the other 18 stay in the "
            "list.");
  ASSERT_EQ(form.Items().Size(), kPhotos - 2);
  EXPECT_EQ(form.Items().At(0), (files_ / "p2.jpg").string());
}

// The SOP Instance UIDs of the objects a peer received, one per file, so an object that arrived
// twice shows twice. A file that cannot be read yet (still being written) is left out when
// `complete` is false and fails the test otherwise.
std::vector<std::string> ReceivedInstances(const dcmtkpeer::StoreSCP& peer, bool complete) {
  std::vector<std::string> instances;
  for (const auto& path : peer.Received()) {
    DicomFile file;
    std::string error;
    if (!ReadDicomFile(path.string(), file, error)) {
      EXPECT_FALSE(complete) << path << ": " << error;
      continue;
    }
    instances.push_back(file.dataSet.GetString(0x0008, 0x0018));
  }
  std::sort(instances.begin(), instances.end());
  return instances;
}

// Cancel while a batch goes out through the outbox to a PACS that takes a second over each object:
// conversion stops after the item in hand, the items whose objects are in the outbox leave the
// list and the others stay. Whether the Send still waits for the objects already queued or leaves
// them to the outbox's own deliveries, every queued object has either arrived or still waits, and
// once the outbox is delivered each has arrived exactly once.
TEST_F(MainFormTest, CancelThroughTheOutboxKeepsTheUnconvertedItemsAndLosesNoObject) {
  ASSERT_TRUE(testsupport::HaveProgram("storescp"));
  testsupport::TempDir received;
  dcmtkpeer::StoreSCP peer(received.path(), {"1.2.840.10008.5.1.4.1.1.7"},
                           {kExplicitVRLittleEndian, "1.2.840.10008.1.2.4.50"},
                           {"--sleep-during", "1", "+uf"});
  ASSERT_TRUE(peer.Running());
  TForm1& form = Form("[velloran]\nremoteAET=STORESCP\nremotePort=" + peer.Port() + "\n");
  ASSERT_TRUE(setupcfg.keepUnsentInOutbox);
  ASSERT_NE(form.OutboxOfWindow(), nullptr);
  form.Edit2->setText("DOE^JANE");
  form.Edit1->setText("PID-42");
  // Photos large enough that converting them all takes far longer than the window needs to see
  // the first one queued.
  constexpr size_t kPhotos = 40;
  const std::string photo = testpictures::MakeJpeg(1024, 768, false);
  for (size_t i = 0; i < kPhotos; ++i) {
    form.Items().Append(Write("p" + std::to_string(i) + ".jpg", photo));
  }
  form.show();
  bool pressed = false;
  QObject::connect(form.ProgressBar1, &QProgressBar::valueChanged, &form, [&](int value) {
    if (value < 1 || pressed) return;
    pressed = true;
    QTest::mouseClick(form.CancelBtn, Qt::LeftButton);
  });
  form.SendBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  ASSERT_TRUE(pressed);

  const size_t queued = kPhotos - form.Items().Size();
  ASSERT_GE(queued, 1u);
  ASSERT_LT(queued, kPhotos) << "every photo was converted before Cancel took effect";
  EXPECT_EQ(form.Items().At(0), (files_ / ("p" + std::to_string(queued) + ".jpg")).string());
  const QString message = dialogs_.messages.last();
  EXPECT_TRUE(message.startsWith(
      QString("Send cancelled: %1 of %2 items were put in the outbox").arg(queued).arg(kPhotos)))
      << message.toStdString();

  // The outbox is read before the peer's folder: an object the background delivery hands over in
  // between is then in the folder, never in neither.
  std::set<std::string> present;
  for (const OutboxEntry& entry : form.OutboxOfWindow()->Entries()) {
    EXPECT_EQ(entry.state, OutboxState::Waiting) << entry.sopInstanceUid;
    present.insert(entry.sopInstanceUid);
  }
  const std::vector<std::string> arrived = ReceivedInstances(peer, false);
  EXPECT_EQ(std::adjacent_find(arrived.begin(), arrived.end()), arrived.end())
      << "an object arrived twice";
  present.insert(arrived.begin(), arrived.end());
  EXPECT_EQ(present.size(), queued);

  // What waits goes on Retry now, and then every queued object has arrived once.
  form.Sender()->DeliverNow();
  ASSERT_TRUE(WaitFor([&form] { return form.OutboxOfWindow()->Entries().empty(); }));
  const std::vector<std::string> delivered = ReceivedInstances(peer, true);
  EXPECT_EQ(delivered.size(), queued);
  EXPECT_EQ(std::set<std::string>(delivered.begin(), delivered.end()), present);
  ASSERT_TRUE(WaitFor([&form] { return form.OutboxBtn->isHidden(); }));
}

TEST_F(MainFormTest, SaveToFolderWritesEveryObjectOrKeepsTheItemsAndSaysWhatFailed) {
  TForm1& form = Form();
  form.Edit2->setText("ROE^RICK");
  form.Edit1->setText("PID7");
  const std::string photo =
      Write("photo.png", testpictures::MakePng(16, 8, testpictures::PngKind::Rgb));
  const std::string pdf = Write("report.pdf", kPdf);
  form.Items().Append(photo);
  form.Items().Append(pdf);

  // A cancelled folder dialog ends the batch before anything is converted.
  form.SaveToFolderBtnClick();
  EXPECT_FALSE(form.BatchRunning());
  EXPECT_EQ(form.Items().Size(), 2u);

  // A "folder" that is a file: nothing can be written; the user is told and the items stay.
  const std::string notAFolder = Write("plain-file", "x");
  dialogs_.folderAnswers = {QString::fromStdString(notAFolder)};
  form.SaveToFolderBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  ASSERT_FALSE(dialogs_.messages.isEmpty());
  EXPECT_TRUE(dialogs_.messages.last().contains("Cannot write"))
      << dialogs_.messages.last().toStdString();
  EXPECT_TRUE(
      dialogs_.messages.last().contains("2 of 2 items were not written: photo.png, report.pdf"))
      << dialogs_.messages.last().toStdString();
  EXPECT_EQ(form.Items().Size(), 2u);

  const size_t messagesBefore = dialogs_.messages.size();
  testsupport::TempDir out;
  dialogs_.folderAnswers = {QString::fromStdString(out.path().string())};
  form.SaveToFolderBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  EXPECT_EQ(dialogs_.messages.size(), messagesBefore);  // success shows nothing
  EXPECT_TRUE(form.Items().Empty());
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(out.path())) {
    EXPECT_EQ(entry.path().extension(), ".dcm");
    ++files;
  }
  EXPECT_EQ(files, 2u);
}

TEST_F(MainFormTest, ClearEmptiesTheFormTheResultsTheStudyAndTheItems) {
  TForm1& form = Form();
  form.Edit1->setText("1");
  form.Edit2->setText("2");
  form.Edit5->setText("5");
  form.Edit6->setText("6");
  form.ComboBox1->setCurrentIndex(2);
  form.ComboBox2->setCurrentIndex(3);
  form.DateTimePicker1->setDate(QDate(2001, 2, 3));
  CurrentStudy.studyInstanceUid = "1.2.3";
  form.Items().Append(Write("a.pdf", kPdf));
  form.RefreshItemStrip();
  form.ClearBtnClick();
  for (QLineEdit* edit : {form.Edit1, form.Edit2, form.Edit5, form.Edit6}) {
    EXPECT_TRUE(edit->text().isEmpty());
  }
  EXPECT_EQ(form.ComboBox1->currentIndex(), 0);
  EXPECT_EQ(form.ComboBox2->currentIndex(), 0);
  EXPECT_EQ(form.DateTimePicker1->text(), "unknown");
  EXPECT_EQ(CurrentStudy.studyInstanceUid, "");
  EXPECT_TRUE(form.Items().Empty());
  EXPECT_EQ(form.Image1->TileCount(), 0u);
  EXPECT_EQ(form.StringGrid1->rowCount(), 1);
}

// Three worklist entries and three stored studies, all for today, in Orthanc.
TEST_F(MainFormTest, SearchesFillTheGridAndTheSelectedRowFeedsTheBatch) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available() && testsupport::HaveProgram("dump2dcm"));
  testsupport::TempDir work;
  testsupport::OrthancPacs pacs(work);
  ASSERT_TRUE(pacs.Running()) << testsupport::ReadFile(work / "orthanc.log");
  const std::string today = QDate::currentDate().toString("yyyyMMdd").toStdString();
  const char* names[] = {"ALPHA^ANN", "BRAVO^BEN", "CHARLIE^CID"};
  for (int i = 0; i < 3; ++i) {
    const std::string id = "WL" + std::to_string(i + 1);
    testsupport::WriteFile(
        work / "entry.txt",
        std::string("(0008,0005) CS [ISO_IR 100]\n(0008,0050) SH [ACC") + id +
            "]\n(0008,0090) PN [REF^ROB]\n(0010,0010) PN [" + names[i] + "]\n(0010,0020) LO [" +
            id +
            "]\n(0010,0030) DA [19800512]\n(0010,0040) CS [F]\n(0032,1060) LO [CHEST]\n"
            "(0040,0100) SQ\n(fffe,e000) -\n(0008,0060) CS [CR]\n(0040,0001) AE [ORTHANC]\n"
            "(0040,0002) DA [" +
            today +
            "]\n(0040,0003) TM [101500]\n(0040,0007) LO [CHEST PA]\n"
            "(0040,0009) SH [SPS1]\n(fffe,e00d) -\n(fffe,e0dd) -\n(0040,1001) SH [RP1]\n");
    ASSERT_EQ(testsupport::RunCommand({"dump2dcm", (work / "entry.txt").string(),
                                       (pacs.Worklists() / (id + ".wl")).string()})
                  .exitCode,
              0);
  }
  TForm1& form = Form("[velloran]\nremoteAET=ORTHANC\nremotePort=" + pacs.Port() +
                      "\nworklistAET=ORTHANC\nworklistPort=" + pacs.Port() + "\n");
  form.SearchWLBtnClick();
  ASSERT_EQ(form.SearchResults().size(), 3u) << dialogs_.messages.join("|").toStdString();
  // Header, three results and one empty row.
  EXPECT_EQ(form.StringGrid1->rowCount(), 4);
  EXPECT_EQ(form.StringGrid1->currentRow(), 0);
  QStringList grid;
  for (int row = 0; row < 3; ++row) grid << form.StringGrid1->item(row, 0)->text();
  grid.sort();
  EXPECT_EQ(grid, (QStringList{"ALPHA^ANN", "BRAVO^BEN", "CHARLIE^CID"}));
  EXPECT_EQ(form.StringGrid1->item(0, 3)->text(),
            QString::fromStdString(DicomDateToDisplay("19800512")));
  EXPECT_EQ(form.StringGrid1->item(0, 4)->text(), "CHEST PA");

  // The selected row's patient goes into the batch: the fields show it and cannot be typed into,
  // and the line above Send names it.
  form.StringGrid1->selectRow(2);
  const StudyInfo chosen = form.SearchResults()[2];
  EXPECT_EQ(form.Edit2->text().toStdString(), chosen.patientName);
  EXPECT_EQ(form.Edit1->text().toStdString(), chosen.patientId);
  EXPECT_EQ(form.Edit5->text().toStdString(), chosen.accessionNumber);
  EXPECT_EQ(form.ComboBox1->currentText(), "Female");
  EXPECT_EQ(form.DateTimePicker1->date(), QDate(1980, 5, 12));
  EXPECT_FALSE(form.Edit2->isEnabled() || form.Edit1->isEnabled());
  EXPECT_FALSE(form.ComboBox1->isEnabled());
  EXPECT_EQ(form.BatchForLbl->text().toStdString(), "Batch for " + chosen.patientName +
                                                        " \u00B7 ID " + chosen.patientId +
                                                        " \u00B7 ACC " + chosen.accessionNumber);
  EXPECT_FALSE(form.BatchForLbl->isHidden());
  form.Items().Append(Write("p.pdf", kPdf));
  form.SendBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  EXPECT_EQ(dialogs_.messages.last(), "Images sent OK");
  EXPECT_EQ(CurrentStudy.patientName, chosen.patientName);
  EXPECT_EQ(CurrentStudy.patientId, chosen.patientId);
  EXPECT_EQ(CurrentStudy.accessionNumber, chosen.accessionNumber);
  const std::string patients = pacs.Get("/patients?expand");
  EXPECT_NE(patients.find("\"PatientName\" : \"" + chosen.patientName + "\""), std::string::npos)
      << patients;
  EXPECT_NE(patients.find("\"PatientBirthDate\" : \"19800512\""), std::string::npos) << patients;

  // The study just stored is found by the PACS search; without filters the user is asked first.
  // The empty row gives the typed fields back (nothing was typed) for the next search.
  form.StringGrid1->selectRow(3);
  EXPECT_EQ(form.Edit2->text(), "");
  dialogs_.confirmAnswers = {false};
  form.SearchPACSBtnClick();
  EXPECT_EQ(dialogs_.confirmations.last(), "WARNING: Have no filters\nSearch can take very long");
  EXPECT_EQ(form.SearchResults().size(), 3u);  // cancelled: the worklist results stay
  form.Edit1->setText(QString::fromStdString(chosen.patientId));
  form.SearchPACSBtnClick();
  ASSERT_EQ(form.SearchResults().size(), 1u);
  EXPECT_EQ(form.StringGrid1->rowCount(), 2);
  EXPECT_EQ(form.StringGrid1->item(0, 0)->text(), QString::fromStdString(chosen.patientName));

  // The empty row returns to the typed fields: the ID typed before the search, no name.
  form.StringGrid1->selectRow(1);
  EXPECT_EQ(form.Edit1->text().toStdString(), chosen.patientId);
  EXPECT_EQ(form.Edit2->text(), "");
  EXPECT_TRUE(form.Edit2->isEnabled());
  EXPECT_TRUE(form.ComboBox1->isEnabled());
  EXPECT_TRUE(form.BatchForLbl->isHidden());
  form.SendBtnClick();
  EXPECT_FALSE(form.BatchRunning());
  EXPECT_EQ(dialogs_.messages.last(), "Patient Name can't be empty");

  // A server that is not there.
  setupcfg.worklistPort = std::to_string(testsupport::FreePort());
  form.SearchWLBtnClick();
  EXPECT_EQ(dialogs_.messages.last(), "ERROR, couldn't connect to ORTHANC");
  EXPECT_TRUE(form.SearchResults().empty());
  EXPECT_EQ(form.StringGrid1->rowCount(), 1);
}

// A worklist server that drops the connection after twelve matches: the twelve are shown and the
// user is told the list is not whole.
TEST_F(MainFormTest, ASearchStoppedPartWayShowsWhatItGotAndSaysSo) {
  testpeer::ScriptedPeer peer(testpeer::PartialWorklist(12, {testpeer::Step::Close()}));
  TForm1& form = Form("[velloran]\nworklistAET=PEER\nworklistPort=" + peer.Port() + "\n");
  form.SearchWLBtnClick();
  EXPECT_EQ(dialogs_.messages.last(),
            "Search stopped: the worklist server closed the connection; 12 entries shown");
  EXPECT_EQ(form.SearchResults().size(), 12u);
  EXPECT_EQ(form.StringGrid1->rowCount(), 13);
  peer.Finish();
}

TEST_F(MainFormTest, ThePrintCaptureStartsAfterTheFoldersAndStopsBeforeTheListGoes) {
  testsupport::WriteFile(app_ / "velloran.ini", "[velloran]\nPrinterPort=9911\n");
  std::vector<std::string> calls;
  CaptureHooks hooks;
  ItemList* captured = nullptr;
  hooks.start = [&](const std::string& port, const std::filesystem::path& work, ItemList& items) {
    calls.push_back("start " + port + " " + std::to_string(std::filesystem::is_directory(work)) +
                    " " + std::to_string(!LogFilePath().empty()));
    captured = &items;
    return std::string("ERROR: Couldn't initialize port: 9911");
  };
  hooks.messages = [&] {
    calls.push_back("messages");
    return std::vector<std::string>{"ERROR, a job could not be saved"};
  };
  hooks.stop = [&] { calls.push_back("stop " + std::to_string(captured->Size())); };
  auto form = std::make_unique<TForm1>(ResolveAppFolders(app_.path()), dialogs_, hooks);
  form->DeferredStart();
  EXPECT_EQ(calls, std::vector<std::string>{"start 9911 1 1"});
  EXPECT_EQ(dialogs_.messages, QStringList{"ERROR: Couldn't initialize port: 9911"});
  captured->AppendFromThread(Write("job.pdf", kPdf));
  form->Timer1Timer();
  EXPECT_EQ(form->Image1->TileCount(), 1u);
  EXPECT_EQ(dialogs_.messages.last(), "ERROR, a job could not be saved");
  form->close();
  // The capture stops while the list still holds its item, and only once.
  form.reset();
  EXPECT_EQ(calls, (std::vector<std::string>{"start 9911 1 1", "messages", "stop 1"}));
}

TEST_F(MainFormTest, ClosingDuringABatchAsksAndClosesWhenItHasFinished) {
  TForm1& form = Form();
  form.show();
  form.Edit2->setText("ROE^RICK");
  form.Edit1->setText("PID7");
  form.Items().Append(Write("report.pdf", kPdf));
  testsupport::TempDir out;
  dialogs_.folderAnswers = {QString::fromStdString(out.path().string())};
  dialogs_.confirmAnswers = {true};
  form.SaveToFolderBtnClick();
  ASSERT_TRUE(form.BatchRunning());
  form.EndBtnClick();
  EXPECT_TRUE(dialogs_.confirmations.last().startsWith("WARNING: A batch is still running."));
  ASSERT_TRUE(WaitFor([&form] { return !form.isVisible(); }));
  EXPECT_FALSE(form.BatchRunning());
  EXPECT_FALSE(std::filesystem::is_empty(out.path()));
}

TEST_F(MainFormTest, AHeldBatchStampEndsSendWithAMessageWhileTheWindowGoesOn) {
  ASSERT_TRUE(testsupport::HaveProgram("flock"));
  testsupport::TempDir runtime;  // made 0700, as a runtime folder is
  std::optional<std::string> oldRuntime;
  if (const char* value = std::getenv("XDG_RUNTIME_DIR")) oldRuntime = value;
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  const std::filesystem::path stamp = runtime / "velloran-batch-stamp";
  testsupport::WriteFile(stamp, "1\n");
  {
    // Another program of this user holds the stamp file for longer than Send waits.
    testsupport::ChildProcess holder({"flock", "-x", stamp.string(), "sleep", "60"});
    ASSERT_TRUE(WaitFor([&] {
      return testsupport::RunCommand({"flock", "-n", stamp.string(), "true"}).exitCode != 0;
    }));
    TForm1& form = Form();
    form.Edit2->setText("ROE^RICK");
    form.Edit1->setText("PID7");
    form.Items().Append(Write("report.pdf", kPdf));
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(20);
    form.SendBtnClick();
    timer.stop();
    // The window's timers ran during the wait: it was never frozen.
    EXPECT_GE(ticks, 10);
    EXPECT_EQ(dialogs_.messages.last().toStdString(),
              "Cannot number the batch: another program of this user holds " + stamp.string() +
                  " (waited 1 s). Please try again.");
    EXPECT_FALSE(form.BatchRunning());
    EXPECT_EQ(form.Items().Size(), 1u);
  }
  if (oldRuntime) {
    setenv("XDG_RUNTIME_DIR", oldRuntime->c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
}

}  // namespace

// Escape during a worklist search: the window stops waiting at once, and the search it let go
// (whose request is a command and an identifier) sends C-CANCEL-FIND-RQ after the next response,
// reads to the final one and releases, so the server stops working for nobody.
TEST_F(MainFormTest, EscapeCancelsTheSearchOnTheWire) {
  using testpeer::Step;
  DcmObj match;
  match.AddString(0x0010, 0x0010, "DOE^JANE");
  BufData encoded;
  encoded.WriteDataSet(match);
  const testpeer::Bytes pending = testpeer::PData(
      1,
      {{0x03, testpeer::ResponseCommand(kCommandFindRSP, 0xFF00, 0x0102)}, {0x02, encoded.stream}});
  testpeer::ScriptedPeer peer(
      {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, "1.2.840.10008.1.2"}})),
       Step::ReceiveMessage(), Step::ReceiveMessage(), Step::Send(pending),
       Step::Pause(std::chrono::milliseconds(800)), Step::Send(pending), Step::ReceiveMessage(),
       Step::Send(testpeer::PData(1, {{0x03, testpeer::ResponseCommand(kCommandFindRSP, 0xFE00)}})),
       Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()});
  TForm1& form = Form("[velloran]\nworklistAET=PEER\nworklistPort=" + peer.Port() + "\n");
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QTimer::singleShot(300, &form, [&form] { QTest::keyClick(&form, Qt::Key_Escape); });
  form.SearchWLBtnClick();
  EXPECT_TRUE(form.SearchResults().empty());
  EXPECT_TRUE(dialogs_.messages.isEmpty()) << dialogs_.messages.join("|").toStdString();
  WaitForAbandonedWork();
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  // One of the P-DATA-TF PDUs we sent holds the C-CANCEL-RQ command alone.
  const auto received = peer.Received();
  const bool cancelled = std::any_of(received.begin(), received.end(), [](const auto& pdu) {
    if (pdu.size() < 12 || pdu[0] != 0x04 || pdu[11] != 0x03) return false;
    BufData buffer;
    buffer.stream.assign(pdu.begin() + 12, pdu.end());
    DcmObj command;
    buffer.ReadDataSet(command);
    return command.GetUS(0, 0x0100) == kCommandCancelRQ;
  });
  EXPECT_TRUE(cancelled);
}
