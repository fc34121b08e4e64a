// Reading and setting SANE options by their well-known names.
#include "deviceoptions.h"

#include <sane/saneopts.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// The option's number, or -1 when the device has no active option of that name. Descriptors are
// looked up afresh on every call, since any control call may have made the device reload them.
SANE_Int FindOption(DeviceOptionProvider& device, const char* name,
                    const SANE_Option_Descriptor** found) {
  SANE_Int count = 0;
  const SANE_Option_Descriptor* first = device.Descriptor(0);
  if (first == nullptr || first->type != SANE_TYPE_INT ||
      device.Control(0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) {
    return -1;
  }
  for (SANE_Int index = 1; index < count; ++index) {
    const SANE_Option_Descriptor* descriptor = device.Descriptor(index);
    if (descriptor == nullptr || descriptor->name == nullptr) continue;
    if (std::strcmp(descriptor->name, name) != 0) continue;
    if (!SANE_OPTION_IS_ACTIVE(descriptor->cap)) return -1;
    *found = descriptor;
    return index;
  }
  return -1;
}

bool IsSettable(const SANE_Option_Descriptor& descriptor) {
  return SANE_OPTION_IS_SETTABLE(descriptor.cap) && !(descriptor.cap & SANE_CAP_INACTIVE);
}

// A one-word numeric option (integer or fixed point).
bool IsNumber(const SANE_Option_Descriptor& descriptor) {
  return (descriptor.type == SANE_TYPE_INT || descriptor.type == SANE_TYPE_FIXED) &&
         descriptor.size == static_cast<SANE_Int>(sizeof(SANE_Word));
}

double WordToNumber(const SANE_Option_Descriptor& descriptor, SANE_Word word) {
  return descriptor.type == SANE_TYPE_FIXED ? SANE_UNFIX(word) : static_cast<double>(word);
}

// Saturates at the word's range: a value beyond it must not wrap into a different number.
SANE_Word NumberToWord(const SANE_Option_Descriptor& descriptor, double value) {
  const double scaled = descriptor.type == SANE_TYPE_FIXED
                            ? value * double(1 << SANE_FIXED_SCALE_SHIFT)  // as SANE_FIX does
                            : std::round(value);
  constexpr SANE_Word lowest = std::numeric_limits<SANE_Word>::min();
  constexpr SANE_Word highest = std::numeric_limits<SANE_Word>::max();
  if (!(scaled > double(lowest))) return lowest;  // NaN too
  if (scaled >= double(highest)) return highest;
  return static_cast<SANE_Word>(scaled);
}

ScanResult ReadFailure(SANE_Status status) {
  return ScanResult::Failure(ScanStep::ReadOptions, static_cast<uint32_t>(status));
}

ScanResult SetFailure(SANE_Status status) {
  return ScanResult::Failure(ScanStep::SetOption, static_cast<uint32_t>(status));
}

ScanResult ReadChoice(DeviceOptionProvider& device, const char* name, ChoiceSetting& setting) {
  setting = {};
  const SANE_Option_Descriptor* descriptor = nullptr;
  const SANE_Int index = FindOption(device, name, &descriptor);
  if (index < 0 || descriptor->type != SANE_TYPE_STRING || descriptor->size <= 0 ||
      descriptor->constraint_type != SANE_CONSTRAINT_STRING_LIST || !IsSettable(*descriptor)) {
    return {};
  }
  std::vector<char> value(static_cast<size_t>(descriptor->size) + 1, '\0');
  const SANE_Status status = device.Control(index, SANE_ACTION_GET_VALUE, value.data(), nullptr);
  if (status != SANE_STATUS_GOOD) return ReadFailure(status);
  for (const SANE_String_Const* choice = descriptor->constraint.string_list;
       choice != nullptr && *choice != nullptr; ++choice) {
    setting.choices.emplace_back(*choice);
  }
  setting.value = value.data();
  setting.available = true;
  return {};
}

ScanResult ReadLength(DeviceOptionProvider& device, const char* name, LengthSetting& setting) {
  setting = {};
  const SANE_Option_Descriptor* descriptor = nullptr;
  const SANE_Int index = FindOption(device, name, &descriptor);
  if (index < 0 || !IsNumber(*descriptor) || !IsSettable(*descriptor)) return {};
  SANE_Word word = 0;
  const SANE_Status status = device.Control(index, SANE_ACTION_GET_VALUE, &word, nullptr);
  if (status != SANE_STATUS_GOOD) return ReadFailure(status);
  setting.value = WordToNumber(*descriptor, word);
  setting.minimum = setting.maximum = setting.value;
  if (descriptor->constraint_type == SANE_CONSTRAINT_RANGE &&
      descriptor->constraint.range != nullptr) {
    setting.minimum = WordToNumber(*descriptor, descriptor->constraint.range->min);
    setting.maximum = WordToNumber(*descriptor, descriptor->constraint.range->max);
  } else if (descriptor->constraint_type == SANE_CONSTRAINT_WORD_LIST &&
             descriptor->constraint.word_list != nullptr) {
    const SANE_Word* list = descriptor->constraint.word_list;
    for (SANE_Word i = 1; i <= list[0]; ++i) {
      setting.minimum = std::min(setting.minimum, WordToNumber(*descriptor, list[i]));
      setting.maximum = std::max(setting.maximum, WordToNumber(*descriptor, list[i]));
    }
  } else {
    setting.minimum = -1e6;
    setting.maximum = 1e6;
  }
  setting.unit = descriptor->unit == SANE_UNIT_MM      ? "mm"
                 : descriptor->unit == SANE_UNIT_PIXEL ? "px"
                                                       : "";
  setting.available = true;
  return {};
}

SANE_Status SetString(DeviceOptionProvider& device, const char* name, const std::string& text) {
  const SANE_Option_Descriptor* descriptor = nullptr;
  const SANE_Int index = FindOption(device, name, &descriptor);
  if (index < 0 || descriptor->type != SANE_TYPE_STRING || descriptor->size <= 0 ||
      !IsSettable(*descriptor)) {
    return SANE_STATUS_UNSUPPORTED;
  }
  if (text.size() >= static_cast<size_t>(descriptor->size)) return SANE_STATUS_INVAL;
  std::vector<char> value(static_cast<size_t>(descriptor->size), '\0');
  std::memcpy(value.data(), text.data(), text.size());
  SANE_Int info = 0;
  return device.Control(index, SANE_ACTION_SET_VALUE, value.data(), &info);
}

// Sets one edge of the page area, clamped to the limits the device gives it at this moment. An
// edge the device does not offer now is left alone. What the device settles on is read back by
// the caller.
ScanResult SetEdge(DeviceOptionProvider& device, const char* name, double wanted) {
  LengthSetting now;
  if (ScanResult result = ReadLength(device, name, now); !result.Ok()) return result;
  const SANE_Option_Descriptor* descriptor = nullptr;
  const SANE_Int index = FindOption(device, name, &descriptor);
  if (!now.available || index < 0) return {};
  SANE_Word word = NumberToWord(*descriptor, ClampToLimits(now, wanted));
  SANE_Int info = 0;
  const SANE_Status status = device.Control(index, SANE_ACTION_SET_VALUE, &word, &info);
  return status == SANE_STATUS_GOOD ? ScanResult{} : SetFailure(status);
}

// Sets one axis of the page area (left and right, or top and bottom). Some backends refuse a
// start that lies beyond the current end, so when the new start reaches the device's present
// end, the end moves first.
ScanResult SetAxis(DeviceOptionProvider& device, const char* startName, const LengthSetting& start,
                   const char* endName, const LengthSetting& end) {
  LengthSetting startNow;
  LengthSetting endNow;
  if (ScanResult result = ReadLength(device, startName, startNow); !result.Ok()) return result;
  if (ScanResult result = ReadLength(device, endName, endNow); !result.Ok()) return result;
  const bool endFirst = start.available && startNow.available && endNow.available &&
                        ClampToLimits(startNow, start.value) >= endNow.value;
  const std::pair<const char*, const LengthSetting*> order[] = {
      endFirst ? std::pair{endName, &end} : std::pair{startName, &start},
      endFirst ? std::pair{startName, &start} : std::pair{endName, &end},
  };
  for (const auto& [name, edge] : order) {
    if (!edge->available) continue;
    if (ScanResult result = SetEdge(device, name, edge->value); !result.Ok()) return result;
  }
  return {};
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool Contains(const std::string& text, const char* part) {
  return Lower(text).find(part) != std::string::npos;
}

// Sets the resolution option, choosing from the device's list when it has one, and reads back
// what the device settled on.
ScanResult SetResolution(DeviceOptionProvider& device, int wanted, double& resolutionUsed) {
  resolutionUsed = wanted;
  const SANE_Option_Descriptor* descriptor = nullptr;
  SANE_Int index = FindOption(device, SANE_NAME_SCAN_RESOLUTION, &descriptor);
  if (index < 0) return {};
  if (!IsNumber(*descriptor) || !IsSettable(*descriptor)) {
    return SetFailure(SANE_STATUS_UNSUPPORTED);
  }
  double value = wanted;
  if (descriptor->constraint_type == SANE_CONSTRAINT_WORD_LIST &&
      descriptor->constraint.word_list != nullptr && descriptor->constraint.word_list[0] > 0) {
    std::vector<double> listed;
    for (SANE_Word i = 1; i <= descriptor->constraint.word_list[0]; ++i) {
      listed.push_back(WordToNumber(*descriptor, descriptor->constraint.word_list[i]));
    }
    value = NearestListedResolution(listed, wanted);
  }
  SANE_Word word = NumberToWord(*descriptor, value);
  SANE_Int info = 0;
  SANE_Status status = device.Control(index, SANE_ACTION_SET_VALUE, &word, &info);
  if (status != SANE_STATUS_GOOD) return SetFailure(status);
  index = FindOption(device, SANE_NAME_SCAN_RESOLUTION, &descriptor);
  if (index < 0 || !IsNumber(*descriptor)) return {};
  status = device.Control(index, SANE_ACTION_GET_VALUE, &word, nullptr);
  if (status != SANE_STATUS_GOOD) return ReadFailure(status);
  resolutionUsed = WordToNumber(*descriptor, word);
  return {};
}

bool Offers(const ChoiceSetting& setting, const std::string& value) {
  return std::find(setting.choices.begin(), setting.choices.end(), value) != setting.choices.end();
}

}  // namespace

const SANE_Option_Descriptor* SaneOptionProvider::Descriptor(SANE_Int option) {
  return sane_get_option_descriptor(device_, option);
}

SANE_Status SaneOptionProvider::Control(SANE_Int option, SANE_Action action, void* value,
                                        SANE_Int* info) {
  return sane_control_option(device_, option, action, value, info);
}

ScanResult ReadMainOptions(DeviceOptionProvider& device, DeviceMainOptions& options) {
  options = {};
  for (ScanResult result : {ReadChoice(device, SANE_NAME_SCAN_SOURCE, options.source),
                            ReadChoice(device, SANE_NAME_SCAN_MODE, options.mode),
                            ReadLength(device, SANE_NAME_SCAN_TL_X, options.left),
                            ReadLength(device, SANE_NAME_SCAN_TL_Y, options.top),
                            ReadLength(device, SANE_NAME_SCAN_BR_X, options.right),
                            ReadLength(device, SANE_NAME_SCAN_BR_Y, options.bottom)}) {
    if (!result.Ok()) return result;
  }
  return {};
}

ScanResult ReadMainOptions(SANE_Handle device, DeviceMainOptions& options) {
  SaneOptionProvider provider(device);
  return ReadMainOptions(provider, options);
}

double ClampToLimits(const LengthSetting& setting, double value) {
  return std::max(setting.minimum, std::min(value, setting.maximum));
}

ScanResult ChangeSource(DeviceOptionProvider& device, const std::string& source,
                        DeviceMainOptions& options) {
  const SANE_Status status = SetString(device, SANE_NAME_SCAN_SOURCE, source);
  // Read again whatever the device answered and whether or not it asked for a reload: not every
  // backend reports SANE_INFO_RELOAD_OPTIONS when a new source changes the ranges, and after a
  // refusal the dialog has to show the source still in force.
  DeviceMainOptions read;
  if (ScanResult result = ReadMainOptions(device, read); !result.Ok()) {
    if (status == SANE_STATUS_GOOD) options.source.value = source;
    return status == SANE_STATUS_GOOD ? result : SetFailure(status);
  }
  DeviceMainOptions merged = read;
  if (merged.mode.available && options.mode.available && Offers(merged.mode, options.mode.value)) {
    merged.mode.value = options.mode.value;
  }
  const std::pair<const LengthSetting*, LengthSetting*> edges[] = {
      {&options.left, &merged.left},
      {&options.top, &merged.top},
      {&options.right, &merged.right},
      {&options.bottom, &merged.bottom},
  };
  for (const auto& [shown, now] : edges) {
    if (shown->available && now->available) now->value = ClampToLimits(*now, shown->value);
  }
  options = std::move(merged);
  return status == SANE_STATUS_GOOD ? ScanResult{} : SetFailure(status);
}

ScanResult ApplyScanRequest(DeviceOptionProvider& device, const ScanRequest& request,
                            AppliedScanRequest& applied) {
  applied = {};
  applied.resolution = request.resolution;
  const DeviceMainOptions& options = request.options;
  if (options.source.available) {
    const SANE_Status status = SetString(device, SANE_NAME_SCAN_SOURCE, options.source.value);
    if (status != SANE_STATUS_GOOD) return SetFailure(status);
  }
  // The mode comes from the scanner settings; the device is read again because a new source can
  // change the modes on offer.
  ChoiceSetting mode;
  if (ScanResult result = ReadChoice(device, SANE_NAME_SCAN_MODE, mode); !result.Ok()) {
    return result;
  }
  if (mode.available) {
    const std::string wanted = ModeForIntent(mode.choices, request.intent);
    if (wanted.empty()) return SetFailure(SANE_STATUS_UNSUPPORTED);
    const SANE_Status status = SetString(device, SANE_NAME_SCAN_MODE, wanted);
    if (status != SANE_STATUS_GOOD) return SetFailure(status);
  }
  if (ScanResult result = SetResolution(device, request.resolution, applied.resolution);
      !result.Ok()) {
    return result;
  }
  // The page area last, within the limits of the source and mode now in force.
  if (ScanResult result =
          SetAxis(device, SANE_NAME_SCAN_TL_X, options.left, SANE_NAME_SCAN_BR_X, options.right);
      !result.Ok()) {
    return result;
  }
  if (ScanResult result =
          SetAxis(device, SANE_NAME_SCAN_TL_Y, options.top, SANE_NAME_SCAN_BR_Y, options.bottom);
      !result.Ok()) {
    return result;
  }
  return ReadMainOptions(device, applied.options);
}

ScanResult ApplyScanRequest(SANE_Handle device, const ScanRequest& request,
                            double& resolutionUsed) {
  SaneOptionProvider provider(device);
  AppliedScanRequest applied;
  const ScanResult result = ApplyScanRequest(provider, request, applied);
  resolutionUsed = applied.resolution;
  return result;
}

std::string ModeForIntent(const std::vector<std::string>& modes, int intent) {
  const bool color = intent == 1;
  const char* exact = color ? SANE_VALUE_SCAN_MODE_COLOR : SANE_VALUE_SCAN_MODE_GRAY;
  for (const std::string& mode : modes) {
    if (mode == exact) return mode;
  }
  for (const std::string& mode : modes) {
    if (color ? (Contains(mode, "color") || Contains(mode, "colour"))
              : (Contains(mode, "gray") || Contains(mode, "grey"))) {
      return mode;
    }
  }
  return "";
}

double NearestListedResolution(const std::vector<double>& listed, double wanted) {
  double best = wanted;
  double bestDistance = -1;
  for (double value : listed) {
    const double distance = std::fabs(value - wanted);
    if (bestDistance < 0 || distance < bestDistance) {
      best = value;
      bestDistance = distance;
    }
  }
  return best;
}

bool IsFeederSource(const std::string& source) {
  return Contains(source, "adf") || Contains(source, "feeder") || Contains(source, "duplex");
}
