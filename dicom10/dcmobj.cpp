// The ordered operations on data sets: insert, search, delete.
#include "dcmobj.h"

#include <iterator>

namespace {

bool IsItemTag(const DcmTag& tag) {
  return tag.Is(0xFFFE, 0xE000);
}
bool IsItemDelimiter(const DcmTag& tag) {
  return tag.Is(0xFFFE, 0xE00D);
}
bool IsSequenceDelimiter(const DcmTag& tag) {
  return tag.Is(0xFFFE, 0xE0DD);
}
// True when `tag` has a lower tag number than `existing`.
bool SortsBefore(const DcmTag& tag, const DcmTag& existing) {
  return (existing.group == tag.group && existing.element > tag.element) ||
         existing.group > tag.group;
}
bool OpensFlatLevel(const DcmTag& tag) {
  return tag.HasUndefinedLength() && (tag.IsVR("SQ") || IsItemTag(tag));
}

}  // namespace

DcmObj::~DcmObj() {
  // Entries first, then the header tag, as the header is declared after them; iterative clearing
  // keeps deeply nested data from exhausting the stack in a recursive destructor chain.
  Clear();
}

const char* DcmObj::EntryKind(size_t index) const {
  return entries[index].obj ? "DcmObj" : "DcmTag";
}

const DcmTag& DcmObj::EntryTag(size_t index) const {
  const DcmEntry& entry = entries[index];
  return entry.obj ? entry.obj->header : *entry.tag;
}

void DcmObj::Add(std::unique_ptr<DcmTag> tag) {
  int depth = 0;
  bool inPixelRegion = false;
  for (size_t i = 0; i < entries.size(); ++i) {
    const DcmTag& existing = EntryTag(i);
    const bool opensLevel = OpensFlatLevel(existing);
    const bool opensPixels = existing.Is(0x7FE0, 0x0010) && existing.HasUndefinedLength();
    // A flat sequence or encapsulated pixel data at depth 0 still has its place in the order: an
    // element that sorts before it goes before it, or the data set would no longer be ascending.
    if (depth == 0 && !inPixelRegion && (opensLevel || opensPixels) &&
        SortsBefore(*tag, existing)) {
      entries.insert(entries.begin() + static_cast<long>(i), DcmEntry{std::move(tag), nullptr});
      return;
    }
    if (opensLevel) ++depth;
    if (opensPixels) inPixelRegion = true;
    if (depth == 0 && !inPixelRegion) {
      if (existing.group == tag->group && existing.element == tag->element) {
        if (entries[i].tag) {
          DcmTag& target = *entries[i].tag;
          target.value.reset();
          target.length = tag->length;
          if (tag->HasValue()) target.value = std::move(tag->value);
          target.fileValue = std::move(tag->fileValue);
          // The flag says in which order the value's bytes are, so it comes with the new value;
          // the old one's flag would make a built value read back byte-swapped.
          target.bigEndian = tag->bigEndian;
          return;
        }
        // A sequence held in nested form is replaced by the element as a whole, so the tag never
        // appears twice at depth 0.
        entries[i] = DcmEntry{std::move(tag), nullptr};
        return;
      }
      if (SortsBefore(*tag, existing)) {
        entries.insert(entries.begin() + static_cast<long>(i), DcmEntry{std::move(tag), nullptr});
        return;
      }
    }
    if (IsItemDelimiter(existing) || IsSequenceDelimiter(existing)) {
      if (depth > 0) --depth;
      if (IsSequenceDelimiter(existing)) inPixelRegion = false;
    }
  }
  entries.push_back(DcmEntry{std::move(tag), nullptr});
}

void DcmObj::AddString(uint16_t group, uint16_t element, std::string_view text) {
  Add(DcmTag::FromText(group, element, text));
}

void DcmObj::AddBytes(uint16_t group, uint16_t element, uint32_t length, const void* bytes) {
  Add(DcmTag::FromBytes(group, element, length, bytes));
}

void DcmObj::AddSequence(uint16_t group, uint16_t element, std::unique_ptr<DcmObj> nested) {
  nested->explicitVR = explicitVR;
  nested->header.group = group;
  nested->header.element = element;
  if (group != 0xFFFE && element != 0xE000) nested->header.SetVR("SQ");
  bool inFlatSequence = false;
  for (size_t i = 0; i < entries.size(); ++i) {
    const DcmTag& existing = EntryTag(i);
    if (existing.IsVR("SQ") && existing.HasUndefinedLength()) inFlatSequence = true;
    if (!inFlatSequence &&
        ((existing.group == group && existing.element > element) || existing.group > group)) {
      entries.insert(entries.begin() + static_cast<long>(i), DcmEntry{nullptr, std::move(nested)});
      return;
    }
    if (IsSequenceDelimiter(existing)) inFlatSequence = false;
  }
  entries.push_back(DcmEntry{nullptr, std::move(nested)});
}

void DcmObj::Append(std::unique_ptr<DcmTag> tag) {
  entries.push_back(DcmEntry{std::move(tag), nullptr});
}

void DcmObj::Append(std::unique_ptr<DcmObj> nested) {
  entries.push_back(DcmEntry{nullptr, std::move(nested)});
}

long DcmObj::FindIndex(uint16_t group, uint16_t element) const {
  int depth = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const DcmTag* tag = entries[i].tag.get();
    if (tag == nullptr) continue;
    if (tag->IsVR("SQ") && tag->HasUndefinedLength()) ++depth;
    if (depth == 0 && tag->group == group && tag->element == element) return static_cast<long>(i);
    if (IsSequenceDelimiter(*tag) && depth > 0) --depth;
  }
  return -1;
}

DcmTag* DcmObj::FindTag(uint16_t group, uint16_t element) const {
  const long index = FindIndex(group, element);
  return index < 0 ? nullptr : entries[static_cast<size_t>(index)].tag.get();
}

uint16_t DcmObj::GetUS(uint16_t group, uint16_t element) const {
  const DcmTag* tag = FindTag(group, element);
  return tag ? tag->GetUS() : 0;
}

std::string DcmObj::GetString(uint16_t group, uint16_t element) const {
  const DcmTag* tag = FindTag(group, element);
  return tag ? tag->GetString() : std::string();
}

void DcmObj::Delete(size_t index) {
  if (index < entries.size()) entries.erase(entries.begin() + static_cast<long>(index));
}

void DcmObj::Clear() {
  // Move nested data sets out level by level so destruction depth stays constant.
  std::vector<std::unique_ptr<DcmObj>> pending;
  for (DcmEntry& entry : entries) {
    if (entry.obj) pending.push_back(std::move(entry.obj));
  }
  entries.clear();
  while (!pending.empty()) {
    std::unique_ptr<DcmObj> nested = std::move(pending.back());
    pending.pop_back();
    for (DcmEntry& entry : nested->entries) {
      if (entry.obj) pending.push_back(std::move(entry.obj));
    }
    nested->entries.clear();
  }
}

void DcmObj::SetTransferSyntax(const std::string& uid) {
  transferSyntax = uid;
  explicitVR = uid != kImplicitVRLittleEndian;
  bigEndian = uid == kExplicitVRBigEndian;
}
