// The DC decoder against libjpeg: each block's average as libjpeg decodes the block, for the ways
// cameras and encoders code baseline JPEG, and every other kind declined and left to libjpeg.
#include "jpegdcdecoder.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "jpegtiledecoder.h"
#include "testsupport.h"

namespace {

// How a test picture is coded.
struct Coding {
  int components = 3;                // 1 grey, 3 YCbCr, 4 CMYK
  int horizontal = 2, vertical = 2;  // the luma's sampling factors (chroma 1 × 1)
  int quality = 90;
  bool baseline = true;   // quantization values of 8 bits
  bool optimize = false;  // Huffman tables made for the picture (long codes)
  unsigned restartInterval = 0;
  bool progressive = false;
  bool arithmetic = false;
  bool rgb = false;  // stored as RGB, not YCbCr
};

// A smooth picture with texture, whose colours stay clear of black and white so that no block's
// average is clipped: diagonal gradients and a ripple.
uint8_t Channel(int x, int y, int channel) {
  const double ripple = 18 * std::sin(x * 0.21 + channel) * std::cos(y * 0.17 - channel);
  const double ramp = (x * (1 + channel) + y * (3 - channel)) % 97;
  return static_cast<uint8_t>(60 + ramp + ripple);
}

std::string Compress(int width, int height, const Coding& coding) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = coding.components;
  info.in_color_space = coding.components == 1   ? JCS_GRAYSCALE
                        : coding.components == 4 ? JCS_CMYK
                                                 : JCS_RGB;
  jpeg_set_defaults(&info);
  if (coding.rgb) jpeg_set_colorspace(&info, JCS_RGB);
  jpeg_set_quality(&info, coding.quality, coding.baseline ? TRUE : FALSE);
  if (coding.components == 3 && !coding.rgb) {
    info.comp_info[0].h_samp_factor = coding.horizontal;
    info.comp_info[0].v_samp_factor = coding.vertical;
  }
  info.optimize_coding = coding.optimize ? TRUE : FALSE;
  info.restart_interval = coding.restartInterval;
  info.arith_code = coding.arithmetic ? TRUE : FALSE;
  if (coding.progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<JSAMPLE> row(static_cast<size_t>(width * coding.components));
  while (info.next_scanline < info.image_height) {
    const int y = static_cast<int>(info.next_scanline);
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < coding.components; ++c) {
        row[static_cast<size_t>(x * coding.components + c)] = Channel(x, y, c);
      }
    }
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  std::string bytes(reinterpret_cast<const char*>(buffer), size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return bytes;
}

// The blocks of one component that lie in the picture, and each one's average as libjpeg decodes
// the block (the component's own samples, before any widening or colour conversion).
struct BlockAverages {
  int blocksWide = 0;
  int blocksHigh = 0;
  std::vector<double> averages;  // row by row
};

std::vector<BlockAverages> AveragesByLibjpeg(const std::string& jpeg) {
  jpeg_decompress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
  jpeg_read_header(&info, TRUE);
  info.raw_data_out = TRUE;
  info.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&info);
  const int mcuRows = static_cast<int>(info.total_iMCU_rows);
  const size_t count = static_cast<size_t>(info.num_components);
  std::vector<std::vector<JSAMPLE>> planes(count);
  std::vector<int> widths(count);
  for (size_t c = 0; c < count; ++c) {
    const jpeg_component_info& component = info.comp_info[c];
    // Room for whole MCUs; libjpeg writes the blocks that lie in the picture.
    widths[c] = static_cast<int>(info.MCUs_per_row) * component.h_samp_factor * 8 + 64;
    planes[c].assign(static_cast<size_t>(widths[c]) * mcuRows * component.v_samp_factor * 8, 0);
  }
  for (int mcuRow = 0; mcuRow < mcuRows; ++mcuRow) {
    std::vector<std::vector<JSAMPROW>> rows(count);
    std::vector<JSAMPARRAY> arrays;
    for (size_t c = 0; c < count; ++c) {
      const int lines = info.comp_info[c].v_samp_factor * 8;
      for (int line = 0; line < lines; ++line) {
        rows[c].push_back(planes[c].data() +
                          static_cast<size_t>((mcuRow * lines + line) * widths[c]));
      }
      arrays.push_back(rows[c].data());
    }
    jpeg_read_raw_data(&info, arrays.data(), static_cast<JDIMENSION>(info.max_v_samp_factor * 8));
  }
  std::vector<BlockAverages> components(count);
  for (size_t c = 0; c < count; ++c) {
    BlockAverages& averages = components[c];
    averages.blocksWide = static_cast<int>(info.comp_info[c].width_in_blocks);
    averages.blocksHigh = static_cast<int>(info.comp_info[c].height_in_blocks);
    for (int by = 0; by < averages.blocksHigh; ++by) {
      for (int bx = 0; bx < averages.blocksWide; ++bx) {
        double sum = 0;
        for (int y = 0; y < 8; ++y) {
          for (int x = 0; x < 8; ++x) {
            sum += planes[c][static_cast<size_t>((by * 8 + y) * widths[c] + bx * 8 + x)];
          }
        }
        averages.averages.push_back(sum / 64);
      }
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return components;
}

TEST(JpegDcDecoder, EveryBlockIsItsAverageAsLibjpegDecodesIt) {
  const struct {
    const char* name;
    int width, height;
    Coding coding;
  } rows[] = {
      {"4:2:0", 640, 480, {}},
      {"grey", 640, 480, {.components = 1}},
      {"4:4:4", 640, 480, {.horizontal = 1, .vertical = 1}},
      {"4:2:2", 640, 480, {.horizontal = 2, .vertical = 1}},
      {"4:4:0", 640, 480, {.horizontal = 1, .vertical = 2}},
      {"odd size", 601, 407, {}},
      {"grey, odd size", 203, 97, {.components = 1}},
      {"restart every 3 MCUs", 640, 480, {.restartInterval = 3}},
      {"restart every MCU, grey", 320, 240, {.components = 1, .restartInterval = 1}},
      {"tables made for the picture", 640, 480, {.optimize = true}},
      {"16-bit quantization", 640, 480, {.quality = 3, .baseline = false}},
      {"high quality, long codes", 640, 480, {.quality = 100, .optimize = true}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string jpeg = Compress(row.width, row.height, row.coding);
    JpegDcPlanes planes;
    ASSERT_TRUE(DecodeJpegDc(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size(),
                             QSize(1, 1), planes));
    EXPECT_EQ(planes.width, row.width);
    EXPECT_EQ(planes.height, row.height);
    const std::vector<BlockAverages> byLibjpeg = AveragesByLibjpeg(jpeg);
    ASSERT_EQ(planes.planes.size(), byLibjpeg.size());
    for (size_t c = 0; c < byLibjpeg.size(); ++c) {
      const JpegDcPlanes::Plane& plane = planes.planes[c];
      const BlockAverages& expected = byLibjpeg[c];
      ASSERT_GE(plane.blocksWide, expected.blocksWide) << "component " << c;
      ASSERT_GE(plane.blocksHigh, expected.blocksHigh) << "component " << c;
      double worst = 0;
      for (int by = 0; by < expected.blocksHigh; ++by) {
        for (int bx = 0; bx < expected.blocksWide; ++bx) {
          const double average =
              expected.averages[static_cast<size_t>(by * expected.blocksWide + bx)];
          worst = std::max(
              worst,
              std::abs(plane.samples[static_cast<size_t>(by * plane.blocksWide + bx)] - average));
        }
      }
      // The samples of a block are rounded (and, under coarse quantization, clipped) one by one;
      // their average differs from the block's exact value by at most one.
      EXPECT_LE(worst, 1.0) << "component " << c;
    }
    const QImage picture = JpegDcPicture(planes);
    EXPECT_EQ(picture.size(), QSize((row.width + 7) / 8, (row.height + 7) / 8));
  }
}

// Grey and whole-chroma pictures come out as libjpeg's own 1/8 scale gives them, colour
// conversion included.
TEST(JpegDcDecoder, PicturesMatchLibjpegsOwnEighthScale) {
  testsupport::TempDir dir;
  const struct {
    const char* name;
    Coding coding;
  } rows[] = {{"grey", {.components = 1}}, {"4:4:4", {.horizontal = 1, .vertical = 1}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string jpeg = Compress(1024, 768, row.coding);
    const auto path = dir / "photo.jpg";
    testsupport::WriteFile(path, jpeg);
    const QString file = QString::fromStdString(path.string());
    UseJpegDcDecoder(false);
    const QImage byLibjpeg = DecodeJpegNearSize(file, QSize(96, 96));
    UseJpegDcDecoder(true);
    const QImage byDc = DecodeJpegNearSize(file, QSize(96, 96));
    ASSERT_EQ(byDc.size(), QSize(128, 96));
    ASSERT_EQ(byLibjpeg.size(), byDc.size());
    int worst = 0;
    for (int y = 0; y < byDc.height(); ++y) {
      for (int x = 0; x < byDc.width(); ++x) {
        const QRgb a = byDc.pixel(x, y);
        const QRgb b = byLibjpeg.pixel(x, y);
        worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                          std::abs(qBlue(a) - qBlue(b))});
      }
    }
    EXPECT_LE(worst, 1);
  }
}

// What the DC decoder does not take, libjpeg still decodes: other kinds of JPEG, pictures too
// small for 1/8 scale, and damaged or cut-short data (which never overruns the decoder).
TEST(JpegDcDecoder, OtherKindsAndDamagedDataAreLeftToLibjpeg) {
  testsupport::TempDir dir;
  const std::string baseline = Compress(640, 480, {});
  std::string badCode = baseline;
  // Thirty-two ones (stuffed 0xFF bytes) amid the scan's codes: no table holds such a code.
  badCode.replace(badCode.size() / 2, 8, std::string("\xFF\x00\xFF\x00\xFF\x00\xFF\x00", 8));
  const struct {
    const char* name;
    std::string jpeg;
    bool nearSizeDecodes;  // the tile decoder's libjpeg path takes it
  } rows[] = {
      {"progressive", Compress(640, 480, {.progressive = true}), true},
      {"arithmetic coding", Compress(640, 480, {.arithmetic = true}), true},
      {"CMYK", Compress(640, 480, {.components = 4}), false},  // libjpeg's path wants colours
      {"RGB", Compress(640, 480, {.rgb = true}), true},
      {"too small for 1/8", baseline, true},
      {"cut short", baseline.substr(0, baseline.size() * 6 / 10), true},
      {"cut in its headers", baseline.substr(0, 300), false},
      {"damaged code", badCode, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const QSize wanted = std::string(row.name) == "too small for 1/8" ? QSize(96, 61) : QSize(1, 1);
    JpegDcPlanes planes;
    EXPECT_FALSE(DecodeJpegDc(reinterpret_cast<const uint8_t*>(row.jpeg.data()), row.jpeg.size(),
                              wanted, planes));
    const auto path = dir / "photo.jpg";
    testsupport::WriteFile(path, row.jpeg);
    const QImage picture = DecodeJpegNearSize(QString::fromStdString(path.string()), wanted);
    EXPECT_EQ(!picture.isNull(), row.nearSizeDecodes);
  }
}

}  // namespace
