// The codec glue: JPEG (8-, 12-, 16-bit builds) and JPEG 2000 frames round trip, keep colour
// unsubsampled, and never write beyond the frame a caller gives them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <numeric>

#include "codec_j2k.h"
#include "codec_jpeg.h"
#include "imagefixture.h"
#include "logcapture.h"

namespace {

using imagefixture::ImageFormat;
using imagefixture::InterleavedSamples;

// The sampling factors of every component in the stream's start-of-frame marker.
std::vector<int> SamplingFactors(const std::vector<uint8_t>& jpeg) {
  for (size_t i = 2; i + 10 < jpeg.size(); ++i) {
    if (jpeg[i] != 0xFF || jpeg[i + 1] < 0xC0 || jpeg[i + 1] > 0xC3) continue;
    const size_t components = jpeg[i + 9];
    std::vector<int> factors;
    for (size_t c = 0; c < components && i + 12 + 3 * c < jpeg.size(); ++c)
      factors.push_back(jpeg[i + 11 + 3 * c]);
    return factors;
  }
  return {};
}

double MeanAbsoluteError(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                         size_t bytesPerSample) {
  double sum = 0;
  const size_t n = std::min(a.size(), b.size()) / bytesPerSample;
  for (size_t k = 0; k < n; ++k) {
    const long x = bytesPerSample == 1 ? a[k] : a[2 * k] | a[2 * k + 1] << 8;
    const long y = bytesPerSample == 1 ? b[k] : b[2 * k] | b[2 * k + 1] << 8;
    sum += static_cast<double>(std::labs(x - y));
  }
  return n ? sum / static_cast<double>(n) : 1e9;
}

struct JpegCase {
  const char* name;
  ImageFormat format;
  int (*encode)(const ImageFormat&, const uint8_t*, std::vector<uint8_t>&);
  int (*decode)(const uint8_t*, size_t, uint8_t*, size_t, JpegColour);
  double maxMeanError;  // 0: lossless, samples must come back exactly
};

const JpegCase kJpegCases[] = {
    {"lossless8_grey",
     {"g", "MONOCHROME2", 8, 8, 0, false, 17, 31, 1},
     [](const ImageFormat& f, const uint8_t* s, std::vector<uint8_t>& o) {
       return CompressJpeg8(f.columns, f.rows, 1, s, o, kJpegLossless);
     },
     DecompressJpeg8,
     0},
    {"lossless8_rgb",
     {"c", "RGB", 8, 8, 0, false, 17, 31, 1},
     [](const ImageFormat& f, const uint8_t* s, std::vector<uint8_t>& o) {
       return CompressJpeg8(f.columns, f.rows, 3, s, o, kJpegLossless);
     },
     DecompressJpeg8,
     0},
    {"lossless8_single_pixel",
     {"p", "MONOCHROME2", 8, 8, 0, false, 1, 1, 1},
     [](const ImageFormat& f, const uint8_t* s, std::vector<uint8_t>& o) {
       return CompressJpeg8(f.columns, f.rows, 1, s, o, kJpegLossless);
     },
     DecompressJpeg8,
     0},
    {"lossless16_unsigned",
     {"u", "MONOCHROME2", 16, 16, 0, false, 19, 23, 1},
     [](const ImageFormat& f, const uint8_t* s, std::vector<uint8_t>& o) {
       return CompressJpeg16(f.columns, f.rows, 1, s, o);
     },
     DecompressJpeg16,
     0},
    {"lossless16_signed",
     {"s", "MONOCHROME2", 16, 16, 1, false, 19, 23, 1},
     [](const ImageFormat& f, const uint8_t* s, std::vector<uint8_t>& o) {
       return CompressJpeg16(f.columns, f.rows, 1, s, o);
     },
     DecompressJpeg16,
     0},
    {"baseline8_grey",
     {"g", "MONOCHROME2", 8, 8, 0, false, 32, 48, 1},
     [](const ImageFormat& f, const uint8_t* s, std::vector<uint8_t>& o) {
       return CompressJpeg8(f.columns, f.rows, 1, s, o, kJpegBaseline);
     },
     DecompressJpeg8,
     2.0},
    {"baseline8_rgb",
     {"c", "RGB", 8, 8, 0, false, 32, 48, 1},
     [](const ImageFormat& f, const uint8_t* s, std::vector<uint8_t>& o) {
       return CompressJpeg8(f.columns, f.rows, 3, s, o, kJpegBaseline);
     },
     DecompressJpeg8,
     3.0},
    {"extended12",
     {"x", "MONOCHROME2", 16, 12, 0, false, 32, 48, 1},
     [](const ImageFormat& f, const uint8_t* s, std::vector<uint8_t>& o) {
       return CompressJpeg12(f.columns, f.rows, 1, s, o);
     },
     DecompressJpeg12,
     24.0},
};

TEST(JpegCodec, FramesRoundTrip) {
  for (const JpegCase& c : kJpegCases) {
    SCOPED_TRACE(c.name);
    const auto samples = InterleavedSamples(c.format, c.maxMeanError == 0);
    std::vector<uint8_t> stream;
    ASSERT_EQ(c.encode(c.format, samples.data(), stream), 0);
    ASSERT_GT(stream.size(), 4u);
    EXPECT_EQ(stream[0], 0xFF);
    EXPECT_EQ(stream[1], 0xD8);
    // Decoded into a larger area: the bytes after the frame must stay as they were.
    std::vector<uint8_t> decoded(samples.size() + 16, 0xA5);
    ASSERT_EQ(c.decode(stream.data(), stream.size(), decoded.data(), samples.size(),
                       JpegColour::kAsStreamSays),
              0);
    for (size_t k = samples.size(); k < decoded.size(); ++k) ASSERT_EQ(decoded[k], 0xA5);
    decoded.resize(samples.size());
    const size_t bytes = c.format.bitsAllocated / 8;
    if (c.maxMeanError == 0) {
      EXPECT_EQ(decoded, samples);
    } else {
      EXPECT_LE(MeanAbsoluteError(decoded, samples, bytes), c.maxMeanError);
    }
    for (int factor : SamplingFactors(stream)) EXPECT_EQ(factor, 0x11) << "subsampled colour";
  }
}

TEST(JpegCodec, RejectsUnknownModeAndBadFrames) {
  const std::vector<uint8_t> pixels(64, 7);
  std::vector<uint8_t> out{1, 2, 3};
  EXPECT_EQ(CompressJpeg8(8, 8, 1, pixels.data(), out, 2), -1);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(CompressJpeg8(8, 8, 2, pixels.data(), out, kJpegBaseline), -1);
  EXPECT_EQ(CompressJpeg16(0, 8, 1, pixels.data(), out), -1);
  // Beyond the largest dimension JPEG allows: the library's error comes back as -1, not exit().
  const std::vector<uint8_t> wide(65535, 1);
  LogCapture log;
  EXPECT_EQ(CompressJpeg8(65535, 1, 1, wide.data(), out, kJpegBaseline), -1);
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(log.Contains("ERROR, CompressJpeg8, ")) << log.Text();
}

// Streams that do not decode to exactly the frame: every decoder fails and stays in the frame.
TEST(JpegCodec, DecodersFailWithoutWritingOutsideTheFrame) {
  const ImageFormat grey{"g", "MONOCHROME2", 8, 8, 0, false, 16, 16, 1};
  const auto samples = InterleavedSamples(grey);
  std::vector<uint8_t> stream;
  ASSERT_EQ(CompressJpeg8(16, 16, 1, samples.data(), stream, kJpegLossless), 0);
  const std::vector<uint8_t> truncated(stream.begin(), stream.begin() + stream.size() / 2);
  std::vector<uint8_t> corrupt = stream;
  for (size_t k = corrupt.size() / 3; k < corrupt.size() - 2; k += 5) corrupt[k] = 0xFF;
  struct Case {
    const char* name;
    const std::vector<uint8_t>& bytes;
    size_t frameSize;
  } cases[] = {
      {"frame smaller than the image", stream, 16 * 8},
      {"frame larger than the image", stream, 16 * 16 * 3},
      {"truncated stream", truncated, 16 * 16},
      {"corrupt entropy data", corrupt, 16 * 16},
  };
  using Decoder = int (*)(const uint8_t*, size_t, uint8_t*, size_t, JpegColour);
  for (const Case& c : cases) {
    for (Decoder decode : {DecompressJpeg8, DecompressJpeg12, DecompressJpeg16}) {
      SCOPED_TRACE(c.name);
      std::vector<uint8_t> frame(c.frameSize + 32, 0x5A);
      EXPECT_EQ(decode(c.bytes.data(), c.bytes.size(), frame.data(), c.frameSize,
                       JpegColour::kAsStreamSays),
                -1);
      for (size_t k = c.frameSize; k < frame.size(); ++k) ASSERT_EQ(frame[k], 0x5A);
    }
  }
  uint8_t byte = 0;
  EXPECT_EQ(DecompressJpeg8(nullptr, 0, &byte, 1), -1);
  const uint8_t garbage[] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(DecompressJpeg8(garbage, sizeof garbage, &byte, 1), -1);
}

TEST(J2KCodec, LosslessAndRateTenRoundTrip) {
  struct Case {
    const char* name;
    ImageFormat format;
    int rate;
    J2KSigned sign;
    double maxMeanError;
  } cases[] = {
      {"grey8", {"g", "MONOCHROME2", 8, 8, 0, false, 21, 33, 1}, 0, J2KSigned::No, 0},
      {"rgb8", {"c", "RGB", 8, 8, 0, false, 21, 33, 1}, 0, J2KSigned::No, 0},
      {"unsigned16", {"u", "MONOCHROME2", 16, 16, 0, false, 21, 33, 1}, 0, J2KSigned::No, 0},
      {"signed16", {"s", "MONOCHROME2", 16, 16, 1, false, 21, 33, 1}, 0, J2KSigned::Yes, 0},
      {"unsigned12", {"t", "MONOCHROME2", 16, 12, 0, false, 21, 33, 1}, 0, J2KSigned::No, 0},
      {"rate10_grey8", {"g", "MONOCHROME2", 8, 8, 0, false, 64, 64, 1}, 10, J2KSigned::No, 3},
      {"rate10_unsigned16",
       {"u", "MONOCHROME2", 16, 16, 0, false, 64, 64, 1},
       10,
       J2KSigned::No,
       700},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool colour = imagefixture::IsColour(c.format);
    const auto samples = InterleavedSamples(c.format, c.rate == 0);
    std::vector<uint8_t> codestream;
    ASSERT_TRUE(EncodeJ2K(samples.data(), codestream, c.format.columns, c.format.rows,
                          colour ? 3 : 1, c.format.bitsAllocated, c.rate, c.sign));
    // A bare codestream: SOC then SIZ, no JP2 boxes.
    ASSERT_GT(codestream.size(), 4u);
    EXPECT_EQ(codestream[0], 0xFF);
    EXPECT_EQ(codestream[1], 0x4F);
    EXPECT_EQ(codestream[3], 0x51);
    std::vector<uint8_t> decoded(samples.size() + 8, 0xA5);
    ASSERT_TRUE(DecodeJ2K(codestream.data(), codestream.size(), decoded.data(), samples.size(),
                          c.format.bitsAllocated));
    for (size_t k = samples.size(); k < decoded.size(); ++k) ASSERT_EQ(decoded[k], 0xA5);
    decoded.resize(samples.size());
    if (c.maxMeanError == 0) {
      EXPECT_EQ(decoded, samples);
    } else {
      EXPECT_LE(MeanAbsoluteError(decoded, samples, c.format.bitsAllocated / 8), c.maxMeanError);
      EXPECT_LT(codestream.size(), samples.size() / 5);
    }
  }
}

TEST(J2KCodec, DecoderRefusesStreamsThatDoNotFillTheFrame) {
  const ImageFormat grey{"g", "MONOCHROME2", 8, 8, 0, false, 16, 16, 1};
  const auto samples = InterleavedSamples(grey);
  std::vector<uint8_t> codestream;
  ASSERT_TRUE(EncodeJ2K(samples.data(), codestream, 16, 16, 1, 8, 0));
  const std::vector<uint8_t> truncated(codestream.begin(), codestream.begin() + 20);
  LogCapture log;
  for (size_t frameSize : {size_t{16 * 8}, size_t{16 * 16 * 2}}) {
    std::vector<uint8_t> frame(frameSize + 16, 0x5A);
    EXPECT_FALSE(DecodeJ2K(codestream.data(), codestream.size(), frame.data(), frameSize, 8));
    for (size_t k = frameSize; k < frame.size(); ++k) ASSERT_EQ(frame[k], 0x5A);
  }
  std::vector<uint8_t> frame(256);
  EXPECT_FALSE(DecodeJ2K(truncated.data(), truncated.size(), frame.data(), frame.size(), 8));
  const uint8_t garbage[] = {0xFF, 0x4F, 0xFF, 0x51, 0, 0, 0, 0};
  EXPECT_FALSE(DecodeJ2K(garbage, sizeof garbage, frame.data(), frame.size(), 8));
  EXPECT_TRUE(log.Contains("ERROR, DecodeJ2K, ")) << log.Text();
  std::vector<uint8_t> out{1};
  EXPECT_FALSE(EncodeJ2K(samples.data(), out, 16, 16, 2, 8, 0));
  EXPECT_TRUE(out.empty());
}

}  // namespace
