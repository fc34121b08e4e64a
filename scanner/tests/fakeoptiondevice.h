// A scanner's options as a backend keeps them, for tests of the option logic on devices that
// SANE's test backend cannot imitate: sources with page areas of their own, values rounded to a
// step, and backends that clamp or refuse what lies beyond their limits.
#pragma once

#include <sane/sane.h>

#include <array>
#include <string>
#include <vector>

#include "deviceoptions.h"

class FakeOptionDevice final : public DeviceOptionProvider {
 public:
  struct Source {
    std::string name;
    double width = 0;  // the page area's limits in mm, each from 0
    double height = 0;
    std::vector<std::string> modes;
    bool areaActive = true;                  // false: a fixed area, the edges are inactive
    SANE_Status refusal = SANE_STATUS_GOOD;  // what setting this source answers
  };
  // What the backend does with a page-area value beyond its limits. Refuse also refuses a start
  // at or beyond the end of its axis.
  enum class OutOfRange { Clamp, Refuse };
  // Whether a change of source is answered with SANE_INFO_RELOAD_OPTIONS, as it should be.
  enum class Reload { Reported, Silent };

  // Starts on the first source with its whole area. Page-area values are rounded to whole
  // millimetres and answered with SANE_INFO_INEXACT when that changes them.
  FakeOptionDevice(std::vector<Source> sources, OutOfRange outOfRange,
                   Reload reload = Reload::Reported);
  // The descriptors point into the object.
  FakeOptionDevice(const FakeOptionDevice&) = delete;
  FakeOptionDevice& operator=(const FakeOptionDevice&) = delete;

  const SANE_Option_Descriptor* Descriptor(SANE_Int option) override;
  SANE_Status Control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info) override;

  // Sets the page area as the device holds it, bypassing every check.
  void SetArea(double left, double top, double right, double bottom);
  const std::string& SourceName() const { return sources_[source_].name; }
  // What reading an option's value answers from now on (the option count stays readable).
  SANE_Status readAnswer = SANE_STATUS_GOOD;

 private:
  enum Option { kCount, kSource, kMode, kResolution, kLeft, kTop, kRight, kBottom, kOptions };

  void SelectSource(size_t index);
  SANE_Status SetEdge(SANE_Int option, SANE_Word& word, SANE_Int& info);

  std::vector<Source> sources_;
  OutOfRange outOfRange_;
  Reload reload_;
  std::vector<SANE_String_Const> sourceList_;
  std::vector<std::vector<SANE_String_Const>> modeLists_;
  std::array<SANE_Option_Descriptor, kOptions> descriptors_{};
  SANE_Range resolutionRange_{50, 600, 0};
  SANE_Range widthRange_{};
  SANE_Range heightRange_{};
  size_t source_ = 0;
  std::string mode_;
  SANE_Word resolution_ = 100;
  std::array<SANE_Word, kOptions> edges_{};  // indexed by kLeft ... kBottom
};
