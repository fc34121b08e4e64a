// What the readers of a server's answer build their data sets from.
#include "answerelements.h"

#include "syntaxes.h"

bool IsPlainTextVR(std::string_view vr) {
  static constexpr std::string_view kTextVRs[] = {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO",
                                                  "LT", "SH", "ST", "TM", "UC", "UI", "UR", "UT"};
  for (std::string_view text : kTextVRs) {
    if (vr == text) return true;
  }
  return false;
}

std::unique_ptr<DcmObj> NewSequence(uint16_t group, uint16_t element) {
  auto sequence = std::make_unique<DcmObj>();
  sequence->explicitVR = true;
  sequence->header.group = group;
  sequence->header.element = element;
  sequence->header.SetVR("SQ");
  return sequence;
}

std::unique_ptr<DcmObj> NewSequenceItem() {
  auto item = std::make_unique<DcmObj>();
  item->SetTransferSyntax(kExplicitVRLittleEndian);
  item->header.group = 0xFFFE;
  item->header.element = 0xE000;
  return item;
}
