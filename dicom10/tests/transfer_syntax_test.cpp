// Transfer-syntax conversion: every pair of syntaxes on every sample format, the attribute
// rewrites of the lossy targets, and failures that leave the data set exactly as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "bytes.h"
#include "codec_j2k.h"
#include "dicomfile.h"
#include "imagefixture.h"
#include "logcapture.h"
#include "rleencoder.h"
#include "transfer_syntax.h"

namespace {

using imagefixture::ImageFormat;
using imagefixture::InterleavedSamples;
using imagefixture::MakeImage;
using imagefixture::NativeSamples;

const ImageFormat kFormats[] = {
    {"grey8", "MONOCHROME2", 8, 8, 0, false},      {"rgb8", "RGB", 8, 8, 0, false},
    {"rgb8_planar", "RGB", 8, 8, 0, true},         {"unsigned12", "MONOCHROME2", 16, 12, 0, false},
    {"signed12", "MONOCHROME2", 16, 12, 1, false}, {"unsigned16", "MONOCHROME1", 16, 16, 0, false},
    {"signed16", "MONOCHROME2", 16, 16, 1, false},
};

const char* const kLosslessSyntaxes[] = {
    kImplicitVRLittleEndian, kExplicitVRLittleEndian, kExplicitVRBigEndian,
    kJpegLosslessSyntax,     kJpegLosslessProcess14,  kJpeg2000LosslessSyntax,
};

// Written with the encoder and read back, as a receiver or a file would see the data set.
std::unique_ptr<DcmObj> WrittenAndRead(DcmObj& dataSet) {
  bool written = false;
  const std::string bytes = testbytes::Encode(dataSet, &written);
  EXPECT_TRUE(written);
  auto read = std::make_unique<DcmObj>();
  EXPECT_TRUE(testbytes::Decode(bytes, *read, dataSet.transferSyntax));
  return read;
}

std::unique_ptr<DcmObj> RleImage(const ImageFormat& f, const std::vector<uint8_t>& samples) {
  auto d = MakeImage(f, samples);
  const int spp = imagefixture::IsColour(f) ? 3 : 1;
  const size_t pixels = static_cast<size_t>(f.rows) * f.columns;
  const size_t frameSize = samples.size() / static_cast<size_t>(f.frames);
  d->Delete(static_cast<size_t>(d->FindIndex(0x7FE0, 0x0010)));
  d->Append(DcmTag::FromBytes(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
  d->Append(DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL"));
  for (int frame = 0; frame < f.frames; ++frame) {
    const auto fragment = rleencoder::EncodeFrame(
        samples.data() + frameSize * static_cast<size_t>(frame), pixels, spp, f.bitsAllocated / 8);
    d->Append(DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<uint32_t>(fragment.size()),
                                fragment.data(), "DL"));
  }
  d->Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  d->SetTransferSyntax(kRleLossless);
  return d;
}

// Native -> source -> target -> Explicit VR Little Endian, through the encoder at every step:
// lossless syntaxes must give back every sample, interleaved, whatever the pair.
TEST(ConvertTransferSyntax, LosslessPairsKeepEverySample) {
  for (const ImageFormat& f : kFormats) {
    const auto samples = InterleavedSamples(f);
    std::vector<std::string> sources(std::begin(kLosslessSyntaxes), std::end(kLosslessSyntaxes));
    sources.push_back(kRleLossless);
    for (const std::string& source : sources) {
      for (const char* target : kLosslessSyntaxes) {
        SCOPED_TRACE(std::string(f.name) + " " + source + " -> " + target);
        auto d = source == kRleLossless ? RleImage(f, samples) : MakeImage(f, samples);
        if (source != kRleLossless) {
          ASSERT_TRUE(ConvertTransferSyntax(*d, source));
        }
        d = WrittenAndRead(*d);
        ASSERT_TRUE(ConvertTransferSyntax(*d, target));
        EXPECT_EQ(d->transferSyntax, target);
        d = WrittenAndRead(*d);
        ASSERT_TRUE(ConvertTransferSyntax(*d, kExplicitVRLittleEndian));
        // Only a data set that was never converted may still be planar.
        const bool planar = d->GetUS(0x0028, 0x0006) == 1;
        EXPECT_EQ(planar, f.planar && source == target && source == kExplicitVRLittleEndian);
        const size_t frameSize = samples.size() / static_cast<size_t>(f.frames);
        EXPECT_EQ(NativeSamples(*d, samples.size()),
                  planar ? imagefixture::ToPlanar(samples, frameSize) : samples);
        if (imagefixture::IsColour(f)) {
          EXPECT_EQ(d->GetString(0x0028, 0x0004), "RGB");
        }
        EXPECT_EQ(d->GetUS(0x0028, 0x0101), f.bitsStored);
        EXPECT_EQ(d->GetUS(0x0028, 0x0103), f.pixelRepresentation);
      }
    }
  }
}

// RLE keeps colour as one segment per sample; a YBR_FULL image's three segments (Y, Cb, Cr) come
// out as interleaved RGB, and the data set says so. Known colours: red, green, blue, white, grey.
TEST(ConvertTransferSyntax, ColourRleInYbrFullBecomesInterleavedRgb) {
  ImageFormat f{"ybr8", "YBR_FULL", 8, 8, 0, false};
  f.rows = 1;
  f.columns = 5;
  f.frames = 1;
  const std::vector<uint8_t> ybr = {76,  85,  255, 150, 44,  21,  29, 255,
                                    107, 255, 128, 128, 128, 128, 128};
  const std::vector<uint8_t> rgb = {254, 0, 0, 0, 255, 1, 0, 0, 254, 255, 255, 255, 128, 128, 128};
  auto d = RleImage(f, ybr);
  d = WrittenAndRead(*d);
  ASSERT_TRUE(ConvertTransferSyntax(*d, kExplicitVRLittleEndian));
  EXPECT_EQ(d->transferSyntax, kExplicitVRLittleEndian);
  EXPECT_EQ(d->GetString(0x0028, 0x0004), "RGB");
  EXPECT_EQ(d->GetUS(0x0028, 0x0006), 0);
  EXPECT_EQ(d->GetUS(0x0028, 0x0002), 3);
  const std::vector<uint8_t> samples = NativeSamples(*d, rgb.size());
  ASSERT_EQ(samples.size(), rgb.size());
  for (size_t i = 0; i < rgb.size(); ++i) {
    EXPECT_NEAR(samples[i], rgb[i], 2) << "pixel " << i / 3 << " sample " << i % 3;
  }
}

// Big-endian Pixel Data is ordered by its VR, as the writer (and DCMTK) orders it: OW swaps
// 16-bit words whatever Bits Allocated says, OB swaps nothing. Reading it back must undo exactly
// that, before planes are interleaved sample by sample, or 32-bit samples, 8-bit samples held as
// OW and planar 16-bit colour come back scrambled.
TEST(ConvertTransferSyntax, BigEndianPixelDataIsReadInTheOrderItWasWritten) {
  struct Case {
    ImageFormat format;
    const char* vr;
  } cases[] = {
      {{"grey32", "MONOCHROME2", 32, 32, 0, false, 6, 10, 2}, "OW"},
      {{"grey8_ow", "MONOCHROME2", 8, 8, 0, false, 6, 10, 2}, "OW"},
      {{"grey16_ob", "MONOCHROME2", 16, 16, 0, false, 6, 10, 2}, "OB"},
      {{"rgb8_planar_ow", "RGB", 8, 8, 0, true, 6, 10, 2}, "OW"},
      {{"rgb16_planar", "RGB", 16, 16, 0, true, 6, 10, 2}, "OW"},
      {{"rgb16_planar_le", "RGB", 16, 16, 0, true, 6, 10, 2}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format.name);
    const auto samples = InterleavedSamples(c.format);
    auto d = MakeImage(c.format, samples);
    if (c.vr) {
      d->FindTag(0x7FE0, 0x0010)->SetVR(c.vr);
      d->SetTransferSyntax(kExplicitVRBigEndian);
    }
    d = WrittenAndRead(*d);
    ASSERT_TRUE(ConvertTransferSyntax(*d, kImplicitVRLittleEndian));
    EXPECT_EQ(NativeSamples(*d, samples.size()), samples);
  }
  // Our own big-endian output of a 32-bit image converts back to the same samples.
  const ImageFormat grey32{"grey32", "MONOCHROME2", 32, 32, 0, false, 6, 10, 2};
  const auto samples = InterleavedSamples(grey32);
  auto d = MakeImage(grey32, samples);
  ASSERT_TRUE(ConvertTransferSyntax(*d, kExplicitVRBigEndian));
  d = WrittenAndRead(*d);
  ASSERT_TRUE(ConvertTransferSyntax(*d, kImplicitVRLittleEndian));
  EXPECT_EQ(NativeSamples(*d, samples.size()), samples);
}

long SampleAt(const std::vector<uint8_t>& bytes, size_t k, int bitsAllocated, bool isSigned) {
  if (bitsAllocated == 8) return bytes[k];
  const auto word = static_cast<uint16_t>(bytes[2 * k] | bytes[2 * k + 1] << 8);
  return isSigned ? static_cast<int16_t>(word) : word;
}

// Lossy targets: the samples come back close to what the target stores (the input, or its
// rescaled form), in the format the rewritten attributes describe.
TEST(ConvertTransferSyntax, LossyTargetsStayCloseToTheirStoredValues) {
  struct Case {
    const char* name;
    ImageFormat format;
    const char* target;
    long (*expected)(long);
    uint16_t bitsAllocated, bitsStored;
    double maxMeanError;
  } cases[] = {
      {"grey8 baseline", kFormats[0], kJpegBaselineSyntax, [](long v) { return v; }, 8, 8, 3},
      {"rgb8 baseline", kFormats[1], kJpegBaselineSyntax, [](long v) { return v; }, 8, 8, 4},
      {"planar rgb8 baseline", kFormats[2], kJpegBaselineSyntax, [](long v) { return v; }, 8, 8, 4},
      {"unsigned12 baseline", kFormats[3], kJpegBaselineSyntax, [](long v) { return v >> 4; }, 8, 8,
       3},
      {"unsigned16 baseline", kFormats[5], kJpegBaselineSyntax, [](long v) { return v >> 8; }, 8, 8,
       3},
      {"unsigned12 extended", kFormats[3], kJpegExtendedSyntax, [](long v) { return v; }, 16, 12,
       40},
      {"unsigned16 extended", kFormats[5], kJpegExtendedSyntax,
       [](long v) { return std::min(v, 4095L); }, 16, 12, 40},
      {"grey8 j2k rate 10", kFormats[0], kJpeg2000Syntax, [](long v) { return v; }, 8, 8, 4},
      {"rgb8 j2k rate 10", kFormats[1], kJpeg2000Syntax, [](long v) { return v; }, 8, 8, 4},
      {"signed16 j2k rate 10", kFormats[6], kJpeg2000Syntax, [](long v) { return std::max(v, 0L); },
       16, 16, 700},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageFormat f = c.format;
    f.rows = 64;
    f.columns = 64;
    const auto samples = InterleavedSamples(f, false);
    auto d = MakeImage(f, samples);
    ASSERT_TRUE(ConvertTransferSyntax(*d, c.target));
    EXPECT_EQ(d->GetString(0x0028, 0x2110), "01");
    EXPECT_FALSE(d->GetString(0x0028, 0x2112).empty());
    d = WrittenAndRead(*d);
    ASSERT_TRUE(ConvertTransferSyntax(*d, kExplicitVRLittleEndian));
    EXPECT_EQ(d->GetUS(0x0028, 0x0100), c.bitsAllocated);
    EXPECT_EQ(d->GetUS(0x0028, 0x0101), c.bitsStored);
    const bool colour = imagefixture::IsColour(f);
    const size_t count = samples.size() / (f.bitsAllocated / 8);
    const auto decoded = NativeSamples(*d, count * c.bitsAllocated / 8);
    ASSERT_FALSE(decoded.empty());
    double error = 0;
    for (size_t k = 0; k < count; ++k) {
      const long want = c.expected(SampleAt(samples, k, f.bitsAllocated, f.pixelRepresentation));
      error += static_cast<double>(
          std::labs(want - SampleAt(decoded, k, c.bitsAllocated, d->GetUS(0x0028, 0x0103))));
    }
    EXPECT_LE(error / static_cast<double>(count), c.maxMeanError);
    if (colour) {
      // Baseline colour is stored as YCbCr, which the data set says; native output is RGB again.
      EXPECT_EQ(d->GetString(0x0028, 0x0004), "RGB");
    }
  }
}

// The attribute rewrites of the lossy targets, for the modalities that change them.
TEST(ConvertTransferSyntax, LossyTargetsRewriteRescaleAttributes) {
  struct Case {
    const char* name;
    const char* modality;
    uint16_t bitsStored;
    const char* target;
    const char* intercept;
    const char* slope;
    uint16_t bitsAllocated, newBitsStored, highBit;
  } cases[] = {
      {"CT to baseline", "CT", 12, kJpegBaselineSyntax, "-1024", "16", 8, 8, 7},
      {"MR 12-bit to baseline", "MR", 12, kJpegBaselineSyntax, "0", "16", 8, 8, 7},
      {"MR 16-bit to baseline", "MR", 16, kJpegBaselineSyntax, "0", "256", 8, 8, 7},
      {"NM to baseline", "NM", 16, kJpegBaselineSyntax, "0", "1", 8, 8, 7},
      {"CT 16-bit to extended", "CT", 16, kJpegExtendedSyntax, "-1024", "1", 16, 12, 11},
      {"CT to JPEG 2000", "CT", 12, kJpeg2000Syntax, "-1024", "1", 16, 12, 11},
      {"CT to lossless JPEG 2000 keeps them", "CT", 12, kJpeg2000LosslessSyntax, "-1000", "1", 16,
       12, 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageFormat f{"m", "MONOCHROME2", 16, c.bitsStored, 0, false, 16, 16, 1, c.modality};
    auto d = MakeImage(f, InterleavedSamples(f));
    d->Add(imagefixture::Text(0x0028, 0x1052, "DS", "-1000"));
    d->Add(imagefixture::Text(0x0028, 0x1053, "DS", "1"));
    ASSERT_TRUE(ConvertTransferSyntax(*d, c.target));
    EXPECT_EQ(d->GetString(0x0028, 0x1052), c.intercept);
    EXPECT_EQ(d->GetString(0x0028, 0x1053), c.slope);
    EXPECT_EQ(d->GetUS(0x0028, 0x0100), c.bitsAllocated);
    EXPECT_EQ(d->GetUS(0x0028, 0x0101), c.newBitsStored);
    EXPECT_EQ(d->GetUS(0x0028, 0x0102), c.highBit);
  }
}

TEST(ConvertTransferSyntax, CtToBaselineStoresShiftedHounsfieldValues) {
  // Flat 8 x 8 blocks so that baseline JPEG reproduces them almost exactly.
  ImageFormat f{"ct", "MONOCHROME2", 16, 12, 1, false, 16, 16, 1, "CT"};
  const long values[4] = {-1024, 0, 400, 2000};
  std::vector<uint8_t> samples;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      const auto word = static_cast<uint16_t>(values[(y / 8) * 2 + x / 8]);
      samples.push_back(static_cast<uint8_t>(word));
      samples.push_back(static_cast<uint8_t>(word >> 8));
    }
  }
  auto d = MakeImage(f, samples);
  d->Add(imagefixture::Text(0x0028, 0x1052, "DS", "0"));
  ASSERT_TRUE(ConvertTransferSyntax(*d, kJpegBaselineSyntax));
  const std::string ratio = d->GetString(0x0028, 0x2112);
  ASSERT_GE(ratio.size(), 4u);
  EXPECT_EQ(ratio[ratio.size() - 3], '.');
  EXPECT_EQ(d->GetUS(0x0028, 0x0103), 0);
  ASSERT_TRUE(ConvertTransferSyntax(*d, kExplicitVRLittleEndian));
  const auto decoded = NativeSamples(*d, 256);
  ASSERT_EQ(decoded.size(), 256u);
  for (int k = 0; k < 256; ++k) {
    const long v = values[(k / 16 / 8) * 2 + (k % 16) / 8];
    const long expected = std::clamp((v + 1024) >> 4, 0L, 255L);
    EXPECT_NEAR(decoded[static_cast<size_t>(k)], expected, 2) << k;
  }
}

std::string Bytes(DcmObj& d) {
  return testbytes::Encode(d);
}

TEST(ConvertTransferSyntax, NothingToDoOrRefusedTargets) {
  const ImageFormat f = kFormats[0];
  auto d = MakeImage(f, InterleavedSamples(f));
  const std::string before = Bytes(*d);
  EXPECT_TRUE(ConvertTransferSyntax(*d, kExplicitVRLittleEndian));
  EXPECT_TRUE(ConvertTransferSyntax(*d, ""));
  EXPECT_EQ(Bytes(*d), before);
  for (const char* refused : {kRleLossless, kMpeg2Syntax, kMpeg4Syntax, "1.2.3.4"}) {
    SCOPED_TRACE(refused);
    EXPECT_FALSE(ConvertTransferSyntax(*d, refused));
    EXPECT_EQ(d->transferSyntax, kExplicitVRLittleEndian);
    EXPECT_EQ(Bytes(*d), before);
  }
  d->SetTransferSyntax(kMpeg4Syntax);
  const std::string video = Bytes(*d);
  EXPECT_TRUE(ConvertTransferSyntax(*d, kJpegLosslessSyntax));
  EXPECT_EQ(d->transferSyntax, kMpeg4Syntax);
  EXPECT_EQ(Bytes(*d), video);
}

// A data set with encapsulated pixel data whose fragments are `fragments`.
std::unique_ptr<DcmObj> Encapsulated(const ImageFormat& f, const char* syntax,
                                     const std::vector<std::vector<uint8_t>>& fragments) {
  auto d = MakeImage(f, InterleavedSamples(f));
  d->Delete(static_cast<size_t>(d->FindIndex(0x7FE0, 0x0010)));
  d->Append(DcmTag::FromBytes(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
  d->Append(DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL"));
  for (const auto& fragment : fragments)
    d->Append(DcmTag::FromBytes(0xFFFE, 0xE000, static_cast<uint32_t>(fragment.size()),
                                fragment.data(), "DL"));
  d->Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  d->SetTransferSyntax(syntax);
  return d;
}

std::vector<uint8_t> FragmentOf(const DcmObj& d, size_t n) {
  const long pixel = d.FindIndex(0x7FE0, 0x0010);
  const std::string_view bytes = d.TagAt(static_cast<size_t>(pixel) + 1 + n)->Bytes();
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Every failure leaves the data set byte for byte as it was (so nothing is sent or lost) and says
// why in the log.
TEST(ConvertTransferSyntax, FailuresLeaveTheDataSetUnchanged) {
  const ImageFormat two{"grey16", "MONOCHROME2", 16, 16, 0, false, 16, 16, 2};
  auto lossless = MakeImage(two, InterleavedSamples(two));
  ASSERT_TRUE(ConvertTransferSyntax(*lossless, kJpegLosslessSyntax));
  const auto first = FragmentOf(*lossless, 1);
  const auto second = FragmentOf(*lossless, 2);
  const std::vector<uint8_t> truncated(second.begin(),
                                       second.begin() + static_cast<long>(second.size() / 2));
  ImageFormat smaller = two;
  smaller.rows = 8;
  std::vector<uint8_t> otherSize;
  ASSERT_TRUE(EncodeJ2K(InterleavedSamples(smaller).data(), otherSize, 16, 8, 1, 16, 0));
  std::vector<uint8_t> rightSize;
  ASSERT_TRUE(EncodeJ2K(InterleavedSamples(two).data(), rightSize, 16, 16, 1, 16, 0));
  ImageFormat wide{"wide", "MONOCHROME2", 8, 8, 0, false, 1, 65535, 1};
  ImageFormat wide16{"wide16", "MONOCHROME2", 16, 16, 0, false, 1, 65535, 1};
  ImageFormat eight = kFormats[0];
  ImageFormat colour16{"rgb16", "RGB", 16, 16, 0, false, 8, 8, 1};
  ImageFormat empty = kFormats[0];
  empty.rows = 0;
  ImageFormat rle = kFormats[0];
  rle.frames = 1;

  // A few hundred bytes claiming a 16384 x 16384 colour picture: refused before 800 MB of
  // frame buffer is made for it.
  auto hugeClaim = Encapsulated(rle, kJpegLosslessSyntax, {std::vector<uint8_t>(300, 7)});
  const uint16_t side = 16384;
  hugeClaim->AddBytes(0x0028, 0x0010, 2, &side);
  hugeClaim->AddBytes(0x0028, 0x0011, 2, &side);

  struct Case {
    const char* name;
    std::unique_ptr<DcmObj> dataSet;
    const char* target;
    const char* logged;
  } cases[] = {
      {"a few bytes claiming a huge picture", std::move(hugeClaim), kExplicitVRLittleEndian,
       "300 compressed bytes cannot hold"},
      {"second frame truncated", Encapsulated(two, kJpegLosslessSyntax, {first, truncated}),
       kExplicitVRLittleEndian, "Exception on Decomp"},
      {"one fragment for two frames", Encapsulated(two, kJpegLosslessSyntax, {first}),
       kJpeg2000LosslessSyntax, "1 fragments for 2 frames"},
      {"fragment of another image size",
       Encapsulated(two, kJpeg2000LosslessSyntax, {rightSize, otherSize}), kExplicitVRLittleEndian,
       "does not fill a frame"},
      {"RLE fragment of garbage", Encapsulated(rle, kRleLossless, {std::vector<uint8_t>(80, 3)}),
       kExplicitVRLittleEndian, "format not supported"},
      {"native length wrong", MakeImage(eight, std::vector<uint8_t>(100, 1)), kJpegLosslessSyntax,
       "ERROR, DcmObj::ConvertTransferSyntax, tag->length!=size"},
      {"no rows", MakeImage(empty, {}), kJpegLosslessSyntax,
       "ERROR, DcmObj::ConvertTransferSyntax, size=0"},
      {"8-bit image to 12-bit JPEG", MakeImage(eight, InterleavedSamples(eight)),
       kJpegExtendedSyntax, "ERROR, DcmObj::Comp, Using Lossy 12 bit compression for 8 bit image"},
      {"encoder error", MakeImage(wide, InterleavedSamples(wide)), kJpegBaselineSyntax,
       "ERROR, DcmObj::ConvertTransferSyntax, Exception on Comp"},
      // The samples are rescaled to 12 bits before the encoder refuses the width.
      {"encoder error after rescaling", MakeImage(wide16, InterleavedSamples(wide16)),
       kJpegExtendedSyntax, "ERROR, DcmObj::ConvertTransferSyntax, Exception on Comp"},
      {"16-bit colour to baseline", MakeImage(colour16, InterleavedSamples(colour16)),
       kJpegBaselineSyntax, "16-bit colour"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    const std::string syntax = c.dataSet->transferSyntax;
    const std::string before = Bytes(*c.dataSet);
    EXPECT_FALSE(ConvertTransferSyntax(*c.dataSet, c.target));
    EXPECT_EQ(c.dataSet->transferSyntax, syntax);
    EXPECT_TRUE(Bytes(*c.dataSet) == before);
    EXPECT_TRUE(log.Contains(c.logged)) << log.Text();
  }
}

TEST(ConvertTransferSyntax, SingleFrameInSeveralFragmentsAndFramesByOffsetTable) {
  const ImageFormat one{"grey8", "MONOCHROME2", 8, 8, 0, false, 16, 16, 1};
  const auto samples = InterleavedSamples(one);
  auto d = MakeImage(one, samples);
  ASSERT_TRUE(ConvertTransferSyntax(*d, kJpegLosslessSyntax));
  const auto stream = FragmentOf(*d, 1);
  std::vector<uint8_t> head(stream.begin(), stream.begin() + 10);
  std::vector<uint8_t> tail(stream.begin() + 10, stream.end());
  auto split = Encapsulated(one, kJpegLosslessSyntax, {head, tail});
  ASSERT_TRUE(ConvertTransferSyntax(*split, kExplicitVRLittleEndian));
  EXPECT_EQ(NativeSamples(*split, samples.size()), samples);

  // Two frames, the first in two fragments: the Basic Offset Table says where frame 2 starts.
  ImageFormat two = one;
  two.frames = 2;
  const auto both = InterleavedSamples(two);
  auto framed = MakeImage(two, both);
  ASSERT_TRUE(ConvertTransferSyntax(*framed, kJpegLosslessSyntax));
  const auto frame1 = FragmentOf(*framed, 1);
  const auto frame2 = FragmentOf(*framed, 2);
  std::vector<uint8_t> a(frame1.begin(), frame1.begin() + 10);
  std::vector<uint8_t> b(frame1.begin() + 10, frame1.end());
  if (b.size() & 1u) b.push_back(0);
  auto grouped = Encapsulated(two, kJpegLosslessSyntax, {a, b, frame2});
  const uint32_t start2 = static_cast<uint32_t>(8 + a.size() + 8 + b.size());
  const uint8_t table[8] = {0,
                            0,
                            0,
                            0,
                            static_cast<uint8_t>(start2),
                            static_cast<uint8_t>(start2 >> 8),
                            static_cast<uint8_t>(start2 >> 16),
                            static_cast<uint8_t>(start2 >> 24)};
  grouped->TagAt(static_cast<size_t>(grouped->FindIndex(0x7FE0, 0x0010)) + 1)->SetValue(table, 8);
  ASSERT_TRUE(ConvertTransferSyntax(*grouped, kExplicitVRLittleEndian));
  EXPECT_EQ(NativeSamples(*grouped, both.size()), both);
}

// A fragment's bytes may look like item and delimiter tags: fragments end where the item tags of
// the encapsulation say, never at such bytes inside one.
TEST(ConvertTransferSyntax, FragmentsHoldingDelimiterBytesAreKeptWhole) {
  const ImageFormat f{"grey8", "MONOCHROME2", 8, 8, 0, false, 1, 16, 1};
  const std::vector<uint8_t> samples = {0xFE, 0xFF, 0xDD, 0xE0, 0,    0,    0,    0,
                                        0xFE, 0xFF, 0x0D, 0xE0, 0xFE, 0xFF, 0x00, 0xE0};
  auto d = RleImage(f, samples);
  auto read = WrittenAndRead(*d);
  ASSERT_TRUE(ConvertTransferSyntax(*read, kExplicitVRLittleEndian));
  EXPECT_EQ(NativeSamples(*read, samples.size()), samples);

  // The same in a JPEG 2000 file whose codestream header was overwritten with those bytes: the
  // fragment is read whole, and the damaged codestream is refused, leaving the data set as it was.
  const char* path =
      "/usr/lib/python3/dist-packages/pydicom/data/test_files/"
      "JPEG2000-embedded-sequence-delimiter.dcm";
  ASSERT_TRUE(std::filesystem::exists(path))
      << "python3-pydicom's test files missing (scripts/setup.sh installs them)";
  DicomFile file;
  std::string error;
  ASSERT_TRUE(ReadDicomFile(path, file, error)) << error;
  const size_t pixels = static_cast<size_t>(file.dataSet.FindIndex(0x7FE0, 0x0010));
  ASSERT_LT(pixels + 3, file.dataSet.Count());
  const DcmTag& fragment = *file.dataSet.TagAt(pixels + 2);
  EXPECT_EQ(fragment.length, 250u);
  EXPECT_NE(fragment.Bytes().find(testbytes::Hex("FE FF DD E0")), std::string_view::npos);
  EXPECT_TRUE(file.dataSet.TagAt(pixels + 3)->Is(0xFFFE, 0xE0DD));
  const std::string before = Bytes(file.dataSet);
  LogCapture log;
  EXPECT_FALSE(ConvertTransferSyntax(file.dataSet, kExplicitVRLittleEndian));
  EXPECT_TRUE(log.Contains("ERROR, DecodeJ2K"));
  EXPECT_EQ(Bytes(file.dataSet), before);
}

TEST(ConvertTransferSyntax, CrVoiLutIsBurntInBeforeExtendedJpeg) {
  ImageFormat f{"cr", "MONOCHROME2", 16, 16, 0, false, 16, 16, 1, "CR"};
  std::vector<uint8_t> samples;
  for (int k = 0; k < 256; ++k) {
    const uint16_t v = k < 128 ? 10 : 5000;
    samples.push_back(static_cast<uint8_t>(v));
    samples.push_back(static_cast<uint8_t>(v >> 8));
  }
  auto d = MakeImage(f, samples);
  // A flat VOI LUT Sequence: 4096 entries from 0, entry i = i / 2 (entry 4095 = 2047).
  std::vector<uint8_t> lut;
  for (int i = 0; i < 4096; ++i) {
    lut.push_back(static_cast<uint8_t>(i / 2));
    lut.push_back(static_cast<uint8_t>((i / 2) >> 8));
  }
  const uint8_t descriptor[6] = {0x00, 0x10, 0, 0, 16, 0};
  const long at = d->FindIndex(0x7FE0, 0x0010);
  std::vector<std::unique_ptr<DcmTag>> sequence;
  sequence.push_back(DcmTag::FromBytes(0x0028, 0x3010, kUndefinedLength, nullptr, "SQ"));
  sequence.push_back(DcmTag::FromBytes(0xFFFE, 0xE000, kUndefinedLength, nullptr, "DL"));
  sequence.push_back(DcmTag::FromBytes(0x0028, 0x3002, 6, descriptor, "US"));
  sequence.push_back(DcmTag::FromBytes(0x0028, 0x3006, 8192, lut.data(), "OW"));
  sequence.push_back(DcmTag::FromBytes(0xFFFE, 0xE00D, 0, nullptr, "DL"));
  sequence.push_back(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
  for (size_t k = 0; k < sequence.size(); ++k)
    d->entries.insert(d->entries.begin() + at + static_cast<long>(k),
                      DcmEntry{std::move(sequence[k]), nullptr});
  ASSERT_TRUE(ConvertTransferSyntax(*d, kJpegExtendedSyntax));
  EXPECT_EQ(d->FindTag(0x0028, 0x3010), nullptr);
  for (size_t i = 0; i < d->Count(); ++i) {
    EXPECT_FALSE(d->EntryTag(i).Is(0x0028, 0x3002));
  }
  d = WrittenAndRead(*d);
  ASSERT_TRUE(ConvertTransferSyntax(*d, kExplicitVRLittleEndian));
  const auto decoded = NativeSamples(*d, 512);
  ASSERT_EQ(decoded.size(), 512u);
  // CR keeps its 16 bits stored through RescaleTo12 with shift 3: 5 and 2047 become 0 and 255.
  for (size_t k = 0; k < 256; ++k) {
    const long value = decoded[2 * k] | decoded[2 * k + 1] << 8;
    EXPECT_NEAR(value, k < 128 ? 0 : 255, 3) << k;
  }
}

}  // namespace
