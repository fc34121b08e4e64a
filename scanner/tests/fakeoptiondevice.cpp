// The fake device's options and how it answers sane_control_option.
#include "fakeoptiondevice.h"

#include <sane/saneopts.h>

#include <strings.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr SANE_Int kStringSize = 64;

SANE_Option_Descriptor StringOption(const char* name, const SANE_String_Const* list) {
  SANE_Option_Descriptor descriptor{};
  descriptor.name = name;
  descriptor.title = name;
  descriptor.desc = name;
  descriptor.type = SANE_TYPE_STRING;
  descriptor.unit = SANE_UNIT_NONE;
  descriptor.size = kStringSize;
  descriptor.cap = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
  descriptor.constraint_type = SANE_CONSTRAINT_STRING_LIST;
  descriptor.constraint.string_list = list;
  return descriptor;
}

SANE_Option_Descriptor NumberOption(const char* name, SANE_Value_Type type, SANE_Unit unit,
                                    const SANE_Range* range) {
  SANE_Option_Descriptor descriptor{};
  descriptor.name = name;
  descriptor.title = name;
  descriptor.desc = name;
  descriptor.type = type;
  descriptor.unit = unit;
  descriptor.size = sizeof(SANE_Word);
  descriptor.cap = SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT;
  descriptor.constraint_type = SANE_CONSTRAINT_RANGE;
  descriptor.constraint.range = range;
  return descriptor;
}

}  // namespace

FakeOptionDevice::FakeOptionDevice(std::vector<Source> sources, OutOfRange outOfRange,
                                   Reload reload)
    : sources_(std::move(sources)), outOfRange_(outOfRange), reload_(reload) {
  for (const Source& source : sources_) {
    sourceList_.push_back(source.name.c_str());
    std::vector<SANE_String_Const> modes;
    for (const std::string& mode : source.modes) modes.push_back(mode.c_str());
    modes.push_back(nullptr);
    modeLists_.push_back(std::move(modes));
  }
  sourceList_.push_back(nullptr);

  SANE_Option_Descriptor& count = descriptors_[kCount];
  count.name = "";
  count.type = SANE_TYPE_INT;
  count.size = sizeof(SANE_Word);
  count.cap = SANE_CAP_SOFT_DETECT;
  descriptors_[kSource] = StringOption(SANE_NAME_SCAN_SOURCE, sourceList_.data());
  descriptors_[kMode] = StringOption(SANE_NAME_SCAN_MODE, nullptr);
  descriptors_[kResolution] =
      NumberOption(SANE_NAME_SCAN_RESOLUTION, SANE_TYPE_INT, SANE_UNIT_DPI, &resolutionRange_);
  descriptors_[kLeft] =
      NumberOption(SANE_NAME_SCAN_TL_X, SANE_TYPE_FIXED, SANE_UNIT_MM, &widthRange_);
  descriptors_[kTop] =
      NumberOption(SANE_NAME_SCAN_TL_Y, SANE_TYPE_FIXED, SANE_UNIT_MM, &heightRange_);
  descriptors_[kRight] =
      NumberOption(SANE_NAME_SCAN_BR_X, SANE_TYPE_FIXED, SANE_UNIT_MM, &widthRange_);
  descriptors_[kBottom] =
      NumberOption(SANE_NAME_SCAN_BR_Y, SANE_TYPE_FIXED, SANE_UNIT_MM, &heightRange_);
  SelectSource(0);
}

void FakeOptionDevice::SelectSource(size_t index) {
  // Like many backends, a new source brings its own limits, modes and whole area; the
  // descriptors stay where they are and change their contents.
  source_ = index;
  const Source& source = sources_[index];
  widthRange_ = {0, SANE_FIX(source.width), SANE_FIX(1)};
  heightRange_ = {0, SANE_FIX(source.height), SANE_FIX(1)};
  descriptors_[kMode].constraint.string_list = modeLists_[index].data();
  if (std::find(source.modes.begin(), source.modes.end(), mode_) == source.modes.end()) {
    mode_ = source.modes.empty() ? std::string() : source.modes.front();
  }
  for (int edge : {kLeft, kTop, kRight, kBottom}) {
    SANE_Int& cap = descriptors_[size_t(edge)].cap;
    cap = source.areaActive ? cap & ~SANE_CAP_INACTIVE : cap | SANE_CAP_INACTIVE;
  }
  SetArea(0, 0, source.width, source.height);
}

void FakeOptionDevice::SetArea(double left, double top, double right, double bottom) {
  edges_[kLeft] = SANE_FIX(left);
  edges_[kTop] = SANE_FIX(top);
  edges_[kRight] = SANE_FIX(right);
  edges_[kBottom] = SANE_FIX(bottom);
}

const SANE_Option_Descriptor* FakeOptionDevice::Descriptor(SANE_Int option) {
  if (option < 0 || option >= kOptions) return nullptr;
  return &descriptors_[size_t(option)];
}

SANE_Status FakeOptionDevice::SetEdge(SANE_Int option, SANE_Word& word, SANE_Int& info) {
  const SANE_Range& range = (option == kLeft || option == kRight) ? widthRange_ : heightRange_;
  SANE_Word settled = SANE_FIX(std::round(SANE_UNFIX(word)));
  if (settled < range.min || settled > range.max) {
    if (outOfRange_ == OutOfRange::Refuse) return SANE_STATUS_INVAL;
    settled = std::clamp(settled, range.min, range.max);
  }
  if (outOfRange_ == OutOfRange::Refuse) {
    const bool start = option == kLeft || option == kTop;
    const SANE_Word other = edges_[size_t(option + (start ? 2 : -2))];
    if (start ? settled >= other : settled <= other) return SANE_STATUS_INVAL;
  }
  if (settled != word) info |= SANE_INFO_INEXACT;
  word = settled;
  edges_[size_t(option)] = settled;
  info |= SANE_INFO_RELOAD_PARAMS;
  return SANE_STATUS_GOOD;
}

SANE_Status FakeOptionDevice::Control(SANE_Int option, SANE_Action action, void* value,
                                      SANE_Int* info) {
  if (info != nullptr) *info = 0;
  if (option < 0 || option >= kOptions || value == nullptr) return SANE_STATUS_INVAL;
  const SANE_Option_Descriptor& descriptor = descriptors_[size_t(option)];
  if (descriptor.cap & SANE_CAP_INACTIVE) return SANE_STATUS_INVAL;
  auto* word = static_cast<SANE_Word*>(value);
  auto* text = static_cast<char*>(value);

  if (action == SANE_ACTION_GET_VALUE) {
    if (option != kCount && readAnswer != SANE_STATUS_GOOD) return readAnswer;
    switch (option) {
      case kCount:
        *word = kOptions;
        break;
      case kSource:
        std::snprintf(text, kStringSize, "%s", SourceName().c_str());
        break;
      case kMode:
        std::snprintf(text, kStringSize, "%s", mode_.c_str());
        break;
      case kResolution:
        *word = resolution_;
        break;
      default:
        *word = edges_[size_t(option)];
    }
    return SANE_STATUS_GOOD;
  }
  if (action != SANE_ACTION_SET_VALUE || option == kCount) return SANE_STATUS_INVAL;

  SANE_Int answer = 0;
  SANE_Status status = SANE_STATUS_GOOD;
  if (option == kSource) {
    // As SANE's own constraint check does, a source spelled in other case is taken in the
    // device's spelling.
    const auto found = std::find_if(sources_.begin(), sources_.end(), [&](const Source& source) {
      return strcasecmp(source.name.c_str(), text) == 0;
    });
    if (found == sources_.end()) return SANE_STATUS_INVAL;
    if (found->refusal != SANE_STATUS_GOOD) return found->refusal;
    if (found->name != text) answer |= SANE_INFO_INEXACT;
    const size_t index = size_t(found - sources_.begin());
    if (index != source_) {
      SelectSource(index);
      if (reload_ == Reload::Reported) answer |= SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS;
    }
  } else if (option == kMode) {
    const std::vector<std::string>& modes = sources_[source_].modes;
    if (std::find(modes.begin(), modes.end(), text) == modes.end()) return SANE_STATUS_INVAL;
    mode_ = text;
    answer |= SANE_INFO_RELOAD_PARAMS;
  } else if (option == kResolution) {
    if (*word < resolutionRange_.min || *word > resolutionRange_.max) return SANE_STATUS_INVAL;
    resolution_ = *word;
    answer |= SANE_INFO_RELOAD_PARAMS;
  } else {
    status = SetEdge(option, *word, answer);
  }
  if (info != nullptr) *info = answer;
  return status;
}
