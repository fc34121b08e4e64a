// Tests of velloran-cli save: every kind of object it writes is read by DCMTK, pydicom and
// dicom3tools; the window's messages and exit statuses on failure.
#include <gtest/gtest.h>

#include <algorithm>
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

// The "Error" lines dciodvfy prints for each kind of object the test saves, exactly: missing
// modules of the chosen IODs and values the fixed element lists give (single-valued Image Type,
// the colour photometric under CT, the video under the batch's modality, the empty Series Number
// of PDF objects, the report's coding scheme version read as a UID and its completion flag). No
// text lies outside the character set its object declares (the en dash of the description makes
// every object UTF-8). Any other line, or one missing (a dropped element shows as a new "Missing
// attribute"), is a change to look at.
std::vector<std::string> ExpectedFindings(const std::string& sopClass) {
  std::vector<std::string> lines;
  auto missing = [](const char* type, const char* element, const char* module) {
    return std::string("Error - Missing attribute Type ") + type + " " +
           (type[1] == 'C' ? "Conditional" : "Required") + " Element=<" + element + "> Module=<" +
           module + ">";
  };
  auto singleImageType = [&](const char* module, std::vector<std::string>& out) {
    out.push_back(
        "Error - Bad attribute Value Multiplicity 1 (2-n Required by Dictionary) "
        "Element=<ImageType> Module=<" +
        std::string(module) + ">");
  };
  const std::string generalImageType =
      "Error - Bad attribute Value Multiplicity Type 3 Optional Element=<ImageType> "
      "Module=<GeneralImage>";
  if (sopClass == "1.2.840.10008.5.1.4.1.1.104.1") {  // PDF
    lines.insert(lines.end(),
                 {"Error - Empty attribute (no value) Type 1 Required Element=<SeriesNumber> "
                  "Module=<EncapsulatedDocumentSeries>",
                  missing("2", "Manufacturer", "GeneralEquipment"),
                  missing("2", "ContentDate", "EncapsulatedDocument"),
                  missing("2", "AcquisitionDateTime", "EncapsulatedDocument"),
                  missing("1", "BurnedInAnnotation", "EncapsulatedDocument"),
                  missing("2", "ConceptNameCodeSequence", "EncapsulatedDocument")});
  } else if (sopClass == "1.2.840.10008.5.1.4.1.1.2") {  // CT image
    lines.insert(
        lines.end(),
        {missing("2C", "Laterality", "GeneralSeries"),
         missing("2C", "PatientPosition", "GeneralSeries"),
         missing("1", "FrameOfReferenceUID", "FrameOfReference"),
         missing("2", "PositionReferenceIndicator", "FrameOfReference"),
         missing("2", "Manufacturer", "GeneralEquipment"),
         generalImageType,
         missing("1", "PixelSpacing", "ImagePlane"),
         missing("1", "ImageOrientationPatient", "ImagePlane"),
         missing("1", "ImagePositionPatient", "ImagePlane"),
         missing("2", "SliceThickness", "ImagePlane"),
         "Error - Bad attribute Value Multiplicity Type 1 Required Element=<ImageType> "
         "Module=<CTImage>",
         "Error - A value is required for value 3 in CT Images - attribute <ImageType>",
         "Error - Unrecognized enumerated value <0x3> for value 1 of attribute <Samples per Pixel>",
         "Error - Unrecognized enumerated value <YBR_FULL_422> for value 1 of attribute "
         "<Photometric Interpretation>",
         "Error - Unrecognized enumerated value <0x8> for value 1 of attribute <Bits Allocated>",
         "Error - Unrecognized enumerated value <0x8> for value 1 of attribute <Bits Stored>",
         "Error - Unrecognized enumerated value <0x7> for value 1 of attribute <High Bit>",
         missing("1", "RescaleIntercept", "CTImage"),
         missing("1", "RescaleSlope", "CTImage"),
         missing("2", "KVP", "CTImage"),
         missing("2", "AcquisitionNumber", "CTImage")});
    singleImageType("GeneralImage", lines);
    singleImageType("CTImage", lines);
  } else if (sopClass == "1.2.840.10008.5.1.4.1.1.77.1.1.1") {  // video
    lines.insert(lines.end(),
                 {missing("2C", "Laterality", "GeneralSeries"),
                  "Error - Unrecognized enumerated value <CT> for value 1 of attribute <Modality>",
                  missing("2", "Manufacturer", "GeneralEquipment"),
                  missing("2C", "PatientOrientation", "GeneralImage"), generalImageType,
                  missing("1", "NumberOfFrames", "MultiFrame"),
                  missing("1C", "FrameIncrementPointer", "MultiFrame"),
                  missing("2", "AcquisitionContextSequence", "AcquisitionContext"),
                  "Error - Bad attribute Value Multiplicity Type 1 Required Element=<ImageType> "
                  "Module=<VLImage>",
                  missing("2", "LossyImageCompression", "VLImage")});
    singleImageType("GeneralImage", lines);
    singleImageType("VLImage", lines);
  } else if (sopClass == "1.2.840.10008.5.1.4.1.1.88.11") {  // text report
    const std::string root =
        "Error - Illegal root for UID - \"9999.5\" in (0x0008,0x010c) Coding Scheme UID";
    lines.insert(lines.end(),
                 {root, root, root, missing("2", "ReferringPhysicianName", "GeneralStudy"),
                  missing("2", "ReferencedPerformedProcedureStepSequence", "SRDocumentSeries"),
                  "Error - Unrecognized enumerated value <COMPLETED> for value 1 of attribute "
                  "<Completion Flag>",
                  "Error - Only permitted to be VERIFIED if CompletionFlag is COMPLETE - "
                  "attribute <VerificationFlag>",
                  missing("1C", "VerifyingObserverSequence", "SRDocumentGeneral"),
                  missing("2", "PerformedProcedureCodeSequence", "SRDocumentGeneral")});
  } else {
    lines.push_back("unexpected SOP class " + sopClass);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST_F(VerbSaveTest, EveryKindIsReadByDcmtkPydicomAndDicom3tools) {
  for (const char* tool : {"dcmdump", "ffmpeg", "dciodvfy", "/usr/bin/python3"}) {
    ASSERT_TRUE(testsupport::HaveProgram(tool))
        << tool << " missing (scripts/setup.sh installs it)";
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

  std::vector<std::string> classes;
  for (const std::string& path : written) {
    SCOPED_TRACE(path);
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::path(path).parent_path(), fs::path(out));
    const auto dump = testsupport::RunCommand({"dcmdump", "-q", path});
    EXPECT_EQ(dump.exitCode, 0) << dump.errors;
    EXPECT_EQ(dump.errors, "");
    const auto read = testsupport::RunCommand(
        {"/usr/bin/python3", "-c",
         "import sys, pydicom\n"
         "d = pydicom.dcmread(sys.argv[1])\n"
         "assert d.SOPInstanceUID == d.file_meta.MediaStorageSOPInstanceUID\n"
         "assert sys.argv[1].endswith(d.SOPInstanceUID + '.dcm')\n"
         "assert len(d.SOPInstanceUID) <= 64 and len(d.SeriesInstanceUID) <= 64\n"
         "print(d.SOPClassUID, d.PatientName.family_name.encode('latin-1').hex(),"
         " d.PatientID, d.PatientSex, d.StudyInstanceUID)\n",
         path});
    ASSERT_EQ(read.exitCode, 0) << read.errors;
    // The name reached the file in the set it declares: Æ and ø survive.
    EXPECT_NE(read.output.find(" c672f8 P-1 F "), std::string::npos) << read.output;
    const std::string sopClass = read.output.substr(0, read.output.find(' '));
    classes.push_back(sopClass);

    const auto verify = testsupport::RunCommand({"dciodvfy", path});
    std::vector<std::string> findings;
    for (const std::string& line : Lines(verify.output + verify.errors)) {
      if (line.rfind("Error", 0) == 0) findings.push_back(line);
    }
    std::sort(findings.begin(), findings.end());
    EXPECT_EQ(findings, ExpectedFindings(sopClass));
  }
  std::sort(classes.begin(), classes.end());
  EXPECT_EQ(classes, (std::vector<std::string>{
                         "1.2.840.10008.5.1.4.1.1.104.1", "1.2.840.10008.5.1.4.1.1.2",
                         "1.2.840.10008.5.1.4.1.1.2", "1.2.840.10008.5.1.4.1.1.77.1.1.1",
                         "1.2.840.10008.5.1.4.1.1.88.11"}));
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
       "P1", "--study-uid", "1.2.826.0.1.3680043.2.1", "--accession", "A1", "--referring",
       "Doe^Jane", Write("a.png", testpictures::MakePng(8, 8, testpictures::PngKind::Rgb))});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  const auto dump =
      testsupport::RunCommand({"dcmdump", "+P", "0008,0080", "+P", "0020,000d", "+P", "0008,0050",
                               "+P", "0008,0090", Lines(result.output).at(0)});
  EXPECT_NE(dump.output.find("[Harbour Clinic]"), std::string::npos) << dump.output;
  // The study UID and the referring physician given on the command line are kept.
  EXPECT_NE(dump.output.find("[1.2.826.0.1.3680043.2.1]"), std::string::npos) << dump.output;
  EXPECT_NE(dump.output.find("[Doe^Jane]"), std::string::npos) << dump.output;
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
