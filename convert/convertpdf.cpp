// The PDF converter: a PDF file, byte for byte, becomes one Encapsulated PDF object.
#include "convertpdf.h"

#include "dcmtag.h"
#include "sourcefile.h"

void FillPdfHeader(DcmObj& dataSet, const StudyInfo& study, std::string_view sopInstanceUid) {
  AppendText(dataSet, 0x0008, 0x0005, "ISO_IR 100");
  AppendText(dataSet, 0x0008, 0x0012, TodayText());
  AppendText(dataSet, 0x0008, 0x0013, NowText());
  AppendText(dataSet, 0x0008, 0x0016, kEncapsulatedPdfClass);
  AppendText(dataSet, 0x0008, 0x0018, sopInstanceUid);
  AppendText(dataSet, 0x0008, 0x0020, study.studyDate);
  AppendText(dataSet, 0x0008, 0x0030, study.studyTime);
  AppendText(dataSet, 0x0008, 0x0033, NowText());
  AppendText(dataSet, 0x0008, 0x0050, study.accessionNumber);
  AppendText(dataSet, 0x0008, 0x0060, "OT");
  AppendText(dataSet, 0x0008, 0x0064, "WSD");
  AppendText(dataSet, 0x0008, 0x0080, study.institutionName);
  AppendText(dataSet, 0x0008, 0x0090, study.referringPhysicianName);
  AppendText(dataSet, 0x0008, 0x1030, study.studyDescription);
  AppendText(dataSet, 0x0008, 0x103E, "PRINTOUT");
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

bool ConvertPDF(const std::string& path, DataSetList& list, std::string& error) {
  // Read first: a file that cannot be read must not leave a numbered but empty object behind.
  SourceBytes source;
  if (!ReadSourceFile(path, source, error)) return false;

  const ObjectNumbers numbers = StartObject(ObjectKind::Pdf);
  auto dataSet = std::make_unique<DcmObj>();
  FillPdfHeader(*dataSet, CurrentStudy, numbers.sopInstanceUid);
  dataSet->SetTransferSyntax(kExplicitVRLittleEndian);
  AppendText(*dataSet, 0x0042, 0x0010, FileNameOf(path));
  auto document = DcmTag::FromBytes(0x0042, 0x0011, 0, nullptr, "OB");
  document->TakeValue(std::move(source.bytes), source.length);
  dataSet->Append(std::move(document));
  AppendText(*dataSet, 0x0042, 0x0012, "application/pdf");
  list.push_back(std::move(dataSet));
  return true;
}
