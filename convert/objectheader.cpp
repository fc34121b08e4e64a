// The header elements the image, video and PDF objects share, built once for all converters.
#include "objectheader.h"

#include <cstdio>
#include <memory>

#include "conversioncontext.h"
#include "dcmtag.h"

void AppendCreationAndStudyDate(DcmObj& dataSet, const StudyInfo& study,
                                std::string_view sopClassUid, std::string_view sopInstanceUid) {
  AppendText(dataSet, 0x0008, 0x0012, TodayText());
  AppendText(dataSet, 0x0008, 0x0013, NowText());
  AppendText(dataSet, 0x0008, 0x0016, sopClassUid);
  AppendText(dataSet, 0x0008, 0x0018, sopInstanceUid);
  AppendText(dataSet, 0x0008, 0x0020, study.studyDate);
}

void AppendStudyDescription(DcmObj& dataSet, const StudyInfo& study, std::string_view modality) {
  AppendText(dataSet, 0x0008, 0x0050, study.accessionNumber);
  AppendText(dataSet, 0x0008, 0x0060, modality);
  AppendText(dataSet, 0x0008, 0x0064, "WSD");
  AppendText(dataSet, 0x0008, 0x0070, "");
  AppendText(dataSet, 0x0008, 0x0080, study.institutionName);
  AppendText(dataSet, 0x0008, 0x0090, study.referringPhysicianName);
  AppendText(dataSet, 0x0008, 0x1030, study.studyDescription);
}

void AppendPatient(DcmObj& dataSet, const StudyInfo& study) {
  AppendText(dataSet, 0x0010, 0x0010, study.patientName);
  AppendText(dataSet, 0x0010, 0x0020, study.patientId);
  AppendText(dataSet, 0x0010, 0x0030, study.patientBirthDate);
  AppendText(dataSet, 0x0010, 0x0040, study.patientSex);
}

void AppendSeriesAndInstance(DcmObj& dataSet, const StudyInfo& study,
                             std::string_view seriesNumber) {
  AppendText(dataSet, 0x0020, 0x000D, study.studyInstanceUid);
  AppendText(dataSet, 0x0020, 0x000E, CurrentSeriesUID);
  AppendText(dataSet, 0x0020, 0x0010, study.studyId);
  AppendText(dataSet, 0x0020, 0x0011, seriesNumber);
  AppendText(dataSet, 0x0020, 0x0013, InstanceNumberText());
}

void AppendEmptySequence(DcmObj& dataSet, uint16_t group, uint16_t element) {
  dataSet.AddSequence(group, element, std::make_unique<DcmObj>());
}

std::string CompressionRatioText(double uncompressedBytes, double compressedBytes) {
  if (compressedBytes <= 0) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", uncompressedBytes / compressedBytes);
  // A decimal string holds at most 16 characters; no real ratio comes near.
  return std::string(text).substr(0, 16);
}

void FillPictureHeader(DcmObj& dataSet, const StudyInfo& study, const PictureDescription& picture) {
  // A converted picture is derived from its source and secondary to any acquisition.
  AppendText(dataSet, 0x0008, 0x0008, "DERIVED\\SECONDARY");
  AppendCreationAndStudyDate(dataSet, study, picture.sopClassUid, picture.sopInstanceUid);
  const std::string& taken = picture.acquisitionDateTime;
  if (!taken.empty()) {
    AppendText(dataSet, 0x0008, 0x0022, taken.substr(0, 8));
    AppendText(dataSet, 0x0008, 0x002A, taken);
  }
  AppendText(dataSet, 0x0008, 0x0030, study.studyTime);
  AppendText(dataSet, 0x0008, 0x0032, taken.empty() ? NowText() : taken.substr(8, 6));
  AppendText(dataSet, 0x0008, 0x0033, NowText());
  AppendStudyDescription(dataSet, study, picture.modality);
  if (picture.anatomicRegion) {
    auto region = std::make_unique<DcmObj>();
    AppendText(*region, 0x0008, 0x0100, "123037004");
    AppendText(*region, 0x0008, 0x0102, "SCT");
    AppendText(*region, 0x0008, 0x0104, "Body structure");
    auto sequence = std::make_unique<DcmObj>();
    sequence->AddSequence(0xFFFE, 0xE000, std::move(region));
    dataSet.AddSequence(0x0008, 0x2218, std::move(sequence));
  }
  AppendPatient(dataSet, study);
  if (picture.numberOfFrames != 0) AppendText(dataSet, 0x0018, 0x1063, picture.frameTime);
  AppendSeriesAndInstance(dataSet, study, SeriesNumberText);
  // Nothing tells which way the patient lies in a photo or which side of the body it shows.
  AppendText(dataSet, 0x0020, 0x0020, "");
  AppendText(dataSet, 0x0020, 0x0060, "");
  AppendNumber16(dataSet, 0x0028, 0x0002, 3);
  AppendText(dataSet, 0x0028, 0x0004, picture.photometricInterpretation);
  AppendNumber16(dataSet, 0x0028, 0x0006, 0);
  if (picture.numberOfFrames != 0) {
    AppendText(dataSet, 0x0028, 0x0008, std::to_string(picture.numberOfFrames));
    // The frames follow each other at the Frame Time: the pointer names (0018,1063).
    const uint8_t frameTimeTag[4] = {0x18, 0x00, 0x63, 0x10};
    dataSet.Append(DcmTag::FromBytes(0x0028, 0x0009, 4, frameTimeTag));
  }
  AppendNumber16(dataSet, 0x0028, 0x0010, static_cast<uint16_t>(picture.height));
  AppendNumber16(dataSet, 0x0028, 0x0011, static_cast<uint16_t>(picture.width));
  // Eight bits also for a 10-bit video stream: the VL objects admit no other depth, and a
  // stream's decoder follows the depth the stream itself declares.
  AppendNumber16(dataSet, 0x0028, 0x0100, 8);
  AppendNumber16(dataSet, 0x0028, 0x0101, 8);
  AppendNumber16(dataSet, 0x0028, 0x0102, 7);
  AppendNumber16(dataSet, 0x0028, 0x0103, 0);
  if (!picture.iccProfile.empty()) {
    // OB values are even: a profile of odd length gets one zero byte, which its own size field
    // tells readers to ignore.
    std::vector<uint8_t> profile = picture.iccProfile;
    if (profile.size() % 2 != 0) profile.push_back(0);
    dataSet.Append(DcmTag::FromBytes(0x0028, 0x2000, static_cast<uint32_t>(profile.size()),
                                     profile.data(), "OB"));
  }
  AppendText(dataSet, 0x0028, 0x2110, "01");
  if (!picture.lossyRatio.empty()) AppendText(dataSet, 0x0028, 0x2112, picture.lossyRatio);
  AppendText(dataSet, 0x0028, 0x2114, picture.lossyMethod);
  if (picture.acquisitionContext) AppendEmptySequence(dataSet, 0x0040, 0x0555);
}
