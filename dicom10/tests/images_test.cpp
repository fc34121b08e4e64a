// The image reader: VOI LUT mapping, spacing checks, pixel sizes, and what the burn-in leaves.
#include <gtest/gtest.h>

#include "bytes.h"
#include "imagefixture.h"
#include "images.h"
#include "logcapture.h"

namespace {

using imagefixture::Text;

std::unique_ptr<DcmObj> CrImage(std::vector<uint16_t> values, uint16_t rows, uint16_t columns) {
  auto d = std::make_unique<DcmObj>();
  d->SetTransferSyntax(kExplicitVRLittleEndian);
  d->Append(Text(0x0008, 0x0060, "CS", "CR"));
  d->Append(Text(0x0028, 0x0004, "CS", "MONOCHROME2"));
  d->Append(DcmTag::FromUS(0x0028, 0x0010, rows, "US"));
  d->Append(DcmTag::FromUS(0x0028, 0x0011, columns, "US"));
  d->Append(DcmTag::FromUS(0x0028, 0x0100, 16, "US"));
  std::vector<uint8_t> bytes;
  for (uint16_t v : values) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  }
  d->Append(
      DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<uint32_t>(bytes.size()), bytes.data(), "OW"));
  return d;
}

// A VOI LUT Sequence in nested form whose entry i is 1000 + i.
std::unique_ptr<DcmObj> NestedLut(uint16_t entries, uint16_t firstMapped) {
  auto item = std::make_unique<DcmObj>();
  const uint8_t descriptor[6] = {static_cast<uint8_t>(entries),
                                 static_cast<uint8_t>(entries >> 8),
                                 static_cast<uint8_t>(firstMapped),
                                 static_cast<uint8_t>(firstMapped >> 8),
                                 16,
                                 0};
  item->Append(DcmTag::FromBytes(0x0028, 0x3002, 6, descriptor, "US"));
  std::vector<uint8_t> data;
  for (uint32_t i = 0; i < entries; ++i) {
    data.push_back(static_cast<uint8_t>(1000 + i));
    data.push_back(static_cast<uint8_t>((1000 + i) >> 8));
  }
  item->Append(
      DcmTag::FromBytes(0x0028, 0x3006, static_cast<uint32_t>(data.size()), data.data(), "OW"));
  auto sequence = std::make_unique<DcmObj>();
  sequence->AddSequence(0xFFFE, 0xE000, std::move(item));
  return sequence;
}

uint16_t PixelAt(const DcmObj& d, size_t k) {
  const DcmTag* pixels = d.FindTag(0x7FE0, 0x0010);
  return static_cast<uint16_t>(pixels->value[2 * k] | pixels->value[2 * k + 1] << 8);
}

TEST(BurnInVOILUT, MapsEveryPixelThroughTheClampedLut) {
  struct Case {
    uint16_t firstMapped;
    uint16_t value;
    uint16_t expected;
  } cases[] = {
      {0, 5000, 1000 + 4095},
      {0, 10, 1010},
      {100, 50, 1000},
      {100, 150, 1050},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    auto d = CrImage({c.value, c.value, c.value, c.value}, 2, 2);
    d->AddSequence(0x0028, 0x3010, NestedLut(4096, c.firstMapped));
    EXPECT_EQ(BurnInVOILUT(*d), 1);
    for (size_t k = 0; k < 4; ++k) EXPECT_EQ(PixelAt(*d, k), c.expected);
    for (size_t i = 0; i < d->Count(); ++i) EXPECT_FALSE(d->EntryTag(i).Is(0x0028, 0x3010));
  }
}

// A data set read from a big-endian stream holds its pixel words big-endian: they are mapped by
// their value, and the burnt-in pixels are stored in the order the element then says.
TEST(BurnInVOILUT, BigEndianPixelsAreMappedByTheirValue) {
  auto source = CrImage({10, 5000, 150, 3}, 2, 2);
  source->AddSequence(0x0028, 0x3010, NestedLut(4096, 100));
  source->SetTransferSyntax(kExplicitVRBigEndian);
  bool written = false;
  const std::string bytes = testbytes::Encode(*source, &written);
  ASSERT_TRUE(written);
  DcmObj d;
  ASSERT_TRUE(testbytes::Decode(bytes, d, kExplicitVRBigEndian));
  EXPECT_EQ(BurnInVOILUT(d), 1);
  const DcmTag* pixels = d.FindTag(0x7FE0, 0x0010);
  ASSERT_NE(pixels, nullptr);
  const uint16_t expected[4] = {1000, 1000 + 4095, 1050, 1000};
  for (size_t k = 0; k < 4; ++k) {
    const uint8_t* word = pixels->value.get() + 2 * k;
    const auto value =
        static_cast<uint16_t>(pixels->bigEndian ? word[0] << 8 | word[1] : word[1] << 8 | word[0]);
    EXPECT_EQ(value, expected[k]) << k;
  }
}

// Every frame is mapped and kept: burning in must not cut a multi-frame image to one frame.
TEST(BurnInVOILUT, KeepsAllFrames) {
  auto d = CrImage({1, 2, 3, 4, 5, 6, 7, 8}, 2, 2);
  d->Add(Text(0x0028, 0x0008, "IS", "2"));
  d->AddSequence(0x0028, 0x3010, NestedLut(16, 0));
  EXPECT_EQ(BurnInVOILUT(*d), 1);
  EXPECT_EQ(d->FindTag(0x7FE0, 0x0010)->length, 16u);
  for (size_t k = 0; k < 8; ++k) EXPECT_EQ(PixelAt(*d, k), 1000 + k + 1);
}

TEST(BurnInVOILUT, LeavesDataSetsItCannotMapAlone) {
  struct Case {
    const char* name;
    std::unique_ptr<DcmObj> dataSet;
  };
  std::vector<Case> cases;
  {
    auto d = CrImage({1, 2, 3, 4}, 2, 2);
    d->AddSequence(0x0028, 0x3010, NestedLut(16, 0));
    d->Add(Text(0x0028, 0x0004, "CS", "RGB"));
    cases.push_back({"colour", std::move(d)});
  }
  {
    auto d = CrImage({1, 2, 3}, 2, 2);
    d->AddSequence(0x0028, 0x3010, NestedLut(16, 0));
    cases.push_back({"pixel data too short", std::move(d)});
  }
  {
    auto d = CrImage({1, 2, 3, 4}, 2, 2);
    auto lut = NestedLut(16, 0);
    lut->ObjAt(0)->TagAt(1)->length = 8;  // data shorter than the descriptor says
    d->AddSequence(0x0028, 0x3010, std::move(lut));
    cases.push_back({"LUT data of the wrong length", std::move(d)});
  }
  cases.push_back({"no LUT", CrImage({1, 2, 3, 4}, 2, 2)});
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t count = c.dataSet->Count();
    EXPECT_EQ(BurnInVOILUT(*c.dataSet), 0);
    EXPECT_EQ(c.dataSet->Count(), count);
    EXPECT_EQ(PixelAt(*c.dataSet, 0), 1);
  }
}

TEST(TImagesRead, PixelDataSizeCheck) {
  struct Case {
    uint32_t length;
    bool taken;
    const char* logged;
  } cases[] = {
      {10000, false, "ERROR, Image Size (20000) <> Tag Length (10000)"},
      {20002, false, "ERROR, Image Size (20000) <> Tag Length (20002)"},
      {19999, true, ""},
      {20000, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    LogCapture log;
    DcmObj d;
    d.Append(DcmTag::FromUS(0x0028, 0x0010, 100, "US"));
    d.Append(DcmTag::FromUS(0x0028, 0x0011, 100, "US"));
    d.Append(DcmTag::FromUS(0x0028, 0x0100, 16, "US"));
    auto pixels = std::make_unique<DcmTag>(0x7FE0, 0x0010);
    pixels->SetVR("OW");
    pixels->TakeValue(std::make_unique<uint8_t[]>(c.length), c.length);
    d.Append(std::move(pixels));
    TImages image;
    image.Read(d);
    EXPECT_EQ(!image.pixels.empty(), c.taken);
    if (c.logged[0]) {
      EXPECT_TRUE(log.Contains(c.logged)) << log.Text();
    }
  }
}

TEST(TImagesRead, SpacingWarnings) {
  struct Case {
    const char* name;
    const char* manufacturer;
    const char* imagerSpacing;
    const char* logged;  // empty: no warning at all
  } cases[] = {
      {"no imager spacing", "ACME", nullptr,
       "WARNING, Imager PixelSpacing is empty, Using Pixel Spacing from (0028, 0030)"},
      {"different spacings", "ACME", "0.2\\0.2",
       "WARNING, Imager PixelSpacing (0.200000002980232)!= PixelSpacing ((0.100000001490116)"},
      {"vendor in any case", "Palodex SoReDeX", nullptr, ""},
      {"equal spacings", "ACME", "0.1\\0.1", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    DcmObj d;
    d.Append(Text(0x0008, 0x0060, "CS", "CR"));
    d.Append(Text(0x0008, 0x0070, "LO", c.manufacturer));
    if (c.imagerSpacing) d.Append(Text(0x0018, 0x1164, "DS", c.imagerSpacing));
    d.Append(Text(0x0028, 0x0030, "DS", "0.1\\0.1"));
    TImages image;
    image.Read(d);
    if (c.logged[0]) {
      EXPECT_TRUE(log.Contains(c.logged)) << log.Text();
    } else {
      EXPECT_FALSE(log.Contains("WARNING")) << log.Text();
    }
  }
}

// The Modality LUT Sequence carries the same descriptor and data elements; only the VOI LUT
// Sequence may be taken.
TEST(TImagesRead, FlatModalityLutIsNotTakenForTheVoiLut) {
  DcmObj d;
  const uint8_t descriptor[6] = {4, 0, 0, 0, 16, 0};
  const uint8_t data[8] = {1, 0, 2, 0, 3, 0, 4, 0};
  d.Append(DcmTag::FromBytes(0x0028, 0x3000, kUndefinedLength, nullptr, "SQ"));
  d.Append(DcmTag::FromBytes(0xFFFE, 0xE000, kUndefinedLength, nullptr, "DL"));
  d.Append(DcmTag::FromBytes(0x0028, 0x3002, 6, descriptor, "US"));
  d.Append(DcmTag::FromBytes(0x0028, 0x3006, 8, data, "OW"));
  d.Append(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr, "DL"));
  d.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  TImages image;
  image.Read(d);
  EXPECT_FALSE(image.HasVOILUT);
}

}  // namespace
