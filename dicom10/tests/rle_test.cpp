// The RLE decoder: PackBits segments, sample reassembly by photometric interpretation, and
// fragments whose headers lie about their segments.
#include <gtest/gtest.h>

#include "imagefixture.h"
#include "logcapture.h"
#include "rle.h"
#include "rleencoder.h"

namespace {

TEST(RleSegment, PackBitsRuns) {
  struct Case {
    const char* name;
    std::vector<uint8_t> segment;
    size_t partSize;
    std::vector<uint8_t> expected;
    bool overflow;
  } cases[] = {
      {"literal run", {2, 'a', 'b', 'c'}, 3, {'a', 'b', 'c'}, false},
      {"replicate run", {0xFE, 'x'}, 3, {'x', 'x', 'x'}, false},
      {"-128 is skipped", {0x80, 0x00, 'q'}, 1, {'q'}, false},
      {"stops when the part is full", {0x81, 'z', 5, 1, 2}, 4, {'z', 'z', 'z', 'z'}, false},
      {"literal longer than the part", {3, 1, 2, 3, 4}, 2, {1, 2}, false},
      {"input ends early", {0xFF, 'y'}, 4, {'y', 'y'}, true},
      {"literal runs past the segment", {5, 1, 2}, 6, {}, true},
      {"replicate without its byte", {0xFD}, 4, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    std::vector<uint8_t> part(c.partSize + 4, 0xEE);
    const size_t written = DecodeRLESegment(c.segment.data(), c.segment.size(), 0, c.segment.size(),
                                            part.data(), c.partSize);
    EXPECT_EQ(written, c.expected.size());
    EXPECT_EQ(std::vector<uint8_t>(part.begin(), part.begin() + static_cast<long>(written)),
              c.expected);
    for (size_t k = c.partSize; k < part.size(); ++k) EXPECT_EQ(part[k], 0xEE);
    EXPECT_EQ(log.Contains("ERROR, overflow decoding RLE"), c.overflow);
  }
}

TEST(RleFrame, SamplesReassembledByPhotometricInterpretation) {
  struct Case {
    imagefixture::ImageFormat format;
  } cases[] = {
      {{"grey8", "MONOCHROME2", 8, 8, 0, false, 9, 13, 1}},
      {{"grey16", "MONOCHROME1", 16, 16, 0, false, 9, 13, 1}},
      {{"palette8", "PALETTE COLOR", 8, 8, 0, false, 9, 13, 1}},
      {{"rgb8", "RGB", 8, 8, 0, false, 9, 13, 1}},
      {{"rgb16", "RGB", 16, 16, 0, false, 9, 13, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format.name);
    const auto samples = imagefixture::InterleavedSamples(c.format);
    const int spp = imagefixture::IsColour(c.format) ? 3 : 1;
    const size_t pixels = static_cast<size_t>(c.format.rows) * c.format.columns;
    const auto fragment =
        rleencoder::EncodeFrame(samples.data(), pixels, spp, c.format.bitsAllocated / 8);
    std::vector<uint8_t> frame(samples.size());
    ASSERT_TRUE(DecodeRLEFrame(c.format.photometric, fragment.data(), fragment.size(), frame.data(),
                               frame.size(), c.format.bitsAllocated));
    EXPECT_EQ(frame, samples);
  }
}

TEST(RleFrame, YbrFullBecomesRgb) {
  // Y, Cb, Cr planes of two pixels: grey (128,128,128) and a saturated red.
  const std::vector<uint8_t> ybr = {128, 128, 128, 76, 85, 255};
  const auto fragment = rleencoder::EncodeFrame(ybr.data(), 2, 3, 1);
  std::vector<uint8_t> rgb(6);
  ASSERT_TRUE(DecodeRLEFrame("YBR_FULL", fragment.data(), fragment.size(), rgb.data(), 6, 8));
  EXPECT_EQ(rgb[0], 128);
  EXPECT_EQ(rgb[1], 128);
  EXPECT_EQ(rgb[2], 128);
  EXPECT_NEAR(rgb[3], 254, 2);
  EXPECT_NEAR(rgb[4], 0, 2);
  EXPECT_NEAR(rgb[5], 0, 2);
}

// Headers that claim other segments than the image has, or offsets outside the fragment: the
// frame is refused and nothing is read or written out of bounds (the sanitizers watch).
TEST(RleFrame, LyingHeadersAreRefused) {
  const std::vector<uint8_t> grey(12 * 10, 77);
  const auto good = rleencoder::EncodeFrame(grey.data(), grey.size(), 1, 1);
  auto withCount = [&](uint32_t count) {
    auto f = good;
    f[0] = static_cast<uint8_t>(count);
    return f;
  };
  auto withOffset = [&](uint32_t offset) {
    auto f = good;
    for (int b = 0; b < 4; ++b)
      f[4 + static_cast<size_t>(b)] = static_cast<uint8_t>(offset >> (8 * b));
    return f;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> fragment;
    std::string photometric;
    size_t frameSize;
    int bitsAllocated;
    const char* logged;
  } cases[] = {
      {"no segments", withCount(0), "MONOCHROME2", grey.size(), 8, "segment_count=0"},
      {"sixteen segments", withCount(16), "MONOCHROME2", grey.size(), 8, "segment_count=16"},
      {"three segments for grey", withCount(3), "MONOCHROME2", grey.size(), 8,
       "segment_count=3, bitsa=8, PhotometricInterpretation=MONOCHROME2"},
      {"one segment for colour", good, "RGB", grey.size() * 3, 8, "segment_count=1"},
      {"offset past the end", withOffset(100000), "MONOCHROME2", grey.size(), 8, "offset"},
      {"offset inside the header", withOffset(8), "MONOCHROME2", grey.size(), 8, "offset"},
      {"header cut short", std::vector<uint8_t>(good.begin(), good.begin() + 40), "MONOCHROME2",
       grey.size(), 8, "no RLE header"},
      {"segment shorter than the frame", good, "MONOCHROME2", grey.size() * 2, 16,
       "segment_count=1"},
      {"frame larger than the data", good, "MONOCHROME2", grey.size() * 4, 8, "overflow"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    std::vector<uint8_t> frame(c.frameSize + 8, 0x11);
    EXPECT_FALSE(DecodeRLEFrame(c.photometric, c.fragment.data(), c.fragment.size(), frame.data(),
                                c.frameSize, c.bitsAllocated));
    for (size_t k = c.frameSize; k < frame.size(); ++k) ASSERT_EQ(frame[k], 0x11);
    EXPECT_TRUE(log.Contains(c.logged)) << log.Text();
  }
}

}  // namespace
