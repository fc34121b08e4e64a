// The PACS over DICOMweb, against Orthanc with its DICOMweb plugin started here on loopback: a
// batch of every kind stored by STOW-RS arrives as C-STORE stores it, and "Search PACS" by
// QIDO-RS finds the rows C-FIND finds.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "batch.h"
#include "dicomfile.h"
#include "log.h"
#include "orthanc.h"
#include "searchweb.h"
#include "sendweb.h"
#include "storefiles.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

using testsupport::OrthancPacs;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WriteFile;

DicomWebServer WebServer(const OrthancPacs& orthanc) {
  DicomWebServer server;
  server.baseUrl = orthanc.WebUrl();
  server.timeoutSeconds = 30;
  return server;
}

RemoteNode DicomNode(const OrthancPacs& orthanc) {
  RemoteNode node;
  node.callingAet = "VELLORAN";
  node.calledAet = "ORTHANC";
  node.host = "127.0.0.1";
  node.port = orthanc.Port();
  return node;
}

OrthancPacs::Options WithDicomWeb() {
  OrthancPacs::Options options;
  options.dicomWeb = true;
  return options;
}

// Every object Orthanc holds, as stored: SOP Instance UID to the data set's bytes (the file after
// its meta group, which the receiver writes itself).
std::map<std::string, std::string> StoredDataSets(const OrthancPacs& orthanc, const TempDir& work) {
  std::map<std::string, std::string> stored;
  std::string ids = orthanc.Get("/instances");
  for (size_t at = ids.find('"'); at != std::string::npos; at = ids.find('"', at + 1)) {
    const size_t end = ids.find('"', at + 1);
    const std::string id = ids.substr(at + 1, end - at - 1);
    at = end;
    const auto path = work / ("stored-" + id + ".dcm");
    WriteFile(path, orthanc.Get("/instances/" + id + "/file"));
    DicomFile file;
    std::string error;
    EXPECT_TRUE(ReadDicomFile(path.string(), file, error)) << error;
    stored[file.dataSet.GetString(0x0008, 0x0018)] =
        testsupport::ReadFile(path).substr(file.dataSetOffset);
  }
  return stored;
}

TEST(PacsWeb, ABatchOfEveryKindArrivesAsCStoreStoresIt) {
  ASSERT_TRUE(OrthancPacs::DicomWebAvailable() && testsupport::HaveProgram("ffmpeg"))
      << "Orthanc, its DICOMweb plugin or ffmpeg missing (scripts/setup.sh installs them)";
  TempDir work;
  std::vector<std::string> items = {(work / "photo.jpg").string(), (work / "note.txt").string(),
                                    (work / "letter.pdf").string(), (work / "clip.mp4").string()};
  WriteFile(items[0], testpictures::MakeJpeg(64, 48, false));
  WriteFile(items[1], "Findings: none.\r\nSecond line.\r\n");
  // A PDF of over a megabyte stays in its file and is read from there as it is sent.
  WriteFile(items[2], "%PDF-1.4\n" + std::string(1300000, 'p') + "\n%%EOF\n");
  ASSERT_EQ(RunCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc=size=64x48:rate=5", "-t", "1", "-pix_fmt", "yuv420p", items[3]})
                .exitCode,
            0);
  BatchForm form;
  form.patientName = "DOE^JANE";
  form.patientId = "PID-42";
  form.modalityText = "OT";
  UserMessage message;
  ASSERT_TRUE(PrepareBatch(form, nullptr, items.size(), SetupConfig{}, message)) << message;
  BatchLists lists;
  ASSERT_TRUE(ConvertItems(items, lists, message)) << message;
  // The objects as the converters made them, for C-STORE and for comparison.
  std::filesystem::create_directories(work / "made");
  std::vector<std::string> made;
  std::vector<std::string> written;
  for (DataSetList* kind : {&lists.images, &lists.documents, &lists.pdfs, &lists.videos}) {
    for (const auto& dataSet : *kind) {
      made.push_back((work / "made" / (dataSet->GetString(0x0008, 0x0018) + ".dcm")).string());
      ASSERT_TRUE(SaveObjectFile(*dataSet, made.back()));
    }
  }
  ASSERT_EQ(made.size(), 4u);

  TempDir webWork;
  OrthancPacs web(webWork, WithDicomWeb());
  TempDir dicomWork;
  OrthancPacs dicom(dicomWork);
  ASSERT_TRUE(web.Running() && dicom.Running());

  std::vector<std::pair<size_t, size_t>> places;
  std::vector<StoreOutcome> outcomes;
  EXPECT_TRUE(SendListsWeb(
      lists, WebServer(web),
      [&](const DcmObj&, size_t index, size_t total, bool stored) {
        EXPECT_TRUE(stored);
        places.emplace_back(index, total);
      },
      &outcomes));
  EXPECT_EQ(places, (std::vector<std::pair<size_t, size_t>>{{0, 4}, {1, 4}, {2, 4}, {3, 4}}));
  ASSERT_EQ(outcomes.size(), 4u);
  for (const StoreOutcome& outcome : outcomes) EXPECT_EQ(outcome.result, StoreResult::Stored);
  EXPECT_TRUE(lists.images.empty() && lists.documents.empty() && lists.pdfs.empty() &&
              lists.videos.empty());
  std::vector<std::string> errors;
  ASSERT_TRUE(StoreFiles(made, DicomNode(dicom), 60, errors)) << errors.front();

  const auto byWeb = StoredDataSets(web, work);
  const auto byDicom = StoredDataSets(dicom, work);
  ASSERT_EQ(byWeb.size(), 4u);
  ASSERT_EQ(byDicom.size(), 4u);
  for (const std::string& path : made) {
    DicomFile file;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(path, file, error)) << error;
    const std::string uid = file.dataSet.GetString(0x0008, 0x0018);
    SCOPED_TRACE(uid + " " + file.dataSet.GetString(0x0008, 0x0016));
    const std::string original = testsupport::ReadFile(path).substr(file.dataSetOffset);
    ASSERT_EQ(byWeb.count(uid), 1u);
    EXPECT_TRUE(byWeb.at(uid) == original) << "stored by STOW-RS differs from the object made";
    EXPECT_TRUE(byWeb.at(uid) == byDicom.at(uid)) << "STOW-RS and C-STORE stored different bytes";
  }
}

// Objects of four studies, stored over DICOM.
void StoreStudies(const OrthancPacs& orthanc, const TempDir& work) {
  const struct {
    const char* name;
    const char* id;
    const char* date;
    const char* modality;
    const char* description;
  } studies[] = {
      {"DOE^JANE", "PID1", "20240301", "CT", "CHEST CT"},
      {"DOE^JOHN", "PID2", "20240302", "MR", "KNEE"},
      {"ROE^RICK", "PID3", "20240310", "CT", "HEAD"},
      {"Smith^Anna", "PID4", "20240401", "US", "chest wall"},
  };
  std::vector<std::string> paths;
  int number = 0;
  for (const auto& study : studies) {
    const std::string n = std::to_string(++number);
    DcmObj dataSet;
    dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
    dataSet.AddString(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
    dataSet.AddString(0x0008, 0x0018, "1.2.826.0.1.3680043.10.80" + n + ".1");
    dataSet.AddString(0x0008, 0x0020, study.date);
    dataSet.AddString(0x0008, 0x0030, "101500");
    dataSet.AddString(0x0008, 0x0050, "ACC" + n);
    dataSet.AddString(0x0008, 0x0060, study.modality);
    dataSet.AddString(0x0008, 0x0080, "Brindlewick");
    dataSet.AddString(0x0008, 0x0090, "WHO^DOCTOR");
    dataSet.AddString(0x0008, 0x1030, study.description);
    dataSet.AddString(0x0010, 0x0010, study.name);
    dataSet.AddString(0x0010, 0x0020, study.id);
    dataSet.AddString(0x0010, 0x0030, "19800512");
    dataSet.AddString(0x0010, 0x0040, "F");
    dataSet.AddString(0x0020, 0x000D, "1.2.826.0.1.3680043.10.80" + n);
    dataSet.AddString(0x0020, 0x000E, "1.2.826.0.1.3680043.10.80" + n + ".0");
    paths.push_back((work / ("study" + n + ".dcm")).string());
    ASSERT_TRUE(dataSet.SaveToFile(paths.back(), "1.2.840.10008.5.1.4.1.1.7",
                                   "1.2.826.0.1.3680043.10.80" + n + ".1"));
  }
  std::vector<std::string> errors;
  ASSERT_TRUE(StoreFiles(paths, DicomNode(orthanc), 60, errors));
}

using Row = std::tuple<std::string, std::string, std::string, std::string, std::string, std::string,
                       std::string, std::string, std::string, std::string, std::string, std::string,
                       std::string, std::string>;

std::vector<Row> Rows(const std::vector<StudyInfo>& results) {
  std::vector<Row> rows;
  for (const StudyInfo& s : results) {
    rows.emplace_back(s.studyInstanceUid, s.studyDate, s.studyTime, s.studyId, s.studyDescription,
                      s.accessionNumber, s.institutionName, s.referringPhysicianName, s.modality,
                      s.patientId, s.patientName, s.patientBirthDate, s.patientSex,
                      s.patientComments);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST(PacsWeb, SearchByQidoShowsTheRowsCFindShows) {
  ASSERT_TRUE(OrthancPacs::DicomWebAvailable())
      << "Orthanc or its DICOMweb plugin missing (scripts/setup.sh installs them)";
  TempDir work;
  OrthancPacs orthanc(work, WithDicomWeb());
  ASSERT_TRUE(orthanc.Running()) << testsupport::ReadFile(work / "orthanc.log");
  StoreStudies(orthanc, work);

  auto form = [](const char* name, const char* id, const char* accession, const char* description,
                 const char* from, const char* to, const char* modality) {
    SearchForm search;
    search.patientName = name;
    search.patientId = id;
    search.accessionNumber = accession;
    search.studyDescription = description;
    search.fromDate = from;
    search.toDate = to;
    search.modality = modality;
    return search;
  };
  const struct {
    const char* name;
    SearchForm form;
    size_t matches;
  } rows[] = {
      {"a name typed in lower case", form("doe", "", "", "", "20240101", "20241231", ""), 2},
      {"a patient ID", form("", "PID3", "", "", "20240101", "20241231", ""), 1},
      {"an accession number", form("", "", "ACC2", "", "20240101", "20241231", ""), 1},
      // (Orthanc's C-FIND matches other texts than names with regard to case, its QIDO-RS as set
      // up here without: a description the same in any case is what both find alike.)
      {"a description", form("", "", "", "wall", "20240101", "20241231", ""), 1},
      {"a date range", form("", "", "", "", "20240301", "20240309", ""), 2},
      {"a modality", form("", "", "", "", "20240101", "20241231", "CT"), 2},
      {"everything", form("", "", "", "", "19000101", "20991231", ""), 4},
      {"nothing", form("NOBODY", "", "", "", "20240101", "20241231", ""), 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<StudyInfo> byFind;
    std::vector<StudyInfo> byQido;
    ASSERT_EQ(SearchPACS(DicomNode(orthanc), row.form, byFind), SearchOutcome::Completed);
    ASSERT_EQ(SearchPACSWeb(WebServer(orthanc), row.form, byQido), SearchOutcome::Completed);
    EXPECT_EQ(byFind.size(), row.matches);
    EXPECT_EQ(Rows(byQido), Rows(byFind));
  }

  // A server that cannot be reached: no rows, and the log says why before it says so.
  testsupport::TempDir logFolder;
  SetLogTarget((logFolder / "test.log").string(), "", "");
  DicomWebServer silent;
  silent.baseUrl = "http://127.0.0.1:" + std::to_string(testsupport::FreePort()) + "/dicom-web";
  std::vector<StudyInfo> none = {StudyInfo{}};
  EXPECT_EQ(SearchPACSWeb(silent, rows[0].form, none), SearchOutcome::NotConnected);
  EXPECT_TRUE(none.empty());
  ReleaseLogTarget();
  const std::string log = testsupport::ReadFile(logFolder / "test.log");
  const size_t cause = log.find("ERROR, QidoRS, Cannot connect to the DICOMweb server at ");
  const size_t summary = log.find("ERROR, couldn't connect to " + silent.baseUrl);
  EXPECT_NE(cause, std::string::npos) << log;
  EXPECT_NE(summary, std::string::npos) << log;
  EXPECT_LT(cause, summary);
}

// Settings that choose DICOMweb but cannot be used stop Send and Search PACS before anything is
// converted or sent, and the reason reaches the user (the send message) or the log.
TEST(PacsWeb, UnusableDicomwebSettingsFailWithTheirReason) {
  SetupConfig settings;
  settings.remoteProtocol = "dicomweb";
  settings.webURL = "ftp://pacs.example/dw";
  UserMessage message;
  EXPECT_FALSE(SendPreparedBatchToPacs({"/no/such/file.pdf"}, settings, message));
  EXPECT_NE(message.English().find("ftp://pacs.example/dw"), std::string::npos) << message;
  EXPECT_NE(message.English().find(kSendFailedMessage.English()), std::string::npos) << message;
  std::vector<StudyInfo> rows(1);
  EXPECT_EQ(SearchPACSBySettings(settings, SearchForm{}, rows), SearchOutcome::NotConnected);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(PacsName(settings), "ftp://pacs.example/dw");
  settings.remoteProtocol = "DICOM";
  EXPECT_EQ(PacsName(settings), settings.remoteAET);
}

}  // namespace
