// The video converter: an MP4 file becomes one video object carrying the whole file.
#include "convertmp4.h"

#include <algorithm>
#include <cstdio>

#include "log.h"
#include "mp4probe.h"
#include "objectheader.h"
#include "sourcefile.h"
#include "videosyntax.h"

namespace {

// The time between frames in milliseconds, as Frame Time holds it; empty without a rate.
std::string FrameTimeText(const VideoEncoding& encoding, uint64_t durationMilliseconds) {
  double milliseconds = 0;
  if (encoding.rateNumerator > 0 && encoding.rateDenominator > 0) {
    milliseconds = 1000.0 * encoding.rateDenominator / encoding.rateNumerator;
  } else if (encoding.frames > 0 && durationMilliseconds > 0) {
    milliseconds = static_cast<double>(durationMilliseconds) / static_cast<double>(encoding.frames);
  }
  if (milliseconds <= 0) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", milliseconds);
  return text;
}

}  // namespace

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
  // The label must say what the stream is: a receiver picks its decoder by it, and one built for
  // what the label promises may fail on anything beyond.
  const std::string transferSyntax = TransferSyntaxForVideo(encoding, width, height);
  if (transferSyntax.empty()) {
    error = path + ": " + DescribeVideo(encoding, width, height) +
            " \u2014 no DICOM video encoding allows it";
    WriteLog("ERROR, ConvertMP4, " + error);
    return false;
  }
  const std::string frameTime = FrameTimeText(encoding, duration);
  if (encoding.frames == 0 || frameTime.empty()) {
    error = "Cannot convert video \"" + path + "\": its frames and their rate cannot be read";
    WriteLog("ERROR, ConvertMP4, " + error);
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
  PictureDescription description;
  description.sopClassUid = kVideoEndoscopicClass;
  description.sopInstanceUid = numbers.sopInstanceUid;
  // Video Endoscopic objects are of the modality ES whatever the batch's modality.
  description.modality = kVideoModality;
  description.width = width;
  description.height = height;
  description.photometricInterpretation = kVideoPhotometricInterpretation;
  description.numberOfFrames = static_cast<uint32_t>(std::min<uint64_t>(encoding.frames, 99999999));
  description.frameTime = frameTime;
  description.lossyMethod = VideoCompressionMethod(encoding);
  // Uncompressed, 8-bit 4:2:0 samples take one and a half bytes per pixel.
  description.lossyRatio = CompressionRatioText(
      1.5 * width * height * static_cast<double>(encoding.frames), static_cast<double>(fileLength));
  description.acquisitionContext = true;
  description.anatomicRegion = true;
  FillPictureHeader(*dataSet, CurrentStudy, description);
  dataSet->SetTransferSyntax(transferSyntax);
  AppendEncapsulatedPixelData(*dataSet, std::move(fragment));
  AppendObject(list, std::move(dataSet));
  return true;
}
