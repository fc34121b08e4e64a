// The header elements the image, video and PDF objects share, built once for all converters.
#include "objectheader.h"

#include "conversioncontext.h"

void AppendCreationAndStudyTime(DcmObj& dataSet, const StudyInfo& study,
                                std::string_view sopClassUid, std::string_view sopInstanceUid) {
  AppendText(dataSet, 0x0008, 0x0012, TodayText());
  AppendText(dataSet, 0x0008, 0x0013, NowText());
  AppendText(dataSet, 0x0008, 0x0016, sopClassUid);
  AppendText(dataSet, 0x0008, 0x0018, sopInstanceUid);
  AppendText(dataSet, 0x0008, 0x0020, study.studyDate);
  AppendText(dataSet, 0x0008, 0x0030, study.studyTime);
}

void AppendStudyDescription(DcmObj& dataSet, const StudyInfo& study, std::string_view modality) {
  AppendText(dataSet, 0x0008, 0x0050, study.accessionNumber);
  AppendText(dataSet, 0x0008, 0x0060, modality);
  AppendText(dataSet, 0x0008, 0x0064, "WSD");
  AppendText(dataSet, 0x0008, 0x0080, study.institutionName);
  AppendText(dataSet, 0x0008, 0x0090, study.referringPhysicianName);
  AppendText(dataSet, 0x0008, 0x1030, study.studyDescription);
}

void AppendPatientAndSeries(DcmObj& dataSet, const StudyInfo& study) {
  AppendText(dataSet, 0x0010, 0x0010, study.patientName);
  AppendText(dataSet, 0x0010, 0x0020, study.patientId);
  AppendText(dataSet, 0x0010, 0x0030, study.patientBirthDate);
  AppendText(dataSet, 0x0010, 0x0040, study.patientSex);
  AppendText(dataSet, 0x0020, 0x000D, study.studyInstanceUid);
  AppendText(dataSet, 0x0020, 0x000E, CurrentSeriesUID);
  AppendText(dataSet, 0x0020, 0x0010, study.studyId);
  AppendText(dataSet, 0x0020, 0x0011, SeriesNumberText);
  AppendText(dataSet, 0x0020, 0x0013, InstanceNumberText());
}

void FillPictureHeader(DcmObj& dataSet, const StudyInfo& study, std::string_view sopClassUid,
                       std::string_view sopInstanceUid, uint32_t width, uint32_t height,
                       std::string_view photometricInterpretation) {
  AppendText(dataSet, 0x0008, 0x0008, "DERIVED");
  AppendCreationAndStudyTime(dataSet, study, sopClassUid, sopInstanceUid);
  AppendText(dataSet, 0x0008, 0x0032, NowText());
  AppendText(dataSet, 0x0008, 0x0033, NowText());
  AppendStudyDescription(dataSet, study, study.modality);
  AppendPatientAndSeries(dataSet, study);
  AppendNumber16(dataSet, 0x0028, 0x0002, 3);
  AppendText(dataSet, 0x0028, 0x0004, photometricInterpretation);
  AppendNumber16(dataSet, 0x0028, 0x0006, 0);
  AppendNumber16(dataSet, 0x0028, 0x0010, static_cast<uint16_t>(height));
  AppendNumber16(dataSet, 0x0028, 0x0011, static_cast<uint16_t>(width));
  AppendNumber16(dataSet, 0x0028, 0x0100, 8);
  AppendNumber16(dataSet, 0x0028, 0x0101, 8);
  AppendNumber16(dataSet, 0x0028, 0x0102, 7);
  AppendNumber16(dataSet, 0x0028, 0x0103, 0);
}
