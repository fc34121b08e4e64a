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

// What the device settled on when a scan request was set, read back from it: a backend may round
// a value (SANE_INFO_INEXACT) or clamp it to its limits.
struct AppliedScanRequest {
  double resolution = 100;    // the request's when the device has no resolution option
  DeviceMainOptions options;  // source, mode and page area as the device holds them now
};

// The option calls of one open device, as SANE defines them. The option logic below goes through
// this, so that it also runs against devices SANE's test backend cannot imitate.
class DeviceOptionProvider {
 public:
  virtual ~DeviceOptionProvider() = default;
  // sane_get_option_descriptor: nullptr for an option the device does not have. The descriptor's
  // contents may change after a control call that reports SANE_INFO_RELOAD_OPTIONS.
  virtual const SANE_Option_Descriptor* Descriptor(SANE_Int option) = 0;
  // sane_control_option.
  virtual SANE_Status Control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info) = 0;
};

// The options of a device opened through SANE.
class SaneOptionProvider final : public DeviceOptionProvider {
 public:
  explicit SaneOptionProvider(SANE_Handle device) : device_(device) {}
  const SANE_Option_Descriptor* Descriptor(SANE_Int option) override;
  SANE_Status Control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info) override;

 private:
  SANE_Handle device_;
};

// Reads the current source, mode and page area of an open device.
ScanResult ReadMainOptions(DeviceOptionProvider& device, DeviceMainOptions& options);
ScanResult ReadMainOptions(SANE_Handle device, DeviceMainOptions& options);

// Sets the source the user chose and reads the options again: with SANE a new source may bring
// other modes, another page-area range or options that are no longer active, and the backend may
// settle on another spelling of the source. `options` holds what the dialog shows; afterwards it
// holds the device's source, modes and limits, the mode shown before while it is still offered,
// and the page area shown before clamped to the new limits (an edge newly offered takes the
// device's value). A refused source fails with ScanStep::SetOption and `options` then shows the
// source still in force; when the options cannot be read again, `options` keeps the old limits
// and the failure is ScanStep::ReadOptions.
ScanResult ChangeSource(DeviceOptionProvider& device, const std::string& source,
                        DeviceMainOptions& options);

// `value` within the setting's limits.
double ClampToLimits(const LengthSetting& setting, double value);

// Sets source, mode (from the intent), resolution and page area, in that order, since a new
// source or mode may change what the other options allow. Each edge of the page area is clamped
// to the limits the device gives it once source and mode are set, and an edge the device no
// longer offers is left to the device. The first refused value fails with ScanStep::SetOption.
// `applied` receives what the device settled on.
ScanResult ApplyScanRequest(DeviceOptionProvider& device, const ScanRequest& request,
                            AppliedScanRequest& applied);
// The same on a SANE handle; `resolutionUsed` receives the resolution the device settled on.
ScanResult ApplyScanRequest(SANE_Handle device, const ScanRequest& request, double& resolutionUsed);

// The device's mode for a ScanIntent: "Color" or "Gray" as SANE names them, else the first mode
// whose name says colour or grey. Empty when the device offers none.
std::string ModeForIntent(const std::vector<std::string>& modes, int intent);

// For a resolution the device offers only from a list: the listed value nearest to `wanted`.
double NearestListedResolution(const std::vector<double>& listed, double wanted);

// True for a source that feeds pages from a document feeder ("ADF", "Automatic Document
// Feeder", "ADF Duplex" ...): such a scan takes every page until the feeder is empty.
bool IsFeederSource(const std::string& source);
