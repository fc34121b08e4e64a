// Tests of velloran-cli save: every kind of object it writes is read by DCMTK, pydicom and
// dicom3tools; the window's messages and exit statuses on failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "testpictures.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;

class VerbSaveTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    testsupport::WriteFile(dir_ / name, bytes);
    return (dir_ / name).string();
  }

  testsupport::CommandResult Save(std::vector<std::string> arguments) {
    std::vector<std::string> argv = {VELLORAN_CLI, "save", "--ini", (dir_ / "none.ini").string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return testsupport::RunCommand(argv);
  }

  std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  testsupport::TempDir dir_;
};

// dciodvfy findings that the fixed element lists of the objects cause (missing modules of the
// chosen IODs, single-valued Image Type, the colour photometric under CT, the video under the
// batch's modality, the empty Series Number), the 8-bit texts that image and video objects carry
// without a Specific Character Set (and Windows-1252 characters such as the en dash beyond the
// declared ISO_IR 100 of PDF objects), and the meta header's version name. Anything else is a
// fault of ours.
const char* const kExpectedFindings[] = {
    "Implementation Version Name",
    "Dicom dataset contains invalid data values",
    "Missing attribute",
    "Empty attribute (no value) Type 1 Required Element=<SeriesNumber>",
    "Bad attribute Value Multiplicity",
    "A value is required for value 3 in CT Images",
    "Unrecognized enumerated value",
    "Character invalid for character repertoire",
};

// Findings that only the text report's fixed content causes: the coding scheme version "9999.5"
// in the element the code items use for it, which dciodvfy reads as a Coding Scheme UID, and the
// completion flag "COMPLETED" beside "VERIFIED".
const char* const kExpectedReportFindings[] = {
    "Illegal root for UID - \"9999.5\"",
    "Only permitted to be VERIFIED if CompletionFlag is COMPLETE",
};

TEST_F(VerbSaveTest, EveryKindIsReadByDcmtkPydicomAndDicom3tools) {
  if (!testsupport::HaveProgram("dcmdump") || !testsupport::HaveProgram("ffmpeg")) {
    GTEST_SKIP() << "dcmdump or ffmpeg missing";
  }
  const std::string video = (dir_ / "clip.mp4").string();
  ASSERT_EQ(
      testsupport::RunCommand({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                               "testsrc=size=160x120:rate=5", "-t", "1", "-c:v", "libx264",
                               "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-y", video})
          .exitCode,
      0);
  const std::string out = (dir_ / "out").string();
  const auto result = Save({"--out",
                            out,
                            "--patient-name",
                            "Ærø^Zoë",
                            "--patient-id",
                            "P-1",
                            "--sex",
                            "F",
                            "--birth-date",
                            "19700203",
                            "--modality",
                            "CT",
                            "--study-description",
                            "Knee – left",
                            "--referring",
                            "Doe^Jane",
                            Write("photo.jpg", testpictures::MakeJpeg(40, 30, false)),
                            Write("scan.bmp", testpictures::MakeBmp(41, 30, 8, false)),
                            Write("report.pdf", "%PDF-1.4\n%%EOF\n"),
                            video,
                            Write("letter.txt", "Dear colleague,\r\nall is well.\r\n"),
                            Write("ignored.xyz", "not converted")});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_NE(result.errors.find("ignored.xyz"), std::string::npos);
  const std::vector<std::string> written = Lines(result.output);
  ASSERT_EQ(written.size(), 5u) << result.output;

  const bool havePydicom = testsupport::HaveProgram("/usr/bin/python3");
  const bool haveDciodvfy = testsupport::HaveProgram("dciodvfy");
  for (const std::string& path : written) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(out));
    const auto dump = testsupport::RunCommand({"dcmdump", "-q", path});
    EXPECT_EQ(dump.exitCode, 0) << dump.errors;
    EXPECT_EQ(dump.errors, "");
    if (havePydicom) {
      const auto read = testsupport::RunCommand(
          {"/usr/bin/python3", "-c",
           "import sys, pydicom\n"
           "d = pydicom.dcmread(sys.argv[1])\n"
           "assert d.SOPInstanceUID == d.file_meta.MediaStorageSOPInstanceUID\n"
           "assert sys.argv[1].endswith(d.SOPInstanceUID + '.dcm')\n"
           "assert len(d.SOPInstanceUID) <= 64 and len(d.SeriesInstanceUID) <= 64\n"
           "print(d.SOPClassUID, d.PatientName.family_name.encode('latin-1').hex(),"
           " d.PatientSex, d.StudyInstanceUID)\n",
           path});
      EXPECT_EQ(read.exitCode, 0) << read.errors;
      // The name reached the file in Windows-1252: Æ ø (Latin-1 range) survive.
      EXPECT_NE(read.output.find("c672f8"), std::string::npos) << read.output;
    }
    if (haveDciodvfy) {
      const auto verify = testsupport::RunCommand({"dciodvfy", path});
      const std::string findings = verify.output + verify.errors;
      const bool report = findings.find("BasicTextSR") != std::string::npos;
      for (const std::string& line : Lines(findings)) {
        if (line.rfind("Error", 0) != 0) continue;
        bool expected = false;
        for (const char* known : kExpectedFindings) {
          expected = expected || line.find(known) != std::string::npos;
        }
        for (const char* known : kExpectedReportFindings) {
          expected = expected || (report && line.find(known) != std::string::npos);
        }
        EXPECT_TRUE(expected) << line;
      }
    }
  }
}

TEST_F(VerbSaveTest, FailuresShowTheWindowsMessagesAndWriteNothing) {
  const std::string out = (dir_ / "out").string();
  const std::string png = Write("ok.png", testpictures::MakePng(8, 8, testpictures::PngKind::Rgb));
  const std::string jpeg = testpictures::MakeJpeg(64, 64, false);
  const std::string cut = Write("cut.jpg", jpeg.substr(0, jpeg.size() / 3));
  const struct {
    std::vector<std::string> arguments;
    int exitCode;
    const char* message;
  } rows[] = {
      {{"--out", out, "--patient-id", "P1", png}, 1, "Patient Name can't be empty"},
      {{"--out", out, "--patient-name", "Roe", png}, 1, "Patient ID can't be empty"},
      {{"--out", out, "--patient-name", "Roe", "--patient-id", "P1", png, cut}, 1, "cut.jpg"},
      {{"--out", out, "--patient-name", "Roe", "--patient-id", "P1", png,
        (dir_ / "missing.pdf").string()},
       1,
       "missing.pdf"},
      {{"--out", out, "--patient-name", "Roe", "--patient-id", "P1", "--sex", "X", png},
       2,
       "--sex"},
      {{"--out", out, "--patient-name", "Roe", "--patient-id", "P1", "--study-uid", "1.2.abc", png},
       2,
       "--study-uid"},
      {{"--patient-name", "Roe", "--patient-id", "P1", png}, 2, "--out"},
  };
  for (const auto& row : rows) {
    const auto result = Save(row.arguments);
    EXPECT_EQ(result.exitCode, row.exitCode) << row.message << "\n" << result.errors;
    EXPECT_NE(result.errors.find(row.message), std::string::npos) << result.errors;
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out)) << row.message;
  }
}

TEST_F(VerbSaveTest, InstitutionComesFromTheSettingsFile) {
  const std::string ini = Write("site.ini", "[velloran]\nInstitutionName=Harbour Clinic\n");
  const std::string out = (dir_ / "out").string();
  const auto result = testsupport::RunCommand(
      {VELLORAN_CLI, "save", "--ini", ini, "--out", out, "--patient-name", "Roe", "--patient-id",
       "P1", "--study-uid", "1.2.826.0.1.3680043.2.1", "--accession", "A1",
       Write("a.png", testpictures::MakePng(8, 8, testpictures::PngKind::Rgb))});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  const auto dump = testsupport::RunCommand({"dcmdump", "+P", "0008,0080", "+P", "0020,000d", "+P",
                                             "0008,0050", Lines(result.output).at(0)});
  EXPECT_NE(dump.output.find("[Harbour Clinic]"), std::string::npos) << dump.output;
  EXPECT_NE(dump.output.find("[1.2.826.0.1.3680043.2.1]"), std::string::npos) << dump.output;
  EXPECT_NE(dump.output.find("[A1]"), std::string::npos) << dump.output;
}

TEST_F(VerbSaveTest, WithoutIniTheSettingsBesideTheProgramCount) {
  // A copy of the program in a folder of its own, so its velloran.ini is ours alone.
  const fs::path program = dir_ / "bin" / "velloran-cli";
  fs::create_directories(program.parent_path());
  fs::copy_file(VELLORAN_CLI, program);
  testsupport::WriteFile(program.parent_path() / "velloran.ini",
                         "[velloran]\nInstitutionName=Beside The Program\n");
  const std::string out = (dir_ / "out").string();
  const auto result = testsupport::RunCommand(
      {program.string(), "save", "--out", out, "--patient-name", "Roe", "--patient-id", "P1",
       Write("a.png", testpictures::MakePng(8, 8, testpictures::PngKind::Rgb))});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  const auto dump =
      testsupport::RunCommand({"dcmdump", "+P", "0008,0080", Lines(result.output).at(0)});
  EXPECT_NE(dump.output.find("[Beside The Program]"), std::string::npos) << dump.output;
}

}  // namespace
