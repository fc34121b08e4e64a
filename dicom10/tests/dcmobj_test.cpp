// Ordered insertion, search and typed access of data sets.
#include <gtest/gtest.h>

#include "dcmobj.h"

namespace {

std::vector<std::pair<uint16_t, uint16_t>> Tags(const DcmObj& dataSet) {
  std::vector<std::pair<uint16_t, uint16_t>> tags;
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    tags.emplace_back(dataSet.EntryTag(i).group, dataSet.EntryTag(i).element);
  }
  return tags;
}

TEST(DcmTagTest, TextIsPaddedToEvenLengthBySpaceOrZeroForUids) {
  auto name = DcmTag::FromBytes(0x0008, 0x0070, 3, "ABC", "SH");
  ASSERT_EQ(name->length, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name->value.get()), 4), "ABC ");
  auto uid = DcmTag::FromBytes(0x0008, 0x0016, 5, "1.2.3", "UI");
  ASSERT_EQ(uid->length, 6u);
  EXPECT_EQ(uid->value[5], 0);
}

TEST(DcmTagTest, TypedAccessorsRespectLengthAndByteOrder) {
  const uint8_t bytes[] = {0x01, 0x02};
  auto tag = DcmTag::FromBytes(0x0028, 0x0010, 2, bytes, "US");
  EXPECT_EQ(tag->GetUS(), 0x0201);
  tag->bigEndian = true;
  EXPECT_EQ(tag->GetUS(), 0x0102);
  EXPECT_EQ(tag->GetUL(), 0u);
  auto twoValues = DcmTag::FromUL(0x0028, 0x0010, 0x00020001, "US");
  EXPECT_EQ(twoValues->GetUS(), 0);

  auto padded = DcmTag::FromBytes(0x0010, 0x0010, 14, "  SMITH^JOHN \0", "PN");
  EXPECT_EQ(padded->GetString(), "SMITH^JOHN");
  auto values = DcmTag::FromBytes(0x0028, 0x0030, 9, "0.5\\0.25", "DS");
  EXPECT_EQ(values->GetValueAt(1), 0.25L);
  EXPECT_EQ(values->GetValueAt(2), 0.0L);
  EXPECT_FLOAT_EQ(values->GetFloat(), 0.5f);
}

TEST(DcmObjTest, AddInsertsByTagOrderAndReplacesKeepingVR) {
  DcmObj dataSet;
  dataSet.AddString(0x0008, 0x0020, "20230118");
  dataSet.AddString(0x0010, 0x0020, "PID");
  dataSet.AddString(0x0020, 0x000D, "1.2.3");
  dataSet.AddString(0x0010, 0x0010, "DOE^JANE");
  EXPECT_EQ(Tags(dataSet),
            (std::vector<std::pair<uint16_t, uint16_t>>{
                {0x0008, 0x0020}, {0x0010, 0x0010}, {0x0010, 0x0020}, {0x0020, 0x000D}}));
  dataSet.Add(DcmTag::FromBytes(0x0010, 0x0010, 4, "ROE^", "LO"));
  EXPECT_EQ(dataSet.Count(), 4u);
  EXPECT_EQ(dataSet.GetString(0x0010, 0x0010), "ROE^");
  EXPECT_EQ(dataSet.FindTag(0x0010, 0x0010)->VR(), "PN");
}

TEST(DcmObjTest, AddAfterEncapsulatedPixelDataGoesToTheEnd) {
  DcmObj dataSet;
  dataSet.AddString(0x0008, 0x0060, "OT");
  dataSet.Append(DcmTag::FromBytes(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE000, 4, "abcd"));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr));
  dataSet.Add(DcmTag::FromBytes(0xFFFC, 0xFFFC, 2, "\0\0", "OB"));
  EXPECT_EQ(Tags(dataSet).back(), std::make_pair(uint16_t{0xFFFC}, uint16_t{0xFFFC}));
  EXPECT_EQ(dataSet.Count(), 6u);
}

TEST(DcmObjTest, FindTagSkipsElementsInsideFlatSequences) {
  DcmObj dataSet;
  dataSet.Append(DcmTag::FromBytes(0x0008, 0x1110, kUndefinedLength, nullptr, "SQ"));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE000, kUndefinedLength, nullptr));
  dataSet.Append(DcmTag::FromText(0x0008, 0x1150, "1.2.inner"));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr));
  EXPECT_EQ(dataSet.FindTag(0x0008, 0x1150), nullptr);
  dataSet.Append(DcmTag::FromText(0x0008, 0x1150, "1.2.outer"));
  EXPECT_EQ(dataSet.GetString(0x0008, 0x1150), "1.2.outer");
}

TEST(DcmObjTest, AddNeverTouchesElementsInsideFlatSequences) {
  DcmObj dataSet;
  dataSet.Append(DcmTag::FromBytes(0x0008, 0x1110, kUndefinedLength, nullptr, "SQ"));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE000, kUndefinedLength, nullptr));
  dataSet.Append(DcmTag::FromText(0x0008, 0x1150, "1.2.inner"));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr));
  dataSet.AddString(0x0008, 0x1150, "1.2.top");
  ASSERT_EQ(dataSet.Count(), 6u);
  EXPECT_EQ(dataSet.TagAt(2)->GetString(), "1.2.inner");
  EXPECT_EQ(dataSet.GetString(0x0008, 0x1150), "1.2.top");
  // Elements sorting before the sequence still go before it.
  dataSet.AddString(0x0008, 0x0016, "1.2");
  EXPECT_TRUE(dataSet.TagAt(0)->Is(0x0008, 0x0016));
}

TEST(DcmObjTest, AddSequenceInsertsByOrderAndNeverReplaces) {
  DcmObj dataSet;
  dataSet.explicitVR = true;
  dataSet.AddString(0x0008, 0x0016, "1.2");
  dataSet.AddString(0x0010, 0x0010, "DOE^JANE");
  dataSet.AddSequence(0x0008, 0x1110, std::make_unique<DcmObj>());
  dataSet.AddSequence(0x0008, 0x1110, std::make_unique<DcmObj>());
  EXPECT_EQ(Tags(dataSet),
            (std::vector<std::pair<uint16_t, uint16_t>>{
                {0x0008, 0x0016}, {0x0008, 0x1110}, {0x0008, 0x1110}, {0x0010, 0x0010}}));
  EXPECT_STREQ(dataSet.EntryKind(1), "DcmObj");
  EXPECT_TRUE(dataSet.ObjAt(1)->explicitVR);
  EXPECT_EQ(dataSet.ObjAt(1)->header.VR(), "SQ");
  // An item's header carries no VR.
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::make_unique<DcmObj>());
  EXPECT_EQ(sequence->ObjAt(0)->header.VR(), "");
}

TEST(DcmObjTest, AddOfAnElementOverANestedSequenceReplacesIt) {
  // The element takes the sequence's place, so the tag is never present twice at depth 0.
  DcmObj dataSet;
  dataSet.AddSequence(0x0008, 0x1110, std::make_unique<DcmObj>());
  dataSet.Add(DcmTag::FromBytes(0x0008, 0x1110, 0, nullptr, "SQ"));
  ASSERT_EQ(dataSet.Count(), 1u);
  EXPECT_STREQ(dataSet.EntryKind(0), "DcmTag");
}

TEST(DcmObjTest, DeleteMovesLaterEntriesUpAndClearEmpties) {
  DcmObj dataSet;
  dataSet.AddString(0x0008, 0x0016, "1.2");
  auto item = std::make_unique<DcmObj>();
  item->AddString(0x0008, 0x1150, "1.2.3");
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
  dataSet.AddSequence(0x0008, 0x1110, std::move(sequence));
  dataSet.AddString(0x0010, 0x0010, "DOE^JANE");
  dataSet.AddString(0x0010, 0x0020, "PID");

  dataSet.Delete(1);  // the nested sequence, freed with its item (the leak check sees it)
  EXPECT_EQ(Tags(dataSet), (std::vector<std::pair<uint16_t, uint16_t>>{
                               {0x0008, 0x0016}, {0x0010, 0x0010}, {0x0010, 0x0020}}));
  dataSet.Delete(0);
  EXPECT_EQ(dataSet.GetString(0x0010, 0x0010), "DOE^JANE");
  EXPECT_TRUE(dataSet.TagAt(0)->Is(0x0010, 0x0010));
  dataSet.Delete(5);  // past the end: nothing happens
  EXPECT_EQ(dataSet.Count(), 2u);

  dataSet.Clear();
  EXPECT_EQ(dataSet.Count(), 0u);
  EXPECT_EQ(dataSet.FindTag(0x0010, 0x0010), nullptr);
  // The data set is usable again after Clear.
  dataSet.AddString(0x0010, 0x0020, "PID2");
  EXPECT_EQ(dataSet.GetString(0x0010, 0x0020), "PID2");
}

TEST(DcmObjTest, DeepNestingIsDestroyedWithoutRecursion) {
  auto outer = std::make_unique<DcmObj>();
  DcmObj* level = outer.get();
  for (int i = 0; i < 200000; ++i) {
    auto inner = std::make_unique<DcmObj>();
    DcmObj* next = inner.get();
    level->AddSequence(0x0008, 0x1110, std::move(inner));
    level = next;
  }
  level->AddString(0x0010, 0x0010, "DOE^JANE");
  outer.reset();  // a recursive destructor chain would overflow the stack here
  SUCCEED();
}

TEST(DcmTagTest, DecimalStringsConvertLikeTheCLibrary) {
  const std::pair<std::string, long double> values[] = {
      {"  12.5", 12.5L}, {"-3", -3.0L}, {"1e2\\7", 100.0L}, {"abc", 0.0L}, {"", 0.0L}};
  for (const auto& [text, expected] : values) {
    auto tag = DcmTag::FromText(0x0028, 0x0030, text);
    EXPECT_EQ(tag->GetValueAt(0), expected) << text;
    EXPECT_FLOAT_EQ(tag->GetFloat(), static_cast<float>(expected)) << text;
  }
  auto list = DcmTag::FromText(0x0028, 0x0030, "0.5\\ 0.25\\7");
  EXPECT_EQ(list->GetValueAt(1), 0.25L);
  EXPECT_EQ(list->GetValueAt(2), 7.0L);
  EXPECT_EQ(list->GetValueAt(3), 0.0L);
  EXPECT_EQ(list->GetValueAt(-1), 0.0L);
}

TEST(DcmTagTest, TextConstructorTakesTheDictionaryVRAndItsPadding) {
  auto uid = DcmTag::FromText(0x0008, 0x0016, "1.2.3");
  EXPECT_EQ(uid->VR(), "UI");
  EXPECT_EQ(std::string(uid->Bytes()), std::string("1.2.3\0", 6));
  auto name = DcmTag::FromText(0x0010, 0x0010, "ABC");
  EXPECT_EQ(std::string(name->Bytes()), "ABC ");
  auto unknownSequence = DcmTag::FromBytes(0x0019, 0x1099, kUndefinedLength, nullptr);
  EXPECT_EQ(unknownSequence->VR(), "SQ");
  EXPECT_EQ(unknownSequence->value, nullptr);
  auto empty = DcmTag::FromText(0x0010, 0x0010, "");
  EXPECT_EQ(empty->length, 0u);
  EXPECT_EQ(empty->GetString(), "");
}

TEST(DcmObjTest, ReplacedValueKeepsTheVRButTakesTheByteOrderOfTheNewBytes) {
  // Rows as read from a big-endian stream (bytes 01 00 = 256), replaced by a value built here.
  DcmObj dataSet;
  auto rows = DcmTag::FromBytes(0x0028, 0x0010, 2, "\x01\x00", "US");
  rows->bigEndian = true;
  dataSet.Add(std::move(rows));
  ASSERT_EQ(dataSet.GetUS(0x0028, 0x0010), 256);
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0010, 512, "OW"));
  EXPECT_EQ(dataSet.GetUS(0x0028, 0x0010), 512);
  EXPECT_EQ(dataSet.FindTag(0x0028, 0x0010)->VR(), "US");
}

}  // namespace
