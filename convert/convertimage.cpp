// The image converter: a JPEG, BMP or PNG picture becomes one colour image object.
#include "convertimage.h"

#include <cstring>

#include "bmpfile.h"
#include "jpegfacts.h"
#include "jpegfile.h"
#include "objectheader.h"
#include "orientation.h"
#include "pngfile.h"
#include "sourcefile.h"

namespace {

struct ModalityClass {
  std::string_view modality;
  std::string_view sopClassUid;
};

constexpr ModalityClass kModalityClasses[] = {
    {"US", "1.2.840.10008.5.1.4.1.1.6.1"},
    {"ES", kVlEndoscopicImageClass},
};

// A camera's stream can stand as it is when it is what a JPEG Baseline object with
// "YBR_FULL_422" holds: sequential 8-bit Huffman coding with 8-bit tables, three YCbCr
// components, chroma halved across (and possibly down), complete, and shown as stored.
bool CanKeepAsIs(const JpegFacts& facts) {
  const JpegFrame& frame = facts.frame;
  if (frame.marker != 0xC0 || frame.precision != 8 || frame.components != 3) return false;
  if (facts.quantTables16Bit || facts.imageEnd == 0) return false;
  if (OrientationChangesPicture(facts.orientation)) return false;
  // The library's own rule for the colour of three components: JFIF or Adobe's transform 1 is
  // YCbCr, Adobe's transform 0 and the component names R, G, B are RGB.
  const bool rgb = facts.adobeTransform == 0 ||
                   (!facts.jfif && facts.adobeTransform < 0 && frame.componentIds[0] == 'R' &&
                    frame.componentIds[1] == 'G' && frame.componentIds[2] == 'B');
  if (rgb) return false;
  const bool lumaHalves = frame.horizontalSampling[0] == 2 &&
                          (frame.verticalSampling[0] == 1 || frame.verticalSampling[0] == 2);
  const bool chromaWhole = frame.horizontalSampling[1] == 1 && frame.verticalSampling[1] == 1 &&
                           frame.horizontalSampling[2] == 1 && frame.verticalSampling[2] == 1;
  return lumaHalves && chromaWhole;
}

// An ICC profile describes the colours of the pixels it came with; it still fits once they are
// JPEG-coded RGB again only when it is an RGB profile (bytes 16 to 19 of its header).
bool IsRgbProfile(const std::vector<uint8_t>& profile) {
  return profile.size() >= 128 && std::memcmp(profile.data() + 16, "RGB ", 4) == 0;
}

std::string PictureProblem(const std::string& path, const std::string& problem) {
  return "Cannot convert picture \"" + path + "\": " + problem;
}

// The picture encoded as baseline JPEG at the converter's quality.
bool EncodeBitmap(const std::string& path, const RgbBitmap& bitmap, EncodedPicture& picture,
                  std::string& error) {
  std::string problem;
  if (!EncodeJpegBaseline(bitmap, kImageJpegQuality, picture.stream, problem)) {
    error = PictureProblem(path, problem);
    return false;
  }
  picture.width = bitmap.width;
  picture.height = bitmap.height;
  return true;
}

// A JPEG photo: kept, turned upright, or encoded again from its YCbCr samples.
bool EncodeJpegFile(const std::string& path, const SourceBytes& source, EncodedPicture& picture,
                    std::string& error) {
  const uint8_t* bytes = source.bytes.get();
  const size_t size = static_cast<size_t>(source.fileLength);
  const JpegFacts facts = ReadJpegFacts(bytes, size);
  picture.acquisitionDateTime = ExifDateTimeToDicom(
      facts.dateTimeOriginal, facts.subSecTimeOriginal, facts.offsetTimeOriginal);
  if (IsRgbProfile(facts.iccProfile)) picture.iccProfile = facts.iccProfile;
  std::string problem;
  if (KeepCameraJpegs && CanKeepAsIs(facts)) {
    // Checked whole before it is kept: a cut or damaged file is refused as re-encoding would.
    if (!JpegDecodesCleanly(bytes, facts.imageEnd, problem)) {
      error = PictureProblem(path, problem);
      return false;
    }
    picture.stream = JpegWithoutMetadata(bytes, facts);
    picture.width = facts.frame.width;
    picture.height = facts.frame.height;
    picture.keptAsIs = true;
    return true;
  }
  if (OrientationChangesPicture(facts.orientation)) {
    // Turning needs the whole picture at once.
    RgbBitmap stored;
    if (!DecodeJpeg(bytes, size, stored, problem)) {
      error = PictureProblem(path, problem);
      return false;
    }
    const RgbBitmap upright = OrientBitmap(stored, facts.orientation);
    stored = {};
    return EncodeBitmap(path, upright, picture, error);
  }
  // A colour photo goes from one JPEG to the other without becoming a bitmap on the way.
  const Reencoded result = ReencodeYCbCrJpeg(bytes, size, kImageJpegQuality, picture.stream,
                                             picture.width, picture.height, problem);
  if (result == Reencoded::Done) return true;
  if (result == Reencoded::Failed) {
    error = PictureProblem(path, problem);
    return false;
  }
  RgbBitmap bitmap;
  if (!DecodeJpeg(bytes, size, bitmap, problem)) {
    error = PictureProblem(path, problem);
    return false;
  }
  return EncodeBitmap(path, bitmap, picture, error);
}

}  // namespace

std::string_view SopClassForModality(std::string_view modality) {
  for (const ModalityClass& row : kModalityClasses) {
    if (row.modality == modality) return row.sopClassUid;
  }
  return kSecondaryCaptureClass;
}

bool DecodePictureFile(const std::string& path, RgbBitmap& bitmap, std::string& error) {
  const std::string extension = UpperExtension(path);
  bool (*decode)(const uint8_t*, size_t, RgbBitmap&, std::string&) = nullptr;
  if (extension == ".JPG") {
    decode = DecodeJpeg;
  } else if (extension == ".BMP") {
    decode = DecodeBmp;
  } else if (extension == ".PNG") {
    decode = DecodePng;
  } else {
    error = "ERROR, not known image format";
    return false;
  }
  SourceBytes source;
  if (!ReadSourceFile(path, source, error)) return false;
  std::string problem;
  if (!decode(source.bytes.get(), source.fileLength, bitmap, problem)) {
    error = PictureProblem(path, problem);
    return false;
  }
  return true;
}

bool EncodePictureFile(const std::string& path, EncodedPicture& picture, std::string& error) {
  if (UpperExtension(path) == ".JPG") {
    SourceBytes source;
    if (!ReadSourceFile(path, source, error)) return false;
    return EncodeJpegFile(path, source, picture, error);
  }
  RgbBitmap bitmap;
  if (!DecodePictureFile(path, bitmap, error)) return false;
  return EncodeBitmap(path, bitmap, picture, error);
}

void AppendImageObject(EncodedPicture picture, DataSetList& list) {
  const std::string_view sopClassUid = SopClassForModality(CurrentStudy.modality);
  const ObjectNumbers numbers = StartObject(ObjectKind::Image);
  auto dataSet = std::make_unique<DcmObj>();
  const std::vector<uint8_t>& stream = picture.stream;
  PictureDescription description;
  description.sopClassUid = sopClassUid;
  description.sopInstanceUid = numbers.sopInstanceUid;
  description.modality = CurrentStudy.modality;
  description.width = picture.width;
  description.height = picture.height;
  description.photometricInterpretation = kImagePhotometricInterpretation;
  description.acquisitionDateTime = std::move(picture.acquisitionDateTime);
  description.iccProfile = std::move(picture.iccProfile);
  description.lossyMethod = "ISO_10918_1";
  description.lossyRatio = CompressionRatioText(3.0 * picture.width * picture.height,
                                                static_cast<double>(stream.size()));
  description.acquisitionContext = sopClassUid == kVlEndoscopicImageClass;
  FillPictureHeader(*dataSet, CurrentStudy, description);
  dataSet->SetTransferSyntax(kJpegBaselineSyntax);

  const uint32_t length = static_cast<uint32_t>(stream.size() + (stream.size() & 1u));
  auto fragment = std::make_unique_for_overwrite<uint8_t[]>(length);
  std::memcpy(fragment.get(), stream.data(), stream.size());
  if (length != stream.size()) fragment[stream.size()] = 0x00;
  picture.stream = {};
  AppendEncapsulatedPixelData(*dataSet, std::move(fragment), length);
  AppendObject(list, std::move(dataSet));
}

bool ConvertImage(const std::string& path, DataSetList& list, std::string& error) {
  EncodedPicture picture;
  if (!EncodePictureFile(path, picture, error)) return false;
  AppendImageObject(std::move(picture), list);
  return true;
}
