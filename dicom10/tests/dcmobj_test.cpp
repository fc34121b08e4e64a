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

}  // namespace
