// The preview rectangle of scanned pages, and the configuration dialog's rule for the settings.
#include "previewfit.h"

#include <gtest/gtest.h>

#include "scansettings.h"

namespace {

// The scanner's preview is 640 x 604 pixels.
TEST(ScanPreview, PagesKeepTheirProportionsAndStayInsideThePreview) {
  struct Row {
    int width;
    int height;
    int left, top, right, bottom;
  };
  const Row rows[] = {
      {2480, 3508, 106, 0, 533, 604},  // A4 portrait at 300 dpi: w = 2480 * 604 / 3508 = 427
      {3508, 2480, 0, 76, 640, 528},   // landscape: h = 2480 * 640 / 3508 = 452
      {314, 393, 79, 0, 561, 604},     // the test backend's page at 100 dpi
      // Barely wider than high, but relatively narrower than the preview: filling the width
      // would make it 623 pixels high, so it fills the height.
      {620, 604, 10, 0, 630, 604},
      {65535, 1, 0, 302, 640, 302},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.width) + " x " + std::to_string(row.height));
    const PreviewRect rect = FitPreview(640, 604, row.width, row.height);
    EXPECT_EQ(rect.left, row.left);
    EXPECT_EQ(rect.top, row.top);
    EXPECT_EQ(rect.left + rect.width, row.right);
    EXPECT_EQ(rect.top + rect.height, row.bottom);
  }
}

TEST(ScanSettings, StartGreyAt100AndFollowTheConfigurationDialog) {
  ResetScanSettings();
  EXPECT_EQ(ScanIntent, kScanIntentGray);
  EXPECT_EQ(ScanResolution, 100);
  struct Row {
    const char* intent;
    const char* resolution;
    int expectedIntent;
    int expectedResolution;
  };
  const Row rows[] = {
      {"Color", "100", 1, 100}, {"GrayScale", "300", 2, 300}, {"Color", "150", 1, 150},
      {"color", "200", 2, 200}, {"Color", "", 1, 100},        {"Color", "3x0", 1, 100},
  };
  for (const Row& row : rows) {
    ApplyScanConfiguration(row.intent, row.resolution);
    EXPECT_EQ(ScanIntent, row.expectedIntent) << row.intent;
    EXPECT_EQ(ScanResolution, row.expectedResolution) << row.resolution;
  }
  ResetScanSettings();
}

}  // namespace
