// A DICOM data set: an ordered list of elements and nested data sets (sequences and items).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dcmtag.h"
#include "syntaxes.h"

class DcmObj;

// One entry of a data set: exactly one of the two pointers is set.
struct DcmEntry {
  std::unique_ptr<DcmTag> tag;
  std::unique_ptr<DcmObj> obj;
};

class DcmObj {
 public:
  std::vector<DcmEntry> entries;
  std::string transferSyntax = kImplicitVRLittleEndian;
  std::string photometric;  // working copy of (0028,0004) during transfer-syntax conversion
  bool explicitVR = false;
  bool bigEndian = false;
  // For a nested data set: the sequence tag (VR "SQ") or the item tag (FFFE,E000). Its length and
  // value are scratch space of the encoder.
  DcmTag header;

  DcmObj() = default;
  DcmObj(const DcmObj&) = delete;
  DcmObj& operator=(const DcmObj&) = delete;
  // Virtual: reports (DcmSRObj) are owned and destroyed through DcmObj pointers.
  virtual ~DcmObj();

  size_t Count() const { return entries.size(); }
  // The element at `index`, or nullptr when that entry is a nested data set.
  DcmTag* TagAt(size_t index) const { return entries[index].tag.get(); }
  // The nested data set at `index`, or nullptr when that entry is an element.
  DcmObj* ObjAt(size_t index) const { return entries[index].obj.get(); }
  // "DcmTag" or "DcmObj", naming what the entry holds.
  const char* EntryKind(size_t index) const;
  // The tag of an entry: the element itself or the nested data set's header tag.
  const DcmTag& EntryTag(size_t index) const;

  // Ordered insert at depth 0; replaces the value of an element already there (keeping its VR).
  void Add(std::unique_ptr<DcmTag> tag);
  void AddString(uint16_t group, uint16_t element, std::string_view text);
  void AddBytes(uint16_t group, uint16_t element, uint32_t length, const void* bytes);
  // Inserts a nested data set by tag order; never replaces an existing entry.
  void AddSequence(uint16_t group, uint16_t element, std::unique_ptr<DcmObj> nested);
  // Adds as the last entry, with no ordering and no replacement.
  void Append(std::unique_ptr<DcmTag> tag);
  void Append(std::unique_ptr<DcmObj> nested);

  // The first top-level element with this tag, outside flat sequences; nullptr when none.
  DcmTag* FindTag(uint16_t group, uint16_t element) const;
  // Index of what FindTag finds, or -1.
  long FindIndex(uint16_t group, uint16_t element) const;
  uint16_t GetUS(uint16_t group, uint16_t element) const;
  std::string GetString(uint16_t group, uint16_t element) const;

  void Delete(size_t index);
  void Clear();

  // Appends one readable line per entry, recursing into nested data sets.
  void Dump(std::vector<std::string>& lines, int depth = 0) const;

  // Writes the data set as a Part 10 file in its transfer syntax.
  bool SaveToFile(const std::string& path, const std::string& sopClassUid,
                  const std::string& sopInstanceUid);

  // Sets explicitVR and bigEndian from a transfer syntax UID and records it.
  void SetTransferSyntax(const std::string& uid);
};

// The readable line for one element (no trailing line feed).
std::string DumpLine(const DcmTag& tag, int depth);
