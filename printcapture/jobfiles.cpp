// Job formats, the job counter and capture file names.
#include "jobfiles.h"

JobKind KindOfJob(std::string_view firstBytes) {
  if (firstBytes.starts_with("\x1b%") || firstBytes.starts_with("%!")) return JobKind::PostScript;
  if (firstBytes.starts_with("PK")) return JobKind::Xps;
  if (firstBytes.starts_with("%PDF")) return JobKind::Pdf;
  return JobKind::Unknown;
}

int JobCounter::Next() {
  int current = value_.load();
  int next;
  do {
    next = (current + 1) % 1000;
  } while (!value_.compare_exchange_weak(current, next));
  return next;
}

JobCounter& ProcessJobCounter() {
  static JobCounter counter;
  return counter;
}

std::string SanitizeDocumentName(std::string_view name) {
  std::string result(name);
  for (char& c : result) {
    const bool kept =
        (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    if (!kept) c = '_';
  }
  return result;
}

std::string TrimDocumentName(std::string_view name) {
  auto atOrBelowSpace = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!name.empty() && atOrBelowSpace(name.front())) name.remove_prefix(1);
  while (!name.empty() && atOrBelowSpace(name.back())) name.remove_suffix(1);
  return std::string(name);
}

std::string TimeOfDayText(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H%M%S", &local);
  return text;
}

std::string RawJobFileName(const std::string& timeOfDay, int jobNumber, const char* extension) {
  return timeOfDay + "_" + std::to_string(jobNumber) + extension;
}

std::string PdfJobFileName(const std::string& documentName, const std::string& timeOfDay,
                           int jobNumber) {
  return documentName + "_" + timeOfDay + "_" + std::to_string(jobNumber) + ".pdf";
}
