// Element and data set encoding in the three uncompressed encodings, and hostile input.
#include "bufdata.h"

#include <gtest/gtest.h>

#include "bytes.h"
#include "dcmobj.h"
#include "logcapture.h"

namespace {

using testbytes::Decode;
using testbytes::Encode;
using testbytes::Hex;
using testbytes::ValueOf;

std::string WriteOne(const DcmTag& tag, bool explicitVR, bool bigEndian) {
  BufData buffer(bigEndian);
  EXPECT_TRUE(buffer.WriteTag(tag, explicitVR));
  return std::string(buffer.stream.begin(), buffer.stream.end());
}

struct ElementCase {
  const char* meaning;
  uint16_t group, element;
  const char* vr;
  std::string value;
  bool explicitVR, bigEndian;
  std::string encoded;
};

// Known-good encodings of single elements, decoded again to the same tag, VR, length and value.
TEST(BufDataTest, ElementEncodingsMatchKnownBytes) {
  const ElementCase cases[] = {
      {"implicit LE: (0010,0010) PN DOE^JANE, length 8", 0x0010, 0x0010, "PN", "DOE^JANE", false,
       false, Hex("10 00 10 00 08 00 00 00") + "DOE^JANE"},
      {"explicit LE: (0010,0010) PN DOE^JANE, 2-byte length 8", 0x0010, 0x0010, "PN", "DOE^JANE",
       true, false, Hex("10 00 10 00") + "PN" + Hex("08 00") + "DOE^JANE"},
      {"explicit LE: (0042,0011) OB of 4 bytes, reserved 00 00 and 4-byte length", 0x0042, 0x0011,
       "OB", Hex("01 02 03 04"), true, false,
       Hex("42 00 11 00") + "OB" + Hex("00 00 04 00 00 00 01 02 03 04")},
      {"explicit BE: tag and length swapped, text value as stored", 0x0010, 0x0010, "PN",
       "DOE^JANE", true, true, Hex("00 10 00 10") + "PN" + Hex("00 08") + "DOE^JANE"},
      {"explicit LE: group 0000 has no VR and a 4-byte length", 0x0000, 0x0002, "UI",
       std::string("1.2\0", 4), true, false,
       Hex("00 00 02 00 04 00 00 00") + std::string("1.2\0", 4)},
      {"explicit LE: item tag (FFFE,E000) has no VR", 0xFFFE, 0xE000, "DL", "ab", true, false,
       Hex("FE FF 00 E0 02 00 00 00") + "ab"},
      {"explicit LE: OF takes the reserved field and a 4-byte length", 0x0066, 0x0016, "OF",
       Hex("00 00 80 3F"), true, false,
       Hex("66 00 16 00") + "OF" + Hex("00 00 04 00 00 00 00 00 80 3F")},
      {"explicit LE: UC takes the reserved field and a 4-byte length", 0x0018, 0x9937, "UC", "AB",
       true, false, Hex("18 00 37 99") + "UC" + Hex("00 00 02 00 00 00") + "AB"},
      {"explicit LE: US 512 with a 2-byte length", 0x0028, 0x0010, "US", Hex("00 02"), true, false,
       Hex("28 00 10 00") + "US" + Hex("02 00 00 02")},
  };
  for (const ElementCase& c : cases) {
    SCOPED_TRACE(c.meaning);
    auto tag = DcmTag::FromBytes(c.group, c.element, static_cast<uint32_t>(c.value.size()),
                                 c.value.data(), c.vr);
    EXPECT_EQ(WriteOne(*tag, c.explicitVR, c.bigEndian), c.encoded);

    BufData buffer(c.bigEndian);
    buffer.stream.assign(c.encoded.begin(), c.encoded.end());
    DcmTag read;
    ASSERT_TRUE(buffer.ReadTag(read, c.explicitVR, false));
    EXPECT_EQ(read.group, c.group);
    EXPECT_EQ(read.element, c.element);
    if (c.explicitVR && c.group != 0x0000 && c.group != 0xFFFE) {
      EXPECT_EQ(read.VR(), c.vr);
    }
    EXPECT_EQ(ValueOf(read), c.value);
    EXPECT_EQ(buffer.Remaining(), 0u);
  }
}

// Which VRs take the reserved field and a 32-bit length in explicit VR, as every peer reads them.
TEST(BufDataTest, LengthFieldSizeFollowsTheVR) {
  const char* longVRs[] = {"OB", "OD", "OF", "OL", "OV", "OW", "SQ",
                           "SV", "UC", "UN", "UR", "UT", "UV"};
  const char* shortVRs[] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO",
                            "LT", "PN", "SH", "SL", "SS", "ST", "TM", "UI", "UL", "US"};
  for (const char* vr : longVRs) {
    SCOPED_TRACE(vr);
    auto tag = DcmTag::FromBytes(0x0009, 0x1000, 8, "abcdefgh", vr);
    EXPECT_EQ(WriteOne(*tag, true, false).size(), 12u + 8u);
  }
  for (const char* vr : shortVRs) {
    SCOPED_TRACE(vr);
    auto tag = DcmTag::FromBytes(0x0009, 0x1000, 8, "abcdefgh", vr);
    EXPECT_EQ(WriteOne(*tag, true, false).size(), 8u + 8u);
  }
}

TEST(BufDataTest, ExplicitElementWithoutLetterVRIsReadAsImplicit) {
  // (0010,0010) in implicit VR inside an explicit stream: its length bytes 08 00 are no letters.
  // Then (0010,0020) LO "PID1" in explicit VR, which must still be found after it.
  const std::string bytes = Hex("10 00 10 00 08 00 00 00") + "DOE^JANE" + Hex("10 00 20 00") +
                            "LO" + Hex("04 00") + "PID1";
  DcmObj dataSet;
  ASSERT_TRUE(Decode(bytes, dataSet, kExplicitVRLittleEndian));
  ASSERT_EQ(dataSet.Count(), 2u);
  EXPECT_EQ(dataSet.TagAt(0)->VR(), "PN");  // from the dictionary
  EXPECT_EQ(dataSet.GetString(0x0010, 0x0010), "DOE^JANE");
  EXPECT_EQ(dataSet.GetString(0x0010, 0x0020), "PID1");
}

// (0008,1110) Referenced Study Sequence, one item, holding (0008,1150) and (0008,1155).
const std::string kItemBody = Hex("08 00 50 11") + "UI" + Hex("06 00") + std::string("1.2.3\0", 6) +
                              Hex("08 00 55 11") + "UI" + Hex("06 00") + std::string("1.2.4\0", 6);

TEST(BufDataTest, DefinedLengthSequenceNestsAndWritesBackIdentically) {
  // SQ of length 36 = item header (8) + item of length 28.
  const std::string bytes = Hex("08 00 10 11") + "SQ" + Hex("00 00 24 00 00 00") +
                            Hex("FE FF 00 E0 1C 00 00 00") + kItemBody + Hex("10 00 10 00") + "PN" +
                            Hex("04 00") + "DOE^";
  DcmObj dataSet;
  ASSERT_TRUE(Decode(bytes, dataSet, kExplicitVRLittleEndian));
  ASSERT_EQ(dataSet.Count(), 2u);
  ASSERT_STREQ(dataSet.EntryKind(0), "DcmObj");
  const DcmObj& sequence = *dataSet.ObjAt(0);
  EXPECT_TRUE(sequence.header.Is(0x0008, 0x1110));
  EXPECT_EQ(sequence.header.VR(), "SQ");
  ASSERT_EQ(sequence.Count(), 1u);
  ASSERT_STREQ(sequence.EntryKind(0), "DcmObj");
  const DcmObj& item = *sequence.ObjAt(0);
  EXPECT_TRUE(item.header.Is(0xFFFE, 0xE000));
  ASSERT_EQ(item.Count(), 2u);
  EXPECT_EQ(item.GetString(0x0008, 0x1155), "1.2.4");
  // Not visible at the top level: it is inside the sequence.
  EXPECT_EQ(dataSet.FindTag(0x0008, 0x1150), nullptr);

  EXPECT_EQ(Encode(dataSet), bytes);
}

TEST(BufDataTest, UndefinedLengthSequenceStaysFlatAndWritesBackIdentically) {
  const std::string bytes =
      Hex("08 00 10 11") + "SQ" + Hex("00 00 FF FF FF FF") + Hex("FE FF 00 E0 FF FF FF FF") +
      kItemBody + Hex("FE FF 0D E0 00 00 00 00") +
      // a second item, this one with a defined length: held nested
      Hex("FE FF 00 E0 1C 00 00 00") + kItemBody + Hex("FE FF DD E0 00 00 00 00");
  DcmObj dataSet;
  ASSERT_TRUE(Decode(bytes, dataSet, kExplicitVRLittleEndian));
  const std::pair<uint16_t, uint16_t> expected[] = {
      {0x0008, 0x1110}, {0xFFFE, 0xE000}, {0x0008, 0x1150}, {0x0008, 0x1155},
      {0xFFFE, 0xE00D}, {0xFFFE, 0xE000}, {0xFFFE, 0xE0DD}};
  ASSERT_EQ(dataSet.Count(), std::size(expected));
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    EXPECT_EQ(dataSet.EntryTag(i).group, expected[i].first) << i;
    EXPECT_EQ(dataSet.EntryTag(i).element, expected[i].second) << i;
    EXPECT_STREQ(dataSet.EntryKind(i), i == 5 ? "DcmObj" : "DcmTag") << i;
  }
  EXPECT_EQ(Encode(dataSet), bytes);
}

TEST(BufDataTest, SequencesRoundTripInEveryEncoding) {
  // Built in memory, written in each encoding, read back and written again to the same bytes.
  for (const char* syntax :
       {kImplicitVRLittleEndian, kExplicitVRLittleEndian, kExplicitVRBigEndian}) {
    SCOPED_TRACE(syntax);
    DcmObj dataSet;
    dataSet.SetTransferSyntax(syntax);
    dataSet.AddString(0x0010, 0x0010, "DOE^JANE");
    dataSet.Add(DcmTag::FromUS(0x0028, 0x0010, 512, "US"));
    auto item = std::make_unique<DcmObj>();
    item->AddString(0x0008, 0x1150, "1.2.840.10008.5.1.4.1.1.7");
    item->Add(DcmTag::FromUS(0x0028, 0x0011, 256, "US"));
    auto sequence = std::make_unique<DcmObj>();
    sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
    dataSet.AddSequence(0x0008, 0x1110, std::move(sequence));
    const std::string first = Encode(dataSet);

    DcmObj read;
    ASSERT_TRUE(Decode(first, read, syntax));
    EXPECT_EQ(read.GetUS(0x0028, 0x0010), 512);
    // In implicit VR only the dictionary says that (0008,1110) is a sequence.
    ASSERT_EQ(read.Count(), 3u);
    ASSERT_STREQ(read.EntryKind(0), "DcmObj");
    ASSERT_STREQ(read.ObjAt(0)->EntryKind(0), "DcmObj");
    const DcmObj* readItem = read.ObjAt(0)->ObjAt(0);
    EXPECT_EQ(readItem->GetUS(0x0028, 0x0011), 256);
    EXPECT_EQ(readItem->GetString(0x0008, 0x1150), "1.2.840.10008.5.1.4.1.1.7");
    EXPECT_EQ(Encode(read), first);
  }
}

TEST(BufDataTest, EncapsulatedPixelFragmentsAreNeverExpanded) {
  // The second fragment happens to look like a data set; it must stay raw bytes.
  const std::string fragment = Hex("08 00 50 11") + "UI" + Hex("02 00") + std::string("1\0", 2);
  const std::string bytes = Hex("E0 7F 10 00") + "OB" + Hex("00 00 FF FF FF FF") +
                            Hex("FE FF 00 E0 00 00 00 00") +  // empty basic offset table
                            Hex("FE FF 00 E0 0A 00 00 00") + fragment +
                            Hex("FE FF DD E0 00 00 00 00");
  DcmObj dataSet;
  ASSERT_TRUE(Decode(bytes, dataSet, kExplicitVRLittleEndian));
  ASSERT_EQ(dataSet.Count(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_STREQ(dataSet.EntryKind(i), "DcmTag") << i;
  EXPECT_EQ(ValueOf(*dataSet.TagAt(2)), fragment);
  EXPECT_EQ(Encode(dataSet), bytes);
}

TEST(BufDataTest, EncapsulatedIconInsideAnItemIsKeptAsFragments) {
  // Icon Image Sequence (0088,0200) whose item holds compressed pixel data; the fragment bytes are
  // no data set, and reading them as one would fail the whole read.
  const std::string pixels =
      Hex("E0 7F 10 00") + "OB" + Hex("00 00 FF FF FF FF") + Hex("FE FF 00 E0 00 00 00 00") +
      Hex("FE FF 00 E0 04 00 00 00 FF D8 FF D9") + Hex("FE FF DD E0 00 00 00 00");
  ASSERT_EQ(pixels.size(), 40u);
  const std::string bytes = Hex("88 00 00 02") + "SQ" + Hex("00 00 30 00 00 00") +
                            Hex("FE FF 00 E0 28 00 00 00") + pixels;
  DcmObj dataSet;
  ASSERT_TRUE(Decode(bytes, dataSet, kExplicitVRLittleEndian));
  const DcmObj* item = dataSet.ObjAt(0)->ObjAt(0);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Count(), 4u);
  EXPECT_EQ(Encode(dataSet), bytes);
}

TEST(BufDataTest, MetaElementInsideAnImplicitItemReadsAsItWasWritten) {
  // An item holding (0002,0010) and (0010,0010), in implicit VR: written and read back alike.
  const std::string item = Hex("02 00 10 00 04 00 00 00") + "1.2" + std::string(1, '\0') +
                           Hex("10 00 10 00 04 00 00 00") + "DOE^";
  const std::string bytes = Hex("08 00 10 11 20 00 00 00 FE FF 00 E0 18 00 00 00") + item;
  DcmObj dataSet;
  ASSERT_TRUE(Decode(bytes, dataSet, kImplicitVRLittleEndian));
  ASSERT_STREQ(dataSet.EntryKind(0), "DcmObj");
  ASSERT_STREQ(dataSet.ObjAt(0)->EntryKind(0), "DcmObj");
  EXPECT_EQ(dataSet.ObjAt(0)->ObjAt(0)->GetString(0x0010, 0x0010), "DOE^");
  EXPECT_EQ(Encode(dataSet), bytes);
}

struct StopCase {
  const char* meaning;
  std::string tail;
  size_t entries;
};

TEST(BufDataTest, TrailingZeroBytesEndTheDataSet) {
  const std::string element = Hex("10 00 10 00 04 00 00 00") + "DOE^";
  const StopCase cases[] = {
      {"eight zero bytes: a (0000,0000) element of length 0", std::string(8, '\0'), 1},
      {"a block of zero padding", std::string(64, '\0'), 1},
      {"fewer zero bytes than an element header", std::string(3, '\0'), 1},
      {"what follows the zero element is not read",
       std::string(8, '\0') + Hex("10 00 20 00 02 00 00 00") + "P1", 1},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.meaning);
    DcmObj dataSet;
    EXPECT_TRUE(Decode(element + c.tail, dataSet, kImplicitVRLittleEndian));
    EXPECT_EQ(dataSet.Count(), c.entries);
  }
}

TEST(BufDataTest, FileMetaElementsInADataSetAreDropped) {
  const std::string bytes = Hex("02 00 10 00 14 00 00 00") + "1.2.840.10008.1.2.1" +
                            std::string(1, '\0') + Hex("10 00 10 00 04 00 00 00") + "DOE^";
  DcmObj dataSet;
  ASSERT_TRUE(Decode(bytes, dataSet, kImplicitVRLittleEndian));
  ASSERT_EQ(dataSet.Count(), 1u);
  EXPECT_TRUE(dataSet.TagAt(0)->Is(0x0010, 0x0010));
}

TEST(BufDataTest, ValueRunningPastTheEndIsZeroFilledAndWarned) {
  LogCapture log;
  // Declares 10 bytes, has 4.
  const std::string bytes = Hex("10 00 10 00 0A 00 00 00") + "DOE^";
  DcmObj dataSet;
  BufData buffer(false);
  buffer.stream.assign(bytes.begin(), bytes.end());
  ASSERT_TRUE(buffer.ReadDataSet(dataSet));
  ASSERT_EQ(dataSet.Count(), 1u);
  const DcmTag& tag = *dataSet.TagAt(0);
  EXPECT_EQ(tag.length, 10u);
  EXPECT_EQ(ValueOf(tag), std::string("DOE^") + std::string(6, '\0'));
  EXPECT_EQ(buffer.shortReads, 1u);
  EXPECT_TRUE(
      log.Contains(", WARNING, BufData::ReadTag, read bytes!=tag->length (0010,0010) count=4, "
                   "tag->length=10\n"));
}

TEST(BufDataTest, LengthThatCannotBeAllocatedFailsCleanly) {
  const std::string lengths[] = {"FF FF FF FE", "00 00 00 F0", "00 00 00 80"};
  for (const std::string& length : lengths) {
    SCOPED_TRACE(length);
    LogCapture log;
    DcmObj dataSet;
    const std::string bytes = Hex("10 00 10 00") + Hex(length) + "DOE^";
    EXPECT_FALSE(Decode(bytes, dataSet, kImplicitVRLittleEndian));
    EXPECT_EQ(dataSet.Count(), 0u);
    EXPECT_TRUE(log.Contains(", ERROR, BufData::ReadTag, assigning memory to tag->data\n"));
  }
}

TEST(BufDataTest, ValueCutShortKeepsItsBytesWithinTheAllowance) {
  // Pixel data declared as 4 MB of which 3 MB arrived: kept, the missing megabyte zero-filled.
  const uint32_t declared = 4u << 20;
  const std::string present(3u << 20, '\x5A');
  std::string bytes = Hex("E0 7F 10 00") + "OW" + Hex("00 00");
  for (int b = 0; b < 4; ++b) bytes.push_back(static_cast<char>(declared >> (8 * b)));
  DcmObj dataSet;
  ASSERT_TRUE(Decode(bytes + present, dataSet, kExplicitVRLittleEndian));
  ASSERT_EQ(dataSet.Count(), 1u);
  const std::string_view value = dataSet.TagAt(0)->Bytes();
  ASSERT_EQ(value.size(), declared);
  EXPECT_EQ(value.substr(0, present.size()), present);
  EXPECT_EQ(value.find_first_not_of('\0', present.size()), std::string_view::npos);
}

TEST(BufDataTest, SequenceCutShortIsKeptUnparsed) {
  // (0088,0200) declares 58 bytes and has 22: its items would be made of stand-in zeros, so the
  // sequence stays one element holding the bytes that arrived.
  const std::string bytes = Hex("08 00 60 00") + "CS" + Hex("02 00") + "OT" + Hex("88 00 00 02") +
                            "SQ" + Hex("00 00 3A 00 00 00 FE FF 00 E0 32 00 00 00 28 00 10 00") +
                            "US" + Hex("02 00 01 00 E0 08");
  DcmObj dataSet;
  ASSERT_TRUE(Decode(bytes, dataSet, kExplicitVRLittleEndian));
  ASSERT_EQ(dataSet.Count(), 2u);
  ASSERT_STREQ(dataSet.EntryKind(1), "DcmTag");
  EXPECT_EQ(dataSet.TagAt(1)->length, 58u);
  EXPECT_EQ(ValueOf(*dataSet.TagAt(1)).substr(0, 4), Hex("FE FF 00 E0"));
}

TEST(BufDataTest, SequenceWhoseLengthRunsPastTheEndIsReadUpToTheEndWhenItsElementsAreWhole) {
  // The sequence declares 0x40 bytes and its item 0x30, but the stream ends right after the
  // item's one whole element: the lengths are wrong, not the elements, and nothing is lost.
  const std::string item =
      Hex("FE FF 00 E0 30 00 00 00 08 00 50 11") + "UI" + Hex("04 00") + std::string("1.2") + '\0';
  const std::string bytes = Hex("08 00 60 00") + "CS" + Hex("02 00") + "OT" + Hex("08 00 40 11") +
                            "SQ" + Hex("00 00 40 00 00 00") + item;
  DcmObj dataSet;
  dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  BufData buffer(false);
  buffer.stream.assign(bytes.begin(), bytes.end());
  ASSERT_TRUE(buffer.ReadDataSet(dataSet));
  EXPECT_EQ(buffer.shortReads, 0u);
  EXPECT_EQ(buffer.recoveredSequences, 2u);
  ASSERT_EQ(dataSet.Count(), 2u);
  ASSERT_STREQ(dataSet.EntryKind(1), "DcmObj");
  const DcmObj& sequence = *dataSet.ObjAt(1);
  ASSERT_EQ(sequence.Count(), 1u);
  ASSERT_STREQ(sequence.EntryKind(0), "DcmObj");
  EXPECT_EQ(sequence.ObjAt(0)->GetString(0x0008, 0x1150), "1.2");

  // Written again, the lengths are the true ones.
  BufData writer(false);
  ASSERT_TRUE(writer.WriteDataSet(dataSet));
  const std::string fixed = Hex("08 00 60 00") + "CS" + Hex("02 00") + "OT" + Hex("08 00 40 11") +
                            "SQ" + Hex("00 00 14 00 00 00 FE FF 00 E0 0C 00 00 00") +
                            item.substr(8);
  EXPECT_EQ(std::string(writer.stream.begin(), writer.stream.end()), fixed);
}

// A "UN" element of undefined length in explicit VR holds an implicit VR little-endian sequence;
// what follows its delimiter is explicit VR again, in the stream's byte order.
TEST(BufDataTest, UndefinedLengthUNIsReadAsAnImplicitSequenceInEitherByteOrder) {
  const std::string inside = Hex("FE FF 00 E0 FF FF FF FF 08 00 50 11 04 00 00 00") + "1.2" + '\0' +
                             Hex("FE FF 0D E0 00 00 00 00 FE FF DD E0 00 00 00 00");
  struct Case {
    const char* syntax;
    std::string bytes;
  };
  const Case cases[] = {
      {kExplicitVRLittleEndian, Hex("09 00 10 10") + "UN" + Hex("00 00 FF FF FF FF") + inside +
                                    Hex("10 00 10 00") + "PN" + Hex("04 00") + "A^B "},
      {kExplicitVRBigEndian, Hex("00 09 10 10") + "UN" + Hex("00 00 FF FF FF FF") + inside +
                                 Hex("00 10 00 10") + "PN" + Hex("00 04") + "A^B "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.syntax);
    DcmObj dataSet;
    dataSet.SetTransferSyntax(c.syntax);
    BufData buffer(dataSet.bigEndian);
    buffer.stream.assign(c.bytes.begin(), c.bytes.end());
    ASSERT_TRUE(buffer.ReadDataSet(dataSet));
    EXPECT_EQ(buffer.shortReads, 0u);
    EXPECT_EQ(buffer.unSequences, 1u);
    ASSERT_EQ(dataSet.Count(), 6u);
    EXPECT_TRUE(dataSet.TagAt(0)->IsVR("SQ"));
    EXPECT_EQ(dataSet.TagAt(2)->GetString(), "1.2");
    EXPECT_TRUE(dataSet.TagAt(2)->IsVR("UI"));
    EXPECT_EQ(dataSet.GetString(0x0010, 0x0010), "A^B");
    EXPECT_EQ(dataSet.TagAt(5)->bigEndian, dataSet.bigEndian);

    // Written back as an explicit sequence, it reads the same and writes the same bytes again.
    BufData first(false);
    ASSERT_TRUE(first.WriteDataSet(dataSet));
    DcmObj again;
    again.SetTransferSyntax(c.syntax);
    BufData reader(again.bigEndian);
    reader.stream = first.stream;
    ASSERT_TRUE(reader.ReadDataSet(again));
    EXPECT_EQ(reader.unSequences, 0u);
    ASSERT_EQ(again.Count(), 6u);
    EXPECT_EQ(again.TagAt(2)->GetString(), "1.2");
    BufData second(false);
    ASSERT_TRUE(second.WriteDataSet(again));
    EXPECT_EQ(second.stream, first.stream);
  }
}

// Delimiters have no value: a length written into one is ignored, so the element after it is
// still found.
TEST(BufDataTest, DelimiterWithALengthIsReadWithoutAValue) {
  const std::string bytes =
      Hex("08 00 15 11") + "SQ" + Hex("00 00 FF FF FF FF FE FF 00 E0 FF FF FF FF 20 00 0E 00") +
      "UI" + Hex("04 00") + "1.2" + '\0' + Hex("FE FF 0D E0 00 00 00 00 FE FF DD E0 08 00 00 00") +
      Hex("10 00 10 00") + "PN" + Hex("04 00") + "A^B ";
  DcmObj dataSet;
  LogCapture log;
  ASSERT_TRUE(Decode(bytes, dataSet, kExplicitVRLittleEndian));
  ASSERT_EQ(dataSet.Count(), 6u);
  EXPECT_EQ(dataSet.TagAt(4)->length, 0u);
  EXPECT_EQ(dataSet.GetString(0x0010, 0x0010), "A^B");
  EXPECT_TRUE(log.Contains("(FFFE,E0DD) with length 8 read as length 0"));
}

TEST(BufDataTest, TruncatedElementHeaderFailsWithTheReadError) {
  LogCapture log;
  DcmObj dataSet;
  const std::string bytes = Hex("10 00 10 00 04 00 00 00") + "DOE^" + Hex("10 00 20");
  EXPECT_FALSE(Decode(bytes, dataSet, kImplicitVRLittleEndian));
  EXPECT_EQ(dataSet.Count(), 1u);  // what was complete stays for the caller to discard
  EXPECT_TRUE(log.Contains(", ERROR: BufData::ReadTag, (0010,"));
  EXPECT_TRUE(log.Contains("MS Size=15, MS Pos="));
}

struct TooLongCase {
  const char* vr;
  uint32_t length;
  bool written;
};

TEST(BufDataTest, ValueTooLongForATwoByteLengthIsRefused) {
  const TooLongCase cases[] = {
      {"LO", 65534, true}, {"LT", 65536, false}, {"UI", 70000, false},
      {"OB", 65536, true}, {"UT", 70000, true},  {"OF", 65536, true},
  };
  for (const TooLongCase& c : cases) {
    SCOPED_TRACE(std::string(c.vr) + " " + std::to_string(c.length));
    LogCapture log;
    const std::string value(c.length, 'x');
    auto tag = DcmTag::FromBytes(0x0009, 0x1010, c.length, value.data(), c.vr);
    BufData buffer(false);
    EXPECT_EQ(buffer.WriteTag(*tag, true), c.written);
    EXPECT_EQ(buffer.stream.empty(), !c.written);
    // Implicit VR has a 4-byte length for every element.
    BufData implicit(false);
    EXPECT_TRUE(implicit.WriteTag(*tag, false));
    if (!c.written) {
      EXPECT_TRUE(
          log.Contains(", ERROR, BufData::WriteTag, value too long for a 2-byte length "
                       "(0009,1010) VR=" +
                       std::string(c.vr)));
    }
  }
}

TEST(BufDataTest, TooLongValueInsideASequenceFailsTheWholeDataSet) {
  LogCapture log;
  DcmObj dataSet;
  dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  auto item = std::make_unique<DcmObj>();
  item->Add(DcmTag::FromBytes(0x0008, 0x1150, 65536, std::string(65536, '1').data(), "UI"));
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
  dataSet.AddSequence(0x0008, 0x1110, std::move(sequence));
  bool ok = true;
  Encode(dataSet, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(log.Contains("value too long for a 2-byte length (0008,1150)"));
}

std::string LittleEndian32(size_t value) {
  std::string bytes(4, '\0');
  for (int b = 0; b < 4; ++b) bytes[b] = static_cast<char>(value >> (8 * b));
  return bytes;
}

// Defined-length sequences (0008,1110) nested `levels` deep, each holding one item, around one
// (0010,0010) element; explicit VR little endian. Level k (from the inside) takes 20 bytes of
// headers, so the lengths are known before the bytes are laid out from the outside in.
std::string NestedSequences(int levels) {
  const std::string inner = Hex("10 00 10 00") + "PN" + Hex("04 00") + "DOE^";
  std::string bytes;
  for (int level = levels; level >= 1; --level) {
    const size_t itemValue = inner.size() + 20 * static_cast<size_t>(level - 1);
    bytes += Hex("08 00 10 11") + "SQ" + Hex("00 00") + LittleEndian32(itemValue + 8);
    bytes += Hex("FE FF 00 E0") + LittleEndian32(itemValue);
  }
  return bytes + inner;
}

TEST(BufDataTest, NestingDepthIsBounded) {
  {
    // Each sequence and each item is one level.
    DcmObj dataSet;
    const std::string bytes = NestedSequences(kMaxSequenceDepth / 2);
    ASSERT_TRUE(Decode(bytes, dataSet, kExplicitVRLittleEndian));
    EXPECT_EQ(Encode(dataSet), bytes);
    std::vector<std::string> lines;
    dataSet.Dump(lines);
    EXPECT_EQ(lines.size(), static_cast<size_t>(kMaxSequenceDepth + 1));
  }
  {
    LogCapture log;
    DcmObj dataSet;
    EXPECT_FALSE(
        Decode(NestedSequences(kMaxSequenceDepth / 2 + 1), dataSet, kExplicitVRLittleEndian));
    EXPECT_TRUE(log.Contains("ERROR, Expand_SQ: sequences nested deeper than"));
  }
  {
    // Far too deep for the stack if anything recursed per level.
    DcmObj dataSet;
    EXPECT_FALSE(Decode(NestedSequences(20000), dataSet, kExplicitVRLittleEndian));
  }
}

TEST(BufDataTest, BinaryNumbersFollowTheStreamByteOrder) {
  // Rows = 512 built here (little-endian bytes 00 02) and a read-in big-endian Columns = 256.
  DcmObj dataSet;
  dataSet.SetTransferSyntax(kExplicitVRBigEndian);
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0010, 512, "US"));
  auto columns = DcmTag::FromBytes(0x0028, 0x0011, 2, Hex("01 00").data(), "US");
  columns->bigEndian = true;
  dataSet.Add(std::move(columns));
  dataSet.Add(DcmTag::FromBytes(0x0028, 0x0030, 4, "1\\2 ", "DS"));
  const std::string bigEndian = Encode(dataSet);
  EXPECT_EQ(bigEndian, Hex("00 28 00 10") + "US" + Hex("00 02 02 00") + Hex("00 28 00 11") + "US" +
                           Hex("00 02 01 00") + Hex("00 28 00 30") + "DS" + Hex("00 04") + "1\\2 ");

  DcmObj read;
  ASSERT_TRUE(Decode(bigEndian, read, kExplicitVRBigEndian));
  EXPECT_EQ(read.GetUS(0x0028, 0x0010), 512);
  EXPECT_EQ(read.GetUS(0x0028, 0x0011), 256);
  // What was read big-endian is written back unchanged, and reordered for little endian.
  EXPECT_EQ(Encode(read), bigEndian);
  read.SetTransferSyntax(kExplicitVRLittleEndian);
  const std::string little = Encode(read);
  EXPECT_EQ(little.substr(0, 10), Hex("28 00 10 00") + "US" + Hex("02 00 00 02"));
  EXPECT_EQ(little.substr(10, 10), Hex("28 00 11 00") + "US" + Hex("02 00 00 01"));
}

TEST(BufDataTest, ElementsBuiltWithoutAVRGetOneInExplicitVR) {
  DcmObj dataSet;
  dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  auto name = std::make_unique<DcmTag>(0x0010, 0x0010);
  name->SetValue("DOE^", 4);
  dataSet.Append(std::move(name));
  auto unknown = std::make_unique<DcmTag>(0x0019, 0x1099);
  unknown->SetValue("AB", 2);
  dataSet.Append(std::move(unknown));
  auto sequence = std::make_unique<DcmObj>();
  sequence->header = DcmTag(0x0009, 0x1020);
  dataSet.Append(std::move(sequence));
  EXPECT_EQ(Encode(dataSet), Hex("10 00 10 00") + "PN" + Hex("04 00") + "DOE^" +
                                 Hex("19 00 99 10") + "UN" + Hex("00 00 02 00 00 00") + "AB" +
                                 Hex("09 00 20 10") + "SQ" + Hex("00 00 00 00 00 00"));
}

}  // namespace

namespace {

// A data set with long values of every kind the piece writer hands on directly, and long values
// it must encode: big-endian numbers, and text whose VR has a 2-byte length.
std::unique_ptr<DcmObj> LongValues(const char* syntax, bool bigEndianWords) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->SetTransferSyntax(syntax);
  dataSet->AddString(0x0010, 0x0010, "DOE^JANE");
  std::string pattern(100001, '\0');
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i * 7 + i / 256);
  auto item = std::make_unique<DcmObj>();
  item->Add(DcmTag::FromBytes(0x0042, 0x0011, 70000, pattern.data(), "OB"));
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
  dataSet->AddSequence(0x0008, 0x1110, std::move(sequence));
  dataSet->Add(DcmTag::FromBytes(0x0042, 0x0011, 100000, pattern.data(), "OB"));
  auto words = DcmTag::FromBytes(0x0060, 0x3000, 80000, pattern.data() + 1, "OW");
  words->bigEndian = bigEndianWords;
  dataSet->Add(std::move(words));
  dataSet->Add(DcmTag::FromBytes(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
  dataSet->Add(DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL"));
  dataSet->Add(DcmTag::FromBytes(0xFFFE, 0xE000, 65536, pattern.data() + 2, "DL"));
  dataSet->Add(DcmTag::FromBytes(0xFFFE, 0xE000, 100, pattern.data() + 3, "DL"));
  dataSet->Add(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  return dataSet;
}

}  // namespace

TEST(BufDataTest, PiecesJoinToTheWholeEncoding) {
  const struct {
    const char* syntax;
    bool bigEndianWords;
  } rows[] = {{kExplicitVRLittleEndian, false},
              {kExplicitVRLittleEndian, true},
              {kImplicitVRLittleEndian, false},
              {kExplicitVRBigEndian, false},
              {kExplicitVRBigEndian, true}};
  for (const auto& row : rows) {
    for (size_t pieceSize : {size_t{1}, size_t{4096}, size_t{1} << 20}) {
      SCOPED_TRACE(std::string(row.syntax) + (row.bigEndianWords ? " BE words" : "") +
                   ", pieces of " + std::to_string(pieceSize));
      const std::string whole = Encode(*LongValues(row.syntax, row.bigEndianWords));
      auto dataSet = LongValues(row.syntax, row.bigEndianWords);
      BufData buffer(false);
      buffer.WriteBytes("head", 4);
      const uint8_t* document = dataSet->FindTag(0x0042, 0x0011)->value.get();
      std::string joined;
      bool documentLent = false;
      ASSERT_TRUE(
          buffer.WriteDataSetPieces(*dataSet, pieceSize, [&](const uint8_t* bytes, size_t size) {
            EXPECT_GT(size, 0u);
            documentLent = documentLent || bytes == document;
            joined.append(reinterpret_cast<const char*>(bytes), size);
            return true;
          }));
      EXPECT_TRUE(joined == "head" + whole);
      EXPECT_TRUE(buffer.stream.empty());
      // A long value in the stream's byte order is handed on from the object, not copied.
      EXPECT_EQ(documentLent, row.syntax != kExplicitVRBigEndian);
    }
  }
}

TEST(BufDataTest, APieceRefusedOrAnElementThatCannotBeEncodedStopsThePieces) {
  auto dataSet = LongValues(kExplicitVRLittleEndian, false);
  BufData refusing;
  int calls = 0;
  EXPECT_FALSE(refusing.WriteDataSetPieces(*dataSet, 1, [&](const uint8_t*, size_t) {
    ++calls;
    return false;
  }));
  EXPECT_EQ(calls, 1);

  LogCapture log;
  dataSet->Add(DcmTag::FromBytes(0x7FE1, 0x0010, 70000, std::string(70000, 'c').data(), "LT"));
  BufData buffer;
  size_t handed = 0;
  EXPECT_FALSE(buffer.WriteDataSetPieces(*dataSet, 1024, [&](const uint8_t*, size_t size) {
    handed += size;
    return true;
  }));
  EXPECT_GT(handed, 0u);
  EXPECT_TRUE(log.Contains("value too long for a 2-byte length"));
}
