// Store and search against Orthanc with its DICOMweb plugin, started here on loopback: objects
// from files arrive as they are and are found page by page, a login is required and checked, and
// https is verified against the CA that signed the server's certificate.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dicomfile.h"
#include "orthanc.h"
#include "qidors.h"
#include "scripted_server.h"
#include "stowrs.h"
#include "syntaxes.h"
#include "testsupport.h"
#include "tls_certificates.h"

namespace {

using testsupport::OrthancPacs;
using testsupport::TempDir;

// A small image of its own study, saved as a Part 10 file.
std::string SaveStudyObject(const TempDir& work, int number, const std::string& patientName) {
  DcmObj dataSet;
  dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  const std::string n = std::to_string(number);
  dataSet.AddString(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
  dataSet.AddString(0x0008, 0x0018, "1.2.826.0.1.3680043.10.7" + n + ".1");
  dataSet.AddString(0x0008, 0x0020, "20240301");
  dataSet.AddString(0x0008, 0x0050, "ACC" + n);
  dataSet.AddString(0x0008, 0x0060, "OT");
  dataSet.AddString(0x0010, 0x0010, patientName);
  dataSet.AddString(0x0010, 0x0020, "PID" + n);
  dataSet.AddString(0x0020, 0x000D, "1.2.826.0.1.3680043.10.7" + n);
  dataSet.AddString(0x0020, 0x000E, "1.2.826.0.1.3680043.10.7" + n + ".0");
  dataSet.AddString(0x0028, 0x0004, "MONOCHROME2");
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0002, 1));
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0010, 4));
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0011, 4));
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0100, 8));
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0101, 8));
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0102, 7));
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0103, 0));
  const std::string pixels(16, static_cast<char>(number));
  dataSet.Add(DcmTag::FromBytes(0x7FE0, 0x0010, 16, pixels.data(), "OB"));
  const std::string path = (work / ("object" + n + ".dcm")).string();
  EXPECT_TRUE(
      dataSet.SaveToFile(path, "1.2.840.10008.5.1.4.1.1.7", "1.2.826.0.1.3680043.10.7" + n + ".1"));
  return path;
}

DicomWebServer Server(const OrthancPacs& orthanc) {
  DicomWebServer server;
  server.baseUrl = orthanc.WebUrl();
  server.timeoutSeconds = 30;
  return server;
}

std::vector<StoreResult> Results(const std::vector<StoreOutcome>& outcomes) {
  std::vector<StoreResult> results;
  for (const StoreOutcome& outcome : outcomes) results.push_back(outcome.result);
  return results;
}

TEST(DicomWebOrthanc, FilesArriveAsTheyAreAndAreFoundPageByPage) {
  ASSERT_TRUE(OrthancPacs::DicomWebAvailable())
      << "Orthanc or its DICOMweb plugin missing (scripts/setup.sh installs them)";
  TempDir work;
  OrthancPacs::Options options;
  options.dicomWeb = true;
  OrthancPacs orthanc(work, options);
  ASSERT_TRUE(orthanc.Running()) << testsupport::ReadFile(work / "orthanc.log");

  std::vector<StowItem> items;
  for (int number = 1; number <= 5; ++number) {
    items.push_back({SaveStudyObject(work, number, number <= 3 ? "DOE^JANE" : "ROE^RICK")});
  }
  // An unreadable file fails alone; the others go in requests of two.
  items.insert(items.begin() + 2, StowItem{(work / "missing.dcm").string()});
  HttpSession session(Server(orthanc));
  const std::vector<StoreOutcome> outcomes = StowRS(session, items, {64u << 20, 2});
  EXPECT_EQ(Results(outcomes), (std::vector<StoreResult>{
                                   StoreResult::Stored, StoreResult::Stored, StoreResult::Failed,
                                   StoreResult::Stored, StoreResult::Stored, StoreResult::Stored}));
  EXPECT_NE(outcomes[2].cause.find("missing.dcm"), std::string::npos) << outcomes[2].cause;

  // What Orthanc keeps is the file's data set, element for element.
  const std::string stored = orthanc.Get("/instances");
  EXPECT_EQ(std::count(stored.begin(), stored.end(), ','), 4) << stored;

  // Paged two rows at a time, the search finds all five studies, and matches names as C-FIND
  // does.
  StudyInfo everything;
  everything.studyDate = "20240301-20240301";
  std::vector<StudyInfo> rows;
  QidoResult result = QidoStudies(session, everything, rows, 2);
  EXPECT_TRUE(result.complete) << result.problem;
  EXPECT_EQ(result.pagesRead, 3u);
  std::vector<std::string> ids;
  for (const StudyInfo& row : rows) ids.push_back(row.patientId);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::string>{"PID1", "PID2", "PID3", "PID4", "PID5"}));
  StudyInfo roe;
  roe.patientName = "roe*";  // names match regardless of case, as in C-FIND
  roe.studyDate = "20240101-20241231";
  rows.clear();
  result = QidoStudies(session, roe, rows);
  EXPECT_TRUE(result.complete) << result.problem;
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].patientName, "ROE^RICK");
  EXPECT_EQ(rows[0].accessionNumber.rfind("ACC", 0), 0u);
  EXPECT_EQ(rows[0].studyDate, "20240301");
}

TEST(DicomWebOrthanc, ALoginIsCheckedAndAWrongPasswordIsSaidSo) {
  ASSERT_TRUE(OrthancPacs::DicomWebAvailable())
      << "Orthanc or its DICOMweb plugin missing (scripts/setup.sh installs them)";
  TempDir work;
  OrthancPacs::Options options;
  options.dicomWeb = true;
  options.user = "clinic";
  options.password = "right-password";
  OrthancPacs orthanc(work, options);
  ASSERT_TRUE(orthanc.Running()) << testsupport::ReadFile(work / "orthanc.log");
  const std::vector<StowItem> items = {{SaveStudyObject(work, 1, "DOE^JANE")}};

  DicomWebServer server = Server(orthanc);
  std::string message;
  EXPECT_FALSE(TestDicomWeb(server, message));
  EXPECT_EQ(message,
            "The DICOMweb server asks for a login (HTTP 401); set a user and password, or a token");
  server.auth = WebAuth::Basic;
  server.user = "clinic";
  server.password = "wrong-password";
  // Orthanc speaks http only here: the password may travel unencrypted on loopback.
  server.allowPlainLogin = true;
  EXPECT_FALSE(TestDicomWeb(server, message));
  EXPECT_EQ(message, "The DICOMweb server refused the login (HTTP 401)");
  {
    HttpSession session(server);
    const std::vector<StoreOutcome> refused = StowRS(session, items);
    EXPECT_EQ(refused[0].result, StoreResult::Failed);
    EXPECT_EQ(refused[0].cause.rfind("The DICOMweb server refused the login (HTTP 401)", 0), 0u)
        << refused[0].cause;
  }
  server.password = "right-password";
  EXPECT_TRUE(TestDicomWeb(server, message)) << message;
  EXPECT_EQ(message, orthanc.WebUrl() + " is up and running! (HTTP 200)\nWarning: the DICOMweb " +
                         "password for " + orthanc.WebUrl() +
                         " travels unencrypted (http://): anyone on the network can read it.");
  HttpSession session(server);
  EXPECT_EQ(StowRS(session, items)[0].result, StoreResult::Stored);
}

class DicomWebHttps : public TlsCertificates {};

// Orthanc behind a TLS relay with a certificate for 127.0.0.1 signed by a test CA: trusted with
// that CA's file or with the check switched off, refused otherwise, and nothing is stored then.
TEST_F(DicomWebHttps, TheServerIsTrustedOnlyWhenItsCaIsGiven) {
  ASSERT_TRUE(OrthancPacs::DicomWebAvailable())
      << "Orthanc or its DICOMweb plugin missing (scripts/setup.sh installs them)";
  TempDir work;
  OrthancPacs::Options options;
  options.dicomWeb = true;
  OrthancPacs orthanc(work, options);
  ASSERT_TRUE(orthanc.Running()) << testsupport::ReadFile(work / "orthanc.log");
  const std::string relayScript = R"({"answers": [{"forward": "http://127.0.0.1:)" +
                                  std::to_string(orthanc.HttpPort()) + R"("}]})";
  ScriptedWebServer relay(relayScript, File("server.pem"), File("server.key"));
  ASSERT_TRUE(relay.Running());
  const std::string url = relay.Url();
  ASSERT_EQ(url.rfind("https://", 0), 0u);

  const struct {
    const char* name;
    std::string caFile;
    bool verify;
    bool trusted;
    std::string message;  // the start of the message
  } rows[] = {
      {"its own CA", File("ca.pem"), true, true, url + " is up and running! (HTTP 200"},
      {"another CA", File("otherca.pem"), true, false,
       "The DICOMweb server's certificate is not trusted: "},
      {"the system's CAs", "", true, false, "The DICOMweb server's certificate is not trusted: "},
      {"a CA file that is not there", (work / "none.pem").string(), true, false,
       "The CA file " + (work / "none.pem").string() + " cannot be read"},
      {"no verification", "", false, true, url + " is up and running! (HTTP 200"},
  };
  int number = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    DicomWebServer server;
    server.baseUrl = url;
    server.caFile = row.caFile;
    server.verifyCertificate = row.verify;
    std::string message;
    EXPECT_EQ(TestDicomWeb(server, message), row.trusted);
    EXPECT_EQ(message.rfind(row.message, 0), 0u) << message;
    HttpSession session(server);
    const std::vector<StoreOutcome> outcomes =
        StowRS(session, {{SaveStudyObject(work, ++number, "DOE^JANE")}});
    EXPECT_EQ(outcomes[0].IsStored(), row.trusted) << outcomes[0].cause;
    EXPECT_EQ(outcomes[0].cause.rfind(row.trusted ? "" : row.message, 0), 0u) << outcomes[0].cause;
  }
  // Two objects stored over https, none over the refused connections.
  const std::string stored = orthanc.Get("/instances");
  EXPECT_EQ(std::count(stored.begin(), stored.end(), ','), 1) << stored;

  // http:// to the https port gets no answer it could take for one.
  DicomWebServer plain;
  plain.baseUrl = "http" + url.substr(5);
  std::string message;
  EXPECT_FALSE(TestDicomWeb(plain, message));
  EXPECT_FALSE(message.empty());
}

TEST(DicomWebOrthanc, TheTestSaysWhatAnsweredOrWhyNothingDid) {
  ASSERT_TRUE(OrthancPacs::DicomWebAvailable())
      << "Orthanc or its DICOMweb plugin missing (scripts/setup.sh installs them)";
  TempDir work;
  OrthancPacs::Options options;
  options.dicomWeb = true;
  OrthancPacs orthanc(work, options);
  ASSERT_TRUE(orthanc.Running()) << testsupport::ReadFile(work / "orthanc.log");
  const std::string silentPort = std::to_string(testsupport::FreePort());
  const struct {
    std::string url;
    bool up;
    std::string message;
  } rows[] = {
      {orthanc.WebUrl(), true, orthanc.WebUrl() + " is up and running! (HTTP 200)"},
      {orthanc.WebUrl() + "/", true, orthanc.WebUrl() + "/ is up and running! (HTTP 200)"},
      {"http://127.0.0.1:" + std::to_string(orthanc.HttpPort()) + "/no-such-root", false,
       "The DICOMweb server has nothing at http://127.0.0.1:" + std::to_string(orthanc.HttpPort()) +
           "/no-such-root/studies (HTTP 404); check the base URL"},
      {"http://127.0.0.1:" + silentPort + "/dicom-web", false,
       "Cannot connect to the DICOMweb server at http://127.0.0.1:" + silentPort + "/dicom-web: "},
      {"127.0.0.1/dicom-web", false,
       "The DICOMweb address \"127.0.0.1/dicom-web\" must start with https:// or http://"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url);
    DicomWebServer server = Server(orthanc);
    server.baseUrl = row.url;
    std::string message;
    EXPECT_EQ(TestDicomWeb(server, message), row.up);
    EXPECT_EQ(message.rfind(row.message, 0), 0u) << message;
  }
}

}  // namespace
