// Reading and writing DICOM Part 10 files: preamble, "DICM", file meta group, data set.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bufdata.h"
#include "dcmobj.h"

struct DicomFile {
  DcmObj meta;     // the file meta group (0002), explicit VR little endian; may be empty
  DcmObj dataSet;  // the data set, in the transfer syntax the meta group names (or was guessed)
  // The encoding of the data set's bytes in the file: the meta group's transfer syntax, or the
  // guessed one. A deflated data set is held inflated, in Explicit VR Little Endian.
  std::string fileTransferSyntax;
  bool guessed = false;  // the encoding was guessed from the first element
  // Offset of the data set's first byte in the file.
  size_t dataSetOffset = 0;
  // What the reader had to guess or repair to read the file, one sentence each.
  std::vector<std::string> notes;
};

// The transfer syntax of a data set starting at `bytes`, guessed from its first element as DCMTK
// does: explicit VR when bytes 4 and 5 are a VR, the byte order whose reading of the tag the
// dictionary knows (the smaller group number when both or neither do). With `requireKnownTag`,
// empty when the first element reads as no known tag: the bytes are then not a data set.
std::string GuessTransferSyntax(const uint8_t* bytes, size_t size, bool requireKnownTag);

// Reads a Part 10 file, or a bare data set without preamble and meta group. On failure `error` says
// why; what was decoded before the failure stays in `file` (a truncated file keeps every element
// that was complete).
bool ReadDicomFile(const std::string& path, DicomFile& file, std::string& error);
// The same for a reader that shows the file rather than uses its long values: a value of at least
// `leaveInFileFrom` bytes (pixel data, a document) stays in the file, the element holding its
// place there (BufData::LeaveLongValuesIn), and its bytes are never read unless the element is
// written. A deflated data set is inflated and read whole.
bool ReadDicomFile(const std::string& path, DicomFile& file, std::string& error,
                   uint32_t leaveInFileFrom);
// The same, from bytes already in memory.
bool ParseDicomFile(BufData& buffer, DicomFile& file, std::string& error);

// The bytes of the Part 10 file that DcmObj::SaveToFile would write for the data set, with its own
// SOP Class and Instance UIDs in the meta group, handed to `sink` in pieces of about `pieceSize`
// bytes; long values go to `sink` straight from the object (or its file). False when an element
// cannot be encoded or `sink` refuses.
bool WritePart10Pieces(DcmObj& dataSet, size_t pieceSize, const PieceSink& sink);

// How many bytes WritePart10Pieces hands on for the data set, measured without reading the values
// that stay in their files; 0 when the data set cannot be encoded.
uint64_t Part10Size(DcmObj& dataSet);
