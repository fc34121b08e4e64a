// Codes of failed acquisitions.
#include "scanstatus.h"

#include <sane/sane.h>

#include <cstdio>

bool ScanResult::Cancelled() const {
  return step != ScanStep::None && step != ScanStep::WriteBitmap &&
         reason == static_cast<uint32_t>(SANE_STATUS_CANCELLED);
}

uint32_t ScanResult::Code() const {
  if (Ok()) return 0;
  return 0xA0000000u | ((static_cast<uint32_t>(step) & 0xFFFu) << 16) | (reason & 0xFFFFu);
}

std::string FormatScanCode(uint32_t code) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", code);
  return text;
}

std::string AcquisitionErrorMessage(const ScanResult& result) {
  return "ERROR, acquiring image: " + FormatScanCode(result.Code());
}
