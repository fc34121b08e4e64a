// Scanner settings and the configuration dialog's rule for them.
#include "scansettings.h"

#include <charconv>

int ScanIntent = kScanIntentGray;
int ScanResolution = 100;

void ApplyScanConfiguration(const std::string& intentText, const std::string& resolutionText) {
  ScanIntent = intentText == "Color" ? kScanIntentColor : kScanIntentGray;
  int resolution = 0;
  const char* end = resolutionText.data() + resolutionText.size();
  const auto [stop, error] = std::from_chars(resolutionText.data(), end, resolution);
  ScanResolution = (error == std::errc() && stop == end && resolution > 0) ? resolution : 100;
}

void ResetScanSettings() {
  ScanIntent = kScanIntentGray;
  ScanResolution = 100;
}
