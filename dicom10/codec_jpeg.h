// JPEG frame codecs over the three IJG builds (8-, 12- and 16-bit samples, lossless extension).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Modes of CompressJpeg8.
inline constexpr int kJpegBaseline = 0;  // baseline sequential DCT, quality 90
inline constexpr int kJpegLossless = 4;  // lossless process 14, predictor 1, point transform 0

// Each encoder compresses one frame of `width` x `height` pixels with `components` samples per
// pixel (1 or 3, interleaved) into `out`. The 8-bit encoder reads one byte per sample, the 12- and
// 16-bit encoders one 16-bit little-endian word per sample. Results are 0, or -1 on a codec error
// (logged); `out` is then empty. Colour is never subsampled.
int CompressJpeg8(int width, int height, int components, const uint8_t* source,
                  std::vector<uint8_t>& out, int mode);
// Extended sequential DCT at quality 75; samples are taken to 12 bits.
int CompressJpeg12(int width, int height, int components, const uint8_t* source,
                   std::vector<uint8_t>& out);
// Lossless, predictor 1: the 16-bit words come back bit for bit, signed or not.
int CompressJpeg16(int width, int height, int components, const uint8_t* source,
                   std::vector<uint8_t>& out);

// What the three components of a lossy stream hold when the stream does not say, that is when it
// carries neither a JFIF nor an Adobe marker. The library then takes them for YCbCr; a data set
// whose Photometric Interpretation is RGB says they are red, green and blue as they were coded,
// and converting them from YCbCr would turn every colour into another.
enum class JpegColour {
  kAsStreamSays,  // the markers decide, YCbCr without them (the library's rule)
  kRgb,           // without JFIF or Adobe marker, and with no chroma subsampling, RGB
};

// Each decoder decodes one fragment into `frame` (bytes for 8-bit streams, 16-bit little-endian
// words for the others; colour as interleaved RGB, lossless colour without YCbCr conversion).
// 0 when the decoded image fills exactly `frameSize` bytes; -1 otherwise (logged). Nothing is
// ever written beyond `frameSize`, whatever the stream claims.
int DecompressJpeg8(const uint8_t* fragment, size_t length, uint8_t* frame, size_t frameSize,
                    JpegColour colour = JpegColour::kAsStreamSays);
int DecompressJpeg12(const uint8_t* fragment, size_t length, uint8_t* frame, size_t frameSize,
                     JpegColour colour = JpegColour::kAsStreamSays);
int DecompressJpeg16(const uint8_t* fragment, size_t length, uint8_t* frame, size_t frameSize,
                     JpegColour colour = JpegColour::kAsStreamSays);
