// PDF files whose pages each show one picture: a JPEG file as it came, or rows of raster pixels.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a JPEG file's header tells about its picture.
struct JpegPicture {
  unsigned width = 0;
  unsigned height = 0;
  int components = 0;         // 1 grey, 3 colour, 4 CMYK
  bool invertedCmyk = false;  // CMYK as Adobe's applications store it, each value inverted
};

// The picture of `data`, or nullopt when it is no JPEG a PDF page can show as it is (8 bits per
// sample, one, three or four components).
std::optional<JpegPicture> ReadJpegHeader(std::string_view data);

// A page's size in points (1/72 inch).
struct PageSize {
  double width = 0;
  double height = 0;
};

// Hundredths of millimetres, as print options give a medium's size, in points.
double PointsFromHundredthsOfMillimetre(int hundredths);

// Writes a PDF into `out` (left open for the caller; null fails every call) page by page, so that a
// job of many raster pages never needs more memory than one row. Each call returns false once
// writing failed; the file is then incomplete and must not be kept.
class PicturePdf {
 public:
  explicit PicturePdf(std::FILE* out);
  ~PicturePdf();
  PicturePdf(const PicturePdf&) = delete;
  PicturePdf& operator=(const PicturePdf&) = delete;

  // A page of `page` showing the JPEG `data` unchanged, as large as fits, centred.
  bool AddJpegPage(std::string_view data, const JpegPicture& picture, PageSize page);

  // A page of `page` filled with a raster of `width` x `height` pixels of `components` (1 grey,
  // 3 RGB) 8-bit samples, given row by row from the top.
  bool BeginRasterPage(unsigned width, unsigned height, int components, PageSize page);
  bool AddRasterRow(const unsigned char* row);
  bool EndRasterPage();

  // Writes the page tree and the cross-reference table. False when a page is unfinished, no page
  // was added or writing failed.
  bool Finish();

  int Pages() const { return static_cast<int>(pages_.size()); }

 private:
  // Starts object `number` at the current offset.
  void BeginObject(int number);
  int NewObject();
  void Write(std::string_view bytes);
  // The page and its contents: the picture object `picture` drawn `drawn` large, centred.
  void WritePage(int picture, PageSize page, PageSize drawn);
  bool Deflate(const unsigned char* bytes, size_t count, int flush);

  std::FILE* out_;
  uint64_t offset_ = 0;
  bool failed_ = false;
  std::vector<uint64_t> offsets_;  // by object number; 0 is the free head of the table
  std::vector<int> pages_;

  // The raster page being written.
  bool inRaster_ = false;
  unsigned rasterWidth_ = 0;
  unsigned rasterHeight_ = 0;
  unsigned rowsLeft_ = 0;
  size_t rowBytes_ = 0;
  int rasterPicture_ = 0;
  PageSize rasterPage_;
  uint64_t streamStart_ = 0;
  bool deflating_ = false;
  z_stream zlib_{};
};
