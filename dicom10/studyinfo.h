// StudyInfo: the patient/study record shared by query results, search results and the batch.
#pragma once

#include <string>

// Eighteen text fields in the order the record has always had. Texts are UTF-8 (query results are
// decoded from the character set their response declared); all start empty.
struct StudyInfo {
  std::string studyInstanceUid;
  std::string studyDate;
  std::string studyTime;
  std::string studyId;
  std::string studyDescription;
  std::string accessionNumber;
  std::string institutionName;
  std::string referringPhysicianName;
  std::string modality;
  std::string spare;  // kept for the record's layout; nothing reads or writes it
  std::string operatorsName;
  std::string patientId;
  std::string patientName;
  std::string patientBirthDate;
  std::string patientSex;
  std::string patientAge;
  std::string patientWeight;
  std::string patientComments;
};
