// Whose batch it is: the search result the grid's row chooses, and how the window shows it.
#include "batchpatient.h"

const StudyInfo* ChosenResultAt(const std::vector<StudyInfo>& results, int row) {
  if (row < 0 || static_cast<size_t>(row) >= results.size()) return nullptr;
  return &results[static_cast<size_t>(row)];
}

PatientFields FieldsOfResult(const StudyInfo& result) {
  PatientFields fields;
  fields.patientName = result.patientName;
  fields.patientId = result.patientId;
  fields.sexIndex = result.patientSex == "M"   ? 0
                    : result.patientSex == "F" ? 1
                    : result.patientSex == "O" ? 2
                                               : -1;
  fields.birthDate = result.patientBirthDate;
  fields.accessionNumber = result.accessionNumber;
  fields.studyDescription = result.studyDescription;
  fields.studyDate = result.studyDate;
  return fields;
}

std::string BatchForText(const StudyInfo& result) {
  std::string text = "Batch for " + result.patientName + " \u00B7 ID " + result.patientId;
  if (!result.accessionNumber.empty()) text += " \u00B7 ACC " + result.accessionNumber;
  return text;
}
