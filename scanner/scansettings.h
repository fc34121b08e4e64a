// The scanner settings chosen in the configuration dialog: in memory for the run only.
#pragma once

#include <string>

// Values of ScanIntent.
inline constexpr int kScanIntentColor = 1;
inline constexpr int kScanIntentGray = 2;

// Colour or grey for the next scan; read and written on the window thread (a scan takes a copy).
extern int ScanIntent;
// Dots per inch for the next scan: 100, 150, 200 or 300.
extern int ScanResolution;

// The configuration dialog's choices: "Color" (anything else is grey) and the resolution text
// ("100" when it is not a number).
void ApplyScanConfiguration(const std::string& intentText, const std::string& resolutionText);

// Back to grey at 100 dots per inch, as at start.
void ResetScanSettings();
