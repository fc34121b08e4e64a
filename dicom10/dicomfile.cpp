// Part 10 files: the writer of DcmObj::SaveToFile and the reader.
#include "dicomfile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "bufdata.h"
#include "dictionary.h"
#include "filevalue.h"
#include "inflate.h"
#include "log.h"
#include "uids.h"

namespace {

// Makes the data set's flags agree with its transfer syntax and puts the preamble and meta group
// into `buffer`, ready for the data set to follow.
bool StartPart10(DcmObj& dataSet, BufData& buffer, const std::string& sopClassUid,
                 const std::string& sopInstanceUid) {
  if (dataSet.transferSyntax == kExplicitVRBigEndian) dataSet.bigEndian = true;
  // The meta group announces the transfer syntax, so the body must be encoded in its VR mode;
  // a data set whose flag disagrees would otherwise produce a file no reader can follow.
  const bool syntaxExplicit = dataSet.transferSyntax != kImplicitVRLittleEndian;
  if (dataSet.explicitVR != syntaxExplicit) {
    WriteLog("WARNING, DcmObj::SaveToFile, explicit VR flag does not match transfer syntax " +
             dataSet.transferSyntax + ", writing " + (syntaxExplicit ? "explicit" : "implicit") +
             " VR");
    dataSet.explicitVR = syntaxExplicit;
  }
  return buffer.WriteMetaHeader(sopClassUid, sopInstanceUid, dataSet.transferSyntax);
}

}  // namespace

bool DcmObj::SaveToFile(const std::string& path, const std::string& sopClassUid,
                        const std::string& sopInstanceUid) {
  BufData buffer(false);
  if (!StartPart10(*this, buffer, sopClassUid, sopInstanceUid)) return false;
  // Long values go to the file from the object itself: saving needs little memory beyond it.
  return buffer.SaveToFile(path, *this);
}

namespace {

bool WritePart10(DcmObj& dataSet, BufData& buffer, size_t pieceSize, const PieceSink& sink) {
  if (!StartPart10(dataSet, buffer, dataSet.GetString(0x0008, 0x0016),
                   dataSet.GetString(0x0008, 0x0018))) {
    return false;
  }
  return buffer.WriteDataSetPieces(dataSet, pieceSize, sink);
}

}  // namespace

bool WritePart10Pieces(DcmObj& dataSet, size_t pieceSize, const PieceSink& sink) {
  BufData buffer(false);
  return WritePart10(dataSet, buffer, pieceSize, sink);
}

uint64_t Part10Size(DcmObj& dataSet) {
  BufData buffer(false);
  buffer.fileValuesUnread = true;
  uint64_t size = 0;
  const bool encoded = WritePart10(dataSet, buffer, 1 << 20, [&](const uint8_t*, size_t piece) {
    size += piece;
    return true;
  });
  return encoded ? size : 0;
}

namespace {

// Compressed syntaxes encode the data set in explicit VR little endian; so do the video ones.
bool IsExplicitLittleEndianFamily(const std::string& uid) {
  return uid == kExplicitVRLittleEndian || uid.rfind("1.2.840.10008.1.2.4.", 0) == 0 ||
         uid == kRleLossless;
}

bool IsVR(uint8_t first, uint8_t second) {
  static constexpr char kVRs[][3] = {"AE", "AS", "AT", "CS", "DA", "DS", "DT", "FD", "FL",
                                     "IS", "LO", "LT", "OB", "OD", "OF", "OL", "OV", "OW",
                                     "PN", "SH", "SL", "SQ", "SS", "ST", "SV", "TM", "UC",
                                     "UI", "UL", "UN", "UR", "US", "UT", "UV"};
  for (const char* vr : kVRs) {
    if (vr[0] == first && vr[1] == second) return true;
  }
  return false;
}

// A tag a data set can start with: one the dictionary knows, or a group length.
bool KnownTag(uint16_t group, uint16_t element) {
  if (element == 0x0000) return group % 2 == 0 && group >= 0x0002 && group <= 0x7FE0;
  return FindDictionaryRow(group, element) != nullptr;
}

std::string SyntaxName(const std::string& uid) {
  if (uid == kImplicitVRLittleEndian) return "Implicit VR Little Endian";
  if (uid == kExplicitVRLittleEndian) return "Explicit VR Little Endian";
  if (uid == kExplicitVRBigEndian) return "Explicit VR Big Endian";
  return uid;
}

// Reads the meta group elements at the buffer's position. False when one is cut short.
bool ReadMetaGroup(BufData& buffer, DcmObj& meta) {
  const uint8_t* bytes = buffer.InputData();
  while (buffer.Remaining() >= 2 && bytes[buffer.position] == 0x02 &&
         bytes[buffer.position + 1] == 0x00) {
    auto tag = std::make_unique<DcmTag>();
    if (!buffer.ReadTag(*tag, true, true)) return false;
    meta.Append(std::move(tag));
  }
  return buffer.shortReads == 0;
}

// Decodes the data set from the buffer's position in `syntax` and reports the reader's repairs.
bool ReadBody(BufData& buffer, DicomFile& file, const std::string& syntax, std::string& error) {
  file.dataSet.SetTransferSyntax(syntax);
  buffer.bigEndian = file.dataSet.bigEndian;
  const bool read = buffer.ReadDataSet(file.dataSet);
  if (buffer.unSequences != 0) {
    file.notes.push_back(std::to_string(buffer.unSequences) +
                         " UN element(s) of undefined length read as implicit VR sequences");
  }
  if (buffer.recoveredSequences != 0) {
    file.notes.push_back(std::to_string(buffer.recoveredSequences) +
                         " sequence(s) or item(s) whose length runs past the end of the file, "
                         "read up to its end");
  }
  if (!read) {
    error = "the data set is corrupt (see the log for the element)";
    return false;
  }
  if (buffer.shortReads != 0) {
    error = "the file is truncated: " + std::to_string(buffer.shortReads) +
            " element(s) run past its end";
    return false;
  }
  if (buffer.unterminated != 0) {
    error = "the file is truncated: it ends inside " + std::to_string(buffer.unterminated) +
            " sequence(s) or pixel data of undefined length, before their delimiter";
    return false;
  }
  return true;
}

}  // namespace

std::string GuessTransferSyntax(const uint8_t* bytes, size_t size, bool requireKnownTag) {
  if (size < 8) return "";
  const uint16_t littleGroup = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
  const uint16_t littleElement = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
  const uint16_t bigGroup = static_cast<uint16_t>(bytes[0] << 8 | bytes[1]);
  const uint16_t bigElement = static_cast<uint16_t>(bytes[2] << 8 | bytes[3]);
  const bool littleKnown = KnownTag(littleGroup, littleElement);
  const bool bigKnown = KnownTag(bigGroup, bigElement);
  if (!IsVR(bytes[4], bytes[5])) {
    // Implicit VR: the little-endian transfer syntax is the only one there is.
    if (requireKnownTag && !littleKnown) return "";
    return kImplicitVRLittleEndian;
  }
  bool little = littleGroup <= bigGroup;
  if (littleKnown != bigKnown) little = littleKnown;
  if (requireKnownTag && !(little ? littleKnown : bigKnown)) return "";
  return little ? kExplicitVRLittleEndian : kExplicitVRBigEndian;
}

bool ParseDicomFile(BufData& buffer, DicomFile& file, std::string& error) {
  const uint8_t* bytes = buffer.InputData();
  const size_t size = buffer.InputSize();
  const bool prefixed = size >= 132 && bytes[128] == 'D' && bytes[129] == 'I' &&
                        bytes[130] == 'C' && bytes[131] == 'M';
  buffer.bigEndian = false;
  buffer.position = prefixed ? 132 : 0;
  file.meta.SetTransferSyntax(kExplicitVRLittleEndian);
  // Without preamble a file may still start with its meta group.
  const bool metaAtStart =
      !prefixed && size >= 6 && bytes[0] == 0x02 && bytes[1] == 0x00 && IsVR(bytes[4], bytes[5]);
  if ((prefixed || metaAtStart) && !ReadMetaGroup(buffer, file.meta)) {
    error = buffer.shortReads != 0 ? "the file meta group is truncated"
                                   : "the file meta group is truncated or corrupt";
    return false;
  }
  file.dataSetOffset = buffer.position;
  std::string syntax = file.meta.GetString(0x0002, 0x0010);
  if (syntax.empty()) {
    const bool hasMeta = file.meta.Count() != 0;
    syntax = GuessTransferSyntax(bytes + buffer.position, buffer.Remaining(), !hasMeta);
    if (syntax.empty()) {
      error = hasMeta ? "the file meta group has no Transfer Syntax UID, and the data set's first "
                        "element does not tell its encoding"
                      : "not a DICOM file (no DICM prefix after the 128-byte preamble, and the "
                        "start is not a data set)";
      return false;
    }
    file.guessed = true;
    file.notes.push_back(std::string(hasMeta ? "the file meta group has no Transfer Syntax UID"
                                             : "no file meta group") +
                         ": the encoding " + SyntaxName(syntax) + " (" + syntax +
                         ") was guessed from the first element");
  }
  file.fileTransferSyntax = syntax;
  if (syntax == kDeflatedExplicitVRLittleEndian) {
    std::vector<uint8_t> inflated;
    if (!InflateBytes(bytes + buffer.position, buffer.Remaining(), inflated, error)) return false;
    BufData body(false);
    body.stream = std::move(inflated);
    const bool read = ReadBody(body, file, kExplicitVRLittleEndian, error);
    // The caller's buffer gives the account of what was read, inflated or not: a data set cut
    // short inside its deflated bytes must not pass for a complete one.
    buffer.shortReads += body.shortReads;
    buffer.unterminated = body.unterminated;
    buffer.unSequences += body.unSequences;
    buffer.recoveredSequences += body.recoveredSequences;
    return read;
  }
  if (syntax != kImplicitVRLittleEndian && syntax != kExplicitVRBigEndian &&
      !IsExplicitLittleEndianFamily(syntax)) {
    error = "unsupported transfer syntax " + syntax;
    return false;
  }
  return ReadBody(buffer, file, syntax, error);
}

namespace {

// Files smaller than this are read with one call rather than mapped: for a few kilobytes the
// mapping, its page faults and its removal cost more than the copy they save. When long values
// stay in the file the mapping saves more (their pages are never touched), so the bar is lower.
constexpr size_t kSmallestMappedFile = 256 * 1024;
constexpr size_t kSmallestMappedFileForSkipping = 64 * 1024;

// The bytes of a whole regular file: read into memory when it is small, otherwise a read-only
// private mapping, unmapped when this goes away. No bytes when the file cannot be opened or read.
class FileBytes {
 public:
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  explicit FileBytes(const std::string& path) {
    const int handle = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle < 0) return;
    Load(handle, true);
    close(handle);
  }
  // The file open on `handle`, which stays open. `wholeValues` tells whether every value will be
  // read, in order: the system is then told to read far ahead; otherwise it reads the pages
  // touched with its usual small margin, and values skipped are never read from the disk.
  FileBytes(int handle, bool wholeValues) { Load(handle, wholeValues); }
  ~FileBytes() {
    if (mapped_) munmap(const_cast<uint8_t*>(data_), size_);
  }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // Pages of a mapping may be given back once copied; those of memory that was read may not.
  bool mapped() const { return mapped_; }

 private:
  void Load(int handle, bool wholeValues) {
    struct stat status {};
    if (fstat(handle, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0) return;
    const auto size = static_cast<size_t>(status.st_size);
    if (size < (wholeValues ? kSmallestMappedFile : kSmallestMappedFileForSkipping)) {
      ReadWhole(handle, size);
      return;
    }
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, handle, 0);
    if (mapped == MAP_FAILED) return;
    data_ = static_cast<const uint8_t*>(mapped);
    size_ = size;
    mapped_ = true;
    if (wholeValues) madvise(mapped, size_, MADV_SEQUENTIAL);
  }

  void ReadWhole(int handle, size_t size) {
    read_.resize(size);
    size_t done = 0;
    while (done < size) {
      const ssize_t got = pread(handle, read_.data() + done, size - done, static_cast<off_t>(done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    if (done != size) {
      // Shorter than it said (being written, or cut meanwhile): the plain reader says why.
      read_.clear();
      return;
    }
    data_ = read_.data();
    size_ = size;
  }

  std::vector<uint8_t> read_;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
};

}  // namespace

namespace {

bool ReadFileBytes(const std::string& path, const FileBytes& bytes, BufData& buffer,
                   DicomFile& file, std::string& error) {
  // Values are copied straight out of the mapped file, so a large file is read once rather than
  // loaded into a buffer and copied again. A file that cannot be opened or mapped is read the
  // plain way, which also gives the reason for a failure.
  if (bytes.data() != nullptr && bytes.mapped()) {
    buffer.ReadFromMapping(bytes.data(), bytes.size());
  } else if (bytes.data() != nullptr) {
    buffer.ReadFrom(bytes.data(), bytes.size());
  } else if (!buffer.LoadFromFile(path, error)) {
    return false;
  }
  return ParseDicomFile(buffer, file, error);
}

}  // namespace

bool ReadDicomFile(const std::string& path, DicomFile& file, std::string& error) {
  BufData buffer;
  const FileBytes bytes(path);
  return ReadFileBytes(path, bytes, buffer, file, error);
}

bool ReadDicomFile(const std::string& path, DicomFile& file, std::string& error,
                   uint32_t leaveInFileFrom) {
  std::string unopened;
  const std::shared_ptr<const FileValue> source =
      leaveInFileFrom != 0 ? FileValue::Open(path, unopened) : nullptr;
  // A file that cannot be left open as a value (a folder, or over 4 GB) is read as ever, which
  // also says what is wrong with it.
  if (!source) return ReadDicomFile(path, file, error);
  BufData buffer;
  buffer.LeaveLongValuesIn(source, leaveInFileFrom);
  const FileBytes bytes(source->Descriptor(), false);
  return ReadFileBytes(path, bytes, buffer, file, error);
}
