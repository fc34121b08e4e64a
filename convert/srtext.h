// Basic Text SR documents: the report data set with its fixed content tree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dcmobj.h"
#include "studyinfo.h"

// Relationship Type (0040,A010) of a content item, by the numbers the builder has always used.
enum class RelationshipKind : int { IsRoot = 1, Contains = 2, HasObsContext = 3 };
// Value Type (0040,A040) of a content item.
enum class ValueKind : int { Text = 1, PersonName = 8, Composite = 11 };

// "IS ROOT", "CONTAINS", "HAS OBS CONTEXT"; empty for any other value.
std::string_view RelationshipTypeName(RelationshipKind kind);
// "TEXT", "PNAME", "COMPOSITE"; empty for any other value.
std::string_view ValueTypeName(ValueKind kind);

// A data set that builds itself into a Basic Text SR: a "Radiology Report" container holding the
// observer's name and the whole text as one text item. Handled everywhere else as a DcmObj.
class DcmSRObj : public DcmObj {
 public:
  // Makes this data set the report for `study`, removing whatever it held. The series UID is
  // CurrentSeriesUID; Series Number is always 0 and Instance Number 1.
  void BuildReport(const StudyInfo& study, std::string_view observerName, std::string_view text,
                   const std::string& sopInstanceUid);
};

// Empties the data set, sets Explicit VR Little Endian and appends the report header: creation
// date and time, SOP class and instance, Modality "SR", an empty Manufacturer, the study and series
// identifiers and numbers, the root's Value Type "CONTAINER", its title code and Continuity Of
// Content "SEPARATE".
void SetSRHeader(DcmObj& dataSet, std::string_view studyInstanceUid,
                 std::string_view seriesInstanceUid, std::string_view sopInstanceUid,
                 std::string_view titleMeaning, std::string_view studyId, int seriesNumber,
                 int instanceNumber);

// The UID that names the report's private coding scheme, under the organisation root.
std::string CodingSchemeUid();

// Adds under (group,element) a sequence of one code item: Code Value, Coding Scheme Designator,
// Code Meaning and Coding Scheme UID (0008,010C), in that order.
void AddCodeSequence(DcmObj& target, uint16_t group, uint16_t element, std::string_view codeValue,
                     std::string_view codeMeaning);

// Adds one content item to `contentSequence`: Relationship Type, Value Type, the concept name and,
// for text and person-name items, the value.
void AddContentItem(DcmObj& contentSequence, std::string_view codeValue,
                    std::string_view codeMeaning, std::string_view valueText, ValueKind valueKind,
                    RelationshipKind relationshipKind);
