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

}  // namespace testpictures
