// What a captured print job is taken for, and the names its files get in the work folder.
#pragma once

#include <atomic>
#include <ctime>
#include <string>
#include <string_view>

// The format of a job, told by its first bytes.
enum class JobKind {
  PostScript,  // ESC "%" (a job behind a printer-language switch) or "%!"
  Xps,         // "PK": a ZIP package
  Pdf,         // "%PDF", what applications print to a raw queue
  Unknown,     // anything else, also a job shorter than two bytes
};

JobKind KindOfJob(std::string_view firstBytes);

// The job number N: 1, 2, ..., 999, 0, 1, ... Safe to advance from any thread.
class JobCounter {
 public:
  // Advances the counter and gives the new value.
  int Next();

 private:
  std::atomic<int> value_{0};
};

// The counter every listener of this process shares.
JobCounter& ProcessJobCounter();

// Each character outside 0-9, A-Z, a-z and "_" becomes "_"; the length stays.
std::string SanitizeDocumentName(std::string_view name);

// Drops leading and trailing characters at or below the space.
std::string TrimDocumentName(std::string_view name);

// The local time of day as "hhnnss".
std::string TimeOfDayText(std::time_t when);

// hhnnss + "_" + N + extension, for the raw job files (".ps", ".tmp", ".xps").
std::string RawJobFileName(const std::string& timeOfDay, int jobNumber, const char* extension);

// document name + "_" + hhnnss + "_" + N + ".pdf".
std::string PdfJobFileName(const std::string& documentName, const std::string& timeOfDay,
                           int jobNumber);
