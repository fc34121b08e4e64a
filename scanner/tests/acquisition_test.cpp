// Scanning with SANE's test backend: settings applied, pages written as BMP, progress, the
// feeder, cancelling and the codes of failures.
#include "acquisition.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "bmpfile.h"
#include "deviceoptions.h"
#include "itemlist.h"
#include "sanesession.h"
#include "sanetestbackend.h"
#include "scanfiles.h"
#include "scannertesthelpers.h"
#include "testsupport.h"

namespace {

class AcquisitionTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sane_.Status(), SANE_STATUS_GOOD);
    ASSERT_EQ(SaneDevice::Open("test:0", device_), SANE_STATUS_GOOD);
  }

  // What the device's dialog would hand over unchanged, with another source if given.
  ScanRequest Request(int intent, int resolution, const std::string& source = "Flatbed") {
    ScanRequest request;
    EXPECT_TRUE(ReadMainOptions(device_.Handle(), request.options).Ok());
    request.options.source.value = source;
    request.intent = intent;
    request.resolution = resolution;
    return request;
  }

  ScanResult Scan(const ScanRequest& request, std::vector<int>* progress = nullptr,
                  const PageCallback& onPage = {}, int* pages = nullptr) {
    double resolution = 0;
    ScanResult result = ApplyScanRequest(device_.Handle(), request, resolution);
    if (!result.Ok()) return result;
    ScanCanceller canceller(device_.Handle());
    int done = 0;
    const AcquisitionRequest acquisition{bitmap_, IsFeederSource(request.options.source.value),
                                         resolution};
    result = AcquirePages(
        device_.Handle(), acquisition, canceller,
        [progress](int percent) {
          if (progress) progress->push_back(percent);
        },
        onPage, done);
    if (pages) *pages = done;
    return result;
  }

  SaneTestBackend backend_;
  SaneLibrary sane_;
  SaneDevice device_;
  testsupport::TempDir work_;
  std::filesystem::path bitmap_ = ScanBitmapPath(work_.path());
};

struct ScanCase {
  const char* name;
  int intent;
  const char* dialogMode;  // what the device's dialog left selected; the intent overrides it
  int resolution;
  int width;  // the 80 x 100 mm area at the resolution, whole pixels
  int height;
  uint16_t bitsPerPixel;
  uint32_t pixelsPerMetre;
};

TEST_F(AcquisitionTest, ScansAtTheConfiguredModeAndResolution) {
  const ScanCase cases[] = {
      {"colour 100", 1, "Gray", 100, 314, 393, 24, 3937},
      {"grey 100", 2, "Color", 100, 314, 393, 8, 3937},
      {"colour 300", 1, "Gray", 300, 944, 1181, 24, 11811},
      {"grey 300", 2, "Color", 300, 944, 1181, 8, 11811},
  };
  for (const ScanCase& row : cases) {
    SCOPED_TRACE(row.name);
    ScanRequest request = Request(row.intent, row.resolution);
    request.options.mode.value = row.dialogMode;
    ASSERT_TRUE(Scan(request).Ok());

    const std::vector<uint8_t> bytes = ReadFileBytes(bitmap_);
    const BmpHeader header = ParseBmpHeader(bytes);
    EXPECT_TRUE(header.signature);
    EXPECT_EQ(header.fileSize, bytes.size());
    EXPECT_EQ(header.infoSize, 40u);
    EXPECT_EQ(header.width, row.width);
    EXPECT_EQ(header.height, row.height);  // positive: bottom-up rows
    EXPECT_EQ(header.planes, 1);
    EXPECT_EQ(header.bitsPerPixel, row.bitsPerPixel);
    EXPECT_EQ(header.compression, 0u);
    EXPECT_EQ(header.xPixelsPerMetre, row.pixelsPerMetre);
    EXPECT_EQ(header.yPixelsPerMetre, row.pixelsPerMetre);
    const uint32_t paletteEntries = row.bitsPerPixel == 8 ? 256 : 0;
    EXPECT_EQ(header.coloursUsed, paletteEntries);
    EXPECT_EQ(header.pixelOffset, 54 + paletteEntries * 4);
    const uint32_t rowBytes = (uint32_t(row.width) * row.bitsPerPixel / 8 + 3) & ~3u;
    EXPECT_EQ(bytes.size(), header.pixelOffset + rowBytes * uint32_t(row.height));

    RgbBitmap decoded;
    std::string error;
    ASSERT_TRUE(DecodeBmp(bytes.data(), bytes.size(), decoded, error)) << error;
    EXPECT_EQ(decoded.width, uint32_t(row.width));
    EXPECT_EQ(decoded.height, uint32_t(row.height));
    // The colour test pattern has pixels whose channels differ only in a colour scan.
    bool someColour = false;
    for (size_t i = 0; i + 2 < decoded.rgb.size() && !someColour; i += 3) {
      someColour = decoded.rgb[i] != decoded.rgb[i + 1] || decoded.rgb[i + 1] != decoded.rgb[i + 2];
    }
    EXPECT_EQ(someColour, row.intent == 1);
  }
}

TEST_F(AcquisitionTest, ProgressClimbsToOneHundred) {
  std::vector<int> progress;
  ASSERT_TRUE(Scan(Request(1, 150), &progress).Ok());
  ASSERT_GE(progress.size(), 3u);
  EXPECT_EQ(progress.front(), 0);
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST_F(AcquisitionTest, ThreePassAnd16BitScansBecomeOrdinaryPages) {
  // Three-pass is offered in colour mode only.
  ASSERT_EQ(SetTestOption(device_.Handle(), "mode", "Color"), SANE_STATUS_GOOD);
  ASSERT_EQ(SetTestOption(device_.Handle(), "three-pass", 1), SANE_STATUS_GOOD);
  ASSERT_TRUE(Scan(Request(1, 100)).Ok());
  BmpHeader header = ParseBmpHeader(ReadFileBytes(bitmap_));
  EXPECT_EQ(header.bitsPerPixel, 24);
  EXPECT_EQ(header.width, 314);

  ASSERT_EQ(SetTestOption(device_.Handle(), "three-pass", 0), SANE_STATUS_GOOD);
  ASSERT_EQ(SetTestOption(device_.Handle(), "depth", 16), SANE_STATUS_GOOD);
  ASSERT_TRUE(Scan(Request(2, 100)).Ok());
  header = ParseBmpHeader(ReadFileBytes(bitmap_));
  EXPECT_EQ(header.bitsPerPixel, 8);
  EXPECT_EQ(header.height, 393);
}

TEST_F(AcquisitionTest, FeederScanSavesEveryPageAsItsOwnItem) {
  ItemList items;
  const auto second = std::chrono::system_clock::now();
  int pages = 0;
  std::vector<int> progress;
  const ScanResult result = Scan(
      Request(2, 100, "Automatic Document Feeder"), &progress,
      [&](const ScannedPage&) { return SaveScannedPage(work_.path(), second, items).saved; },
      &pages);
  ASSERT_TRUE(result.Ok()) << FormatScanCode(result.Code());
  // The test backend's feeder holds ten pages.
  EXPECT_EQ(pages, 10);
  const std::vector<std::string> paths = items.Snapshot();
  ASSERT_EQ(paths.size(), 10u);
  for (const std::string& path : paths) EXPECT_TRUE(std::filesystem::exists(path)) << path;
  EXPECT_EQ(std::count(progress.begin(), progress.end(), 100), 10);
  EXPECT_FALSE(std::filesystem::exists(bitmap_));
}

TEST_F(AcquisitionTest, EmptyFeederFailsBeforeTheFirstPage) {
  ScanRequest request = Request(2, 50, "Automatic Document Feeder");
  double resolution = 0;
  ASSERT_TRUE(ApplyScanRequest(device_.Handle(), request, resolution).Ok());
  ScanCanceller canceller(device_.Handle());
  ScannedPage page;
  for (int i = 0; i < 10; ++i)
    ASSERT_TRUE(TransferPage(device_.Handle(), canceller, {}, page).Ok());

  int pages = 0;
  const ScanResult result =
      AcquirePages(device_.Handle(), {bitmap_, true, resolution}, canceller, {}, {}, pages);
  EXPECT_EQ(FormatScanCode(result.Code()), "A0050007");
  EXPECT_EQ(pages, 0);
}

TEST_F(AcquisitionTest, CancelFromAnotherThreadStopsTheTransferAndKeepsThePreviousPage) {
  std::ofstream(bitmap_) << "the page scanned before";
  double resolution = 0;
  // A page that fits the backend's pipe: its reader thread has sent everything and ended by the
  // time we cancel. (The backend kills a running reader thread asynchronously, which under the
  // sanitizers' allocator can leave a lock taken.)
  ASSERT_TRUE(ApplyScanRequest(device_.Handle(), Request(2, 50), resolution).Ok());
  ScanCanceller canceller(device_.Handle());
  // The transfer pauses at 2 percent until this thread has cancelled.
  std::atomic<bool> paused{false};
  std::atomic<bool> cancelled{false};
  int lastPercent = -1;
  ScanResult result;
  int pages = -1;
  std::thread transfer([&] {
    result = AcquirePages(
        device_.Handle(), {bitmap_, false, resolution}, canceller,
        [&](int percent) {
          lastPercent = percent;
          if (percent < 2 || cancelled) return;
          paused = true;
          while (!cancelled) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        {}, pages);
  });
  while (!paused) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  canceller.Cancel();
  cancelled = true;
  transfer.join();

  EXPECT_TRUE(result.Cancelled()) << FormatScanCode(result.Code());
  EXPECT_EQ(pages, 0);
  EXPECT_LT(lastPercent, 100);
  const std::vector<uint8_t> kept = ReadFileBytes(bitmap_);
  EXPECT_TRUE(std::string(kept.begin(), kept.end()) == "the page scanned before");
  EXPECT_FALSE(std::filesystem::exists(bitmap_.string() + ".part"));
}

TEST_F(AcquisitionTest, FailuresGiveTheStepAndTheSaneStatus) {
  struct Row {
    const char* readStatus;
    const char* code;
  };
  const Row rows[] = {
      {"SANE_STATUS_JAMMED", "A0070006"},     {"SANE_STATUS_NO_DOCS", "A0070007"},
      {"SANE_STATUS_COVER_OPEN", "A0070008"}, {"SANE_STATUS_IO_ERROR", "A0070009"},
      {"SANE_STATUS_NO_MEM", "A007000A"},     {"SANE_STATUS_ACCESS_DENIED", "A007000B"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.readStatus);
    ASSERT_EQ(SetTestOption(device_.Handle(), "read-return-value", row.readStatus),
              SANE_STATUS_GOOD);
    std::filesystem::remove(bitmap_);
    const ScanResult result = Scan(Request(2, 100));
    EXPECT_EQ(FormatScanCode(result.Code()), row.code);
    EXPECT_EQ(AcquisitionErrorMessage(result), std::string("ERROR, acquiring image: ") + row.code);
    EXPECT_FALSE(result.Cancelled());
    EXPECT_FALSE(std::filesystem::exists(bitmap_));
  }
}

TEST_F(AcquisitionTest, RefusedSettingsFailBeforeTheTransfer) {
  ScanRequest unknownSource = Request(2, 100, "Film holder");
  double resolution = 0;
  EXPECT_EQ(FormatScanCode(ApplyScanRequest(device_.Handle(), unknownSource, resolution).Code()),
            "A0040004");
  // A colour intent on a device without a colour mode.
  EXPECT_EQ(ModeForIntent({"Lineart", "Gray"}, 1), "");
  EXPECT_EQ(ModeForIntent({"Lineart", "True Gray", "24bit Color"}, 1), "24bit Color");
  EXPECT_EQ(ModeForIntent({"Lineart", "True Gray", "24bit Color"}, 2), "True Gray");
}

TEST_F(AcquisitionTest, SourceChangeAndRoundedAreaOnTheTestBackend) {
  // The backend keeps one 0-200 mm range for both sources and rounds the area to whole mm.
  SaneOptionProvider device(device_.Handle());
  DeviceMainOptions options;
  ASSERT_TRUE(ReadMainOptions(device, options).Ok());
  options.left.value = 10.4;
  options.right.value = 80;
  ASSERT_TRUE(ChangeSource(device, "Automatic Document Feeder", options).Ok());
  DeviceMainOptions onDevice;
  ASSERT_TRUE(ReadMainOptions(device, onDevice).Ok());
  EXPECT_EQ(onDevice.source.value, "Automatic Document Feeder");
  EXPECT_EQ(options.source.value, "Automatic Document Feeder");
  EXPECT_EQ(options.right.minimum, 0);
  EXPECT_EQ(options.right.maximum, 200);
  EXPECT_EQ(options.left.value, 10.4);

  // The scan covers the area the device settled on: 70 mm at 100 dpi, not 69.6 mm.
  ScanRequest request{options, 2, 100};
  AppliedScanRequest applied;
  ASSERT_TRUE(ApplyScanRequest(device, request, applied).Ok());
  EXPECT_EQ(applied.options.left.value, 10);
  EXPECT_EQ(applied.options.right.value, 80);
  ScanCanceller canceller(device_.Handle());
  int pages = 0;
  ASSERT_TRUE(
      AcquirePages(device_.Handle(), {bitmap_, false, applied.resolution}, canceller, {}, {}, pages)
          .Ok());
  EXPECT_EQ(ParseBmpHeader(ReadFileBytes(bitmap_)).width, 275);
}

TEST(ScanSettingsChoice, ResolutionFromAListIsTheNearestListed) {
  EXPECT_EQ(NearestListedResolution({75, 150, 300, 600}, 100), 75);
  EXPECT_EQ(NearestListedResolution({75, 150, 300, 600}, 200), 150);
  EXPECT_EQ(NearestListedResolution({75, 150, 300, 600}, 300), 300);
  EXPECT_TRUE(IsFeederSource("ADF Duplex"));
  EXPECT_TRUE(IsFeederSource("Automatic Document Feeder"));
  EXPECT_FALSE(IsFeederSource("Flatbed"));
  EXPECT_FALSE(IsFeederSource("Transparency Adapter"));
}

}  // namespace
