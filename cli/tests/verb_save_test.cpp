// Tests of velloran-cli save: every kind of object it writes is read by DCMTK and pydicom and
// valid for dicom3tools; the window's messages and exit statuses on failure.
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

// One object of every kind the converters make, in every SOP class they choose, each read by
// DCMTK and pydicom and valid for its IOD as dciodvfy checks it: not one "Error" line.
TEST_F(VerbSaveTest, EveryKindIsReadByDcmtkPydicomAndValidForDicom3tools) {
  for (const char* tool : {"dcmdump", "ffmpeg", "dciodvfy", "/usr/bin/python3"}) {
    ASSERT_TRUE(testsupport::HaveProgram(tool))
        << tool << " missing (scripts/setup.sh installs it)";
  }
  auto makeVideo = [&](const std::string& name, std::vector<std::string> encoder) {
    const std::string path = (dir_ / name).string();
    std::vector<std::string> command = {
        "ffmpeg",    "-nostdin", "-loglevel",    "error",
        "-f",        "lavfi",    "-i",           "testsrc=size=160x120:rate=5",
        "-frames:v", "5",        "-x265-params", "log-level=none"};
    command.insert(command.end(), encoder.begin(), encoder.end());
    command.insert(command.end(), {"-y", path});
    EXPECT_EQ(testsupport::RunCommand(command).exitCode, 0) << name;
    return path;
  };
  const std::string h264 =
      makeVideo("clip.mp4", {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
  const std::string hd42 =
      makeVideo("hd.mp4", {"-c:v", "libx264", "-preset", "veryfast", "-level:v", "4.2", "-s",
                           "1920x1080", "-pix_fmt", "yuv420p"});
  const std::string hevc10 =
      makeVideo("main10.mp4", {"-c:v", "libx265", "-pix_fmt", "yuv420p10le", "-tag:v", "hvc1"});
  testpictures::ExifFields exif;
  exif.orientation = 6;
  exif.dateTimeOriginal = "2023:07:14 16:05:09";
  exif.offsetTimeOriginal = "+02:00";
  exif.gps = true;
  const std::string phone =
      Write("phone.jpg", testpictures::WithIccProfile(
                             testpictures::WithExif(testpictures::MakeJpeg(48, 32, false), exif),
                             testpictures::MakeIccProfile("RGB ", 600)));
  const std::string photo = Write("photo.jpg", testpictures::MakeJpeg(40, 30, false));
  // A page as the scanner window saves it: the scanned bitmap encoded as a colour JPEG.
  const std::string page = Write("260102101500.jpg", testpictures::MakeJpeg(85, 110, false, 90));
  const std::string bitmap = Write("scan.bmp", testpictures::MakeBmp(41, 30, 8, false));
  const std::string pdf = Write("report.pdf", "%PDF-1.4\n%%EOF\n");
  const std::string text = Write("letter.txt", "Dear colleague,\r\nall is well.\r\n");

  struct Batch {
    const char* modality;
    std::vector<std::string> files;
    std::vector<std::string> extraArguments;
  };
  const Batch batches[] = {
      {"CT",
       {photo, phone, page, bitmap, pdf, h264, hd42, hevc10, text,
        Write("ignored.xyz", "not converted")},
       {}},
      {"US", {photo}, {}},
      {"ES", {photo}, {}},
      {"OT", {photo}, {"--keep-camera-jpegs"}},
  };
  std::vector<std::string> classes;
  std::vector<std::string> syntaxes;
  int batchNumber = 0;
  for (const Batch& batch : batches) {
    SCOPED_TRACE(batch.modality);
    const std::string out = (dir_ / ("out" + std::to_string(++batchNumber))).string();
    std::vector<std::string> arguments = {"--out",
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
                                          batch.modality,
                                          "--study-description",
                                          "Knee – left",
                                          "--referring",
                                          "Doe^Jane"};
    arguments.insert(arguments.end(), batch.extraArguments.begin(), batch.extraArguments.end());
    arguments.insert(arguments.end(), batch.files.begin(), batch.files.end());
    const auto result = Save(arguments);
    // A file of an unknown kind is named and fails the run; every other file is written.
    const bool withUnknown = batch.files.size() > 1;
    ASSERT_EQ(result.exitCode, withUnknown ? 1 : 0) << result.errors;
    const std::vector<std::string> written = Lines(result.output);
    ASSERT_EQ(written.size(), batch.files.size() - (withUnknown ? 1 : 0)) << result.output;
    if (withUnknown) {
      EXPECT_NE(result.errors.find("items were not written: ignored.xyz (unknown kind)"),
                std::string::npos)
          << result.errors;
    }

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
           " d.PatientID, d.PatientSex, d.StudyInstanceUID, d.file_meta.TransferSyntaxUID)\n",
           path});
      ASSERT_EQ(read.exitCode, 0) << read.errors;
      // The name reached the file in the set it declares: Æ and ø survive.
      EXPECT_NE(read.output.find(" c672f8 P-1 F "), std::string::npos) << read.output;
      const std::string sopClass = read.output.substr(0, read.output.find(' '));
      const std::string syntax = read.output.substr(read.output.rfind(' ') + 1);
      classes.push_back(sopClass);
      syntaxes.push_back(syntax.substr(0, syntax.find('\n')));

      std::string checked = path;
      if (syntaxes.back() == "1.2.840.10008.1.2.4.108") {
        // This dciodvfy predates the HEVC transfer syntaxes and cannot read such a file: the
        // data set is checked in a copy that only names H.264 in its meta information.
        checked = (dir_ / "hevc-as-h264.dcm").string();
        const auto copy =
            testsupport::RunCommand({"/usr/bin/python3", "-c",
                                     "import sys, pydicom\n"
                                     "d = pydicom.dcmread(sys.argv[1])\n"
                                     "d.file_meta.TransferSyntaxUID = '1.2.840.10008.1.2.4.102'\n"
                                     "d.save_as(sys.argv[2], write_like_original=True)\n",
                                     path, checked});
        ASSERT_EQ(copy.exitCode, 0) << copy.errors;
      }
      EXPECT_EQ(testsupport::DciodvfyErrors(checked), std::vector<std::string>{});
    }
  }
  std::sort(classes.begin(), classes.end());
  const std::string secondaryCapture = "1.2.840.10008.5.1.4.1.1.7";
  const std::string video = "1.2.840.10008.5.1.4.1.1.77.1.1.1";
  EXPECT_EQ(classes, (std::vector<std::string>{
                         "1.2.840.10008.5.1.4.1.1.104.1", "1.2.840.10008.5.1.4.1.1.6.1",
                         secondaryCapture, secondaryCapture, secondaryCapture, secondaryCapture,
                         secondaryCapture, "1.2.840.10008.5.1.4.1.1.77.1.1", video, video, video,
                         "1.2.840.10008.5.1.4.1.1.88.11"}));
  for (const char* syntax :
       {"1.2.840.10008.1.2.4.102", "1.2.840.10008.1.2.4.104", "1.2.840.10008.1.2.4.108"}) {
    EXPECT_EQ(std::count(syntaxes.begin(), syntaxes.end(), syntax), 1) << syntax;
  }
}

// A failed check writes nothing; a file that gives no object is named while the others are
// written; wrong arguments exit 2.
TEST_F(VerbSaveTest, FailuresShowTheWindowsMessagesAndWriteOnlyWhatWasMade) {
  const std::string out = (dir_ / "out").string();
  const std::string png = Write("ok.png", testpictures::MakePng(8, 8, testpictures::PngKind::Rgb));
  const std::string jpeg = testpictures::MakeJpeg(64, 64, false);
  const std::string cut = Write("cut.jpg", jpeg.substr(0, jpeg.size() / 3));
  const struct {
    std::vector<std::string> arguments;
    int exitCode;
    const char* message;
    size_t written;
  } rows[] = {
      {{"--out", out, "--patient-id", "P1", png}, 1, "Patient Name can't be empty", 0},
      {{"--out", out, "--patient-name", "Roe", png}, 1, "Patient ID can't be empty", 0},
      {{"--out", out, "--patient-name", "Roe", "--patient-id", "P1", png, cut},
       1,
       "1 of 2 items were not written: cut.jpg (",
       1},
      {{"--out", out, "--patient-name", "Roe", "--patient-id", "P1", png,
        (dir_ / "missing.pdf").string()},
       1,
       "1 of 2 items were not written: missing.pdf (",
       1},
      {{"--out", out, "--patient-name", "Roe", "--patient-id", "P1", "--sex", "X", png},
       2,
       "--sex",
       0},
      {{"--out", out, "--patient-name", "Roe", "--patient-id", "P1", "--study-uid", "1.2.abc", png},
       2,
       "--study-uid",
       0},
      {{"--patient-name", "Roe", "--patient-id", "P1", png}, 2, "--out", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.message);
    const auto result = Save(row.arguments);
    EXPECT_EQ(result.exitCode, row.exitCode) << result.errors;
    EXPECT_NE(result.errors.find(row.message), std::string::npos) << result.errors;
    EXPECT_EQ(Lines(result.output).size(), row.written) << result.output;
    const size_t files = fs::exists(out)
                             ? static_cast<size_t>(std::distance(fs::directory_iterator(out),
                                                                 fs::directory_iterator()))
                             : 0;
    EXPECT_EQ(files, row.written);
    fs::remove_all(out);
  }
}

TEST_F(VerbSaveTest, AHeldBatchStampEndsSaveWithAMessageAndSavedFilesKeepTheUmask) {
  ASSERT_TRUE(testsupport::HaveProgram("flock"));
  const fs::path runtime = dir_ / "runtime";
  fs::create_directory(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  const std::string png = Write("a.png", testpictures::MakePng(8, 8, testpictures::PngKind::Rgb));
  auto save = [&](const std::string& out) {
    // Run with a umask of 027 and a runtime folder of the test's own.
    return testsupport::RunCommand({"sh", "-c", "umask 027; exec \"$0\" \"$@\"", "env",
                                    "XDG_RUNTIME_DIR=" + runtime.string(), VELLORAN_CLI, "save",
                                    "--ini", (dir_ / "none.ini").string(), "--out", out,
                                    "--patient-name", "Roe", "--patient-id", "P1", png});
  };
  {
    // Another program of this user holds the stamp file: save gives up after its short wait.
    const fs::path stamp = runtime / "velloran-batch-stamp";
    testsupport::WriteFile(stamp, "1\n");
    testsupport::ChildProcess holder({"flock", "-x", stamp.string(), "sleep", "60"});
    for (int tries = 0; tries < 3000; ++tries) {
      if (testsupport::RunCommand({"flock", "-n", stamp.string(), "true"}).exitCode != 0) break;
    }
    const auto result = save((dir_ / "held").string());
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.errors.find("Cannot number the batch: another program of this user holds " +
                                 stamp.string()),
              std::string::npos)
        << result.errors;
    EXPECT_TRUE(!fs::exists(dir_ / "held") || fs::is_empty(dir_ / "held"));
  }
  // A folder the user chose is no private folder of the program: the files follow the umask.
  const auto result = save((dir_ / "out").string());
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  const fs::perms mode = fs::status(Lines(result.output).at(0)).permissions() & fs::perms::all;
  EXPECT_EQ(mode, fs::perms(0640));
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

// A photo and a TXT without text: the photo is written, the TXT is named with its reason and the
// run fails. The log, when asked for, says the same.
TEST_F(VerbSaveTest, FilesThatGiveNoObjectAreNamedAndFailTheRun) {
  const std::string photo = Write("photo.jpg", testpictures::MakeJpeg(40, 30, false));
  const std::string empty = Write("empty.txt", "");
  const std::string odt = Write("notes.odt", "PK");
  const auto out = dir_ / "out";
  const auto log = dir_ / "save.log";
  const testsupport::CommandResult saved =
      Save({"--patient-name", "DOE^JANE", "--patient-id", "PID-42", "--out", out.string(), "--log",
            log.string(), photo, empty, odt});
  EXPECT_EQ(saved.exitCode, 1);
  const std::vector<std::string> lines = Lines(saved.output);
  ASSERT_EQ(lines.size(), 1u) << saved.output;
  EXPECT_TRUE(fs::exists(lines[0]));
  EXPECT_EQ(Lines(saved.errors).at(0),
            "2 of 3 items were not written: empty.txt (no text), notes.odt (unknown kind)")
      << saved.errors;
  const std::string logged = testsupport::ReadFile(log);
  EXPECT_NE(logged.find("skipped (no text): " + empty), std::string::npos) << logged;
  EXPECT_NE(logged.find("skipped (unknown kind): " + odt), std::string::npos) << logged;
}

}  // namespace
