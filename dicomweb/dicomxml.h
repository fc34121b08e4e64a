// The Native DICOM Model (the XML form of a DICOMweb answer) read into data sets.
#pragma once

#include <string>
#include <string_view>

#include "dcmobj.h"

// Reads one <NativeDicomModel> into `dataSet`, in explicit VR little endian, as DataSetFromJson
// reads the JSON form: text values joined by backslashes, US, SS, UL, SL, FL and FD values in
// their binary form, sequences as nested data sets (at most kMaxSequenceDepth deep). Person
// names, bulk data and inline binary values are left out. A document that declares a DTD is
// refused, so that no entity is ever expanded and nothing is fetched. False, with `error`, when
// the text is not such a document.
bool DataSetFromXml(std::string_view text, DcmObj& dataSet, std::string& error);
