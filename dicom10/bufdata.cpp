// Element and data set encoding: Implicit VR Little Endian, Explicit VR Little and Big Endian.
#include "bufdata.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "dcmobj.h"
#include "dictionary.h"
#include "filevalue.h"
#include "log.h"
#include "uids.h"

namespace {

// A value that runs past the end of the stream is zero-filled up to its declared length, as long
// as the missing part is no larger than the stream itself (or this floor, for small streams).
// Beyond that the length is taken as one that cannot be allocated: a few hostile bytes must not
// make the reader allocate gigabytes, while a file cut short in its pixel data still reads.
constexpr uint64_t kMissingBytesFloor = 1ull << 20;

// Long values are copied out of a mapped file in pieces of this size, each piece's pages given
// back before the next.
constexpr size_t kReleaseChunk = 4 << 20;

// Encoded elements go to a file in pieces of about this size.
constexpr size_t kFilePieceSize = 256 * 1024;

std::string Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

// Whether the value is made of elements the reader goes on to read: a sequence, or an item that
// is not a fragment of pixel data. Implicit VR elements have no VR yet: the dictionary's counts.
bool HoldsElements(const DcmTag& tag, bool itemsAreFragments) {
  if (tag.Is(0xFFFE, 0xE000)) return !itemsAreFragments;
  const char* vr = tag.vr[0] != 0 ? tag.vr : ImplicitVR(tag.group, tag.element);
  return vr[0] == 'S' && vr[1] == 'Q';
}

bool IsExpandable(const DcmTag& tag) {
  return (tag.IsVR("SQ") || tag.Is(0xFFFE, 0xE000)) && tag.length != 0 && !tag.HasUndefinedLength();
}

void ApplyImplicitVR(DcmTag& tag) {
  LookupImplicitVR(tag);
  if (tag.IsVR("UN") && tag.HasUndefinedLength()) tag.SetVR("SQ");
}

// Size of the binary numbers a value of this VR is made of; 1 for text and plain bytes, whose
// order never changes.
size_t NumberSize(const char* vr) {
  struct Row {
    char vr[3];
    uint8_t size;
  };
  static constexpr Row kRows[] = {{"US", 2}, {"SS", 2}, {"OW", 2}, {"AT", 2}, {"UL", 4},
                                  {"SL", 4}, {"FL", 4}, {"OF", 4}, {"OL", 4}, {"FD", 8},
                                  {"OD", 8}, {"SV", 8}, {"UV", 8}, {"OV", 8}};
  for (const Row& row : kRows) {
    if (row.vr[0] == vr[0] && row.vr[1] == vr[1]) return row.size;
  }
  return 1;
}

// Reverses each `size`-byte number of a value in place.
void ReverseNumbers(uint8_t* bytes, size_t length, size_t size) {
  for (size_t offset = 0; offset + size <= length; offset += size) {
    std::reverse(bytes + offset, bytes + offset + size);
  }
}

}  // namespace

void BufData::ReadFrom(const uint8_t* data, size_t size) {
  external_ = data != nullptr;
  externalData_ = data;
  externalSize_ = external_ ? size : 0;
  position = 0;
  mapped_ = false;
}

void BufData::LeaveLongValuesIn(std::shared_ptr<const FileValue> file, uint32_t from) {
  sourceFile_ = std::move(file);
  leaveFrom_ = sourceFile_ ? from : 0;
}

void BufData::ReadFromMapping(const uint8_t* data, size_t size) {
  ReadFrom(data, size);
  mapped_ = external_;
}

void BufData::CopyInput(uint8_t* destination, size_t size) {
  if (!mapped_ || size < kReleaseChunk) {
    std::memcpy(destination, InputData() + position, size);
    position += size;
    return;
  }
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  for (size_t done = 0; done < size;) {
    const size_t chunk = std::min(kReleaseChunk, size - done);
    const uint8_t* from = InputData() + position;
    std::memcpy(destination + done, from, chunk);
    // Only whole pages inside the copied range go: the ones at its ends may hold other elements.
    const uintptr_t first = (reinterpret_cast<uintptr_t>(from) + page - 1) & ~(page - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(from) + chunk) & ~(page - 1);
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
    position += chunk;
    done += chunk;
  }
}

bool BufData::Read16(uint16_t& value) {
  if (Remaining() < 2) return false;
  const uint8_t* p = InputData() + position;
  value =
      bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
  position += 2;
  return true;
}

bool BufData::Read32(uint32_t& value) {
  if (Remaining() < 4) return false;
  const uint8_t* p = InputData() + position;
  value = 0;
  for (int i = 0; i < 4; ++i) value = value << 8 | p[bigEndian ? i : 3 - i];
  position += 4;
  return true;
}

void BufData::Write16(uint16_t value) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  if (bigEndian) {
    stream.push_back(bytes[1]);
    stream.push_back(bytes[0]);
  } else {
    stream.insert(stream.end(), bytes, bytes + 2);
  }
}

void BufData::Write32(uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    const int shift = bigEndian ? 24 - 8 * i : 8 * i;
    stream.push_back(static_cast<uint8_t>(value >> shift));
  }
}

void BufData::WriteBytes(const void* bytes, size_t size) {
  const uint8_t* begin = static_cast<const uint8_t*>(bytes);
  stream.insert(stream.end(), begin, begin + size);
}

bool BufData::ReadTag(DcmTag& tag, bool explicitVR, bool metaExplicit) {
  // Fewer than a header's worth of zero bytes at the end is padding, read as (0000,0000).
  const size_t remaining = Remaining();
  if (remaining > 0 && remaining < 8 &&
      std::all_of(InputData() + position, InputData() + InputSize(),
                  [](uint8_t b) { return b == 0; })) {
    position = InputSize();
    tag = DcmTag();
    return true;
  }
  auto headerError = [&] {
    WriteLog("ERROR: BufData::ReadTag, (" + Hex4(tag.group) + "," + Hex4(tag.element) +
             ") tag->length=" + std::to_string(tag.length) +
             ", MS Size=" + std::to_string(static_cast<int64_t>(InputSize())) +
             ", MS Pos=" + std::to_string(static_cast<int64_t>(position)));
    return false;
  };
  if (!Read16(tag.group) || !Read16(tag.element)) return headerError();

  const bool elementExplicit = (tag.group == 0x0002 && metaExplicit) ? true : explicitVR;
  bool lengthRead = false;
  if (tag.group != 0x0000 && tag.group != 0xFFFE && elementExplicit) {
    if (Remaining() < 2) return headerError();
    const uint8_t first = InputData()[position];
    const uint8_t second = InputData()[position + 1];
    position += 2;
    if (!explicitVR) {
      LookupVR(tag);
    } else if (first < 0x41 || second < 0x41) {
      // Not a VR: these bytes start a 32-bit implicit-VR length.
      position -= 2;
      if (!Read32(tag.length)) return headerError();
      LookupImplicitVR(tag);
      lengthRead = true;
    } else {
      const char letters[3] = {static_cast<char>(first), static_cast<char>(second), 0};
      tag.SetVR(letters);
    }
    if (!lengthRead) {
      if (HasLongLength(tag.vr)) {
        if (Remaining() < 2) return headerError();
        position += 2;
        if (!Read32(tag.length)) return headerError();
      } else {
        uint16_t shortLength = 0;
        if (!Read16(shortLength)) return headerError();
        tag.length = shortLength;
      }
      lengthRead = true;
    }
  }
  if (!lengthRead && !Read32(tag.length)) return headerError();

  if (tag.group == 0xFFFE && (tag.element == 0xE00D || tag.element == 0xE0DD) && tag.length != 0) {
    // Delimiters have no value; a length written into one is ignored, as other readers do.
    WriteLog("WARNING, BufData::ReadTag, (FFFE," + Hex4(tag.element) + ") with length " +
             std::to_string(tag.length) + " read as length 0");
    tag.length = 0;
  }
  if (tag.length == 0 || tag.length == kUndefinedLength) return true;

  const size_t available = std::min<size_t>(Remaining(), tag.length);
  if (leaveFrom_ != 0 && tag.length >= leaveFrom_ && available == tag.length &&
      !HoldsElements(tag, itemsAreFragments_)) {
    tag.fileValue = sourceFile_->Slice(position, tag.length);
    position += tag.length;
    return true;
  }
  if (tag.length - available > std::max<uint64_t>(InputSize(), kMissingBytesFloor)) {
    WriteLog("ERROR, BufData::ReadTag, assigning memory to tag->data");
    return false;
  }
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[tag.length]);
  if (!buffer) {
    WriteLog("ERROR, BufData::ReadTag, assigning memory to tag->data");
    return false;
  }
  CopyInput(buffer.get(), available);
  if (available < tag.length) {
    // The bytes that are not there read as zeros.
    std::memset(buffer.get() + available, 0, tag.length - available);
    ++shortReads;
    lastAvailable_ = available;
    WriteLog("WARNING, BufData::ReadTag, read bytes!=tag->length (" + Hex4(tag.group) + "," +
             Hex4(tag.element) + ") count=" + std::to_string(static_cast<int64_t>(available)) +
             ", tag->length=" + std::to_string(tag.length));
  }
  tag.value = std::move(buffer);
  return true;
}

bool BufData::WriteTag(const DcmTag& tag, bool explicitVR) {
  return WriteElement(tag, explicitVR, nullptr);
}

bool BufData::WriteElement(const DcmTag& tag, bool explicitVR, const char* missingVR) {
  const bool writesVR = tag.group != 0x0000 && tag.group != 0xFFFE && explicitVR;
  char vr[3] = {tag.vr[0], tag.vr[0] != 0 ? tag.vr[1] : '\0', 0};
  if (vr[0] == 0) {
    // Two zero bytes in the VR field would make every reader lose its place in the stream, so an
    // element built without a VR is written with the one it should have had.
    const char* known = missingVR ? missingVR : ImplicitVR(tag.group, tag.element);
    if (known[0] == 'U' && known[1] == 'N' && tag.HasUndefinedLength()) known = "SQ";
    vr[0] = known[0];
    vr[1] = known[1];
  }
  const bool longLength = HasLongLength(vr);
  if (writesVR && !longLength && tag.length > 0xFFFF) {
    WriteLog("ERROR, BufData::WriteTag, value too long for a 2-byte length (" + Hex4(tag.group) +
             "," + Hex4(tag.element) + ") VR=" + vr +
             ", tag->length=" + std::to_string(tag.length));
    return false;
  }
  Write16(tag.group);
  Write16(tag.element);
  if (writesVR) {
    stream.push_back(static_cast<uint8_t>(vr[0]));
    stream.push_back(static_cast<uint8_t>(vr[1]));
    if (longLength) {
      Write16(0);
      Write32(tag.length);
    } else {
      Write16(static_cast<uint16_t>(tag.length));
    }
  } else {
    Write32(tag.length);
  }
  if (tag.length == 0 || tag.length == kUndefinedLength) return true;
  const size_t numberSize = NumberSize(vr);
  const bool reorder = tag.bigEndian != bigEndian && numberSize > 1 && tag.length % numberSize == 0;
  if (tag.fileValue) {
    const size_t start = stream.size();
    stream.resize(start + tag.length);
    std::string error;
    if (!tag.fileValue->Read(0, stream.data() + start, tag.length, error)) {
      stream.resize(start);
      WriteLog("ERROR, BufData::WriteTag, " + error);
      return false;
    }
    // A value left in a big-endian file is reordered as one read from it would be.
    if (reorder) ReverseNumbers(stream.data() + start, tag.length, numberSize);
    return true;
  }
  if (!tag.value) {
    stream.resize(stream.size() + tag.length, 0);
    return true;
  }
  const size_t start = stream.size();
  WriteBytes(tag.value.get(), tag.length);
  // Binary numbers follow the byte order of the stream they are written to: values built here
  // (little-endian) or read from a little-endian stream are reordered for a big-endian one, and
  // back. Values whose order already matches, and text, are copied unchanged.
  if (reorder) ReverseNumbers(stream.data() + start, tag.length, numberSize);
  return true;
}

bool BufData::ReadDataSet(DcmObj& dataSet) {
  return ReadDataSetAtDepth(dataSet, 0);
}

namespace {

// A "UN" element of undefined length in an explicit-VR stream holds a sequence whose content is
// implicit VR little endian, up to its matching sequence delimiter. It is read as such, the
// element becomes "SQ", and is written back as an ordinary sequence.
class UnSequence {
 public:
  bool Active() const { return depth_ > 0; }
  // Follows the element just read; switches the reader's byte order in and out of the sequence.
  // True when the element opened such a sequence.
  bool Follow(BufData& reader, DcmTag& tag, bool explicitStream) {
    if (depth_ > 0) {
      if (tag.HasUndefinedLength() && tag.IsVR("SQ")) ++depth_;
      if (tag.Is(0xFFFE, 0xE0DD) && --depth_ == 0) reader.bigEndian = savedOrder_;
      return false;
    }
    if (!explicitStream || !tag.IsVR("UN") || !tag.HasUndefinedLength()) return false;
    tag.SetVR("SQ");
    depth_ = 1;
    savedOrder_ = reader.bigEndian;
    reader.bigEndian = false;
    ++reader.unSequences;
    return true;
  }

 private:
  int depth_ = 0;
  bool savedOrder_ = false;
};

}  // namespace

bool BufData::ReadDataSetAtDepth(DcmObj& dataSet, int depth) {
  bool pixelData = false;
  UnSequence unSequence;
  // Sequences and encapsulated pixel data of undefined length still waiting for their delimiter.
  size_t open = 0;
  unterminated = 0;
  while (position < InputSize()) {
    auto tag = std::make_unique<DcmTag>();
    const size_t shortReadsBefore = shortReads;
    const bool explicitVR = dataSet.explicitVR && !unSequence.Active();
    itemsAreFragments_ = pixelData;
    if (!ReadTag(*tag, explicitVR, false)) return false;
    // A sequence cut off by the end of the stream keeps its bytes but is not parsed: its items
    // would be made of the zeros that stand in for what is missing.
    const bool lastReadWasShort = shortReads != shortReadsBefore;
    if (tag->group == 0 && tag->element == 0 && tag->length == 0) break;
    tag->bigEndian = bigEndian;
    if (!explicitVR) ApplyImplicitVR(*tag);
    unSequence.Follow(*this, *tag, dataSet.explicitVR);
    if (tag->HasUndefinedLength() && tag->group != 0xFFFE) ++open;
    if (tag->Is(0xFFFE, 0xE0DD) && open > 0) --open;
    if (tag->Is(0x7FE0, 0x0010) && !unSequence.Active()) {
      dataSet.Append(std::move(tag));
      pixelData = true;
    } else if (IsExpandable(*tag) && !pixelData && !lastReadWasShort) {
      bool complete = true;
      if (!ExpandInto(dataSet, *tag, depth + 1, explicitVR, bigEndian, tag->length, complete))
        return false;
    } else if (IsExpandable(*tag) && !pixelData &&
               ExpandCutShort(dataSet, *tag, depth + 1, explicitVR)) {
      --shortReads;
    } else if (tag->group != 0x0002) {
      dataSet.Append(std::move(tag));
    }
  }
  unterminated = open;
  return true;
}

bool BufData::ExpandInto(DcmObj& parent, const DcmTag& tag, int depth, bool explicitVR,
                         bool bigEndianOrder, size_t size, bool& complete) {
  if (depth > kMaxSequenceDepth) {
    WriteLog("ERROR, Expand_SQ: sequences nested deeper than " + std::to_string(kMaxSequenceDepth) +
             " levels");
    return false;
  }
  auto nested = std::make_unique<DcmObj>();
  nested->explicitVR = explicitVR;
  nested->bigEndian = bigEndianOrder;
  BufData local(bigEndianOrder);
  if (!local.ExpandBytes(*nested, tag.HasValue() ? tag.value.get() : nullptr,
                         std::min<size_t>(size, tag.HasValue() ? tag.length : 0), depth)) {
    return false;
  }
  complete = local.shortReads == 0;
  shortReads += local.shortReads;
  unSequences += local.unSequences;
  recoveredSequences += local.recoveredSequences;
  nested->header.group = tag.group;
  nested->header.element = tag.element;
  nested->header.length = tag.length;
  if (tag.group != 0xFFFE && tag.element != 0xE000) nested->header.SetVR("SQ");
  parent.Append(std::move(nested));
  return true;
}

bool BufData::ExpandCutShort(DcmObj& parent, const DcmTag& tag, int depth, bool explicitVR) {
  // Tried on a scratch parent, so that a failed attempt leaves nothing behind.
  DcmObj scratch;
  BufData trial(bigEndian);
  bool complete = false;
  if (!trial.ExpandInto(scratch, tag, depth, explicitVR, bigEndian, lastAvailable_, complete) ||
      !complete || scratch.Count() != 1) {
    return false;
  }
  WriteLog("WARNING, BufData::ReadTag, (" + Hex4(tag.group) + "," + Hex4(tag.element) +
           ") runs past the end, read up to the end: " + std::to_string(lastAvailable_) + " of " +
           std::to_string(tag.length) + " bytes");
  unSequences += trial.unSequences;
  recoveredSequences += trial.recoveredSequences + 1;
  parent.Append(std::move(scratch.entries.front().obj));
  return true;
}

bool BufData::Expand_SQ(DcmObj& nested, const DcmTag& tag, int depth) {
  BufData local(nested.bigEndian);
  // The tag outlives the local reader, so its value is read where it is.
  if (!local.ExpandBytes(nested, tag.HasValue() ? tag.value.get() : nullptr,
                         tag.HasValue() ? tag.length : 0, depth)) {
    return false;
  }
  shortReads += local.shortReads;
  unSequences += local.unSequences;
  recoveredSequences += local.recoveredSequences;
  return true;
}

bool BufData::ExpandBytes(DcmObj& nested, const uint8_t* data, size_t size, int depth) {
  if (data != nullptr) ReadFrom(data, size);
  // Fragments of encapsulated pixel data inside an item (an icon image) are items too, but they
  // hold compressed bytes, not data sets.
  bool encapsulatedPixels = false;
  UnSequence unSequence;
  while (position < InputSize()) {
    auto element = std::make_unique<DcmTag>();
    const size_t shortReadsBefore = shortReads;
    const bool explicitVR = nested.explicitVR && !unSequence.Active();
    // File meta elements never belong in a sequence; one that turns up there is read in the
    // encoding of the data set around it, which is how every writer, this one included, puts it
    // there. Reading it as explicit VR inside an implicit data set would lose the rest.
    if (!ReadTag(*element, explicitVR, explicitVR)) {
      WriteLog("ERROR, Expand_SQ: Reading tag...");
      return false;
    }
    element->bigEndian = bigEndian;
    if (!explicitVR) ApplyImplicitVR(*element);
    unSequence.Follow(*this, *element, nested.explicitVR);
    if (element->Is(0x7FE0, 0x0010) && element->HasUndefinedLength()) encapsulatedPixels = true;
    if (element->Is(0xFFFE, 0xE0DD)) encapsulatedPixels = false;
    const bool expandable = IsExpandable(*element) && !encapsulatedPixels;
    if (expandable && shortReads == shortReadsBefore) {
      bool complete = true;
      if (!ExpandInto(nested, *element, depth + 1, explicitVR, bigEndian, element->length,
                      complete)) {
        return false;
      }
    } else if (expandable && ExpandCutShort(nested, *element, depth + 1, explicitVR)) {
      --shortReads;
    } else {
      nested.Append(std::move(element));
    }
  }
  return true;
}

bool BufData::WriteEntries(DcmObj& dataSet) {
  for (DcmEntry& entry : dataSet.entries) {
    if (!WriteEntry(dataSet, entry)) return false;
  }
  return true;
}

bool BufData::WriteEntry(DcmObj& dataSet, DcmEntry& entry) {
  if (entry.tag) return WriteTag(*entry.tag, dataSet.explicitVR);
  DcmObj& nested = *entry.obj;
  nested.explicitVR = dataSet.explicitVR;
  nested.bigEndian = bigEndian;
  if (!EncodeNested(nested)) return false;
  // A nested data set that is not an item is a sequence, whatever its header was given.
  const bool written = WriteElement(nested.header, dataSet.explicitVR, "SQ");
  nested.header.value.reset();
  return written;
}

namespace {

// A value that can follow its header unchanged: long, in the stream's byte order, and under a
// header whose last four bytes are its 32-bit length.
bool IsDirectlyWritable(const DcmTag& tag, bool explicitVR, bool bigEndian) {
  const bool held = tag.HasValue() || (tag.fileValue && !tag.HasUndefinedLength());
  if (!held || tag.length < kDirectValueThreshold || tag.bigEndian != bigEndian) return false;
  return tag.group == 0xFFFE || !explicitVR || HasLongLength(tag.vr);
}

// The pieces a value kept in a file is read in. The buffer stays with the thread, so writing
// object after object allocates nothing.
constexpr size_t kFileValuePiece = 1 << 20;

// Hands a value kept in a file on to `sink` piece by piece. False when the file cannot be read
// (logged) or `sink` refuses.
bool WriteFileValue(const FileValue& file, const PieceSink& sink) {
  thread_local std::vector<uint8_t> piece;
  if (piece.size() < kFileValuePiece) piece.resize(kFileValuePiece);
  for (uint64_t offset = 0; offset < file.Length();) {
    const size_t size =
        static_cast<size_t>(std::min<uint64_t>(piece.size(), file.Length() - offset));
    std::string error;
    if (!file.Read(offset, piece.data(), size, error)) {
      WriteLog("ERROR, BufData::WriteDataSetPieces, " + error);
      return false;
    }
    if (!sink(piece.data(), size)) return false;
    offset += size;
  }
  return true;
}

}  // namespace

bool BufData::WriteDataSetPieces(DcmObj& dataSet, size_t pieceSize, const PieceSink& sink) {
  if (dataSet.transferSyntax == kExplicitVRBigEndian) bigEndian = true;
  auto handOn = [&] {
    if (stream.empty()) return true;
    const bool taken = sink(stream.data(), stream.size());
    stream.clear();
    return taken;
  };
  for (DcmEntry& entry : dataSet.entries) {
    const DcmTag* tag = entry.tag.get();
    if (tag != nullptr && IsDirectlyWritable(*tag, dataSet.explicitVR, bigEndian)) {
      // The header with a zero length, then the real length over its last four bytes.
      DcmTag header(tag->group, tag->element);
      std::memcpy(header.vr, tag->vr, sizeof header.vr);
      if (!WriteTag(header, dataSet.explicitVR)) return false;
      uint8_t* length = stream.data() + stream.size() - 4;
      for (int b = 0; b < 4; ++b) {
        length[bigEndian ? 3 - b : b] = static_cast<uint8_t>(tag->length >> (8 * b));
      }
      if (!handOn()) return false;
      if (tag->fileValue && fileValuesUnread) {
        if (!sink(nullptr, tag->length)) return false;
      } else if (tag->fileValue ? !WriteFileValue(*tag->fileValue, sink)
                                : !sink(tag->value.get(), tag->length)) {
        return false;
      }
      continue;
    }
    if (!WriteEntry(dataSet, entry)) return false;
    if (stream.size() >= pieceSize && !handOn()) return false;
  }
  return handOn();
}

bool BufData::WriteDataSet(DcmObj& dataSet) {
  if (dataSet.transferSyntax == kExplicitVRBigEndian) bigEndian = true;
  return WriteEntries(dataSet);
}

bool BufData::EncodeNested(DcmObj& nested) {
  BufData local(nested.bigEndian);
  if (!local.WriteEntries(nested)) return false;
  const size_t size = local.stream.size();
  if (size > 0xFFFFFFFEull) {
    WriteLog("ERROR, BufData::EncodeNested, nested data set larger than 4 GB");
    return false;
  }
  nested.header.value.reset();
  nested.header.length = static_cast<uint32_t>(size);
  if (size != 0) {
    nested.header.value = std::make_unique_for_overwrite<uint8_t[]>(size);
    std::memcpy(nested.header.value.get(), local.stream.data(), size);
  }
  return true;
}

bool BufData::WriteMetaHeader(const std::string& sopClassUid, const std::string& sopInstanceUid,
                              const std::string& transferSyntaxUid) {
  const size_t start = stream.size();
  stream.resize(start + 128, 0);
  WriteBytes("DICM", 4);
  const uint8_t version[2] = {0x00, 0x01};
  const std::string implementationUid = std::string(kOrganisationUidRoot) + ".999";
  // A text value of odd length is padded with a space; a zero byte here is an invalid SH.
  static constexpr char kVersionName[12] = {'B', 'r', 'i', 'n', 'd', 'l',
                                            'e', 'w', 'i', 'c', 'k', ' '};
  auto uid = [](uint16_t element, const std::string& text) {
    return DcmTag::FromBytes(0x0002, element, static_cast<uint32_t>(text.size()), text.data(),
                             "UI");
  };
  // The meta group is little-endian whatever the data set after it will be.
  const bool dataSetOrder = bigEndian;
  bigEndian = false;
  bool written = WriteTag(*DcmTag::FromUL(0x0002, 0x0000, 0, "UL"), true);
  written = written && WriteTag(*DcmTag::FromBytes(0x0002, 0x0001, 2, version, "OB"), true);
  written = written && WriteTag(*uid(0x0002, sopClassUid), true);
  written = written && WriteTag(*uid(0x0003, sopInstanceUid), true);
  written = written && WriteTag(*uid(0x0010, transferSyntaxUid), true);
  written = written && WriteTag(*uid(0x0012, implementationUid), true);
  written =
      written &&
      WriteTag(*DcmTag::FromBytes(0x0002, 0x0013, sizeof kVersionName, kVersionName, "SH"), true);
  bigEndian = dataSetOrder;
  if (!written) {
    // A UID too long for its length field: leave no half-written header behind.
    stream.resize(start);
    return false;
  }
  const uint32_t groupLength = static_cast<uint32_t>(stream.size() - (start + 144));
  for (int i = 0; i < 4; ++i)
    stream[start + 140 + i] = static_cast<uint8_t>(groupLength >> (8 * i));
  return true;
}

namespace {

// Writes a file beside `path` through `write` and renames it over `path` once it is complete, so
// that a failed write never leaves part of a file under the real name. `write` returns false when
// it stopped, with the errno of a failed write in `writeErrno` (0 when the cause lay elsewhere and
// was logged there).
bool WriteBesideAndRename(const std::string& path,
                          const std::function<bool(std::FILE*, int& writeErrno)>& write) {
  const std::string partial = path + ".part";
  std::FILE* file = std::fopen(partial.c_str(), "wb");
  if (file == nullptr) {
    WriteLog("ERROR, BufData::SaveToFile, Cannot create file \"" + path + "\". " +
             std::strerror(errno));
    return false;
  }
  int writeErrno = 0;
  const bool written = write(file, writeErrno);
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::remove(partial.c_str());
    if (writeErrno != 0 || !closed) {
      WriteLog("ERROR, BufData::SaveToFile, Error writing file \"" + path + "\". " +
               std::strerror(writeErrno != 0 ? writeErrno : errno));
    }
    return false;
  }
  std::error_code error;
  std::filesystem::rename(partial, path, error);
  if (error) {
    std::remove(partial.c_str());
    WriteLog("ERROR, BufData::SaveToFile, " + error.message());
    return false;
  }
  return true;
}

}  // namespace

bool BufData::SaveToFile(const std::string& path) const {
  if (stream.empty()) {
    WriteLog("ERROR, BufData::SaveToFile, ms->Size==0");
    return false;
  }
  return WriteBesideAndRename(path, [&](std::FILE* file, int& writeErrno) {
    if (std::fwrite(stream.data(), 1, stream.size(), file) == stream.size()) return true;
    writeErrno = errno;
    return false;
  });
}

bool BufData::SaveToFile(const std::string& path, DcmObj& dataSet) {
  // The data set goes to the file piece by piece, long values straight from the object.
  return WriteBesideAndRename(path, [&](std::FILE* file, int& writeErrno) {
    return WriteDataSetPieces(dataSet, kFilePieceSize, [&](const uint8_t* bytes, size_t size) {
      if (std::fwrite(bytes, 1, size, file) == size) return true;
      writeErrno = errno;
      return false;
    });
  });
}

bool BufData::LoadFromFile(const std::string& path, std::string& error) {
  position = 0;
  shortReads = 0;
  stream.clear();
  // Only a regular file has a size worth believing: a folder or a device would report none, or
  // one that cannot be allocated.
  std::error_code status;
  if (!std::filesystem::is_regular_file(path, status)) {
    error = "cannot open " + path + ": " +
            (status ? status.message() : std::string("not a regular file"));
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  bool failed = std::fseek(file, 0, SEEK_END) != 0;
  const long size = failed ? -1 : std::ftell(file);
  failed = size < 0 || std::fseek(file, 0, SEEK_SET) != 0;
  if (!failed) {
    try {
      stream.resize(static_cast<size_t>(size));
    } catch (const std::exception&) {
      std::fclose(file);
      error = "cannot read " + path + ": not enough memory for " + std::to_string(size) + " bytes";
      return false;
    }
    failed = std::fread(stream.data(), 1, stream.size(), file) != stream.size();
  }
  std::fclose(file);
  if (failed) {
    stream.clear();
    error = "cannot read " + path;
    return false;
  }
  return true;
}
