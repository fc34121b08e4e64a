// Dictionary lookups over the generated table.
#include "dictionary.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "dcmtag.h"

namespace {

#include "dictionary_table.inc"  // constexpr DictionaryRow kDictionary[]

// Rows sorted by tag, keeping the first of any duplicates, so a binary search returns what a scan
// from the first row would.
const std::vector<const DictionaryRow*>& SortedRows() {
  static const std::vector<const DictionaryRow*> rows = [] {
    std::vector<const DictionaryRow*> sorted;
    sorted.reserve(std::size(kDictionary));
    for (const DictionaryRow& row : kDictionary) sorted.push_back(&row);
    std::stable_sort(
        sorted.begin(), sorted.end(), [](const DictionaryRow* a, const DictionaryRow* b) {
          return (uint32_t{a->group} << 16 | a->element) < (uint32_t{b->group} << 16 | b->element);
        });
    return sorted;
  }();
  return rows;
}

}  // namespace

std::span<const DictionaryRow> DictionaryRows() {
  return kDictionary;
}

const DictionaryRow* FindDictionaryRow(uint16_t group, uint16_t element) {
  const auto& rows = SortedRows();
  const uint32_t key = uint32_t{group} << 16 | element;
  auto found =
      std::lower_bound(rows.begin(), rows.end(), key, [](const DictionaryRow* row, uint32_t k) {
        return (uint32_t{row->group} << 16 | row->element) < k;
      });
  if (found == rows.end() || (*found)->group != group || (*found)->element != element)
    return nullptr;
  return *found;
}

bool LookupVR(DcmTag& tag) {
  const DictionaryRow* row = FindDictionaryRow(tag.group, tag.element);
  tag.SetVR(row ? row->vr : "UN");
  return row != nullptr;
}

const char* ImplicitVR(uint16_t group, uint16_t element) {
  // Each group of a repeating series holds the same attributes as its first one.
  const bool repeating = (group & 1) == 0 && ((group >= 0x5000 && group <= 0x501E) ||
                                              (group >= 0x6000 && group <= 0x601E));
  if (const DictionaryRow* row =
          FindDictionaryRow(repeating ? static_cast<uint16_t>(group & 0xFF00) : group, element)) {
    return row->vr;
  }
  const bool privateCreator = (group & 1) != 0 && group > 0x0008 && group != 0xFFFF &&
                              element >= 0x0010 && element <= 0x00FF;
  return privateCreator ? "LO" : "UN";
}

bool LookupImplicitVR(DcmTag& tag) {
  tag.SetVR(ImplicitVR(tag.group, tag.element));
  return !tag.IsVR("UN");
}

std::string_view LookupName(const DcmTag& tag) {
  const DictionaryRow* row = FindDictionaryRow(tag.group, tag.element);
  return row ? std::string_view(row->name) : std::string_view("*** Unidentified ***");
}
