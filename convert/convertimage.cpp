// The image converter: a JPEG, BMP or PNG picture becomes one colour image object.
#include "convertimage.h"

#include <cstring>

#include "bmpfile.h"
#include "jpegfile.h"
#include "objectheader.h"
#include "pngfile.h"
#include "sourcefile.h"

namespace {

struct ModalityClass {
  std::string_view modality;
  std::string_view sopClassUid;
};

constexpr ModalityClass kModalityClasses[] = {
    {"US", "1.2.840.10008.5.1.4.1.1.6.1"},    {"CR", "1.2.840.10008.5.1.4.1.1.1"},
    {"CT", "1.2.840.10008.5.1.4.1.1.2"},      {"MR", "1.2.840.10008.5.1.4.1.1.4"},
    {"DX", "1.2.840.10008.5.1.4.1.1.1.1"},    {"PX", "1.2.840.10008.5.1.4.1.1.1.1"},
    {"XA", "1.2.840.10008.5.1.4.1.1.12.1"},   {"NM", "1.2.840.10008.5.1.4.1.1.20"},
    {"ES", "1.2.840.10008.5.1.4.1.1.77.1.1"}, {"MG", "1.2.840.10008.5.1.4.1.1.1.2"},
};

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
    error = "Cannot convert picture \"" + path + "\": " + problem;
    return false;
  }
  return true;
}

bool EncodePictureFile(const std::string& path, EncodedPicture& picture, std::string& error) {
  if (UpperExtension(path) == ".JPG") {
    // A colour photo goes from one JPEG to the other without becoming a bitmap on the way.
    SourceBytes source;
    if (!ReadSourceFile(path, source, error)) return false;
    std::string problem;
    const Reencoded result =
        ReencodeYCbCrJpeg(source.bytes.get(), source.fileLength, kImageJpegQuality, picture.stream,
                          picture.width, picture.height, problem);
    if (result == Reencoded::Done) return true;
    if (result == Reencoded::Failed) {
      error = "Cannot convert picture \"" + path + "\": " + problem;
      return false;
    }
  }
  RgbBitmap bitmap;
  if (!DecodePictureFile(path, bitmap, error)) return false;
  std::string problem;
  if (!EncodeJpegBaseline(bitmap, kImageJpegQuality, picture.stream, problem)) {
    error = "Cannot convert picture \"" + path + "\": " + problem;
    return false;
  }
  picture.width = bitmap.width;
  picture.height = bitmap.height;
  return true;
}

void AppendImageObject(EncodedPicture picture, DataSetList& list) {
  const std::string_view sopClassUid = SopClassForModality(CurrentStudy.modality);
  const ObjectNumbers numbers = StartObject(ObjectKind::Image);
  auto dataSet = std::make_unique<DcmObj>();
  FillPictureHeader(*dataSet, CurrentStudy, sopClassUid, numbers.sopInstanceUid, picture.width,
                    picture.height, kImagePhotometricInterpretation);
  dataSet->SetTransferSyntax(kJpegBaselineSyntax);

  const std::vector<uint8_t>& stream = picture.stream;
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
