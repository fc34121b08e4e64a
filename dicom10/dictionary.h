// The data dictionary: VR and name of every standard tag the toolkit knows.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

class DcmTag;

struct DictionaryRow {
  uint16_t group;
  uint16_t element;
  char vr[4];        // two upper-case letters and two zero bytes
  const char* name;  // Windows-1252 text
};

// The whole table in its stored order (without the end row).
std::span<const DictionaryRow> DictionaryRows();

// The row of (group, element), or nullptr. Returns the same row a scan from the first row would.
const DictionaryRow* FindDictionaryRow(uint16_t group, uint16_t element);

// Sets the tag's VR to the dictionary's, or "UN" when the tag is unknown; true when found.
bool LookupVR(DcmTag& tag);

// The dictionary name of the tag, or "*** Unidentified ***". The tag is not changed.
std::string_view LookupName(const DcmTag& tag);
