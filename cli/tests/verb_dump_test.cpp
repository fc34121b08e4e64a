// velloran-cli dump, run as a user would: what it prints for good files and how it fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dcmobj.h"
#include "testsupport.h"

namespace {

using testsupport::CommandResult;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WriteFile;

constexpr const char* kSopClass = "1.2.840.10008.5.1.4.1.1.7";
constexpr const char* kSopInstance = "1.2.826.0.1.3680043.2.1143.4711";

CommandResult Dump(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {VELLORAN_CLI, "dump"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv);
}

// A secondary capture object with a nested sequence, written as a Part 10 file; the last element
// is a long comment so that a cut near the end falls inside its value.
std::string WriteSample(const TempDir& dir, const std::string& name,
                        const char* transferSyntax = kExplicitVRLittleEndian) {
  DcmObj dataSet;
  dataSet.SetTransferSyntax(transferSyntax);
  dataSet.AddString(0x0008, 0x0016, kSopClass);
  dataSet.AddString(0x0008, 0x0018, kSopInstance);
  dataSet.AddString(0x0008, 0x0060, "OT");
  auto item = std::make_unique<DcmObj>();
  item->AddString(0x0008, 0x1150, kSopClass);
  item->AddString(0x0008, 0x1155, "1.2.826.0.1.3680043.2.1143");
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
  dataSet.AddSequence(0x0008, 0x1115, std::move(sequence));
  dataSet.AddString(0x0010, 0x0010, "DOE^JANE");
  dataSet.Add(DcmTag::FromUL(0x0018, 0x6020, 0xFFFFFFFE));  // Reference Pixel X0, SL -2
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0010, 512));         // Rows
  dataSet.AddString(0x0020, 0x4000, std::string(300, 'c'));
  const std::string path = (dir / name).string();
  EXPECT_TRUE(dataSet.SaveToFile(path, kSopClass, kSopInstance));
  return path;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

// True when `wanted` appear in `lines` in this order (other lines may come between).
bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
  size_t next = 0;
  for (const std::string& line : lines) {
    if (next < wanted.size() && line == wanted[next]) ++next;
  }
  return next == wanted.size();
}

// The dictionary's Windows-1252 apostrophe (0x92) reaches the terminal as UTF-8 U+2019.
TEST(DumpVerbTest, PrintsMetaGroupThenDataSetOfAWrittenFileInEachEncoding) {
  const std::pair<const char*, std::string> syntaxes[] = {
      {kImplicitVRLittleEndian,
       "(0002,0010), 18, UI, Transfer Syntax UID: 1.2.840.10008.1.2 (Little Endian Implicit VR) "},
      {kExplicitVRLittleEndian,
       "(0002,0010), 20, UI, Transfer Syntax UID: 1.2.840.10008.1.2.1 (Little Endian Explicit "
       "VR) "},
      {kExplicitVRBigEndian,
       "(0002,0010), 20, UI, Transfer Syntax UID: 1.2.840.10008.1.2.2 (Big Endian Explicit VR) "},
  };
  for (const auto& [syntax, syntaxLine] : syntaxes) {
    SCOPED_TRACE(syntax);
    TempDir dir;
    const std::string path = WriteSample(dir, "sample.dcm", syntax);
    const CommandResult result = Dump({path});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_EQ(result.errors, "");
    EXPECT_TRUE(InOrder(
        Lines(result.output),
        {
            "(0002,0002), 26, UI, Media Storage SOP Class UID: 1.2.840.10008.5.1.4.1.1.7 "
            "(Secondary Capture Image Storage) ",
            syntaxLine,
            "(0008,0016), 26, UI, SOP Class UID: 1.2.840.10008.5.1.4.1.1.7 (Secondary Capture "
            "Image Storage) ",
            "(0008,0018), 32, UI, SOP Instance UID: 1.2.826.0.1.3680043.2.1143.4711",
            "(0008,0060),  2, CS, Modality: OT",
            "(0008,1115), 76, SQ, Referenced Series Sequence: ",
            "(FFFE,E000), 68, DL, Item: ",
            "...(0008,1150), 26, UI, Referenced SOP Class UID: 1.2.840.10008.5.1.4.1.1.7 "
            "(Secondary Capture Image Storage) ",
            "...(0008,1155), 26, UI, Referenced SOP Instance UID: 1.2.826.0.1.3680043.2.1143",
            "(0010,0010),  8, PN, Patient\xE2\x80\x99s Name: DOE^JANE",
            "(0018,6020),  4, SL, Reference Pixel X0: -2",
            "(0020,4000), 300, LT, Image Comments: ",
            "(0028,0010),  2, US, Rows: 512",
        }))
        << result.output;
    EXPECT_EQ(result.output.find("# "), std::string::npos) << "a single file has no heading";
  }
}

TEST(DumpVerbTest, UnreadableFilesFailWithTheReasonOnStandardError) {
  TempDir dir;
  const std::string sample = ReadFile(WriteSample(dir, "sample.dcm"));
  ASSERT_GT(sample.size(), 400u);
  WriteFile(dir / "text.txt", "this is a note, not an image\n");
  WriteFile(dir / "empty.dcm", "");
  WriteFile(dir / "cut-in-meta.dcm", sample.substr(0, 150));
  WriteFile(dir / "cut-in-value.dcm", sample.substr(0, sample.size() - 100));

  struct FailureCase {
    std::string file;
    std::string reason;      // expected in the message on standard error
    std::string lastOutput;  // a line that must still be printed, or empty
  };
  const FailureCase cases[] = {
      {"missing.dcm", "cannot open", ""},
      {"", "not a regular file", ""},  // the folder itself
      {"text.txt", "not a DICOM file", ""},
      {"empty.dcm", "not a DICOM file", ""},
      {"cut-in-meta.dcm", "file meta group is truncated", ""},
      {"cut-in-value.dcm", "truncated", "(0010,0010),  8, PN, Patient\xE2\x80\x99s Name: DOE^JANE"},
  };
  for (const FailureCase& c : cases) {
    const std::string path = c.file.empty() ? dir.path().string() : (dir / c.file).string();
    SCOPED_TRACE(path);
    const CommandResult result = Dump({path});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.errors.rfind("velloran-cli dump: " + path + ": ", 0), 0u) << result.errors;
    EXPECT_NE(result.errors.find(c.reason), std::string::npos) << result.errors;
    EXPECT_EQ(Lines(result.errors).size(), 1u) << result.errors;
    if (!c.lastOutput.empty()) {
      EXPECT_TRUE(InOrder(Lines(result.output), {c.lastOutput})) << result.output;
    }
  }
}

TEST(DumpVerbTest, ABadFileAmongSeveralDoesNotStopTheOthers) {
  TempDir dir;
  const std::string good = WriteSample(dir, "good.dcm");
  const std::string bad = (dir / "bad.dcm").string();
  WriteFile(bad, "not dicom");
  const CommandResult result = Dump({bad, good});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.errors.find(bad), std::string::npos);
  EXPECT_TRUE(
      InOrder(Lines(result.output), {"# " + bad, "# " + good, "(0008,0060),  2, CS, Modality: OT"}))
      << result.output;
}

// A data set written without preamble and meta group is read in the encoding its first element
// shows, and the first line says which that was.
TEST(DumpVerbTest, SaysWhichEncodingItGuessedForAFileWithoutMetaGroup) {
  const std::pair<const char*, std::string> cases[] = {
      {kExplicitVRBigEndian, "Explicit VR Big Endian (1.2.840.10008.1.2.2)"},
      {kImplicitVRLittleEndian, "Implicit VR Little Endian (1.2.840.10008.1.2)"},
  };
  for (const auto& [syntax, named] : cases) {
    SCOPED_TRACE(syntax);
    TempDir dir;
    const std::string file = ReadFile(WriteSample(dir, "with-meta.dcm", syntax));
    // The data set starts after the meta group, whose length is the value at offset 140.
    size_t groupLength = 0;
    for (int i = 3; i >= 0; --i)
      groupLength = groupLength << 8 | static_cast<uint8_t>(file[140 + i]);
    const std::string bare = (dir / "bare.dcm").string();
    WriteFile(bare, file.substr(144 + groupLength));
    const CommandResult result = Dump({bare});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    const auto lines = Lines(result.output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "# no file meta group: the encoding " + named +
                            " was guessed from the first element");
    EXPECT_TRUE(InOrder(lines, {"(0008,0060),  2, CS, Modality: OT",
                                "(0010,0010),  8, PN, Patient\xE2\x80\x99s Name: DOE^JANE"}))
        << result.output;
  }
}

TEST(DumpVerbTest, TextsAreShownAsUtf8WhateverTheFileHoldsThem) {
  // "Müller" as Windows-1252 (no Specific Character Set) and as UTF-8 (ISO_IR 192); either way
  // the terminal gets UTF-8, and the dictionary name keeps its typographic apostrophe.
  struct Case {
    const char* characterSet;
    std::string name;
  };
  for (const Case& testCase : {Case{"", "M\xFCller"}, Case{"ISO_IR 192", "M\xC3\xBCller"}}) {
    TempDir dir;
    DcmObj dataSet;
    dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
    if (testCase.characterSet[0] != 0) dataSet.AddString(0x0008, 0x0005, testCase.characterSet);
    dataSet.AddString(0x0008, 0x0016, kSopClass);
    dataSet.AddString(0x0008, 0x0018, kSopInstance);
    dataSet.AddString(0x0010, 0x0010, testCase.name);
    const std::string path = (dir / "name.dcm").string();
    ASSERT_TRUE(dataSet.SaveToFile(path, kSopClass, kSopInstance));
    const CommandResult result = Dump({path});
    EXPECT_EQ(result.exitCode, 0) << result.errors;
    EXPECT_NE(result.output.find("Patient\xE2\x80\x99s Name: M\xC3\xBCller"), std::string::npos)
        << testCase.characterSet << "\n"
        << result.output;
  }
}

TEST(DumpVerbTest, MissingOrUnknownArgumentsShowTheUsage) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"--frobnicate", "x.dcm"}}) {
    const CommandResult result = Dump(args);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.errors.find("usage: velloran-cli dump FILE..."), std::string::npos)
        << result.errors;
  }
}

}  // namespace
