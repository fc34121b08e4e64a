// The result of a scanner operation and the code shown to the user when it fails.
#pragma once

#include <cstdint>
#include <string>

// The step of an acquisition that failed; it forms the middle of the code.
enum class ScanStep : uint32_t {
  None = 0,         // nothing failed
  ListDevices = 1,  // sane_init or sane_get_devices
  OpenDevice = 2,   // sane_open
  ReadOptions = 3,  // reading the device's option descriptors or values
  SetOption = 4,    // the device refused a source, mode, resolution or page area
  Start = 5,        // sane_start of a page or frame
  Parameters = 6,   // sane_get_parameters, or parameters this program cannot take
  Read = 7,         // sane_read
  WriteBitmap = 8,  // writing the page to the work folder (the reason is an errno value)
};

// A failed acquisition shows "ERROR, acquiring image: " and eight upper-case hexadecimal digits:
//
//   A s s s r r r r
//   |  step  reason
//   |
//   +- 0xA: the failure flag and the customer flag of a Windows-style result code, so the code
//      reads as negative and can never equal a system-defined one.
//
//   step   (bits 16-27) the ScanStep above, so the operator sees where it failed;
//   reason (bits 0-15)  the SANE status the backend returned, as numbered in sane/sane.h:
//          1 UNSUPPORTED, 2 CANCELLED, 3 DEVICE_BUSY, 4 INVAL, 5 EOF, 6 JAMMED, 7 NO_DOCS,
//          8 COVER_OPEN, 9 IO_ERROR, 10 NO_MEM, 11 ACCESS_DENIED;
//          for WriteBitmap the errno of the failed file operation instead.
//
// Examples: A0070006 is a paper jam while reading, A0050007 an empty document feeder at the start,
// A0040004 a device that refused a setting, A008001C a full disk (ENOSPC) while writing scan.bmp.
struct ScanResult {
  ScanStep step = ScanStep::None;
  uint32_t reason = 0;

  static ScanResult Failure(ScanStep failedStep, uint32_t why) { return {failedStep, why}; }
  bool Ok() const { return step == ScanStep::None; }
  // The user stopped the scan (SANE_STATUS_CANCELLED): no message is due.
  bool Cancelled() const;
  uint32_t Code() const;
};

// The code as eight upper-case hexadecimal digits.
std::string FormatScanCode(uint32_t code);

// "ERROR, acquiring image: " followed by the code.
std::string AcquisitionErrorMessage(const ScanResult& result);
