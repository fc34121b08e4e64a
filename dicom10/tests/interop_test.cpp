// Interoperability: files we write parse in DCMTK and pydicom to the same values, and files DCMTK
// writes read here to the same values, in every encoding and with both forms of sequences.
#include <gtest/gtest.h>

#include "bufdata.h"
#include "dcmobj.h"
#include "dicomfile.h"
#include "testsupport.h"

namespace {

using testsupport::RunCommand;

constexpr const char* kJpegBaseline = "1.2.840.10008.1.2.4.50";
const char* const kPython = "/usr/bin/python3";

std::unique_ptr<DcmTag> Text(uint16_t group, uint16_t element, const char* vr,
                             const std::string& text) {
  return DcmTag::FromBytes(group, element, static_cast<uint32_t>(text.size()), text.data(), vr);
}

std::unique_ptr<DcmTag> Bare(uint16_t group, uint16_t element, uint32_t length,
                             const char* vr = "DL") {
  return DcmTag::FromBytes(group, element, length, nullptr, vr);
}

// A small image data set with a nested sequence (0008,1110), a flat sequence (0008,1115) and
// native pixel data, or encapsulated pixel data for a compressed transfer syntax.
std::unique_ptr<DcmObj> ImageDataSet(const std::string& syntax) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->SetTransferSyntax(syntax);
  dataSet->Append(Text(0x0008, 0x0016, "UI", "1.2.840.10008.5.1.4.1.1.7"));
  dataSet->Append(Text(0x0008, 0x0018, "UI", "1.2.3.4"));
  dataSet->Append(Text(0x0008, 0x0060, "CS", "OT"));
  auto item = std::make_unique<DcmObj>();
  item->Append(Text(0x0008, 0x1150, "UI", "1.2.840.10008.3.1.2.3.1"));
  item->Append(Text(0x0008, 0x1155, "UI", "1.2.4"));
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
  dataSet->AddSequence(0x0008, 0x1110, std::move(sequence));
  dataSet->Append(Bare(0x0008, 0x1115, kUndefinedLength, "SQ"));
  dataSet->Append(Bare(0xFFFE, 0xE000, kUndefinedLength));
  dataSet->Append(Text(0x0020, 0x000E, "UI", "1.2.5"));
  dataSet->Append(Bare(0xFFFE, 0xE00D, 0));
  dataSet->Append(Bare(0xFFFE, 0xE0DD, 0));
  dataSet->Append(Text(0x0010, 0x0010, "PN", "DOE^JANE"));
  dataSet->Append(Text(0x0010, 0x0020, "LO", "PID4711"));
  dataSet->Append(DcmTag::FromUS(0x0028, 0x0002, 1, "US"));
  dataSet->Append(Text(0x0028, 0x0004, "CS", "MONOCHROME2"));
  dataSet->Append(DcmTag::FromUS(0x0028, 0x0010, 1, "US"));
  dataSet->Append(DcmTag::FromUS(0x0028, 0x0011, 3, "US"));
  dataSet->Append(DcmTag::FromUS(0x0028, 0x0100, 16, "US"));
  dataSet->Append(DcmTag::FromUS(0x0028, 0x0101, 16, "US"));
  dataSet->Append(DcmTag::FromUS(0x0028, 0x0102, 15, "US"));
  dataSet->Append(DcmTag::FromUS(0x0028, 0x0103, 0, "US"));
  if (syntax == kJpegBaseline) {
    dataSet->Append(Bare(0x7FE0, 0x0010, kUndefinedLength, "OB"));
    dataSet->Append(Bare(0xFFFE, 0xE000, 0));
    dataSet->Append(DcmTag::FromBytes(0xFFFE, 0xE000, 4, "\x01\x02\x03\x04", "DL"));
    dataSet->Append(Bare(0xFFFE, 0xE0DD, 0));
  } else {
    // Three 16-bit samples 0x0102, 0x0304, 0x0506, built little-endian.
    dataSet->Append(DcmTag::FromBytes(0x7FE0, 0x0010, 6, "\x02\x01\x04\x03\x06\x05", "OW"));
  }
  return dataSet;
}

constexpr const char* kPydicomScript = R"(
import struct, sys
import pydicom
from pydicom.encaps import defragment_data
ds = pydicom.dcmread(sys.argv[1])
print(ds.file_meta.TransferSyntaxUID, ds.file_meta.ImplementationVersionName)
print(ds.PatientName, ds.PatientID, ds.Rows, ds.Columns, ds.BitsAllocated)
print(ds.ReferencedStudySequence[0].ReferencedSOPInstanceUID,
      ds.ReferencedSeriesSequence[0].SeriesInstanceUID)
pixels = ds[0x7fe00010].value
if ds.file_meta.TransferSyntaxUID.is_compressed:
    print(defragment_data(pixels).hex())
else:
    order = '<' if ds.is_little_endian else '>'
    print(' '.join('%04x' % w for w in struct.unpack(order + 'H' * (len(pixels) // 2), pixels)))
)";

TEST(InteropTest, OurFilesParseInDcmtkAndPydicomToTheSameValues) {
  ASSERT_TRUE(testsupport::HaveProgram("dcmdump") && testsupport::HaveProgram(kPython))
      << "dcmdump or " << kPython << " missing (scripts/setup.sh installs them)";
  testsupport::TempDir folder;
  for (const char* syntax :
       {kImplicitVRLittleEndian, kExplicitVRLittleEndian, kExplicitVRBigEndian, kJpegBaseline}) {
    SCOPED_TRACE(syntax);
    const std::string path = (folder / (std::string(syntax) + ".dcm")).string();
    ASSERT_TRUE(ImageDataSet(syntax)->SaveToFile(path, "1.2.840.10008.5.1.4.1.1.7", "1.2.3.4"));

    const auto dump = RunCommand({"dcmdump", "-Un", path});
    EXPECT_EQ(dump.exitCode, 0) << dump.errors;
    EXPECT_EQ(dump.errors, "");
    const bool encapsulated = std::string(syntax) == kJpegBaseline;
    const std::string expectedLines[] = {
        "(0002,0010) UI [" + std::string(syntax) + "]",
        // The padding space is dropped by dcmdump as by any reader of texts.
        "(0002,0013) SH [Brindlewick]",
        "(0008,1110) SQ (Sequence with explicit length #=1)",
        "(0008,1155) UI [1.2.4]",
        "(0008,1115) SQ (Sequence with undefined length #=1)",
        "(0020,000e) UI [1.2.5]",
        "(0010,0010) PN [DOE^JANE]",
        "(0028,0011) US 3",
        "(0028,0100) US 16",
        encapsulated ? "(fffe,e000) pi 01\\02\\03\\04" : "(7fe0,0010) OW 0102\\0304\\0506",
    };
    for (const std::string& line : expectedLines) {
      EXPECT_NE(dump.output.find(line), std::string::npos) << line << "\n" << dump.output;
    }

    const auto python = RunCommand({kPython, "-c", kPydicomScript, path});
    EXPECT_EQ(python.exitCode, 0) << python.errors;
    EXPECT_EQ(python.output, std::string(syntax) + " Brindlewick\n" +
                                 "DOE^JANE PID4711 1 3 16\n1.2.4 1.2.5\n" +
                                 (encapsulated ? "01020304\n" : "0102 0304 0506\n"));
  }
}

// The first element with this tag anywhere in the data set: nested or flat, at any depth.
const DcmTag* FindAnywhere(const DcmObj& dataSet, uint16_t group, uint16_t element) {
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    if (const DcmTag* tag = dataSet.TagAt(i); tag != nullptr && tag->Is(group, element)) return tag;
    if (const DcmObj* nested = dataSet.ObjAt(i)) {
      if (const DcmTag* found = FindAnywhere(*nested, group, element)) return found;
    }
  }
  return nullptr;
}

// 16-bit words of a value, in the byte order the tag records.
std::vector<uint16_t> Words(const DcmTag& tag) {
  std::vector<uint16_t> words;
  const std::string_view bytes = tag.Bytes();
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<uint8_t>(bytes[i]);
    const auto second = static_cast<uint8_t>(bytes[i + 1]);
    words.push_back(
        static_cast<uint16_t>(tag.bigEndian ? first << 8 | second : second << 8 | first));
  }
  return words;
}

// The element lines of a dcmdump listing from the data set on, without the file meta group and
// the comment naming the encoding (a deflated file is written back inflated).
std::string ElementLines(const std::string& dump) {
  const size_t start = dump.find("# Dicom-Data-Set");
  std::string lines;
  size_t at = start == std::string::npos ? 0 : start;
  while (at < dump.size()) {
    size_t end = dump.find('\n', at);
    if (end == std::string::npos) end = dump.size();
    if (dump[at] != '#') lines.append(dump, at, end + 1 - at);
    at = end + 1;
  }
  return lines;
}

constexpr const char* kDcmtkDump = R"(# a small image for the reader test
(0008,0016) UI =SecondaryCaptureImageStorage
(0008,0018) UI [1.2.3.4.5]
(0008,0060) CS [OT]
(0008,1110) SQ (Sequence with undefined length)
  (fffe,e000) na (Item with undefined length)
    (0008,1150) UI [1.2.840.10008.3.1.2.3.1]
    (0008,1155) UI [1.2.6]
  (fffe,e00d) na (ItemDelimitationItem)
(fffe,e0dd) na (SequenceDelimitationItem)
(0010,0010) PN [ROE^RICHARD]
(0010,0020) LO [PID0042]
(0028,0010) US 4
(0028,0011) US 258
(0028,0030) DS [0.5\0.25]
(0028,1052) DS [-1024]
(0028,3010) SQ (Sequence with undefined length)
  (fffe,e000) na (Item with undefined length)
    (0028,3002) US 4096\0\16
  (fffe,e00d) na (ItemDelimitationItem)
(fffe,e0dd) na (SequenceDelimitationItem)
(7fe0,0010) OW 0102\0304
)";

TEST(InteropTest, DcmtkFilesReadToTheSameValues) {
  ASSERT_TRUE(testsupport::HaveProgram("dump2dcm") && testsupport::HaveProgram("dcmconv"))
      << "dump2dcm or dcmconv missing (scripts/setup.sh installs them)";
  testsupport::TempDir folder;
  testsupport::WriteFile(folder / "image.txt", kDcmtkDump);
  const std::string base = (folder / "base.dcm").string();
  const auto made = RunCommand({"dump2dcm", (folder / "image.txt").string(), base});
  ASSERT_EQ(made.exitCode, 0) << made.errors;

  // Besides the three plain encodings: deflated data sets, and data sets written without
  // preamble and meta group (-F), whose encoding the reader has to guess.
  struct Case {
    const char* option;
    const char* lengths;
    bool dataSetOnly;
    const char* fileSyntax;  // the meta group's, or the guessed one
    const char* syntax;      // the data set's as read
  };
  const Case cases[] = {
      {"+ti", "+e", false, kImplicitVRLittleEndian, kImplicitVRLittleEndian},
      {"+ti", "-e", false, kImplicitVRLittleEndian, kImplicitVRLittleEndian},
      {"+te", "+e", false, kExplicitVRLittleEndian, kExplicitVRLittleEndian},
      {"+te", "-e", false, kExplicitVRLittleEndian, kExplicitVRLittleEndian},
      {"+tb", "+e", false, kExplicitVRBigEndian, kExplicitVRBigEndian},
      {"+tb", "-e", false, kExplicitVRBigEndian, kExplicitVRBigEndian},
      {"+td", "+e", false, kDeflatedExplicitVRLittleEndian, kExplicitVRLittleEndian},
      {"+td", "-e", false, kDeflatedExplicitVRLittleEndian, kExplicitVRLittleEndian},
      {"+ti", "-e", true, kImplicitVRLittleEndian, kImplicitVRLittleEndian},
      {"+te", "+e", true, kExplicitVRLittleEndian, kExplicitVRLittleEndian},
      {"+tb", "-e", true, kExplicitVRBigEndian, kExplicitVRBigEndian},
  };
  for (const Case& c : cases) {
    const std::string name = std::string(c.option) + c.lengths + (c.dataSetOnly ? "-F" : "");
    SCOPED_TRACE(name);
    const std::string path = (folder / (name + ".dcm")).string();
    std::vector<std::string> argv = {"dcmconv", c.option, c.lengths, base, path};
    if (c.dataSetOnly) argv.insert(argv.begin() + 1, "-F");
    const auto converted = RunCommand(argv);
    ASSERT_EQ(converted.exitCode, 0) << converted.errors;

    DicomFile file;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(path, file, error)) << error;
    const DcmObj& dataSet = file.dataSet;
    EXPECT_EQ(file.meta.GetString(0x0002, 0x0010), c.dataSetOnly ? "" : c.fileSyntax);
    EXPECT_EQ(file.fileTransferSyntax, c.fileSyntax);
    EXPECT_EQ(file.guessed, c.dataSetOnly);
    EXPECT_EQ(dataSet.transferSyntax, c.syntax);
    EXPECT_EQ(dataSet.GetString(0x0008, 0x0018), "1.2.3.4.5");
    EXPECT_EQ(dataSet.GetString(0x0010, 0x0010), "ROE^RICHARD");
    EXPECT_EQ(dataSet.GetUS(0x0028, 0x0010), 4);
    EXPECT_EQ(dataSet.GetUS(0x0028, 0x0011), 258);
    EXPECT_EQ(dataSet.FindTag(0x0028, 0x0030)->GetValueAt(1), 0.25L);
    EXPECT_FLOAT_EQ(dataSet.FindTag(0x0028, 0x1052)->GetFloat(), -1024.0f);
    ASSERT_NE(dataSet.FindTag(0x7FE0, 0x0010), nullptr);
    EXPECT_EQ(Words(*dataSet.FindTag(0x7FE0, 0x0010)), (std::vector<uint16_t>{0x0102, 0x0304}));

    // Defined lengths give nested sequences, undefined lengths flat ones; the values are the same.
    const bool flat = std::string(c.lengths) == "-e";
    size_t sequence = 0;
    while (sequence < dataSet.Count() && !dataSet.EntryTag(sequence).Is(0x0008, 0x1110)) ++sequence;
    ASSERT_LT(sequence, dataSet.Count());
    EXPECT_STREQ(dataSet.EntryKind(sequence), flat ? "DcmTag" : "DcmObj");
    const DcmTag* instance = FindAnywhere(dataSet, 0x0008, 0x1155);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->GetString(), "1.2.6");
    const DcmTag* descriptor = FindAnywhere(dataSet, 0x0028, 0x3002);
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(Words(*descriptor), (std::vector<uint16_t>{4096, 0, 16}));

    // Written again in the same encoding, DCMTK reads back the same elements.
    const std::string again = (folder / "again.dcm").string();
    ASSERT_TRUE(file.dataSet.SaveToFile(again, file.dataSet.GetString(0x0008, 0x0016),
                                        file.dataSet.GetString(0x0008, 0x0018)));
    const auto original = RunCommand({"dcmdump", "+L", path});
    const auto rewritten = RunCommand({"dcmdump", "+L", again});
    EXPECT_EQ(rewritten.exitCode, 0) << rewritten.errors;
    EXPECT_EQ(ElementLines(rewritten.output), ElementLines(original.output));
  }
}

constexpr const char* kImplicitOnlyDump =
    R"(# private and repeating-group elements, written in implicit VR
(0008,0016) UI =SecondaryCaptureImageStorage
(0008,0018) UI [1.2.3.4.6]
(0009,0010) LO [VELLORAN TEST]
(0009,0011) LO [SECOND CREATOR]
(0009,1001) OB 01\02\03\04
(0010,0010) PN [ROE^RICHARD]
(5002,0005) US 1
(5002,0010) US 2
(5002,0022) LO [A CURVE]
(6002,0010) US 4
(6002,0011) US 8
(6002,0040) CS [G]
(6002,0050) SS -1\2
(6002,0100) US 1
(6002,0102) US 0
(6002,3000) OW 0102\0304
)";

// Implicit VR input written again in explicit VR: private creators become LO and the overlay and
// curve groups after the first (6002, 5002) get their attributes' VRs, with their numbers in the
// byte order of the new encoding, exactly as DCMTK's own conversion of the same file.
TEST(InteropTest, ImplicitPrivateAndRepeatingGroupElementsGetTheirVRsInExplicitEncodings) {
  ASSERT_TRUE(testsupport::HaveProgram("dump2dcm") && testsupport::HaveProgram("dcmconv") &&
              testsupport::HaveProgram(kPython))
      << "DCMTK or " << kPython << " missing (scripts/setup.sh installs them)";
  testsupport::TempDir folder;
  testsupport::WriteFile(folder / "implicit.txt", kImplicitOnlyDump);
  const std::string implicitPath = (folder / "implicit.dcm").string();
  const auto made =
      RunCommand({"dump2dcm", "+ti", (folder / "implicit.txt").string(), implicitPath});
  ASSERT_EQ(made.exitCode, 0) << made.errors;
  const struct {
    const char* syntax;
    const char* option;
  } cases[] = {{kExplicitVRLittleEndian, "+te"}, {kExplicitVRBigEndian, "+tb"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.syntax);
    DicomFile file;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(implicitPath, file, error)) << error;
    file.dataSet.SetTransferSyntax(c.syntax);
    const std::string ours = (folder / "ours.dcm").string();
    ASSERT_TRUE(file.dataSet.SaveToFile(ours, "1.2.840.10008.5.1.4.1.1.7", "1.2.3.4.6"));
    const std::string theirs = (folder / "theirs.dcm").string();
    const auto converted = RunCommand({"dcmconv", c.option, implicitPath, theirs});
    ASSERT_EQ(converted.exitCode, 0) << converted.errors;
    const auto ourDump = RunCommand({"dcmdump", ours});
    EXPECT_EQ(ourDump.exitCode, 0) << ourDump.errors;
    EXPECT_EQ(ourDump.errors, "");
    EXPECT_EQ(ElementLines(ourDump.output), ElementLines(RunCommand({"dcmdump", theirs}).output));

    const auto python = RunCommand({kPython, "-c",
                                    "import sys, pydicom\n"
                                    "ds = pydicom.dcmread(sys.argv[1])\n"
                                    "print(ds[0x00090010].VR, ds[0x00090010].value,\n"
                                    "      ds[0x60020010].VR, ds[0x60020010].value,\n"
                                    "      list(ds[0x60020050].value), ds[0x50020010].value,\n"
                                    "      ds[0x60023000].VR, ds[0x60023000].value.hex())\n",
                                    ours});
    EXPECT_EQ(python.exitCode, 0) << python.errors;
    const bool big = std::string(c.syntax) == kExplicitVRBigEndian;
    EXPECT_EQ(python.output, std::string("LO VELLORAN TEST US 4 [-1, 2] 2 OW ") +
                                 (big ? "01020304" : "02010403") + "\n");
  }
}

}  // namespace
