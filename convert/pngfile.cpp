// PNG pictures through libpng: any colour type and depth to 8-bit RGB, transparency on white.
#include "pngfile.h"

#include <png.h>

namespace {

// Frees the library's read state however we leave.
struct ImageReader {
  png_image image{};
  ImageReader() { image.version = PNG_IMAGE_VERSION; }
  ~ImageReader() { png_image_free(&image); }
  ImageReader(const ImageReader&) = delete;
  ImageReader& operator=(const ImageReader&) = delete;
};

}  // namespace

bool DecodePng(const uint8_t* bytes, size_t size, RgbBitmap& bitmap, std::string& error) {
  ImageReader reader;
  png_image& image = reader.image;
  if (png_image_begin_read_from_memory(&image, bytes, size) == 0) {
    error = std::string("not a readable PNG file (") + image.message + ")";
    return false;
  }
  error = CheckPictureSize(image.width, image.height);
  if (error.empty()) error = CheckPictureEvidence(image.width, image.height, size);
  if (!error.empty()) return false;
  // Asking for RGB without alpha and giving a background makes the library blend every pixel
  // onto it, which is what a viewer shows for a transparent picture on a white page.
  image.format = PNG_FORMAT_RGB;
  png_color background{255, 255, 255};
  RgbBitmap decoded;
  decoded.width = image.width;
  decoded.height = image.height;
  decoded.rgb.resize(size_t{image.width} * image.height * 3);
  if (png_image_finish_read(&image, &background, decoded.rgb.data(), 0, nullptr) == 0) {
    error = std::string("the PNG data is damaged or truncated (") + image.message + ")";
    return false;
  }
  bitmap = std::move(decoded);
  return true;
}
