// What every converter shares: the current study, the batch state, UIDs, clock texts, elements.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dcmobj.h"
#include "studyinfo.h"

// The study every object of the running batch belongs to. The application fills it before the
// first file is converted; converters only read it. Its texts are UTF-8.
extern StudyInfo CurrentStudy;

// The batch state, owned by the application and advanced by the converters.
extern std::string BatchUIDRoot;      // the batch UID every series and instance UID builds on
extern int32_t InstanceCounter;       // 0 at batch start; each converter adds one per object
extern std::string SeriesNumberText;  // empty for the whole batch
extern std::string CurrentSeriesUID;  // set by each converter just before it builds its object

// The setting "Keep camera JPEGs as they are": a baseline YCbCr JPEG that needs no turning goes
// into its image object byte for byte (less its Exif, XMP and comment segments) instead of being
// encoded again. Set by the application from
// the settings before a batch; off by default.
extern std::atomic<bool> KeepCameraJpegs;

// The converted objects of one kind, in conversion order; the list owns them.
using DataSetList = std::vector<std::unique_ptr<DcmObj>>;

// Every converter has this form: it appends one data set for the source at `path` to `list` and
// returns true, or returns false with `error` holding a message for the user that names the file.
// A converter that fails appends nothing.
using Converter = bool (*)(const std::string& path, DataSetList& list, std::string& error);

// Appends a finished object to its list. Its texts, UTF-8 while it was built, are written as the
// object declares: unchanged when all are ASCII, in ISO 8859-1 with "ISO_IR 100" when all fit
// that set (the bytes objects have always had), else in UTF-8 with "ISO_IR 192".
void AppendObject(DataSetList& list, std::unique_ptr<DcmObj> object);

// The four kinds of object a batch produces. Each has its own series and instance UID form.
enum class ObjectKind { Image, TextReport, Pdf, Video };

// ".20", ".30", ".40" or ".50": the series UID suffix of a kind.
std::string_view SeriesSuffix(ObjectKind kind);
// ".10." for images, reports and videos; ".1." for PDF objects.
std::string_view InstanceInfix(ObjectKind kind);

// The numbers of one object, fixed when its conversion starts.
struct ObjectNumbers {
  int32_t instanceNumber = 0;  // N, the new value of InstanceCounter
  std::string sopInstanceUid;  // BatchUIDRoot + infix + N
};

// Increments InstanceCounter, sets CurrentSeriesUID for the kind and returns the object's
// numbers. Called only once a converter knows it will build the object, so a refused source
// consumes no number.
ObjectNumbers StartObject(ObjectKind kind);

// InstanceCounter as decimal text: the Instance Number of the object being built.
std::string InstanceNumberText();

// The local clock formatted with strftime's `pattern` (at most 15 characters of output).
std::string LocalClockText(const char* pattern);
// Makes the clock texts read this fixed time instead of the system clock (0: the system clock
// again), so that tests know the dates and times an object gets.
void SetFixedClock(std::time_t time);
// The local clock: "yyyymmdd" and "hhnnss". Each call reads the clock anew.
std::string TodayText();
std::string NowText();

// Element builders in the converters' style: appended at the end (callers go in tag order).
// Text: VR from the dictionary, padded to even length by the text constructor.
void AppendText(DcmObj& dataSet, uint16_t group, uint16_t element, std::string_view text);
// A 16-bit unsigned number, VR from the dictionary (US for the image pixel elements).
void AppendNumber16(DcmObj& dataSet, uint16_t group, uint16_t element, uint16_t number);

// Appends Pixel Data of undefined length, the empty Basic Offset Table and one fragment taking
// ownership of `bytes` (the caller has already made `length` even), then the sequence delimiter.
// An empty fragment (length 0) is left out, so only the table and the delimiter follow.
void AppendEncapsulatedPixelData(DcmObj& dataSet, std::unique_ptr<uint8_t[]> bytes,
                                 uint32_t length);
// The same with a fragment tag that already holds its value; one without a value is left out.
void AppendEncapsulatedPixelData(DcmObj& dataSet, std::unique_ptr<DcmTag> fragment);
