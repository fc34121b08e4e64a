// The network verbs with a PACS reached by DICOMweb, run as a user would against Orthanc with its
// DICOMweb plugin and a login: echo, send of every kind, store of files, find beside C-FIND, the
// settings file's choice of DICOMweb, and what goes wrong said in plain words.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "clirun.h"
#include "orthanc.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

using clitest::Cli;
using clitest::kPdf;
using testsupport::CommandResult;
using testsupport::OrthancPacs;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WriteFile;

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<std::string> kPatient = {"--patient-name", "DOE^JANE", "--patient-id", "PID-42"};

// One Orthanc with DICOMweb and a login for every case of this file.
class DicomWebVerbs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    work_ = new TempDir;
    OrthancPacs::Options options;
    options.dicomWeb = true;
    options.user = "clinic";
    options.password = "right-password";
    orthanc_ = new OrthancPacs(*work_, options);
  }
  static void TearDownTestSuite() {
    delete orthanc_;
    delete work_;
  }
  void SetUp() override {
    ASSERT_TRUE(OrthancPacs::DicomWebAvailable() && testsupport::HaveProgram("ffmpeg"))
        << "Orthanc, its DICOMweb plugin or ffmpeg missing (scripts/setup.sh installs them)";
    ASSERT_TRUE(orthanc_->Running()) << testsupport::ReadFile(*work_ / "orthanc.log");
  }

  // The options of the DICOMweb PACS, with the right password unless told otherwise.
  std::vector<std::string> Web(const std::string& password = "right-password") const {
    // Orthanc speaks http only here: the password may travel unencrypted on loopback.
    return {"--dicomweb",
            orthanc_->WebUrl(),
            "--web-user",
            "clinic",
            "--web-password",
            password,
            "--web-plain-login",
            "--ini",
            (local_ / "none.ini").string(),
            "--log",
            (local_ / "velloran.log").string()};
  }
  std::string Log() const { return testsupport::ReadFile(local_ / "velloran.log"); }
  size_t StoredCount() const {
    const std::string ids = orthanc_->Get("/instances");
    return static_cast<size_t>(std::count(ids.begin(), ids.end(), '"')) / 2;
  }

  static TempDir* work_;
  static OrthancPacs* orthanc_;
  TempDir local_;
};

TempDir* DicomWebVerbs::work_ = nullptr;
OrthancPacs* DicomWebVerbs::orthanc_ = nullptr;

TEST_F(DicomWebVerbs, EchoNamesTheServerOrWhyItDidNotAnswer) {
  CommandResult result = Cli("echo", Web());
  EXPECT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_EQ(result.output, orthanc_->WebUrl() + " is up and running! (HTTP 200)\nWarning: the " +
                               "DICOMweb password for " + orthanc_->WebUrl() +
                               " travels unencrypted (http://): anyone on the network can read "
                               "it.\n");
  result = Cli("echo", Web("wrong-password"));
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.output, "ERROR, " + orthanc_->WebUrl() + " does not answer!\n");
  EXPECT_EQ(result.errors, "ERROR, QidoRS, The DICOMweb server refused the login (HTTP 401)\n");
}

TEST_F(DicomWebVerbs, SendStoresEveryKindAndAWrongPasswordIsSaidSo) {
  const std::vector<std::string> files = {
      (local_ / "photo.jpg").string(), (local_ / "letter.pdf").string(),
      (local_ / "note.txt").string(), (local_ / "clip.mp4").string()};
  WriteFile(files[0], testpictures::MakeJpeg(64, 48, false));
  WriteFile(files[1], kPdf);
  WriteFile(files[2], "Findings: none.\r\n");
  ASSERT_EQ(RunCommand({"ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc=size=64x48:rate=5", "-t", "1", "-pix_fmt", "yuv420p", files[3]})
                .exitCode,
            0);
  const size_t before = StoredCount();
  // Without the outbox: with it the objects would wait for the right password (and go with
  // the next send).
  CommandResult sent =
      Cli("send", Join(Join(kPatient, Web("wrong-password")), Join({"--direct"}, files)));
  EXPECT_EQ(sent.exitCode, 1);
  EXPECT_EQ(sent.output, "");
  // The sentence, its cause, the files not sent, then the log's first error.
  EXPECT_EQ(
      sent.errors.rfind("ERROR Sending Images, please check Log file\n"
                        "The DICOMweb server refused the login (HTTP 401)\n"
                        "4 of 4 items were not sent: photo.jpg, letter.pdf, note.txt, clip.mp4\n"
                        "ERROR, StowRS, The DICOMweb server refused the login (HTTP 401)\n",
                        0),
      0u)
      << sent.errors;
  EXPECT_EQ(StoredCount(), before);

  sent = Cli("send", Join(Join(kPatient, Web()), files));
  EXPECT_EQ(sent.exitCode, 0) << sent.errors;
  EXPECT_EQ(sent.output, "Images sent OK\n");
  EXPECT_EQ(StoredCount(), before + 4);
}

// Files already made are stored as they are; one that is not DICOM is named, the rest go.
TEST_F(DicomWebVerbs, StoreSendsFilesAndNamesThoseItCannot) {
  WriteFile(local_ / "letter.pdf", kPdf);
  const CommandResult saved = Cli(
      "save", Join(kPatient, {"--out", (local_ / "saved").string(), "--ini",
                              (local_ / "none.ini").string(), (local_ / "letter.pdf").string()}));
  ASSERT_EQ(saved.exitCode, 0) << saved.errors;
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(local_ / "saved")) {
    files.push_back(entry.path().string());
  }
  ASSERT_EQ(files.size(), 1u);
  WriteFile(local_ / "not-dicom.dcm", "hello");
  const size_t before = StoredCount();
  const CommandResult stored =
      Cli("store", Join(Web(), {(local_ / "not-dicom.dcm").string(), files[0]}));
  EXPECT_EQ(stored.exitCode, 1);
  EXPECT_NE(stored.errors.find("ERROR, " + (local_ / "not-dicom.dcm").string() + ": "),
            std::string::npos)
      << stored.errors;
  EXPECT_EQ(StoredCount(), before + 1);
}

// The settings file alone can choose DICOMweb, and with Debug on the log traces the requests
// without the password.
TEST_F(DicomWebVerbs, TheSettingsFileChoosesDicomWebAndKeepsThePasswordOutOfTheLog) {
  const std::string ini = (local_ / "velloran.ini").string();
  WriteFile(ini,
            "[velloran]\nDebug=1\nremoteProtocol=DICOMweb\nwebURL=" + orthanc_->WebUrl() +
                "\nwebAuth=basic\nwebUser=clinic\nwebPassword=right-password\nwebPlainLogin=1\n");
  WriteFile(local_ / "note.txt", "Findings: none.\r\n");
  const std::vector<std::string> options = {"--ini", ini, "--log",
                                            (local_ / "velloran.log").string()};
  const CommandResult sent =
      Cli("send", Join(Join(kPatient, options), {(local_ / "note.txt").string()}));
  EXPECT_EQ(sent.exitCode, 0) << sent.errors;
  const CommandResult found =
      Cli("find", Join(options, {"--pacs", "--name", "doe", "--from", "19000101"}));
  EXPECT_EQ(found.exitCode, 0) << found.errors;
  EXPECT_NE(found.output.find("DOE^JANE\tPID-42\t"), std::string::npos) << found.output;
  const std::string log = Log();
  EXPECT_NE(log.find("INFO, HttpSession, POST " + orthanc_->WebUrl() + "/studies"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Authorization: <hidden>"), std::string::npos);
  EXPECT_EQ(log.find("right-password"), std::string::npos);
  EXPECT_EQ(log.find("Y2xpbmljOnJpZ2h0LXBhc3N3b3Jk"), std::string::npos);  // clinic:right-password
}

// The same rows, printed the same way, whether the PACS is searched over DICOM or DICOMweb.
TEST_F(DicomWebVerbs, FindPrintsTheRowsCFindPrints) {
  WriteFile(local_ / "note.txt", "Findings: none.\r\n");
  ASSERT_EQ(
      Cli("send",
          Join(Join({"--patient-name", "ROE^RICK", "--patient-id", "PID-7", "--accession", "ACC-7"},
                    Web()),
               {(local_ / "note.txt").string()}))
          .exitCode,
      0);
  const std::vector<std::string> query = {"--pacs", "--name",   "ROE",
                                          "--from", "19000101", "--json"};
  const CommandResult web = Cli("find", Join(query, Web()));
  const CommandResult dicom = Cli(
      "find",
      Join(query, {"--pacs-aet", "ORTHANC", "--pacs-port", orthanc_->Port(), "--ini",
                   (local_ / "none.ini").string(), "--log", (local_ / "velloran.log").string()}));
  EXPECT_EQ(web.exitCode, 0) << web.errors;
  EXPECT_EQ(dicom.exitCode, 0) << dicom.errors;
  EXPECT_NE(web.output.find("\"accessionNumber\":\"ACC-7\""), std::string::npos) << web.output;
  EXPECT_EQ(web.output, dicom.output);
}

TEST_F(DicomWebVerbs, OptionsThatCannotWorkAreRefused) {
  const struct {
    std::vector<std::string> args;
    const char* problem;
  } rows[] = {
      {{"--dicomweb", "pacs.example/dicom-web"}, "must start with https:// or http://"},
      {{"--dicomweb", "https://pacs.example/dicom-web", "--web-auth", "digest"},
       "is none of none, basic and bearer"},
      {{"--dicomweb", "https://pacs.example/dicom-web", "--web-timeout", "soon"},
       "is not a number of seconds"},
      {{"--dicomweb", "https://pacs.example/dicom-web", "--tls"}, "for DICOMweb use --web-ca"},
  };
  for (const auto& row : rows) {
    const CommandResult result =
        Cli("echo", Join(row.args, {"--ini", (local_ / "none.ini").string()}));
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.errors.find(row.problem), std::string::npos) << result.errors;
  }
}

}  // namespace
