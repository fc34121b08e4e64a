// The PDF converter: a PDF file, byte for byte, becomes one Encapsulated PDF object.
#include "convertpdf.h"

#include "dcmtag.h"
#include "objectheader.h"
#include "sourcefile.h"

void FillPdfHeader(DcmObj& dataSet, const StudyInfo& study, std::string_view sopInstanceUid) {
  AppendText(dataSet, 0x0008, 0x0005, "ISO_IR 100");
  AppendCreationAndStudyTime(dataSet, study, kEncapsulatedPdfClass, sopInstanceUid);
  AppendText(dataSet, 0x0008, 0x0033, NowText());
  // A printout is "other" whatever modality the batch was started with.
  AppendStudyDescription(dataSet, study, "OT");
  AppendText(dataSet, 0x0008, 0x103E, "PRINTOUT");
  AppendPatientAndSeries(dataSet, study);
}

bool ConvertPDF(const std::string& path, DataSetList& list, std::string& error) {
  // Read first: a file that cannot be read must not leave a numbered but empty object behind.
  auto document = DcmTag::FromBytes(0x0042, 0x0011, 0, nullptr, "OB");
  uint64_t fileLength = 0;
  if (!LoadSourceValue(path, *document, fileLength, error)) return false;

  const ObjectNumbers numbers = StartObject(ObjectKind::Pdf);
  auto dataSet = std::make_unique<DcmObj>();
  FillPdfHeader(*dataSet, CurrentStudy, numbers.sopInstanceUid);
  dataSet->SetTransferSyntax(kExplicitVRLittleEndian);
  AppendText(*dataSet, 0x0042, 0x0010, FileNameOf(path));
  dataSet->Append(std::move(document));
  AppendText(*dataSet, 0x0042, 0x0012, "application/pdf");
  AppendObject(list, std::move(dataSet));
  return true;
}
