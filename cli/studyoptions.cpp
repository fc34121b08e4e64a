// The patient and study options of the batch verbs.
#include "studyoptions.h"

#include "charset.h"
#include "conversioncontext.h"

const char* const kStudyOptionsUsage =
    "Patient and study: --patient-name N --patient-id ID [--sex M|F|O] [--birth-date YYYYMMDD]\n"
    "  [--accession A] [--study-description D] [--study-date YYYYMMDD] [--study-uid UID]\n"
    "  [--referring NAME] [--modality M]. Without --accession a number is generated; without\n"
    "  --study-uid the batch UID becomes the Study Instance UID. The study date defaults to\n"
    "  today, the sex to M, the modality to OT. Texts are taken as UTF-8.\n"
    "Conversion: --keep-camera-jpegs keeps a baseline camera JPEG that needs no turning byte for\n"
    "  byte (the setting KeepCameraJpegs) instead of encoding it again.\n";

namespace {

bool IsDate(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool IsUid(const std::string& text) {
  if (text.empty() || text.size() > 64 || text.front() == '.' || text.back() == '.') return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.') {
      if (text[i - 1] == '.') return false;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

}  // namespace

std::set<std::string> StudyValuedOptions(std::set<std::string> own) {
  own.insert({"patient-name", "patient-id", "sex", "birth-date", "accession", "study-description",
              "study-date", "study-uid", "referring", "modality"});
  return own;
}

std::set<std::string> ConversionFlags(std::set<std::string> own) {
  own.insert("keep-camera-jpegs");
  return own;
}

void ApplyConversionFlags(const ParsedArgs& parsed, SetupConfig& settings) {
  if (parsed.Has("keep-camera-jpegs")) settings.KeepCameraJpegs = true;
}

bool BatchFormFromOptions(const ParsedArgs& parsed, BatchForm& form, std::string& error) {
  form.patientName = TextToUtf8(parsed.ValueOr("patient-name", ""));
  form.patientId = TextToUtf8(parsed.ValueOr("patient-id", ""));
  const std::string sex = parsed.ValueOr("sex", "M");
  if (sex == "M") {
    form.sexIndex = 0;
  } else if (sex == "F") {
    form.sexIndex = 1;
  } else if (sex == "O") {
    form.sexIndex = 2;
  } else {
    error = "--sex must be M, F or O";
    return false;
  }
  form.birthDate = parsed.ValueOr("birth-date", "");
  form.studyDate = parsed.ValueOr("study-date", TodayText());
  if (!form.birthDate.empty() && !IsDate(form.birthDate)) {
    error = "--birth-date must be YYYYMMDD";
    return false;
  }
  if (!IsDate(form.studyDate)) {
    error = "--study-date must be YYYYMMDD";
    return false;
  }
  form.accessionNumber = TextToUtf8(parsed.ValueOr("accession", ""));
  form.studyDescription = TextToUtf8(parsed.ValueOr("study-description", ""));
  form.modalityText = parsed.ValueOr("modality", "OT");
  const std::string studyUid = parsed.ValueOr("study-uid", "");
  if (!studyUid.empty() && !IsUid(studyUid)) {
    error = "--study-uid must be digits and dots, at most 64 characters";
    return false;
  }
  // The study and referring physician given here stand where the window keeps those of the
  // previous batch; they are kept only for the same patient, so the patient is recorded with them.
  CurrentStudy.patientName = form.patientName;
  CurrentStudy.patientId = form.patientId;
  CurrentStudy.studyInstanceUid = studyUid;
  CurrentStudy.referringPhysicianName = TextToUtf8(parsed.ValueOr("referring", ""));
  return true;
}
