// The PDF converter: a PDF file, byte for byte, becomes one Encapsulated PDF object.
#pragma once

#include <string>
#include <string_view>

#include "conversioncontext.h"

// The Series Number of PDF objects, which must have one.
inline constexpr const char* kPdfSeriesNumber = "1";

// Adds the elements of the PDF object from Specific Character Set to Concept Name Code Sequence,
// in tag order. Reads CurrentSeriesUID and InstanceCounter itself.
void FillPdfHeader(DcmObj& dataSet, const StudyInfo& study, std::string_view sopInstanceUid);

// Appends an Encapsulated PDF object holding the whole file. A file whose first 1024 bytes hold no
// "%PDF-" header is refused ("not a PDF file"). On failure nothing is appended and `error` names
// the file and the reason.
bool ConvertPDF(const std::string& path, DataSetList& list, std::string& error);
