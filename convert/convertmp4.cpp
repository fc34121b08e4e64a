// The video converter: an MP4 file becomes one video object carrying the whole file.
#include "convertmp4.h"

#include "log.h"
#include "mp4probe.h"
#include "sourcefile.h"

void FillVideoHeader(DcmObj& dataSet, const StudyInfo& study, std::string_view sopClassUid,
                     std::string_view sopInstanceUid, uint32_t width, uint32_t height) {
  AppendText(dataSet, 0x0008, 0x0008, "DERIVED");
  AppendText(dataSet, 0x0008, 0x0012, TodayText());
  AppendText(dataSet, 0x0008, 0x0013, NowText());
  AppendText(dataSet, 0x0008, 0x0016, sopClassUid);
  AppendText(dataSet, 0x0008, 0x0018, sopInstanceUid);
  AppendText(dataSet, 0x0008, 0x0020, study.studyDate);
  AppendText(dataSet, 0x0008, 0x0030, study.studyTime);
  AppendText(dataSet, 0x0008, 0x0032, NowText());
  AppendText(dataSet, 0x0008, 0x0033, NowText());
  AppendText(dataSet, 0x0008, 0x0050, study.accessionNumber);
  AppendText(dataSet, 0x0008, 0x0060, study.modality);
  AppendText(dataSet, 0x0008, 0x0064, "WSD");
  AppendText(dataSet, 0x0008, 0x0080, study.institutionName);
  AppendText(dataSet, 0x0008, 0x0090, study.referringPhysicianName);
  AppendText(dataSet, 0x0008, 0x1030, study.studyDescription);
  AppendText(dataSet, 0x0010, 0x0010, study.patientName);
  AppendText(dataSet, 0x0010, 0x0020, study.patientId);
  AppendText(dataSet, 0x0010, 0x0030, study.patientBirthDate);
  AppendText(dataSet, 0x0010, 0x0040, study.patientSex);
  AppendText(dataSet, 0x0020, 0x000D, study.studyInstanceUid);
  AppendText(dataSet, 0x0020, 0x000E, CurrentSeriesUID);
  AppendText(dataSet, 0x0020, 0x0010, study.studyId);
  AppendText(dataSet, 0x0020, 0x0011, SeriesNumberText);
  AppendText(dataSet, 0x0020, 0x0013, InstanceNumberText());
  AppendNumber16(dataSet, 0x0028, 0x0002, 3);
  AppendText(dataSet, 0x0028, 0x0004, "YBR_PARTIAL_420");
  AppendNumber16(dataSet, 0x0028, 0x0006, 0);
  AppendNumber16(dataSet, 0x0028, 0x0010, static_cast<uint16_t>(height));
  AppendNumber16(dataSet, 0x0028, 0x0011, static_cast<uint16_t>(width));
  AppendNumber16(dataSet, 0x0028, 0x0100, 8);
  AppendNumber16(dataSet, 0x0028, 0x0101, 8);
  AppendNumber16(dataSet, 0x0028, 0x0102, 7);
  AppendNumber16(dataSet, 0x0028, 0x0103, 0);
}

bool ConvertMP4(const std::string& path, DataSetList& list, std::string& error) {
  uint32_t width = 0, height = 0, frameRate = 0;
  uint64_t duration = 0;
  const int32_t result = GetMP4Information(path, width, height, frameRate, duration);
  if (result != 0 || width == 0 || height == 0) {
    WriteLog("ERROR, ConvertMP4,   GetMP4Information, " + ResultCodeText(result));
    error = "Cannot convert video \"" + path + "\": it does not open as an MP4 video";
    if (result == 0) error += " with a frame size";
    return false;
  }
  if (width > 0xFFFF || height > 0xFFFF) {
    error = "Cannot convert video \"" + path + "\": its frame size " + std::to_string(width) +
            " x " + std::to_string(height) + " does not fit Rows and Columns";
    return false;
  }
  // Read before the number is taken, so a file that vanished or cannot be read completely
  // leaves no numbered object behind.
  SourceBytes source;
  if (!ReadSourceFile(path, source, error)) return false;
  if (source.length == 0) WriteLog("ERROR, ConvertMP4, image size is zero");

  const ObjectNumbers numbers = StartObject(ObjectKind::Video);
  auto dataSet = std::make_unique<DcmObj>();
  FillVideoHeader(*dataSet, CurrentStudy, kVideoEndoscopicClass, numbers.sopInstanceUid, width,
                  height);
  dataSet->SetTransferSyntax(kMpeg4HighProfileTransferSyntax);
  AppendEncapsulatedPixelData(*dataSet, std::move(source.bytes), source.length);
  list.push_back(std::move(dataSet));
  return true;
}
