// The DICOM JSON model (PS3.18 F.2) read into data sets.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dcmobj.h"

// Reads one JSON data set (an object keyed by "GGGGEEEE") into `dataSet`, in explicit VR little
// endian. Texts arrive in UTF-8 and stay so; multiple values are joined by backslashes; a person
// name's alphabetic, ideographic and phonetic groups by "="; US, SS, UL, SL, FL and FD values
// become their binary form; sequences become nested data sets (at most kMaxSequenceDepth deep).
// Elements without "Value" are empty; bulk data and inline binary values are left out, as are
// entries that are no element at all. False, with `error`, when the text is not a JSON object.
bool DataSetFromJson(std::string_view text, DcmObj& dataSet, std::string& error);

// Reads a JSON array of data sets (a search answer). An empty text is an empty array. False,
// with `error`, when the text is not a JSON array of objects.
bool DataSetsFromJson(std::string_view text, std::vector<std::unique_ptr<DcmObj>>& dataSets,
                      std::string& error);

// The items of the sequence (group,element) at the top level of `dataSet`; empty when there is
// no such sequence.
std::vector<const DcmObj*> SequenceItems(const DcmObj& dataSet, uint16_t group, uint16_t element);
