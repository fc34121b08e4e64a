// PDF files made of picture pages, written as they come.
#include "picturepdf.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace {

// Object numbers fixed from the start: the page tree is written last, when its pages are known.
constexpr int kCatalog = 1;
constexpr int kPageTree = 2;

uint16_t BigEndian16(std::string_view data, size_t at) {
  return static_cast<uint16_t>((static_cast<unsigned char>(data[at]) << 8) |
                               static_cast<unsigned char>(data[at + 1]));
}

// A number as PDF writes it: decimal, with at most two places, never in the locale's notation.
std::string Number(double value) {
  std::array<char, 32> text{};
  const auto end =
      std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, 2);
  return std::string(text.data(), end.ptr);
}

std::string ColourSpace(int components) {
  switch (components) {
    case 1:
      return "/DeviceGray";
    case 4:
      return "/DeviceCMYK";
    default:
      return "/DeviceRGB";
  }
}

}  // namespace

std::optional<JpegPicture> ReadJpegHeader(std::string_view data) {
  if (data.size() < 4 || static_cast<unsigned char>(data[0]) != 0xFF ||
      static_cast<unsigned char>(data[1]) != 0xD8) {
    return std::nullopt;
  }
  std::optional<JpegPicture> picture;
  bool adobe = false;
  // The segments up to the start of the scan: the frame, and Adobe's marker wherever it is.
  size_t at = 2;
  while (at + 4 <= data.size()) {
    if (static_cast<unsigned char>(data[at]) != 0xFF) return std::nullopt;
    const unsigned char marker = static_cast<unsigned char>(data[at + 1]);
    if (marker == 0xFF) {  // fill byte before a marker
      ++at;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // markers without a segment
      at += 2;
      continue;
    }
    if (marker == 0xDA) break;
    if (marker == 0xD9) return std::nullopt;
    const size_t length = BigEndian16(data, at + 2);
    if (length < 2 || at + 2 + length > data.size()) return std::nullopt;
    const std::string_view segment = data.substr(at + 4, length - 2);
    if (marker == 0xEE && segment.starts_with("Adobe")) adobe = true;
    // Baseline, extended and progressive Huffman frames are what a PDF reader decodes; lossless
    // and arithmetic-coded frames are not.
    if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) {
      if (segment.size() < 6 || static_cast<unsigned char>(segment[0]) != 8) return std::nullopt;
      JpegPicture frame;
      frame.height = BigEndian16(segment, 1);
      frame.width = BigEndian16(segment, 3);
      frame.components = static_cast<unsigned char>(segment[5]);
      if (frame.width == 0 || frame.height == 0) return std::nullopt;
      if (frame.components != 1 && frame.components != 3 && frame.components != 4) {
        return std::nullopt;
      }
      picture = frame;
    } else if (marker >= 0xC3 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
               marker != 0xCC) {
      return std::nullopt;
    }
    at += 2 + length;
  }
  if (picture) picture->invertedCmyk = picture->components == 4 && adobe;
  return picture;
}

double PointsFromHundredthsOfMillimetre(int hundredths) {
  return hundredths * 72.0 / 2540.0;
}

PicturePdf::PicturePdf(std::FILE* out) : out_(out), offsets_(3, 0) {
  // The comment's high bytes tell transfer programs that the file is binary.
  Write("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
  BeginObject(kCatalog);
  Write("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
}

PicturePdf::~PicturePdf() {
  if (deflating_) deflateEnd(&zlib_);
}

void PicturePdf::Write(std::string_view bytes) {
  if (failed_ || !out_) {
    failed_ = true;
    return;
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), out_) != bytes.size()) {
    failed_ = true;
    return;
  }
  offset_ += bytes.size();
}

int PicturePdf::NewObject() {
  offsets_.push_back(0);
  return static_cast<int>(offsets_.size() - 1);
}

void PicturePdf::BeginObject(int number) {
  offsets_[static_cast<size_t>(number)] = offset_;
  Write(std::to_string(number) + " 0 obj\n");
}

void PicturePdf::WritePage(int picture, PageSize page, PageSize drawn) {
  const std::string draw = "q " + Number(drawn.width) + " 0 0 " + Number(drawn.height) + " " +
                           Number((page.width - drawn.width) / 2) + " " +
                           Number((page.height - drawn.height) / 2) + " cm /Im0 Do Q\n";
  const int contents = NewObject();
  BeginObject(contents);
  Write("<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw +
        "endstream\nendobj\n");
  const int pageObject = NewObject();
  BeginObject(pageObject);
  Write("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + Number(page.width) + " " +
        Number(page.height) + "] /Resources << /XObject << /Im0 " + std::to_string(picture) +
        " 0 R >> >> /Contents " + std::to_string(contents) + " 0 R >>\nendobj\n");
  pages_.push_back(pageObject);
}

bool PicturePdf::AddJpegPage(std::string_view data, const JpegPicture& picture, PageSize page) {
  if (inRaster_ || picture.width == 0 || picture.height == 0) return false;
  const int image = NewObject();
  BeginObject(image);
  std::string dictionary = "<< /Type /XObject /Subtype /Image /Width " +
                           std::to_string(picture.width) + " /Height " +
                           std::to_string(picture.height) + " /ColorSpace " +
                           ColourSpace(picture.components) + " /BitsPerComponent 8";
  if (picture.invertedCmyk) dictionary += " /Decode [1 0 1 0 1 0 1 0]";
  dictionary += " /Filter /DCTDecode /Length " + std::to_string(data.size()) + " >>\nstream\n";
  Write(dictionary);
  Write(data);
  Write("\nendstream\nendobj\n");
  // As large as the page allows, keeping the picture's proportions.
  const double scale = std::min(page.width / picture.width, page.height / picture.height);
  WritePage(image, page, {picture.width * scale, picture.height * scale});
  return !failed_;
}

bool PicturePdf::BeginRasterPage(unsigned width, unsigned height, int components, PageSize page) {
  if (inRaster_ || width == 0 || height == 0 || (components != 1 && components != 3)) {
    return false;
  }
  zlib_ = z_stream{};
  if (deflateInit(&zlib_, Z_DEFAULT_COMPRESSION) != Z_OK) return false;
  deflating_ = true;
  inRaster_ = true;
  rasterWidth_ = width;
  rasterHeight_ = height;
  rowsLeft_ = height;
  rowBytes_ = static_cast<size_t>(width) * static_cast<size_t>(components);
  rasterPage_ = page;
  rasterPicture_ = NewObject();
  const int length = NewObject();
  BeginObject(rasterPicture_);
  Write("<< /Type /XObject /Subtype /Image /Width " + std::to_string(width) + " /Height " +
        std::to_string(height) + " /ColorSpace " + ColourSpace(components) +
        " /BitsPerComponent 8 /Filter /FlateDecode /Length " + std::to_string(length) +
        " 0 R >>\nstream\n");
  streamStart_ = offset_;
  return !failed_;
}

bool PicturePdf::Deflate(const unsigned char* bytes, size_t count, int flush) {
  zlib_.next_in = const_cast<unsigned char*>(bytes);
  zlib_.avail_in = static_cast<uInt>(count);
  unsigned char block[16384];
  int result;
  do {
    zlib_.next_out = block;
    zlib_.avail_out = sizeof block;
    result = deflate(&zlib_, flush);
    if (result == Z_STREAM_ERROR) return false;
    Write(std::string_view(reinterpret_cast<const char*>(block), sizeof block - zlib_.avail_out));
  } while (zlib_.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
  return !failed_;
}

bool PicturePdf::AddRasterRow(const unsigned char* row) {
  if (!inRaster_ || rowsLeft_ == 0) return false;
  --rowsLeft_;
  return Deflate(row, rowBytes_, Z_NO_FLUSH);
}

bool PicturePdf::EndRasterPage() {
  if (!inRaster_) return false;
  // Rows the raster did not deliver stay white rather than leaving the stream short.
  const std::vector<unsigned char> white(rowBytes_, 0xFF);
  while (rowsLeft_ > 0 && !failed_) AddRasterRow(white.data());
  const bool deflated = Deflate(nullptr, 0, Z_FINISH);
  deflateEnd(&zlib_);
  deflating_ = false;
  inRaster_ = false;
  if (!deflated) return false;
  const uint64_t length = offset_ - streamStart_;
  Write("\nendstream\nendobj\n");
  BeginObject(rasterPicture_ + 1);
  Write(std::to_string(length) + "\nendobj\n");
  WritePage(rasterPicture_, rasterPage_, rasterPage_);
  return !failed_;
}

bool PicturePdf::Finish() {
  if (inRaster_ || pages_.empty()) return false;
  BeginObject(kPageTree);
  std::string kids;
  for (const int page : pages_) kids += std::to_string(page) + " 0 R ";
  Write("<< /Type /Pages /Kids [ " + kids + "] /Count " + std::to_string(pages_.size()) +
        " >>\nendobj\n");
  const uint64_t table = offset_;
  Write("xref\n0 " + std::to_string(offsets_.size()) + "\n0000000000 65535 f \n");
  for (size_t number = 1; number < offsets_.size(); ++number) {
    std::array<char, 24> entry{};
    std::snprintf(entry.data(), entry.size(), "%010llu 00000 n \n",
                  static_cast<unsigned long long>(offsets_[number]));
    Write(entry.data());
  }
  Write("trailer\n<< /Size " + std::to_string(offsets_.size()) + " /Root 1 0 R >>\nstartxref\n" +
        std::to_string(table) + "\n%%EOF\n");
  if (std::fflush(out_) != 0) failed_ = true;
  return !failed_;
}
