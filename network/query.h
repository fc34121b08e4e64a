// Query records of the study-root C-FIND levels and the worklist, and their C-FIND identifiers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <variant>
#include <vector>

#include "dcmobj.h"
#include "studyinfo.h"

class PDU_Service;

inline constexpr const char* kStudyRootFindSopClass = "1.2.840.10008.5.1.4.1.2.2.1";
inline constexpr const char* kModalityWorklistFindSopClass = "1.2.840.10008.5.1.4.31";

// One series: matching keys of a query, or the values of a result.
struct SeriesInfo {
  std::string seriesInstanceUid;
  std::string seriesNumber;
  std::string seriesDate;
  std::string seriesTime;
  std::string seriesDescription;
  std::string modality;
  std::string patientPosition;
  std::string institutionName;
  std::string operatorsName;
  std::string bodyPartExamined;
  std::string protocolName;
  std::string frameOfReferenceUid;
  std::string studyInstanceUid;
};

// One instance: matching keys of a query, or the values of a result.
struct ImageInfo {
  std::string sopInstanceUid;
  std::string sopClassUid;
  std::string instanceNumber;
  std::string contentDate;
  std::string contentTime;
  std::string numberOfFrames;
  std::string acquisitionDate;
  std::string acquisitionTime;
  std::string acquisitionNumber;
  std::string sliceLocation;
  uint16_t samplesPerPixel = 0;
  std::string photometricInterpretation;
  uint16_t rows = 0;
  uint16_t columns = 0;
  uint16_t bitsStored = 0;
  std::string imageType;
  std::string presentationIntentType;
  std::string imageOrientationPatient;
  std::string imagePositionPatient;
  std::string seriesInstanceUid;
  std::string studyInstanceUid;
  std::string convolutionKernel;
};

// The matching keys of a Modality Worklist query.
struct TWorklistItem {
  std::string patientName;
  std::string patientId;
  std::string patientBirthDate;
  std::string patientSex;
  std::string accessionNumber;
  std::string referringPhysicianName;
  std::string studyInstanceUid;
  std::string requestedProcedureDescription;
  std::string scheduledProcedureStepStartTime;
  std::string scheduledProcedureStepStartDate;
  std::string modality;
  std::string scheduledStationAETitle;
  std::string scheduledPerformingPhysicianName;
  std::string scheduledProcedureStepId;
  std::string scheduledProcedureStepDescription;
  std::string scheduledStationName;
  std::string scheduledProcedureStepLocation;
  std::string preMedication;
  std::string scheduledProcedureStepStatus;
};

// A query or result record of one of the three levels; a list of them owns its records.
using QueryRecord = std::variant<StudyInfo, SeriesInfo, ImageInfo>;
using QueryList = std::vector<QueryRecord>;

// Record fields are UTF-8. An identifier built from a record whose keys need more than ASCII
// declares "ISO_IR 100" or "ISO_IR 192" and holds its keys in that set; response identifiers are
// decoded by the set they declare before their values reach a record.

// The C-FIND identifiers of the three levels: every key of the level, empty fields as return keys.
std::unique_ptr<DcmObj> BuildStudyIdentifier(const StudyInfo& query);
std::unique_ptr<DcmObj> BuildSeriesIdentifier(const SeriesInfo& query);
std::unique_ptr<DcmObj> BuildImageIdentifier(const ImageInfo& query);

// Result records from a response identifier. Only top-level elements with a value are used;
// elements inside undefined-length sequences are passed over. The study level cuts over-long
// values with a warning line rather than refusing the result.
StudyInfo StudyFromIdentifier(const DcmObj& identifier);
SeriesInfo SeriesFromIdentifier(const DcmObj& identifier);
ImageInfo ImageFromIdentifier(const DcmObj& identifier);

// Writes a C-FIND request whose identifier comes from the first record of `list` at `level`
// ("STUDY", "SERIES" or "IMAGE"); that record is removed in every case. A record whose type does
// not match the level is refused rather than read as another type.
bool WriteFindRQ(PDU_Service& service, QueryList& list, const std::string& sopClassUid,
                 const std::string& level);
// Reads one C-FIND response; for every status other than 0 and -1 appends one result record of
// the level's type (empty when the response carried no identifier), its texts decoded to UTF-8.
// Returns the status or -1.
int ReadFindRSP(PDU_Service& service, QueryList& list, const std::string& level);

// How a whole C-FIND ended: the final response arrived with success (Completed) or after our
// cancel (Cancelled), the request could not be written (NotSent), or a failure status or a
// response that could not be read ended it (Failed).
enum class FindEnd { Completed, Cancelled, NotSent, Failed };

// Runs one C-FIND on an established association: writes the request with `identifier` and hands
// each pending match (0xFF00 or 0xFF01) to `onMatch`, until the final response. Once `cancel` is
// requested (it is looked at before each response is read), a C-CANCEL-FIND-RQ goes out and the
// responses that still come are read, without being handed on, up to the final one, so that the
// association stays in step and can be released. `finalStatus`, when given, receives the status
// of the final response (negative when none could be read).
FindEnd RunFind(PDU_Service& service, DcmObj& identifier, const std::string& sopClassUid,
                const std::function<void(DcmObj& match)>& onMatch, std::stop_token cancel = {},
                int* finalStatus = nullptr);

// Fills `identifier` with the Modality Worklist keys of `item`, the Scheduled Procedure Step
// Sequence holding one item.
void BuildWorklistQuery(const TWorklistItem& item, DcmObj& identifier);
