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

// The VR of an element read or built without one (implicit VR): the dictionary's; for the
// repeating curve and overlay groups 50xx and 60xx that of group 5000 or 6000, which alone have
// rows; "LO" for a private creator (gggg,0010-00FF of an odd group); "UN" otherwise. Written in
// explicit VR, such elements then carry the VR every reader expects, and their numbers follow
// the byte order they are written in.
const char* ImplicitVR(uint16_t group, uint16_t element);
// Sets the tag's VR to ImplicitVR; true unless that is "UN".
bool LookupImplicitVR(DcmTag& tag);

// The dictionary name of the tag, or "*** Unidentified ***". The tag is not changed.
std::string_view LookupName(const DcmTag& tag);
