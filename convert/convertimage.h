// The image converter: a JPEG, BMP or PNG picture becomes one colour image object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "conversioncontext.h"
#include "rgbbitmap.h"

inline constexpr int kImageJpegQuality = 90;
// How the baseline JPEG stream codes its colour.
inline constexpr const char* kImagePhotometricInterpretation = "YBR_FULL_422";

// The image SOP class for a modality: exact, case-sensitive comparison; Secondary Capture for
// anything not in the table.
std::string_view SopClassForModality(std::string_view modality);

// Decodes the picture at `path` (".JPG", ".BMP" or ".PNG", compared upper-cased), encodes it as
// baseline JPEG at quality 90 and appends the image object to `list`. On failure nothing is
// appended, no number is consumed, and `error` names the file.
bool ConvertImage(const std::string& path, DataSetList& list, std::string& error);

// The costly half of ConvertImage: the picture decoded and encoded again as baseline JPEG. It reads
// no batch state, so several pictures may be encoded at once on different threads.
struct EncodedPicture {
  std::vector<uint8_t> stream;
  uint32_t width = 0;
  uint32_t height = 0;
};
bool EncodePictureFile(const std::string& path, EncodedPicture& picture, std::string& error);

// The other half: takes the next instance number and appends the image object holding `picture`.
void AppendImageObject(EncodedPicture picture, DataSetList& list);

// The picture decoded from a file of one of the accepted kinds, for the converter and for tools
// that need the same pixels. Same failures and messages as ConvertImage.
bool DecodePictureFile(const std::string& path, RgbBitmap& bitmap, std::string& error);
