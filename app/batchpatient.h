// Whose batch it is: the search result the grid's row chooses, and how the window shows it.
#pragma once

#include <string>
#include <vector>

#include "studyinfo.h"
#include "usermessage.h"

// The result a grid row stands for: null for the empty row below the results, for no selection
// and when there are no results. A batch without a chosen result takes the typed fields.
const StudyInfo* ChosenResultAt(const std::vector<StudyInfo>& results, int row);

// The patient and study fields as the window shows them for a chosen result, so that what is on
// screen is what is sent. Dates "yyyymmdd" (empty: unknown).
struct PatientFields {
  std::string patientName;
  std::string patientId;
  int sexIndex = -1;  // the sex box: 0 "Male", 1 "Female", 2 "Other", -1 none of them
  std::string birthDate;
  std::string accessionNumber;
  std::string studyDescription;
  std::string studyDate;
};
PatientFields FieldsOfResult(const StudyInfo& result);

// The line above Send while a result is chosen: "Batch for DOE^JANE · ID 12345 · ACC 0042"
// (without the accession when the result has none: the batch then generates one).
UserMessage BatchForText(const StudyInfo& result);
