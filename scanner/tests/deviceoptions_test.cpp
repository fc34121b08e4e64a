// The device options after a change of source and at scan time, on a fake device whose sources
// have page areas of their own.
#include "deviceoptions.h"

#include <gtest/gtest.h>

#include "fakeoptiondevice.h"

namespace {

using Source = FakeOptionDevice::Source;

// A flatbed, a feeder that is narrower and longer, a film holder that scans a fixed area, and a
// transparency unit whose lid is open.
std::vector<Source> Sources() {
  return {
      {"Flatbed", 216, 297, {"Color", "Gray", "Lineart"}},
      {"ADF", 210, 356, {"Gray", "Lineart"}},
      {"Film", 36, 24, {"Color", "Gray"}, false},
      {"Transparency", 200, 250, {"Color"}, true, SANE_STATUS_COVER_OPEN},
  };
}

struct Area {
  double left, top, right, bottom;
};

void SetShownArea(DeviceMainOptions& options, const Area& area) {
  options.left.value = area.left;
  options.top.value = area.top;
  options.right.value = area.right;
  options.bottom.value = area.bottom;
}

void ExpectArea(const DeviceMainOptions& options, const Area& area) {
  EXPECT_EQ(options.left.value, area.left);
  EXPECT_EQ(options.top.value, area.top);
  EXPECT_EQ(options.right.value, area.right);
  EXPECT_EQ(options.bottom.value, area.bottom);
}

struct SourceChangeCase {
  const char* name;
  FakeOptionDevice::Reload reload;
  const char* chosen;
  Area shown;             // what the dialog showed on the flatbed
  const char* shownMode;  // the mode it showed
  const char* code;       // of the change, "" for success
  const char* source;     // the source in force afterwards
  double width, height;   // the page-area limits shown afterwards
  Area area;              // the area shown afterwards
  const char* mode;       // the mode shown afterwards
};

TEST(SourceChange, TheDialogGetsTheNewSourcesLimitsAndKeepsTheAreaWithinThem) {
  const SourceChangeCase cases[] = {
      {"an area inside the feeder's limits stays",
       FakeOptionDevice::Reload::Reported,
       "ADF",
       {10, 20, 200, 290},
       "Lineart",
       "",
       "ADF",
       210,
       356,
       {10, 20, 200, 290},
       "Lineart"},
      {"an area beyond them is clamped, a mode not offered gives way",
       FakeOptionDevice::Reload::Reported,
       "ADF",
       {0, 0, 216, 297},
       "Color",
       "",
       "ADF",
       210,
       356,
       {0, 0, 210, 297},
       "Gray"},
      {"a backend that does not ask for the reload is read again all the same",
       FakeOptionDevice::Reload::Silent,
       "ADF",
       {5, 5, 216, 297},
       "Gray",
       "",
       "ADF",
       210,
       356,
       {5, 5, 210, 297},
       "Gray"},
      {"the device's spelling of the source is shown",
       FakeOptionDevice::Reload::Reported,
       "adf",
       {0, 0, 100, 100},
       "Gray",
       "",
       "ADF",
       210,
       356,
       {0, 0, 100, 100},
       "Gray"},
      {"a refused source leaves the flatbed and the area as they were",
       FakeOptionDevice::Reload::Reported,
       "Transparency",
       {10, 20, 200, 290},
       "Gray",
       "A0040008",
       "Flatbed",
       216,
       297,
       {10, 20, 200, 290},
       "Gray"},
  };
  for (const SourceChangeCase& row : cases) {
    SCOPED_TRACE(row.name);
    FakeOptionDevice device(Sources(), FakeOptionDevice::OutOfRange::Clamp, row.reload);
    DeviceMainOptions options;
    ASSERT_TRUE(ReadMainOptions(device, options).Ok());
    SetShownArea(options, row.shown);
    options.mode.value = row.shownMode;

    const ScanResult result = ChangeSource(device, row.chosen, options);
    EXPECT_EQ(result.Ok() ? "" : FormatScanCode(result.Code()), std::string(row.code));
    EXPECT_EQ(device.SourceName(), row.source);
    EXPECT_EQ(options.source.value, row.source);
    EXPECT_EQ(options.right.maximum, row.width);
    EXPECT_EQ(options.left.maximum, row.width);
    EXPECT_EQ(options.bottom.maximum, row.height);
    EXPECT_EQ(options.top.maximum, row.height);
    ExpectArea(options, row.area);
    EXPECT_EQ(options.mode.value, row.mode);
  }
}

TEST(SourceChange, EdgesComeAndGoWithTheSource) {
  FakeOptionDevice device(Sources(), FakeOptionDevice::OutOfRange::Clamp);
  DeviceMainOptions options;
  ASSERT_TRUE(ReadMainOptions(device, options).Ok());
  SetShownArea(options, {10, 10, 100, 100});

  // The film holder scans its fixed area: the edges are inactive and no longer offered.
  ASSERT_TRUE(ChangeSource(device, "Film", options).Ok());
  for (const LengthSetting* edge : {&options.left, &options.top, &options.right, &options.bottom}) {
    EXPECT_FALSE(edge->available);
  }
  EXPECT_EQ(options.mode.choices, (std::vector<std::string>{"Color", "Gray"}));

  // Back on the feeder they return with the device's whole area, since nothing was entered.
  ASSERT_TRUE(ChangeSource(device, "ADF", options).Ok());
  EXPECT_TRUE(options.left.available && options.bottom.available);
  ExpectArea(options, {0, 0, 210, 356});
  // A value clamped for the narrower source stays where it was put when the limits grow again.
  options.right.value = 210;
  ASSERT_TRUE(ChangeSource(device, "Flatbed", options).Ok());
  EXPECT_EQ(options.right.maximum, 216);
  EXPECT_EQ(options.right.value, 210);
}

struct ApplyCase {
  const char* name;
  const char* source;  // chosen in the dialog
  Area requested;      // as the dialog confirmed it
  Area onDevice;       // the area the device holds before the scan
  bool areaOffered;    // the source in force has the page-area options
  Area applied;        // read back from the device
};

TEST(ScanRequest, ThePageAreaSentFitsTheSourceInForceAndIsReadBack) {
  // A backend that refuses what lies beyond its limits, and a start at or beyond the end.
  const ApplyCase cases[] = {
      {"a flatbed area on the narrower feeder is clamped, not refused",
       "ADF",
       {0, 0, 216, 297},
       {0, 0, 210, 356},
       true,
       {0, 0, 210, 297}},
      {"values the device rounds are read back",
       "Flatbed",
       {10.4, 20.6, 100.2, 150.4},
       {0, 0, 216, 297},
       true,
       {10, 21, 100, 150}},
      {"a start beyond the device's present end moves the end first",
       "Flatbed",
       {100, 120, 150, 200},
       {0, 0, 50, 60},
       true,
       {100, 120, 150, 200}},
      {"a source without page area leaves it to the device",
       "Film",
       {10, 10, 100, 100},
       {0, 0, 36, 24},
       false,
       {0, 0, 0, 0}},
  };
  for (const ApplyCase& row : cases) {
    SCOPED_TRACE(row.name);
    FakeOptionDevice device(Sources(), FakeOptionDevice::OutOfRange::Refuse);
    ScanRequest request;
    ASSERT_TRUE(ReadMainOptions(device, request.options).Ok());
    request.options.source.value = row.source;
    SetShownArea(request.options, row.requested);
    request.intent = 2;
    request.resolution = 300;
    device.SetArea(row.onDevice.left, row.onDevice.top, row.onDevice.right, row.onDevice.bottom);

    AppliedScanRequest applied;
    const ScanResult result = ApplyScanRequest(device, request, applied);
    ASSERT_TRUE(result.Ok()) << FormatScanCode(result.Code());
    EXPECT_EQ(applied.resolution, 300);
    EXPECT_EQ(applied.options.source.value, row.source);
    EXPECT_EQ(applied.options.mode.value, "Gray");
    EXPECT_EQ(applied.options.left.available, row.areaOffered);
    if (row.areaOffered) ExpectArea(applied.options, row.applied);
  }
}

}  // namespace
