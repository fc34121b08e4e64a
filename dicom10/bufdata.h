// Encoder and decoder of data elements and data sets in the three uncompressed encodings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class DcmTag;
class DcmObj;
class FileValue;
struct DcmEntry;

// Sequences nested deeper than this are refused when decoding hostile input.
inline constexpr int kMaxSequenceDepth = 64;

// Values at least this long are handed on from the object itself when a data set is written in
// pieces, rather than copied into the encoded stream first.
inline constexpr uint32_t kDirectValueThreshold = 64 * 1024;

// Receives the encoding of a data set piece by piece, in order; false stops the writing.
using PieceSink = std::function<bool(const uint8_t* bytes, size_t size)>;

class BufData {
 public:
  bool bigEndian = false;       // byte order of tag numbers and lengths in the stream
  std::vector<uint8_t> stream;  // the encoded bytes
  size_t position = 0;          // read position
  // Number of elements whose declared length ran past the end of the stream.
  size_t shortReads = 0;

  explicit BufData(bool bigEndian = false) : bigEndian(bigEndian) {}

  bool Read16(uint16_t& value);
  bool Read32(uint32_t& value);
  void Write16(uint16_t value);
  void Write32(uint32_t value);
  void WriteBytes(const void* bytes, size_t size);
  size_t Remaining() const { return position < InputSize() ? InputSize() - position : 0; }

  // Reads from `size` bytes owned elsewhere (a mapped file, a value already in memory) instead
  // of `stream`, from position 0; the bytes must outlive the reading. Writing still appends to
  // `stream`. ReadFrom(nullptr, 0) returns to reading `stream`.
  void ReadFrom(const uint8_t* data, size_t size);
  // ReadFrom for a read-only mapping of a file: the pages a long value was copied from are
  // given back as reading goes on, so that the file and its copy are never both in memory.
  void ReadFromMapping(const uint8_t* data, size_t size);
  // The bytes being read: those given to ReadFrom, or `stream`.
  const uint8_t* InputData() const { return external_ ? externalData_ : stream.data(); }
  size_t InputSize() const { return external_ ? externalSize_ : stream.size(); }

  // Fills a fresh tag from the stream. `metaExplicit` reads group 0002 in explicit VR.
  bool ReadTag(DcmTag& tag, bool explicitVR, bool metaExplicit);
  // From now on a value of at least `from` bytes that the input holds whole stays in `file`,
  // whose bytes the input is from its first byte on: the element gets the value's place in the
  // file (a FileValue) instead of a copy, and the bytes are read only if the element is written.
  // Sequences and the items that hold data sets are read as ever. For readers that show a data
  // set rather than use its long values: pixel data, for one, is then never read.
  void LeaveLongValuesIn(std::shared_ptr<const FileValue> file, uint32_t from);
  // Appends the tag's encoding. False (and nothing written) when a value does not fit the
  // two-byte length field of its VR. Binary numbers whose byte order (the tag's big-endian flag)
  // differs from the stream's are reordered on the way.
  bool WriteTag(const DcmTag& tag, bool explicitVR);
  // When set, WriteDataSetPieces hands a long value kept in a file on as one piece of its length
  // with no bytes (a null pointer) instead of reading it: how long an encoding will be can then be
  // measured without reading the file.
  bool fileValuesUnread = false;

  // Decodes from the current position to the end of the stream.
  bool ReadDataSet(DcmObj& dataSet);
  // Appends the encoding of the whole data set.
  bool WriteDataSet(DcmObj& dataSet);
  // Hands the stream so far and then the encoding of the data set to `sink`, in pieces of about
  // `pieceSize` bytes: small elements are encoded into the stream, which is handed on and emptied
  // whenever it has grown to `pieceSize`, and long values (kDirectValueThreshold) go to `sink`
  // straight from the data set after their header. The bytes are those of WriteDataSet. Empty
  // pieces are never handed on. False when an element cannot be encoded or `sink` refuses.
  bool WriteDataSetPieces(DcmObj& dataSet, size_t pieceSize, const PieceSink& sink);
  // Decodes the value of a defined-length sequence or item tag into `nested`.
  bool Expand_SQ(DcmObj& nested, const DcmTag& tag, int depth = 1);
  // Elements of undefined-length "UN" sequences met in explicit VR (read as the implicit VR
  // little-endian sequences they hold) and sequences whose declared length ran past the end but
  // whose elements all ended with the stream (read up to that end).
  size_t unSequences = 0;
  size_t recoveredSequences = 0;
  // After ReadDataSet: sequences and encapsulated pixel data of undefined length that the stream
  // ended in, their delimiter missing.
  size_t unterminated = 0;
  // Encodes a nested data set's entries into its header tag's value.
  bool EncodeNested(DcmObj& nested);

  // Preamble, "DICM" and the file meta group. False (and nothing written) when a UID does not fit
  // its length field.
  bool WriteMetaHeader(const std::string& sopClassUid, const std::string& sopInstanceUid,
                       const std::string& transferSyntaxUid);
  // Writes the whole stream to a file, replacing it.
  bool SaveToFile(const std::string& path) const;
  // Writes the stream and then the data set after it (WriteDataSetPieces), so that a large value
  // is never copied on its way to the file. Same file handling and log lines as SaveToFile(path).
  bool SaveToFile(const std::string& path, DcmObj& dataSet);
  // Replaces the stream with a file's bytes and rewinds. False when it cannot be read.
  bool LoadFromFile(const std::string& path, std::string& error);

 private:
  const uint8_t* externalData_ = nullptr;
  size_t externalSize_ = 0;
  bool external_ = false;
  bool mapped_ = false;

  // Copies `size` input bytes from the read position to `destination` and moves past them.
  void CopyInput(uint8_t* destination, size_t size);

  // Bytes of the value present in the stream when the last ReadTag ran short.
  size_t lastAvailable_ = 0;

  // LeaveLongValuesIn's file and length; 0: every value is copied.
  std::shared_ptr<const FileValue> sourceFile_;
  uint32_t leaveFrom_ = 0;
  // Items read now are fragments of encapsulated pixel data, not data sets.
  bool itemsAreFragments_ = false;

  bool ReadDataSetAtDepth(DcmObj& dataSet, int depth);
  // Expands `size` bytes of the tag's value into a nested data set appended to `parent`, decoded
  // with the given flags. `complete` tells whether every element inside was whole.
  bool ExpandInto(DcmObj& parent, const DcmTag& tag, int depth, bool explicitVR, bool bigEndian,
                  size_t size, bool& complete);
  // Expands a sequence or item whose value was cut short by the end of the stream, when the bytes
  // that are there hold whole elements. False (and nothing appended) otherwise.
  bool ExpandCutShort(DcmObj& parent, const DcmTag& tag, int depth, bool explicitVR);
  bool ExpandBytes(DcmObj& nested, const uint8_t* data, size_t size, int depth);
  bool WriteEntries(DcmObj& dataSet);
  bool WriteEntry(DcmObj& dataSet, DcmEntry& entry);
  // WriteTag, with the VR to use when the tag has none (nullptr: the dictionary's).
  bool WriteElement(const DcmTag& tag, bool explicitVR, const char* missingVR);
};
