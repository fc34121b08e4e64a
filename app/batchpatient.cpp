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

UserMessage BatchForText(const StudyInfo& result) {
  const UserMessage name = UserMessage::Text(result.patientName);
  const UserMessage id = UserMessage::Text(result.patientId);
  if (result.accessionNumber.empty()) return UserMessage(UserMessageKind::BatchFor, {name, id});
  return UserMessage(UserMessageKind::BatchForWithAccession,
                     {name, id, UserMessage::Text(result.accessionNumber)});
}
