// The video converter: an MP4 file becomes one video object carrying the whole file.
#include "convertmp4.h"

#include "log.h"
#include "mp4probe.h"
#include "objectheader.h"
#include "sourcefile.h"

bool ConvertMP4(const std::string& path, DataSetList& list, std::string& error) {
  uint32_t width = 0, height = 0, frameRate = 0;
  uint64_t duration = 0, sampleDataEnd = 0;
  VideoEncoding encoding;
  const int32_t result =
      GetMP4Information(path, width, height, frameRate, duration, &sampleDataEnd, &encoding);
  if (result != 0 || width == 0 || height == 0) {
    WriteLog("ERROR, ConvertMP4,   GetMP4Information, " + ResultCodeText(result));
    error = "Cannot convert video \"" + path + "\": it does not open as an MP4 video";
    if (result == 0) error += " with a frame size";
    return false;
  }
  // The label must say what the stream is: HEVC labelled as H.264 cannot be decoded by the
  // receiver.
  const std::string transferSyntax = TransferSyntaxForVideo(encoding);
  if (transferSyntax.empty()) {
    const std::string codec =
        encoding.codec == VideoCodec::Hevc
            ? "HEVC profile " + std::to_string(encoding.profile) + " (only Main and Main 10)"
            : encoding.name + " (only H.264 and HEVC)";
    WriteLog("ERROR, ConvertMP4, unsupported codec " + codec + ": " + path);
    error = "Cannot convert video \"" + path + "\": its codec " + codec + " cannot be stored";
    return false;
  }
  if (width > 0xFFFF || height > 0xFFFF) {
    error = "Cannot convert video \"" + path + "\": its frame size " + std::to_string(width) +
            " x " + std::to_string(height) + " does not fit Rows and Columns";
    return false;
  }
  // Opened before the number is taken, so a file that vanished leaves no numbered object behind.
  auto fragment = DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL");
  uint64_t fileLength = 0;
  if (!LoadSourceValue(path, *fragment, fileLength, error)) return false;
  // An index at the front of the file opens even when the media data behind it was cut off; such
  // a video would be stored as if whole and fail only in the viewer.
  if (sampleDataEnd > fileLength) {
    WriteLog("ERROR, ConvertMP4, truncated file: " + path);
    error = "Cannot convert video \"" + path +
            "\": the file is truncated (its samples run to byte " + std::to_string(sampleDataEnd) +
            ", the file holds " + std::to_string(fileLength) + " bytes)";
    return false;
  }
  if (fragment->length == 0) WriteLog("ERROR, ConvertMP4, image size is zero");

  const ObjectNumbers numbers = StartObject(ObjectKind::Video);
  auto dataSet = std::make_unique<DcmObj>();
  FillPictureHeader(*dataSet, CurrentStudy, kVideoEndoscopicClass, numbers.sopInstanceUid, width,
                    height, kVideoPhotometricInterpretation);
  dataSet->SetTransferSyntax(transferSyntax);
  AppendEncapsulatedPixelData(*dataSet, std::move(fragment));
  AppendObject(list, std::move(dataSet));
  return true;
}
