// The device options a user prepares a scan with (source, mode, page area) and how the scanner
// settings override colour mode and resolution.
#pragma once

#include <sane/sane.h>

#include <string>
#include <vector>

#include "scanstatus.h"

// A string option with a list of allowed values (source, mode).
struct ChoiceSetting {
  bool available = false;  // the device has the option, active and settable
  std::vector<std::string> choices;
  std::string value;
};

// One edge of the page area, in the device's unit (millimetres for nearly every scanner).
struct LengthSetting {
  bool available = false;
  double minimum = 0;
  double maximum = 0;
  double value = 0;
  std::string unit;  // "mm", "px" or empty
};

struct DeviceMainOptions {
  ChoiceSetting source;
  ChoiceSetting mode;
  LengthSetting left;
  LengthSetting top;
  LengthSetting right;
  LengthSetting bottom;
};

// What a scan asks of the device: the options confirmed in the device's dialog, with the colour
// mode and resolution of the scanner settings taking the place of the dialog's mode.
struct ScanRequest {
  DeviceMainOptions options;
  int intent = 2;        // ScanIntent
  int resolution = 100;  // ScanResolution
};

// Reads the current source, mode and page area of an open device.
ScanResult ReadMainOptions(SANE_Handle device, DeviceMainOptions& options);

// Sets source, mode (from the intent), resolution and page area, in that order, since a new
// source or mode may change what the other options allow. The first refused value fails with
// ScanStep::SetOption. `resolutionUsed` receives the resolution the device settled on (the request
// when the device has no resolution option).
ScanResult ApplyScanRequest(SANE_Handle device, const ScanRequest& request, double& resolutionUsed);

// The device's mode for a ScanIntent: "Color" or "Gray" as SANE names them, else the first mode
// whose name says colour or grey. Empty when the device offers none.
std::string ModeForIntent(const std::vector<std::string>& modes, int intent);

// For a resolution the device offers only from a list: the listed value nearest to `wanted`.
double NearestListedResolution(const std::vector<double>& listed, double wanted);

// True for a source that feeds pages from a document feeder ("ADF", "Automatic Document
// Feeder", "ADF Duplex" ...): such a scan takes every page until the feeder is empty.
bool IsFeederSource(const std::string& source);
