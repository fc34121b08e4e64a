// The PDF converter: a PDF file, byte for byte, becomes one Encapsulated PDF object.
#include "convertpdf.h"

#include <algorithm>
#include <fstream>

#include "dcmtag.h"
#include "objectheader.h"
#include "sourcefile.h"

void FillPdfHeader(DcmObj& dataSet, const StudyInfo& study, std::string_view sopInstanceUid) {
  AppendText(dataSet, 0x0008, 0x0005, "ISO_IR 100");
  AppendCreationAndStudyDate(dataSet, study, kEncapsulatedPdfClass, sopInstanceUid);
  // The document's content is dated when it is encapsulated, as its Content Time always was; when
  // it was first made is not known.
  AppendText(dataSet, 0x0008, 0x0023, TodayText());
  AppendText(dataSet, 0x0008, 0x002A, "");
  AppendText(dataSet, 0x0008, 0x0030, study.studyTime);
  AppendText(dataSet, 0x0008, 0x0033, NowText());
  // A printout is "other" whatever modality the batch was started with.
  AppendStudyDescription(dataSet, study, "OT");
  AppendText(dataSet, 0x0008, 0x103E, "PRINTOUT");
  AppendPatient(dataSet, study);
  // An encapsulated document's series must carry a number; the batch's PDF objects form one
  // series.
  AppendSeriesAndInstance(dataSet, study, kPdfSeriesNumber);
  // A printed or scanned page may well name the patient: readers must not assume it does not.
  AppendText(dataSet, 0x0028, 0x0301, "YES");
  AppendEmptySequence(dataSet, 0x0040, 0xA043);
}

namespace {

// Readers look for the header within the first 1024 bytes, as some writers put a few bytes before
// it; a file without one is refused, so that no object claims to hold a PDF that is none.
bool HasPdfHeader(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  char head[1024];
  file.read(head, sizeof head);
  const std::string_view start(head,
                               static_cast<size_t>(std::max<std::streamsize>(file.gcount(), 0)));
  return start.find("%PDF-") != std::string_view::npos;
}

}  // namespace

bool ConvertPDF(const std::string& path, DataSetList& list, std::string& error) {
  // Read first: a file that cannot be read must not leave a numbered but empty object behind.
  auto document = DcmTag::FromBytes(0x0042, 0x0011, 0, nullptr, "OB");
  uint64_t fileLength = 0;
  if (!LoadSourceValue(path, *document, fileLength, error)) return false;
  if (!HasPdfHeader(path)) {
    error = "Cannot convert \"" + path + "\": not a PDF file";
    return false;
  }

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
