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
inline constexpr const char* kVlEndoscopicImageClass = "1.2.840.10008.5.1.4.1.1.77.1.1";

// The image SOP class for a modality: exact, case-sensitive comparison. Ultrasound ("US") and
// endoscopy ("ES") have image classes that hold a colour photograph; every other modality's own
// class needs what a photo cannot give (greyscale pixels, the patient's geometry, the machine's
// exposure), so those photos, and anything not named, are Secondary Capture objects that keep the
// modality.
std::string_view SopClassForModality(std::string_view modality);

// Decodes the picture at `path` (".JPG", ".BMP" or ".PNG", compared upper-cased), turns it
// upright as its Exif orientation says, encodes it as baseline JPEG at quality 90 and appends the
// image object to `list`. With KeepCameraJpegs set, a baseline YCbCr JPEG that needs no turning
// is kept byte for byte instead, less the segments that only describe the photo. On failure nothing
// is appended, no number is consumed, and `error` names the file.
bool ConvertImage(const std::string& path, DataSetList& list, std::string& error);

// The costly half of ConvertImage: the picture decoded and encoded again as baseline JPEG (or the
// camera's stream kept), with the facts the photo tells about itself. It reads no batch state (only
// the KeepCameraJpegs setting), so several pictures may be encoded at once on different threads.
struct EncodedPicture {
  std::vector<uint8_t> stream;
  uint32_t width = 0;
  uint32_t height = 0;
  bool keptAsIs = false;            // the source's own JPEG stream, byte for byte
  std::string acquisitionDateTime;  // DT from the photo's Exif; empty when unknown
  std::vector<uint8_t> iccProfile;  // the source's RGB ICC profile; empty when none
};
bool EncodePictureFile(const std::string& path, EncodedPicture& picture, std::string& error);

// The other half: takes the next instance number and appends the image object holding `picture`.
void AppendImageObject(EncodedPicture picture, DataSetList& list);

// The picture decoded from a file of one of the accepted kinds, for the converter and for tools
// that need the same pixels, as stored (not turned). Same failures and messages as ConvertImage.
bool DecodePictureFile(const std::string& path, RgbBitmap& bitmap, std::string& error);
