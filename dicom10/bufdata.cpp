// Element and data set encoding: Implicit VR Little Endian, Explicit VR Little and Big Endian.
#include "bufdata.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "dcmobj.h"
#include "dictionary.h"
#include "log.h"
#include "uids.h"

namespace {

// A value that runs past the end of the stream is zero-filled up to its declared length, but only
// this far: beyond it the length is taken as one that cannot be allocated.
constexpr uint64_t kMaxMissingBytes = 64ull << 20;

std::string Hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", value);
  return text;
}

bool IsExpandable(const DcmTag& tag) {
  return (tag.IsVR("SQ") || tag.Is(0xFFFE, 0xE000)) && tag.length != 0 && !tag.HasUndefinedLength();
}

void ApplyImplicitVR(DcmTag& tag) {
  LookupVR(tag);
  if (tag.IsVR("UN") && tag.HasUndefinedLength()) tag.SetVR("SQ");
}

}  // namespace

bool BufData::Read16(uint16_t& value) {
  if (Remaining() < 2) return false;
  const uint8_t* p = stream.data() + position;
  value =
      bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
  position += 2;
  return true;
}

bool BufData::Read32(uint32_t& value) {
  if (Remaining() < 4) return false;
  const uint8_t* p = stream.data() + position;
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
      std::all_of(stream.begin() + static_cast<long>(position), stream.end(),
                  [](uint8_t b) { return b == 0; })) {
    position = stream.size();
    tag = DcmTag();
    return true;
  }
  auto headerError = [&] {
    WriteLog("ERROR: BufData::ReadTag, (" + Hex4(tag.group) + "," + Hex4(tag.element) +
             ") tag->length=" + std::to_string(tag.length) +
             ", MS Size=" + std::to_string(static_cast<int64_t>(stream.size())) +
             ", MS Pos=" + std::to_string(static_cast<int64_t>(position)));
    return false;
  };
  if (!Read16(tag.group) || !Read16(tag.element)) return headerError();

  const bool elementExplicit = (tag.group == 0x0002 && metaExplicit) ? true : explicitVR;
  bool lengthRead = false;
  if (tag.group != 0x0000 && tag.group != 0xFFFE && elementExplicit) {
    if (Remaining() < 2) return headerError();
    const uint8_t first = stream[position];
    const uint8_t second = stream[position + 1];
    position += 2;
    if (!explicitVR) {
      LookupVR(tag);
    } else if (first < 0x41 || second < 0x41) {
      // Not a VR: these bytes start a 32-bit implicit-VR length.
      position -= 2;
      if (!Read32(tag.length)) return headerError();
      LookupVR(tag);
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

  if (tag.length == 0 || tag.length == kUndefinedLength) return true;

  const size_t available = std::min<size_t>(Remaining(), tag.length);
  if (tag.length - available > kMaxMissingBytes) {
    WriteLog("ERROR, BufData::ReadTag, assigning memory to tag->data");
    return false;
  }
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[tag.length]);
  if (!buffer) {
    WriteLog("ERROR, BufData::ReadTag, assigning memory to tag->data");
    return false;
  }
  std::memcpy(buffer.get(), stream.data() + position, available);
  position += available;
  if (available < tag.length) {
    // The bytes that are not there read as zeros.
    std::memset(buffer.get() + available, 0, tag.length - available);
    ++shortReads;
    WriteLog("WARNING, BufData::ReadTag, read bytes!=tag->length (" + Hex4(tag.group) + "," +
             Hex4(tag.element) + ") count=" + std::to_string(static_cast<int64_t>(available)) +
             ", tag->length=" + std::to_string(tag.length));
  }
  tag.value = std::move(buffer);
  return true;
}

bool BufData::WriteTag(const DcmTag& tag, bool explicitVR) {
  const bool writesVR = tag.group != 0x0000 && tag.group != 0xFFFE && explicitVR;
  const bool longLength = HasLongLength(tag.vr);
  if (writesVR && !longLength && tag.length > 0xFFFF) {
    WriteLog("ERROR, BufData::WriteTag, value too long for a 2-byte length (" + Hex4(tag.group) +
             "," + Hex4(tag.element) + ") VR=" + std::string(tag.VR()) +
             ", tag->length=" + std::to_string(tag.length));
    return false;
  }
  Write16(tag.group);
  Write16(tag.element);
  if (writesVR) {
    stream.push_back(static_cast<uint8_t>(tag.vr[0]));
    stream.push_back(static_cast<uint8_t>(tag.vr[1]));
    if (longLength) {
      Write16(0);
      Write32(tag.length);
    } else {
      Write16(static_cast<uint16_t>(tag.length));
    }
  } else {
    Write32(tag.length);
  }
  if (tag.length != 0 && tag.length != kUndefinedLength) {
    if (tag.value) {
      WriteBytes(tag.value.get(), tag.length);
    } else {
      stream.resize(stream.size() + tag.length, 0);
    }
  }
  return true;
}

bool BufData::ReadDataSet(DcmObj& dataSet) {
  return ReadDataSetAtDepth(dataSet, 0);
}

bool BufData::ReadDataSetAtDepth(DcmObj& dataSet, int depth) {
  bool pixelData = false;
  while (position < stream.size()) {
    auto tag = std::make_unique<DcmTag>();
    if (!ReadTag(*tag, dataSet.explicitVR, false)) return false;
    if (tag->group == 0 && tag->element == 0 && tag->length == 0) return true;
    tag->bigEndian = bigEndian;
    if (!dataSet.explicitVR) ApplyImplicitVR(*tag);
    if (tag->Is(0x7FE0, 0x0010)) {
      dataSet.Append(std::move(tag));
      pixelData = true;
    } else if (IsExpandable(*tag) && !pixelData) {
      if (!ExpandInto(dataSet, *tag, depth + 1)) return false;
    } else if (tag->group != 0x0002) {
      dataSet.Append(std::move(tag));
    }
  }
  return true;
}

bool BufData::ExpandInto(DcmObj& parent, DcmTag& tag, int depth) {
  if (depth > kMaxSequenceDepth) {
    WriteLog("ERROR, Expand_SQ: sequences nested deeper than " + std::to_string(kMaxSequenceDepth) +
             " levels");
    return false;
  }
  auto nested = std::make_unique<DcmObj>();
  nested->explicitVR = parent.explicitVR;
  nested->bigEndian = parent.bigEndian;
  if (!Expand_SQ(*nested, tag, depth)) return false;
  nested->header.group = tag.group;
  nested->header.element = tag.element;
  nested->header.length = tag.length;
  if (tag.group != 0xFFFE && tag.element != 0xE000) nested->header.SetVR("SQ");
  parent.Append(std::move(nested));
  return true;
}

bool BufData::Expand_SQ(DcmObj& nested, const DcmTag& tag, int depth) {
  BufData local(nested.bigEndian);
  if (tag.HasValue()) local.stream.assign(tag.value.get(), tag.value.get() + tag.length);
  // Fragments of encapsulated pixel data inside an item (an icon image) are items too, but they
  // hold compressed bytes, not data sets.
  bool encapsulatedPixels = false;
  while (local.position < local.stream.size()) {
    auto element = std::make_unique<DcmTag>();
    if (!local.ReadTag(*element, nested.explicitVR, true)) {
      WriteLog("ERROR, Expand_SQ: Reading tag...");
      return false;
    }
    element->bigEndian = local.bigEndian;
    if (!nested.explicitVR) ApplyImplicitVR(*element);
    if (element->Is(0x7FE0, 0x0010) && element->HasUndefinedLength()) encapsulatedPixels = true;
    if (element->Is(0xFFFE, 0xE0DD)) encapsulatedPixels = false;
    if (IsExpandable(*element) && !encapsulatedPixels) {
      if (!local.ExpandInto(nested, *element, depth + 1)) return false;
    } else {
      nested.Append(std::move(element));
    }
  }
  shortReads += local.shortReads;
  return true;
}

bool BufData::WriteEntries(DcmObj& dataSet) {
  for (DcmEntry& entry : dataSet.entries) {
    if (entry.tag) {
      if (!WriteTag(*entry.tag, dataSet.explicitVR)) return false;
      continue;
    }
    DcmObj& nested = *entry.obj;
    nested.explicitVR = dataSet.explicitVR;
    nested.bigEndian = bigEndian;
    if (!EncodeNested(nested)) return false;
    const bool written = WriteTag(nested.header, dataSet.explicitVR);
    nested.header.value.reset();
    if (!written) return false;
  }
  return true;
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

void BufData::WriteMetaHeader(const std::string& sopClassUid, const std::string& sopInstanceUid,
                              const std::string& transferSyntaxUid) {
  const size_t start = stream.size();
  stream.resize(start + 128, 0);
  WriteBytes("DICM", 4);
  const uint8_t version[2] = {0x00, 0x01};
  const std::string implementationUid = std::string(kOrganisationUidRoot) + ".999";
  static constexpr char kVersionName[12] = {'B', 'r', 'i', 'n', 'd', 'l',
                                            'e', 'w', 'i', 'c', 'k', 0};
  auto uid = [](uint16_t element, const std::string& text) {
    return DcmTag::FromBytes(0x0002, element, static_cast<uint32_t>(text.size()), text.data(),
                             "UI");
  };
  WriteTag(*DcmTag::FromUL(0x0002, 0x0000, 0, "UL"), true);
  WriteTag(*DcmTag::FromBytes(0x0002, 0x0001, 2, version, "OB"), true);
  WriteTag(*uid(0x0002, sopClassUid), true);
  WriteTag(*uid(0x0003, sopInstanceUid), true);
  WriteTag(*uid(0x0010, transferSyntaxUid), true);
  WriteTag(*uid(0x0012, implementationUid), true);
  WriteTag(*DcmTag::FromBytes(0x0002, 0x0013, sizeof kVersionName, kVersionName, "SH"), true);
  const uint32_t groupLength = static_cast<uint32_t>(stream.size() - (start + 144));
  for (int i = 0; i < 4; ++i)
    stream[start + 140 + i] = static_cast<uint8_t>(groupLength >> (8 * i));
}

bool BufData::SaveToFile(const std::string& path) const {
  if (stream.empty()) {
    WriteLog("ERROR, BufData::SaveToFile, ms->Size==0");
    return false;
  }
  // Written beside the target and renamed over it, so a failed write never leaves a partial
  // file where a good one was.
  const std::string partial = path + ".part";
  std::FILE* file = std::fopen(partial.c_str(), "wb");
  if (file == nullptr) {
    WriteLog("ERROR, BufData::SaveToFile, Cannot create file \"" + path + "\". " +
             std::strerror(errno));
    return false;
  }
  const bool written = std::fwrite(stream.data(), 1, stream.size(), file) == stream.size();
  const int writeErrno = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::remove(partial.c_str());
    WriteLog("ERROR, BufData::SaveToFile, Error writing file \"" + path + "\". " +
             std::strerror(written ? errno : writeErrno));
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

bool BufData::LoadFromFile(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  position = 0;
  shortReads = 0;
  stream.clear();
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  bool failed = size < 0;
  if (!failed) {
    stream.resize(static_cast<size_t>(size));
    failed = std::fread(stream.data(), 1, stream.size(), file) != stream.size();
  }
  std::fclose(file);
  if (failed) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}
