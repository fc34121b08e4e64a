// Reading and writing DICOM Part 10 files: preamble, "DICM", file meta group, data set.
#pragma once

#include <string>

#include "dcmobj.h"

class BufData;

struct DicomFile {
  DcmObj meta;     // the file meta group (0002), explicit VR little endian
  DcmObj dataSet;  // the data set, in the transfer syntax the meta group names
};

// Reads a Part 10 file. On failure `error` says why; what was decoded before the failure stays in
// `file` (a truncated file keeps every element that was complete).
bool ReadDicomFile(const std::string& path, DicomFile& file, std::string& error);
// The same, from bytes already in memory.
bool ParseDicomFile(BufData& buffer, DicomFile& file, std::string& error);
