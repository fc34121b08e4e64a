// The printer application: one IPP Everywhere printer behind a local socket, whose jobs become
// PDF files filed for the users who printed them.
#pragma once

#include <cstdint>
#include <string>

#include "printerplaces.h"

struct CapturePrinterOptions {
  PrinterPlaces places;
  // Where the log goes: "-" for standard error (the service's journal), or a file.
  std::string logFile = "-";
  bool debug = false;
  // A job that would leave less than this free on the spool's disk is refused.
  uint64_t minimumFreeSpace = uint64_t{1} << 30;
};

// Sets up the printer and serves it until SIGTERM or SIGINT. Only root, the print spooler
// (group lp) and printer administrators (group lpadmin) can reach its socket. The exit status: 0
// after a stop, 1 when it could not start (the cause on standard error).
int RunCapturePrinter(const CapturePrinterOptions& options);
