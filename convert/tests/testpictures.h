// Small pictures made by the tests themselves: JPEG and PNG through the libraries, BMP as bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testpictures {

// Colour of pixel (x, y) in every generated test picture: distinct per quadrant, so a flipped
// or mirrored decode shows.
struct Colour {
  uint8_t r, g, b;
};
Colour QuadrantColour(uint32_t x, uint32_t y, uint32_t width, uint32_t height);

// A JPEG of the quadrant picture; `grey` writes a one-component stream of its luminance.
std::string MakeJpeg(uint32_t width, uint32_t height, bool grey, int quality = 95);

// How a colour JPEG of the quadrant picture is coded: baseline with chroma halved both ways (what
// MakeJpeg writes), progressive, or baseline with whole chroma (4:4:4).
enum class JpegCoding { Baseline420, Progressive, Baseline444 };
std::string MakeColourJpeg(uint32_t width, uint32_t height, JpegCoding coding);

enum class PngKind { Rgb, Grey, Palette, RgbaHalfTransparent };
// The quadrant picture as PNG. RgbaHalfTransparent makes the left half fully transparent and
// the right half opaque.
std::string MakePng(uint32_t width, uint32_t height, PngKind kind);

// The quadrant picture as BMP with the given bits per pixel (1, 4 and 8 use a palette holding
// the four quadrant colours plus black; 16 is 5-5-5; 32 is BGRX), rows bottom-up unless
// `topDown`.
std::string MakeBmp(uint32_t width, uint32_t height, int bitsPerPixel, bool topDown);
// The quadrant picture as an 8-bit run-length encoded BMP.
std::string MakeBmpRle8(uint32_t width, uint32_t height);

// The Exif facts a camera or phone writes into its JPEG files.
struct ExifFields {
  int orientation = 0;             // 0: no Orientation tag
  std::string dateTimeOriginal;    // "YYYY:MM:DD HH:MM:SS"; empty: no tag
  std::string subSecTimeOriginal;  // empty: no tag
  std::string offsetTimeOriginal;  // "+hh:mm"; empty: no tag
  bool gps = false;                // a GPS directory with a latitude, as phones write it
  std::string thumbnail;           // a JPEG for IFD1; empty: no IFD1
  int thumbnailOrientation = 0;    // 0: no Orientation tag in IFD1
};
// `jpeg` with an APP1 Exif segment holding `fields` right after its SOI, in Intel byte order or,
// with `motorola`, in Motorola byte order.
std::string WithExif(const std::string& jpeg, const ExifFields& fields, bool motorola = false);

// A minimal ICC profile of `size` bytes (at least 132) whose header names the colour space
// `colourSpace` ("RGB ", "GRAY", "CMYK"), its other bytes counting up.
std::string MakeIccProfile(const char* colourSpace, size_t size);
// `jpeg` with `profile` in APP2 "ICC_PROFILE" segments of at most `pieceSize` bytes each.
std::string WithIccProfile(const std::string& jpeg, const std::string& profile,
                           size_t pieceSize = 65519);

}  // namespace testpictures
