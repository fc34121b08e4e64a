// The DIMSE request command sets: element order, group length and the bytes on the wire.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "bufdata.h"
#include "dimse.h"

namespace {

std::vector<uint8_t> Encode(DcmObj& command) {
  BufData buffer;
  EXPECT_TRUE(buffer.WriteDataSet(command));
  return buffer.stream;
}

std::vector<std::pair<uint16_t, uint16_t>> Tags(const DcmObj& dataSet) {
  std::vector<std::pair<uint16_t, uint16_t>> tags;
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    tags.emplace_back(dataSet.EntryTag(i).group, dataSet.EntryTag(i).element);
  }
  return tags;
}

TEST(DimseCommandTest, EchoRequestMatchesKnownBytes) {
  auto command = BuildEchoRQ(kVerificationSopClass, 3);
  // (0000,0000) UL 56; (0000,0002) UI "1.2.840.10008.1.1" + zero pad; (0000,0100) US 0x0030;
  // (0000,0110) US 3; (0000,0800) US 0x0101 — all in Implicit VR Little Endian.
  const std::vector<uint8_t> expected = {
      0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x38, 0x00, 0x00, 0x00,  //
      0x00, 0x00, 0x02, 0x00, 0x12, 0x00, 0x00, 0x00, '1',  '.',  '2',  '.',   //
      '8',  '4',  '0',  '.',  '1',  '0',  '0',  '0',  '8',  '.',  '1',  '.',   //
      '1',  0x00,                                                              //
      0x00, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x30, 0x00,              //
      0x00, 0x00, 0x10, 0x01, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00,              //
      0x00, 0x00, 0x00, 0x08, 0x02, 0x00, 0x00, 0x00, 0x01, 0x01,              //
  };
  EXPECT_EQ(Encode(*command), expected);
}

// Each request: its elements in ascending order, the group length the encoding really has, and
// the fields a peer dispatches on.
TEST(DimseCommandTest, RequestsCarryTheirFieldsAndTrueGroupLength) {
  const std::string storageClass = "1.2.840.10008.5.1.4.1.1.7";  // 25 characters, padded to 26
  const std::string instance(53, '1');
  struct Case {
    const char* name;
    std::function<std::unique_ptr<DcmObj>()> build;
    uint32_t groupLength;
    uint16_t commandField;
    uint16_t dataSetType;
    std::vector<std::pair<uint16_t, uint16_t>> tags;
  };
  const std::vector<Case> cases = {
      {"echo",
       [] { return BuildEchoRQ(kVerificationSopClass, 7); },
       56,
       0x0030,
       0x0101,
       {{0, 0}, {0, 0x0002}, {0, 0x0100}, {0, 0x0110}, {0, 0x0800}}},
      {"find",
       [] { return BuildFindRQ("1.2.840.10008.5.1.4.31", 7); },
       70,
       0x0020,
       0x0102,
       {{0, 0}, {0, 0x0002}, {0, 0x0100}, {0, 0x0110}, {0, 0x0700}, {0, 0x0800}}},
      {"store",
       [&] { return BuildStoreRQ(storageClass, instance, 7); },
       26 + 48 + 54 + 8,
       0x0001,
       0x0102,
       {{0, 0}, {0, 0x0002}, {0, 0x0100}, {0, 0x0110}, {0, 0x0700}, {0, 0x0800}, {0, 0x1000}}},
      {"store without instance",
       [&] { return BuildStoreRQ(storageClass, "", 7); },
       26 + 48,
       0x0001,
       0x0102,
       {{0, 0}, {0, 0x0002}, {0, 0x0100}, {0, 0x0110}, {0, 0x0700}, {0, 0x0800}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto command = c.build();
    EXPECT_EQ(Tags(*command), c.tags);
    EXPECT_EQ(command->FindTag(0, 0)->GetUL(), c.groupLength);
    EXPECT_EQ(Encode(*command).size(), 12u + c.groupLength);
    EXPECT_EQ(command->GetUS(0, 0x0100), c.commandField);
    EXPECT_EQ(command->GetUS(0, 0x0110), 7);
    EXPECT_EQ(command->GetUS(0, 0x0800), c.dataSetType);
    if (command->FindTag(0, 0x0700)) {
      EXPECT_EQ(command->GetUS(0, 0x0700), 0);
    }
    EXPECT_EQ(command->transferSyntax, kImplicitVRLittleEndian);
  }
  auto store = BuildStoreRQ(storageClass, instance, 7);
  EXPECT_EQ(store->GetString(0, 0x1000), instance);
  EXPECT_EQ(store->GetString(0, 0x0002), storageClass);
}

}  // namespace
