// The transfer of scanned pages from an open device into the work folder's BMP file.
#pragma once

#include <sane/sane.h>

#include <atomic>
#include <filesystem>
#include <functional>

#include "scannedpage.h"
#include "scanstatus.h"

// Percent of the current page received, 0 to 100.
using ProgressCallback = std::function<void(int percent)>;
// Called when a page has been written to the BMP file; returning false ends the scan (the
// callback reports its own failure).
using PageCallback = std::function<bool(const ScannedPage& page)>;

struct AcquisitionRequest {
  std::filesystem::path bitmapPath;  // the work folder's scan.bmp
  bool allFeederPages = false;       // keep taking pages until the feeder is empty
  double resolution = 100;           // what the device settled on, for the BMP header
};

// Ends a running acquisition from another thread: sets the flag the transfer checks between
// pages and frames, then calls sane_cancel, which makes a blocked sane_read return.
class ScanCanceller {
 public:
  explicit ScanCanceller(SANE_Handle device) : device_(device) {}
  void Cancel();
  bool Requested() const { return requested_.load(); }

 private:
  SANE_Handle device_;
  std::atomic<bool> requested_{false};
};

// Receives one page: every frame from sane_start to SANE_STATUS_EOF.
ScanResult TransferPage(SANE_Handle device, const ScanCanceller& canceller,
                        const ProgressCallback& progress, ScannedPage& page);

// Scans one page, or with `allFeederPages` every page until the feeder reports
// SANE_STATUS_NO_DOCS (an empty feeder before the first page is a failure). Each page is written
// to the BMP file, progress reaches 100, and `onPage` takes it; pages taken before a failure or a
// cancel stay taken. `pagesDone` counts them. Ends the device's scan with sane_cancel. May run on
// any thread, one acquisition per device at a time.
ScanResult AcquirePages(SANE_Handle device, const AcquisitionRequest& request,
                        const ScanCanceller& canceller, const ProgressCallback& progress,
                        const PageCallback& onPage, int& pagesDone);
