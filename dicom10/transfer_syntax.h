// Transfer-syntax conversion of image data sets: decoding encapsulated pixel data, re-encoding it
// for the target syntax and rewriting the image attributes that the new encoding changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dcmobj.h"

// The image attributes the conversion reads, with the values used when an element is absent.
struct PixelAttributes {
  std::string modality;
  std::string photometric;
  bool colour = false;  // Photometric Interpretation not beginning with "MON" or "PAL"
  bool planar = false;  // Planar Configuration was 1
  int frames = 0;       // Number of Frames as parsed; below 1 counts as 1
  uint16_t rows = 1;
  uint16_t columns = 1;
  uint16_t bitsAllocated = 1;
  uint16_t bitsStored = 1;
  uint16_t pixelRepresentation = 0;
  float rescaleIntercept = 0;
  float rescaleSlope = 1;

  int FrameCount() const { return frames < 1 ? 1 : frames; }
  // Columns x Rows x Bits Allocated / 8, three times that for colour.
  uint64_t FrameSize() const;
};

// Converts the pixel data of `dataSet` to `target` and sets the data set's transfer syntax and
// flags to follow it. True when the pixel data is now in the target encoding, or nothing had to
// be done (same syntax, empty target, video syntaxes). On false the data set is exactly as it
// was, and the reason is in the log.
bool ConvertTransferSyntax(DcmObj& dataSet, std::string_view target);

// Decodes the encapsulated Pixel Data at `pixelIndex` (in the data set's transfer syntax) into
// `buffer`, frame by frame; `size` / `frames` bytes per frame. The data set is not changed. False,
// with a log line, when any frame fails to decode or decodes to another size.
bool Decompress(const DcmObj& dataSet, size_t pixelIndex, std::string_view photometric,
                uint8_t* buffer, size_t size, int frames, int bitsAllocated);

// Native samples (interleaved, 16-bit little-endian words above 8 bits) on their way to a new
// encoding: either a buffer of their own, or borrowed from the element that holds them already.
struct PixelBuffer {
  std::unique_ptr<uint8_t[]> owned;  // when set, `data` points here; room for one padding byte
  const uint8_t* data = nullptr;
  size_t size = 0;

  // A buffer of its own for `size` bytes (and the padding byte), uninitialised. False when the
  // memory is not there.
  bool Allocate(size_t bytes);
  uint8_t* Writable() { return owned.get(); }
};

// Encodes native `pixels` for `target`. `pixelEntries` receives the new Pixel Data element and,
// for compressed targets, its Basic Offset Table item, one item per frame and the sequence
// delimiter. `ratio` gets the compression ratio (0 for native targets). A native target takes
// the pixels' own buffer as its value; the rescaling steps of the lossy targets work on a buffer
// of the pixels' own, made when they were borrowed.
bool Comp(const PixelAttributes& attributes, PixelBuffer& pixels, std::string_view target,
          std::vector<std::unique_ptr<DcmTag>>& pixelEntries, float& ratio);

// Sample rescaling of 16-bit little-endian samples (signed for Pixel Representation 1).
void RescaleTo8(const uint8_t* samples, uint8_t* out, size_t count, const PixelAttributes& a);
void RescaleTo12(uint8_t* samples, size_t count, const PixelAttributes& a);
void RescaleUnsigned(uint8_t* samples, size_t count, const PixelAttributes& a);

// A deep copy of a data set: every element, nested sequence and item.
std::unique_ptr<DcmObj> CloneDataSet(const DcmObj& dataSet);
