// Part 10 files: byte layout of what SaveToFile writes, failures, and reading files back.
#include "dicomfile.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>

#include "bufdata.h"
#include "bytes.h"
#include "dump.h"
#include "filevalue.h"
#include "inflate.h"
#include "logcapture.h"
#include "testsupport.h"
#include "uids.h"

namespace {

using testbytes::Hex;

const std::string kSecondaryCapture = "1.2.840.10008.5.1.4.1.1.7";  // 25 characters

std::unique_ptr<DcmObj> SmallDataSet(const std::string& syntax) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->SetTransferSyntax(syntax);
  dataSet->AddString(0x0008, 0x0016, kSecondaryCapture);
  dataSet->AddString(0x0010, 0x0010, "DOE^JANE");
  return dataSet;
}

uint32_t LittleEndian32At(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[offset + i]);
  return value;
}

TEST(DicomFileTest, LayoutOfTheFileMetaGroup) {
  testsupport::TempDir folder;
  const std::string instance(58, '9');  // even: no padding
  const std::string path = (folder / "x.dcm").string();
  ASSERT_TRUE(SmallDataSet(kExplicitVRLittleEndian)->SaveToFile(path, kSecondaryCapture, instance));
  const std::string file = testsupport::ReadFile(path);

  EXPECT_EQ(file.substr(0, 128), std::string(128, '\0'));
  EXPECT_EQ(file.substr(128, 4), "DICM");
  EXPECT_EQ(file.substr(132, 8), Hex("02 00 00 00") + "UL" + Hex("04 00"));
  // 14 + (8 + 26) + (8 + 58) + (8 + 20) + 38 + 20 bytes from offset 144 to the end of (0002,0013).
  EXPECT_EQ(LittleEndian32At(file, 140), 200u);
  EXPECT_EQ(file.substr(144, 14), Hex("02 00 01 00") + "OB" + Hex("00 00 02 00 00 00 00 01"));
  // The SOP class UID of 25 characters is padded with one zero byte to 26.
  EXPECT_EQ(file.substr(158, 34),
            Hex("02 00 02 00") + "UI" + Hex("1A 00") + kSecondaryCapture + std::string(1, '\0'));
  EXPECT_EQ(file.substr(192, 66), Hex("02 00 03 00") + "UI" + Hex("3A 00") + instance);
  EXPECT_EQ(file.substr(258, 28), Hex("02 00 10 00") + "UI" + Hex("14 00") +
                                      std::string(kExplicitVRLittleEndian) + std::string(1, '\0'));
  const std::string implementationUid = std::string(kOrganisationUidRoot) + ".999";
  ASSERT_EQ(implementationUid.size(), 30u);
  EXPECT_EQ(file.substr(286, 38), Hex("02 00 12 00") + "UI" + Hex("1E 00") + implementationUid);
  EXPECT_EQ(file.substr(324, 20), Hex("02 00 13 00") + "SH" + Hex("0C 00") + "Brindlewick ");
  // The data set follows at once, in explicit VR.
  EXPECT_EQ(file.substr(344, 8), Hex("08 00 16 00") + "UI" + Hex("1A 00"));
}

TEST(DicomFileTest, BodyIsEncodedInTheTransferSyntaxAfterAnExplicitMetaGroup) {
  struct Case {
    const char* syntax;
    std::string firstElementHeader;
  };
  const Case cases[] = {
      {kImplicitVRLittleEndian, Hex("08 00 16 00 1A 00 00 00")},
      {kExplicitVRLittleEndian, Hex("08 00 16 00") + "UI" + Hex("1A 00")},
      {kExplicitVRBigEndian, Hex("00 08 00 16") + "UI" + Hex("00 1A")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.syntax);
    testsupport::TempDir folder;
    const std::string path = (folder / "x.dcm").string();
    ASSERT_TRUE(SmallDataSet(c.syntax)->SaveToFile(path, kSecondaryCapture, "1.2.3.4"));
    const std::string file = testsupport::ReadFile(path);
    const size_t bodyStart = 144 + LittleEndian32At(file, 140);
    EXPECT_EQ(file.substr(bodyStart, 8), c.firstElementHeader);

    DicomFile read;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(path, read, error)) << error;
    EXPECT_EQ(read.meta.GetString(0x0002, 0x0010), c.syntax);
    EXPECT_EQ(read.meta.GetString(0x0002, 0x0003), "1.2.3.4");
    EXPECT_EQ(read.dataSet.GetString(0x0010, 0x0010), "DOE^JANE");
    EXPECT_EQ(read.dataSet.GetString(0x0008, 0x0016), kSecondaryCapture);
  }
}

TEST(DicomFileTest, EncodingFollowsTheTransferSyntaxWhenTheFlagDisagrees) {
  // A data set told it is explicit VR little endian but left with the implicit flag would
  // otherwise be written implicit under a meta group that promises explicit.
  LogCapture log;
  testsupport::TempDir folder;
  auto dataSet = SmallDataSet(kImplicitVRLittleEndian);
  dataSet->transferSyntax = kExplicitVRLittleEndian;
  const std::string path = (folder / "x.dcm").string();
  ASSERT_TRUE(dataSet->SaveToFile(path, kSecondaryCapture, "1.2.3.4"));
  EXPECT_TRUE(log.Contains("WARNING, DcmObj::SaveToFile, explicit VR flag does not match"));
  DicomFile read;
  std::string error;
  ASSERT_TRUE(ReadDicomFile(path, read, error)) << error;
  EXPECT_EQ(read.dataSet.FindTag(0x0010, 0x0010)->VR(), "PN");
  EXPECT_EQ(read.dataSet.GetString(0x0010, 0x0010), "DOE^JANE");
}

TEST(DicomFileTest, EmptyUidsAreWrittenWithLengthZero) {
  testsupport::TempDir folder;
  const std::string path = (folder / "x.dcm").string();
  ASSERT_TRUE(SmallDataSet(kExplicitVRLittleEndian)->SaveToFile(path, "", ""));
  const std::string file = testsupport::ReadFile(path);
  EXPECT_EQ(file.substr(158, 16),
            Hex("02 00 02 00") + "UI" + Hex("00 00") + Hex("02 00 03 00") + "UI" + Hex("00 00"));
}

TEST(DicomFileTest, FailuresLogTheirLineAndLeaveNoFile) {
  testsupport::TempDir folder;
  {
    LogCapture log;
    const auto path = folder / "missing" / "x.dcm";
    EXPECT_FALSE(SmallDataSet(kExplicitVRLittleEndian)->SaveToFile(path.string(), "1.2", "1.3"));
    EXPECT_TRUE(log.Contains(", ERROR, BufData::SaveToFile, "));
    EXPECT_TRUE(log.Contains("No such file or directory"));
    EXPECT_FALSE(std::filesystem::exists(path));
  }
  {
    LogCapture log;
    BufData empty;
    EXPECT_FALSE(empty.SaveToFile((folder / "empty.dcm").string()));
    EXPECT_TRUE(log.Contains(", ERROR, BufData::SaveToFile, ms->Size==0\n"));
    EXPECT_FALSE(std::filesystem::exists(folder / "empty.dcm"));
  }
  {
    // A value that cannot be encoded refuses the whole file, and an older file stays as it was.
    LogCapture log;
    const auto path = folder / "kept.dcm";
    testsupport::WriteFile(path, "older");
    auto dataSet = SmallDataSet(kExplicitVRLittleEndian);
    dataSet->Add(DcmTag::FromBytes(0x0010, 0x4000, 70000, std::string(70000, 'c').data(), "LT"));
    EXPECT_FALSE(dataSet->SaveToFile(path.string(), "1.2", "1.3"));
    EXPECT_TRUE(log.Contains("ERROR, BufData::WriteTag, value too long for a 2-byte length"));
    EXPECT_EQ(testsupport::ReadFile(path), "older");
    EXPECT_FALSE(std::filesystem::exists(folder / "kept.dcm.part"));
  }
  {
    // The same data set is fine in implicit VR, where every length has four bytes.
    auto dataSet = SmallDataSet(kImplicitVRLittleEndian);
    dataSet->Add(DcmTag::FromBytes(0x0010, 0x4000, 70000, std::string(70000, 'c').data(), "LT"));
    EXPECT_TRUE(dataSet->SaveToFile((folder / "implicit.dcm").string(), "1.2", "1.3"));
  }
  {
    LogCapture log;
    const std::string longUid(70000, '1');
    EXPECT_FALSE(SmallDataSet(kExplicitVRLittleEndian)
                     ->SaveToFile((folder / "uid.dcm").string(), longUid, "1.3"));
    EXPECT_FALSE(std::filesystem::exists(folder / "uid.dcm"));
  }
}

TEST(DicomFileTest, SavingReplacesAnExistingFile) {
  testsupport::TempDir folder;
  const auto path = folder / "x.dcm";
  testsupport::WriteFile(path, std::string(5000, 'z'));
  ASSERT_TRUE(SmallDataSet(kExplicitVRLittleEndian)->SaveToFile(path.string(), "1.2", "1.3"));
  EXPECT_EQ(testsupport::ReadFile(path).substr(128, 4), "DICM");
  EXPECT_LT(std::filesystem::file_size(path), 5000u);
}

struct BadFileCase {
  const char* meaning;
  std::string bytes;
  const char* errorPart;
};

// The encoding of a data set without meta group information, from its first element.
TEST(DicomFileTest, EncodingIsGuessedFromTheFirstElement) {
  struct Case {
    const char* meaning;
    std::string bytes;
    bool requireKnownTag;
    const char* syntax;
  };
  const Case cases[] = {
      {"explicit little endian", Hex("08 00 05 00") + "CS" + Hex("0A 00"), true,
       kExplicitVRLittleEndian},
      {"explicit big endian", Hex("00 08 00 05") + "CS" + Hex("00 0A"), true, kExplicitVRBigEndian},
      {"implicit little endian", Hex("08 00 05 00 0A 00 00 00"), true, kImplicitVRLittleEndian},
      {"group length first", Hex("08 00 00 00 04 00 00 00"), true, kImplicitVRLittleEndian},
      {"unknown tag, after a meta group", Hex("01 00 01 00 FF FF FF FF"), false,
       kImplicitVRLittleEndian},
      {"unknown tag, no meta group", Hex("01 00 01 00 FF FF FF FF"), true, ""},
      {"text", "\"\"\"Tiny testing", true, ""},
      {"zeros", std::string(16, '\0'), true, ""},
      {"too short", Hex("08 00 05 00"), false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.meaning);
    EXPECT_EQ(GuessTransferSyntax(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(),
                                  c.requireKnownTag),
              c.syntax);
  }
}

// Files without preamble, with a meta group but no Transfer Syntax UID, or with a meta group
// right at the start: read in the guessed encoding, and the guess is said.
TEST(DicomFileTest, FilesWithoutMetaInformationAreReadInTheGuessedEncoding) {
  const std::string body =
      Hex("08 00 60 00 02 00 00 00") + "OT" + Hex("10 00 10 00 04 00 00 00") + "A^B ";
  const std::string meta = Hex("02 00 02 00") + "UI" + Hex("04 00") + "1.2" + std::string(1, '\0');
  struct Case {
    const char* meaning;
    std::string bytes;
    const char* note;
    size_t metaCount;
  };
  const Case cases[] = {
      {"bare data set", body, "no file meta group", 0},
      {"meta group without transfer syntax", std::string(128, '\0') + "DICM" + meta + body,
       "the file meta group has no Transfer Syntax UID", 1},
      {"meta group without preamble", meta + body, "the file meta group has no Transfer", 1},
  };
  testsupport::TempDir folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.meaning);
    testsupport::WriteFile(folder / "x.dcm", c.bytes);
    DicomFile file;
    std::string error;
    ASSERT_TRUE(ReadDicomFile((folder / "x.dcm").string(), file, error)) << error;
    EXPECT_TRUE(file.guessed);
    EXPECT_EQ(file.fileTransferSyntax, kImplicitVRLittleEndian);
    EXPECT_EQ(file.meta.Count(), c.metaCount);
    EXPECT_EQ(file.dataSetOffset, c.bytes.size() - body.size());
    ASSERT_EQ(file.notes.size(), 1u);
    EXPECT_NE(file.notes[0].find(c.note), std::string::npos) << file.notes[0];
    EXPECT_NE(file.notes[0].find("Implicit VR Little Endian"), std::string::npos);
    EXPECT_EQ(file.dataSet.Count(), 2u);
    EXPECT_EQ(file.dataSet.GetString(0x0010, 0x0010), "A^B");
  }
}

// Long values are written from the object and read back out of the mapped file in pieces whose
// pages are given back; the bytes around each piece and the elements after it must survive.
TEST(DicomFileTest, LongValuesRoundTripThroughTheFile) {
  testsupport::TempDir folder;
  const auto path = (folder / "long.dcm").string();
  std::string pattern((9u << 20) + 4098, '\0');
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 31 + i / 4093);
  for (const char* syntax : {kExplicitVRLittleEndian, kImplicitVRLittleEndian}) {
    SCOPED_TRACE(syntax);
    auto dataSet = SmallDataSet(syntax);
    dataSet->Add(DcmTag::FromBytes(0x0042, 0x0011, static_cast<uint32_t>(pattern.size() - 2),
                                   pattern.data() + 1, "OB"));
    dataSet->Add(DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<uint32_t>(pattern.size()),
                                   pattern.data(), "OW"));
    dataSet->AddString(0x7FE1, 0x0010, "AFTER");
    ASSERT_TRUE(dataSet->SaveToFile(path, kSecondaryCapture, "1.2.3"));
    DicomFile read;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(path, read, error)) << error;
    EXPECT_TRUE(read.dataSet.FindTag(0x0042, 0x0011)->Bytes() ==
                pattern.substr(1, pattern.size() - 2));
    EXPECT_TRUE(read.dataSet.FindTag(0x7FE0, 0x0010)->Bytes() == pattern);
    EXPECT_EQ(read.dataSet.GetString(0x7FE1, 0x0010), "AFTER");
    // The file holds the encoder's bytes, whole.
    BufData whole;
    ASSERT_TRUE(whole.WriteMetaHeader(kSecondaryCapture, "1.2.3", syntax));
    ASSERT_TRUE(whole.WriteDataSet(*dataSet));
    EXPECT_TRUE(testsupport::ReadFile(path) ==
                std::string(whole.stream.begin(), whole.stream.end()));
  }
}

TEST(DicomFileTest, ReadingBadFilesFailsWithAReason) {
  const std::string prefix = std::string(128, '\0') + "DICM";
  const std::string syntax =
      Hex("02 00 10 00") + "UI" + Hex("14 00") + "1.2.840.10008.1.2.1" + std::string(1, '\0');
  const BadFileCase cases[] = {
      {"too short for a preamble", "DICM", "not a DICOM file"},
      {"no DICM prefix", std::string(200, '\0'), "not a DICOM file"},
      {"no transfer syntax",
       prefix + Hex("02 00 02 00") + "UI" + Hex("02 00") + "1" + std::string(1, '\0'),
       "no Transfer Syntax UID"},
      {"transfer syntax cut short", prefix + Hex("02 00 10 00") + "UI" + Hex("14 00") + "1.2.8",
       "truncated"},
      {"deflated data set that is not deflate data",
       prefix + Hex("02 00 10 00") + "UI" + Hex("16 00") + "1.2.840.10008.1.2.1.99" +
           Hex("FF FF FF FF 00 11 22 33"),
       "deflated data set is damaged"},
      {"deflated data set cut short",
       prefix + Hex("02 00 10 00") + "UI" + Hex("16 00") + "1.2.840.10008.1.2.1.99" +
           Hex("00 04 00 FB FF 01 02 03 04"),
       "ends before its last block"},
      {"text without preamble", "\"\"\"Tiny testing File-set\n", "not a DICOM file"},
      {"unknown transfer syntax", prefix + Hex("02 00 10 00") + "UI" + Hex("04 00") + "1.23",
       "unsupported transfer syntax"},
      {"file ending inside a sequence of undefined length",
       prefix + syntax + Hex("08 00 15 11") + "SQ" +
           Hex("00 00 FF FF FF FF FE FF 00 E0 FF FF FF FF 20 00 0E 00") + "UI" + Hex("04 00") +
           "1.2" + std::string(1, '\0'),
       "before their delimiter"},
      {"data set element cut short",
       prefix + syntax + Hex("10 00 10 00") + "PN" + Hex("08 00") + "DOE", "truncated"},
  };
  testsupport::TempDir folder;
  for (const BadFileCase& c : cases) {
    SCOPED_TRACE(c.meaning);
    testsupport::WriteFile(folder / "bad.dcm", c.bytes);
    DicomFile file;
    std::string error;
    EXPECT_FALSE(ReadDicomFile((folder / "bad.dcm").string(), file, error));
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
  }
  {
    // A folder and a missing file are refused without reading anything.
    DicomFile file;
    std::string error;
    EXPECT_FALSE(ReadDicomFile(folder.path().string(), file, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    EXPECT_FALSE(ReadDicomFile((folder / "none.dcm").string(), file, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
  }
}

// The raw deflate stream of a data set made of `head` and Pixel Data (OW) of `zeros` zero
// bytes; the zeros are fed to the encoder a piece at a time, so even a bomb costs the test little
// memory.
std::string DeflatedWithZeros(const std::string& head, uint32_t zeros) {
  std::string deflated;
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::vector<uint8_t> out(1 << 16);
  auto feed = [&](const void* bytes, size_t size, int flush) {
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
    stream.avail_in = static_cast<uInt>(size);
    do {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      deflate(&stream, flush);
      deflated.append(reinterpret_cast<const char*>(out.data()), out.size() - stream.avail_out);
    } while (stream.avail_out == 0);
  };
  const uint8_t length[4] = {static_cast<uint8_t>(zeros), static_cast<uint8_t>(zeros >> 8),
                             static_cast<uint8_t>(zeros >> 16), static_cast<uint8_t>(zeros >> 24)};
  const std::string start = head + Hex("E0 7F 10 00") + "OW" + Hex("00 00") +
                            std::string(reinterpret_cast<const char*>(length), 4);
  feed(start.data(), start.size(), Z_NO_FLUSH);
  const std::vector<uint8_t> piece(1 << 20, 0);
  for (uint32_t left = zeros; left > 0;) {
    const uint32_t size = std::min<uint32_t>(left, static_cast<uint32_t>(piece.size()));
    feed(piece.data(), size, Z_NO_FLUSH);
    left -= size;
  }
  feed(nullptr, 0, Z_FINISH);
  deflateEnd(&stream);
  return deflated;
}

std::string DeflatedFile(const std::string& deflated) {
  BufData meta;
  EXPECT_TRUE(meta.WriteMetaHeader(kSecondaryCapture, "1.2.3", kDeflatedExplicitVRLittleEndian));
  return std::string(meta.stream.begin(), meta.stream.end()) + deflated;
}

// Inflation is bounded by a ratio to the deflated size plus a fixed allowance: a blank image that
// deflates a thousandfold still reads, while a small file that would inflate to hundreds of
// megabytes is refused with a clear reason, its output never having grown past the bound.
TEST(DicomFileTest, DeflatedDataSetsInflateWithinARatioAndAnAllowance) {
  const std::string head = Hex("10 00 10 00") + "PN" + Hex("08 00") + "DOE^JANE";
  testsupport::TempDir folder;
  const std::string path = (folder / "deflated.dcm").string();

  const uint32_t blank = 8u << 20;
  testsupport::WriteFile(path, DeflatedFile(DeflatedWithZeros(head, blank)));
  DicomFile file;
  std::string error;
  ASSERT_TRUE(ReadDicomFile(path, file, error)) << error;
  EXPECT_EQ(file.dataSet.GetString(0x0010, 0x0010), "DOE^JANE");
  ASSERT_NE(file.dataSet.FindTag(0x7FE0, 0x0010), nullptr);
  EXPECT_EQ(file.dataSet.FindTag(0x7FE0, 0x0010)->length, blank);

  // About 190 KB that would inflate to 192 MB (deflate's own limit is about 1032 to 1).
  const std::string bomb = DeflatedWithZeros(head, 192u << 20);
  ASSERT_LT(bomb.size(), 200u << 10);
  testsupport::WriteFile(path, DeflatedFile(bomb));
  DicomFile refused;
  EXPECT_FALSE(ReadDicomFile(path, refused, error));
  EXPECT_NE(error.find("inflates to more than"), std::string::npos) << error;
  EXPECT_EQ(refused.dataSet.Count(), 0u);

  const uint64_t limit = InflateLimit(bomb.size());
  EXPECT_LT(limit, 96u << 20);
  std::vector<uint8_t> out;
  EXPECT_FALSE(
      InflateBytes(reinterpret_cast<const uint8_t*>(bomb.data()), bomb.size(), out, error));
  EXPECT_LE(out.capacity(), limit);
  EXPECT_EQ(InflateLimit(0), kInflateAllowance);
  EXPECT_EQ(InflateLimit(uint64_t{1} << 40), kMaxInflatedBytes);
}

// The raw deflate stream of `bytes`, complete.
std::string RawDeflate(const std::string& bytes) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string deflated(deflateBound(&stream, bytes.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(deflated.data());
  stream.avail_out = static_cast<uInt>(deflated.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  deflated.resize(stream.total_out);
  deflateEnd(&stream);
  return deflated;
}

// A data set cut short is reported alike whether its bytes were deflated or not: the same error,
// and the same count of elements cut short and of sequences left open on the caller's buffer,
// which is what tells a caller that the data set it holds is not complete.
TEST(DicomFileTest, ACutShortDataSetIsReportedAlikeDeflatedOrNot) {
  struct CutCase {
    const char* meaning;
    std::string body;  // explicit VR little endian, complete as a deflate stream
    const char* errorPart;
    size_t shortReads;
    size_t unterminated;
  };
  const CutCase cases[] = {
      {"element cut short", Hex("10 00 10 00") + "PN" + Hex("08 00") + "DOE", "run past its end", 1,
       0},
      {"ending inside a sequence of undefined length",
       Hex("08 00 15 11") + "SQ" + Hex("00 00 FF FF FF FF FE FF 00 E0 FF FF FF FF 20 00 0E 00") +
           "UI" + Hex("04 00") + "1.2" + std::string(1, '\0'),
       "before their delimiter", 0, 1},
      {"complete", Hex("10 00 10 00") + "PN" + Hex("08 00") + "DOE^JANE", "", 0, 0},
  };
  for (const CutCase& c : cases) {
    SCOPED_TRACE(c.meaning);
    BufData plainMeta;
    ASSERT_TRUE(plainMeta.WriteMetaHeader(kSecondaryCapture, "1.2.3", kExplicitVRLittleEndian));
    const std::string plain =
        std::string(plainMeta.stream.begin(), plainMeta.stream.end()) + c.body;
    for (const std::string& bytes : {plain, DeflatedFile(RawDeflate(c.body))}) {
      BufData buffer;
      buffer.stream.assign(bytes.begin(), bytes.end());
      DicomFile file;
      std::string error;
      EXPECT_EQ(ParseDicomFile(buffer, file, error), c.errorPart[0] == 0);
      EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
      EXPECT_EQ(buffer.shortReads, c.shortReads);
      EXPECT_EQ(buffer.unterminated, c.unterminated);
    }
  }
}

// What one reading of a file gives: its outcome, its dump, and the bytes its data set is written
// as, in its own encoding and in explicit VR little endian.
struct ReadOutcome {
  bool read = false;
  std::string error;
  std::vector<std::string> lines;
  std::string written;
  std::string writtenLittleEndian;
  size_t valuesInFile = 0;  // long values left in the file

  bool operator==(const ReadOutcome& other) const {
    return read == other.read && error == other.error && lines == other.lines &&
           written == other.written && writtenLittleEndian == other.writtenLittleEndian;
  }
};

size_t ValuesInFile(const DcmObj& dataSet) {
  size_t count = 0;
  for (const DcmEntry& entry : dataSet.entries) {
    count += entry.tag ? (entry.tag->fileValue != nullptr) : ValuesInFile(*entry.obj);
  }
  return count;
}

ReadOutcome ReadForComparison(const std::string& path, bool leaveLongValues) {
  DicomFile file;
  ReadOutcome outcome;
  outcome.read = leaveLongValues ? ReadDicomFile(path, file, outcome.error, kLongestValueShown + 1)
                                 : ReadDicomFile(path, file, outcome.error);
  for (const DcmObj* part : {&file.meta, &file.dataSet}) {
    for (std::string& line : DumpLinesUtf8(*part)) outcome.lines.push_back(std::move(line));
  }
  for (const std::string& note : file.notes) outcome.lines.push_back("# " + note);
  outcome.valuesInFile = ValuesInFile(file.dataSet);
  BufData own;
  if (own.WriteDataSet(file.dataSet)) outcome.written.assign(own.stream.begin(), own.stream.end());
  file.dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  BufData little;
  if (little.WriteDataSet(file.dataSet)) {
    outcome.writtenLittleEndian.assign(little.stream.begin(), little.stream.end());
  }
  return outcome;
}

// A data set with long values where a reader may leave them in the file: a long private value, one
// inside an item of a sequence of defined length (read as ever), and pixel data, native or as an
// offset table and two fragments; over 256 KB, so the file is mapped rather than read.
std::unique_ptr<DcmObj> LongValuesDataSet(const std::string& syntax, bool encapsulated) {
  auto dataSet = SmallDataSet(syntax);
  std::string pattern(300000, '\0');
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 7 + i / 251);
  dataSet->Add(DcmTag::FromBytes(0x0011, 0x1001, 1000, pattern.data(), "OB"));
  auto item = std::make_unique<DcmObj>();
  item->Append(DcmTag::FromBytes(0x0042, 0x0011, 70000, pattern.data() + 3, "OB"));
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
  dataSet->AddSequence(0x0008, 0x1110, std::move(sequence));
  if (!encapsulated) {
    dataSet->Add(DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<uint32_t>(pattern.size()),
                                   pattern.data(), "OW"));
  } else {
    dataSet->Append(DcmTag::FromBytes(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
    const uint8_t offsets[8] = {0, 0, 0, 0, 0x08, 0x86, 0x01, 0x00};
    dataSet->Append(DcmTag::FromBytes(0xFFFE, 0xE000, sizeof offsets, offsets, "DL"));
    dataSet->Append(DcmTag::FromBytes(0xFFFE, 0xE000, 100000, pattern.data(), "DL"));
    dataSet->Append(DcmTag::FromBytes(0xFFFE, 0xE000, 200000, pattern.data() + 5, "DL"));
    dataSet->Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  }
  dataSet->AddString(0x7FE1, 0x0010, "AFTER");
  return dataSet;
}

// Leaving long values in the file changes nothing a caller sees: every file reads with the same
// outcome and error, dumps to the same lines and writes the same bytes, in its own encoding and
// in another byte order. The files are pydicom's real-world and deliberately broken ones, and our
// own with long values everywhere a reader may meet them, cut short, or deflated.
TEST(DicomFileTest, LongValuesLeftInTheFileReadWriteAndDumpAsIfRead) {
  testsupport::TempDir folder;
  std::vector<std::string> paths;
  struct Built {
    const char* name;
    const char* syntax;
    bool encapsulated;
  };
  const Built built[] = {
      {"native.dcm", kExplicitVRLittleEndian, false},
      {"implicit.dcm", kImplicitVRLittleEndian, false},
      {"bigendian.dcm", kExplicitVRBigEndian, false},
      {"encapsulated.dcm", "1.2.840.10008.1.2.4.50", true},
  };
  for (const Built& file : built) {
    const std::string path = (folder / file.name).string();
    ASSERT_TRUE(LongValuesDataSet(file.syntax, file.encapsulated)
                    ->SaveToFile(path, kSecondaryCapture, "1.2.3"));
    paths.push_back(path);
  }
  // Cut short inside the pixel data, and inside the last fragment.
  for (const char* name : {"native.dcm", "encapsulated.dcm"}) {
    const std::string whole = testsupport::ReadFile(folder / name);
    const std::string path = (folder / ("cut-" + std::string(name))).string();
    testsupport::WriteFile(path, whole.substr(0, whole.size() - 30000));
    paths.push_back(path);
  }
  {
    BufData body;
    auto dataSet = LongValuesDataSet(kExplicitVRLittleEndian, false);
    ASSERT_TRUE(body.WriteDataSet(*dataSet));
    const std::string path = (folder / "deflated.dcm").string();
    testsupport::WriteFile(
        path, DeflatedFile(RawDeflate(std::string(body.stream.begin(), body.stream.end()))));
    paths.push_back(path);
  }
  const std::filesystem::path wild = "/usr/lib/python3/dist-packages/pydicom/data/test_files";
  ASSERT_TRUE(std::filesystem::is_directory(wild))
      << "python3-pydicom's test files are not installed (scripts/setup.sh installs them)";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(wild)) {
    if (entry.is_regular_file()) paths.push_back(entry.path().string());
  }
  size_t left = 0;
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    const ReadOutcome copied = ReadForComparison(path, false);
    const ReadOutcome leaving = ReadForComparison(path, true);
    EXPECT_TRUE(leaving == copied) << leaving.error << " / " << copied.error;
    EXPECT_EQ(copied.valuesInFile, 0u);
    left += leaving.valuesInFile;
  }
  // Our files leave their private value and pixel data (or both fragments) in the file; the
  // value inside the sequence is read with it, and the deflated file is read whole.
  for (const char* name : {"native.dcm", "implicit.dcm", "bigendian.dcm"}) {
    EXPECT_EQ(ReadForComparison((folder / name).string(), true).valuesInFile, 2u) << name;
  }
  EXPECT_EQ(ReadForComparison((folder / "encapsulated.dcm").string(), true).valuesInFile, 3u);
  EXPECT_EQ(ReadForComparison((folder / "deflated.dcm").string(), true).valuesInFile, 0u);
  EXPECT_GT(left, 20u);
}

}  // namespace
