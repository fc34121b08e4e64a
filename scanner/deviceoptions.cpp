// Reading and setting SANE options by their well-known names.
#include "deviceoptions.h"

#include <sane/saneopts.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace {

// The option's number, or -1 when the device has no active option of that name.
SANE_Int FindOption(SANE_Handle device, const char* name, const SANE_Option_Descriptor** found) {
  SANE_Int count = 0;
  const SANE_Option_Descriptor* first = sane_get_option_descriptor(device, 0);
  if (first == nullptr || first->type != SANE_TYPE_INT ||
      sane_control_option(device, 0, SANE_ACTION_GET_VALUE, &count, nullptr) != SANE_STATUS_GOOD) {
    return -1;
  }
  for (SANE_Int index = 1; index < count; ++index) {
    const SANE_Option_Descriptor* descriptor = sane_get_option_descriptor(device, index);
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

SANE_Word NumberToWord(const SANE_Option_Descriptor& descriptor, double value) {
  return descriptor.type == SANE_TYPE_FIXED ? SANE_FIX(value)
                                            : static_cast<SANE_Word>(std::lround(value));
}

ScanResult ReadFailure(SANE_Status status) {
  return ScanResult::Failure(ScanStep::ReadOptions, static_cast<uint32_t>(status));
}

ScanResult SetFailure(SANE_Status status) {
  return ScanResult::Failure(ScanStep::SetOption, static_cast<uint32_t>(status));
}

ScanResult ReadChoice(SANE_Handle device, const char* name, ChoiceSetting& setting) {
  setting = {};
  const SANE_Option_Descriptor* descriptor = nullptr;
  const SANE_Int index = FindOption(device, name, &descriptor);
  if (index < 0 || descriptor->type != SANE_TYPE_STRING || descriptor->size <= 0 ||
      descriptor->constraint_type != SANE_CONSTRAINT_STRING_LIST || !IsSettable(*descriptor)) {
    return {};
  }
  std::vector<char> value(static_cast<size_t>(descriptor->size) + 1, '\0');
  const SANE_Status status =
      sane_control_option(device, index, SANE_ACTION_GET_VALUE, value.data(), nullptr);
  if (status != SANE_STATUS_GOOD) return ReadFailure(status);
  for (const SANE_String_Const* choice = descriptor->constraint.string_list;
       choice != nullptr && *choice != nullptr; ++choice) {
    setting.choices.emplace_back(*choice);
  }
  setting.value = value.data();
  setting.available = true;
  return {};
}

ScanResult ReadLength(SANE_Handle device, const char* name, LengthSetting& setting) {
  setting = {};
  const SANE_Option_Descriptor* descriptor = nullptr;
  const SANE_Int index = FindOption(device, name, &descriptor);
  if (index < 0 || !IsNumber(*descriptor) || !IsSettable(*descriptor)) return {};
  SANE_Word word = 0;
  const SANE_Status status =
      sane_control_option(device, index, SANE_ACTION_GET_VALUE, &word, nullptr);
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

SANE_Status SetString(SANE_Handle device, const char* name, const std::string& text) {
  const SANE_Option_Descriptor* descriptor = nullptr;
  const SANE_Int index = FindOption(device, name, &descriptor);
  if (index < 0 || descriptor->type != SANE_TYPE_STRING || descriptor->size <= 0 ||
      !IsSettable(*descriptor)) {
    return SANE_STATUS_UNSUPPORTED;
  }
  if (text.size() >= static_cast<size_t>(descriptor->size)) return SANE_STATUS_INVAL;
  std::vector<char> value(static_cast<size_t>(descriptor->size), '\0');
  std::memcpy(value.data(), text.data(), text.size());
  return sane_control_option(device, index, SANE_ACTION_SET_VALUE, value.data(), nullptr);
}

SANE_Status SetNumber(SANE_Handle device, const char* name, double number) {
  const SANE_Option_Descriptor* descriptor = nullptr;
  const SANE_Int index = FindOption(device, name, &descriptor);
  if (index < 0 || !IsNumber(*descriptor) || !IsSettable(*descriptor)) {
    return SANE_STATUS_UNSUPPORTED;
  }
  SANE_Word word = NumberToWord(*descriptor, number);
  SANE_Int info = 0;
  return sane_control_option(device, index, SANE_ACTION_SET_VALUE, &word, &info);
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
ScanResult SetResolution(SANE_Handle device, int wanted, double& resolutionUsed) {
  resolutionUsed = wanted;
  const SANE_Option_Descriptor* descriptor = nullptr;
  const SANE_Int index = FindOption(device, SANE_NAME_SCAN_RESOLUTION, &descriptor);
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
  SANE_Status status = sane_control_option(device, index, SANE_ACTION_SET_VALUE, &word, &info);
  if (status != SANE_STATUS_GOOD) return SetFailure(status);
  status = sane_control_option(device, index, SANE_ACTION_GET_VALUE, &word, nullptr);
  if (status != SANE_STATUS_GOOD) return ReadFailure(status);
  resolutionUsed = WordToNumber(*descriptor, word);
  return {};
}

}  // namespace

ScanResult ReadMainOptions(SANE_Handle device, DeviceMainOptions& options) {
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

ScanResult ApplyScanRequest(SANE_Handle device, const ScanRequest& request,
                            double& resolutionUsed) {
  resolutionUsed = request.resolution;
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
  if (ScanResult result = SetResolution(device, request.resolution, resolutionUsed); !result.Ok()) {
    return result;
  }
  const std::pair<const char*, const LengthSetting*> edges[] = {
      {SANE_NAME_SCAN_TL_X, &options.left},
      {SANE_NAME_SCAN_TL_Y, &options.top},
      {SANE_NAME_SCAN_BR_X, &options.right},
      {SANE_NAME_SCAN_BR_Y, &options.bottom},
  };
  for (const auto& [name, edge] : edges) {
    if (!edge->available) continue;
    const SANE_Status status = SetNumber(device, name, edge->value);
    if (status != SANE_STATUS_GOOD) return SetFailure(status);
  }
  return {};
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
