// The batch UID builder, the UID lists and the small formatting helpers that several parts share.
#include "uids.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "uid_tables.h"

#ifndef VELLORAN_VERSION
#define VELLORAN_VERSION "0.0.0"
#endif

// The version marker every executable carries, read back by FileVersionText.
[[gnu::used]] extern const char kVersionMarker[] = "VELLORAN-FILE-VERSION:" VELLORAN_VERSION "\n";

namespace {

std::string_view LastChars(std::string_view text, size_t count) {
  return text.size() <= count ? text : text.substr(text.size() - count);
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
  return text;
}

template <size_t N>
bool Contains(const std::string_view (&list)[N], std::string_view uid) {
  return std::find(std::begin(list), std::end(list), uid) != std::end(list);
}

}  // namespace

std::string GenerateUid(std::string_view installationId, std::string_view patientId,
                        std::string_view accessionNumber, std::string_view studyDate,
                        std::string_view studyTime, std::string_view productCode) {
  if (patientId.empty()) return {};
  std::string tail = ".";
  tail += productCode;
  tail += Trim(LastChars(installationId, 8));
  tail += '.';
  tail += accessionNumber.size() < 5 ? accessionNumber : Trim(LastChars(accessionNumber, 4));
  tail += Trim(LastChars(patientId, 4));
  tail += '.';
  if (studyDate.size() > 2) tail += studyDate.substr(2, 8);
  tail += Trim(studyTime.substr(0, 4));
  for (size_t i = 0; i < tail.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(tail[i]);
    if (byte != '.' && (byte < '0' || byte > '9')) tail[i] = static_cast<char>('0' + byte % 9);
    if (i > 0 && tail[i - 1] == '.' && tail[i] == '0') tail[i] = '1';
  }
  return kOrganisationUidRoot + tail;
}

bool TransferSyntaxSupported(std::string_view uid) {
  return Contains(uid_tables::kSupportedTransferSyntaxes, uid);
}

bool IsImageStorageClass(std::string_view uid) {
  return Contains(uid_tables::kImageStorageClasses, uid);
}

bool IsWaveformClass(std::string_view uid) {
  return Contains(uid_tables::kWaveformClasses, uid);
}

std::string_view UidName(std::string_view uid) {
  for (const auto& row : uid_tables::kUidNames) {
    if (row.uid == uid) return row.name;
  }
  return {};
}

std::string LocaleCountryName() {
  // The first of LC_ALL, LC_TIME and LANG that is set decides, as for the C library.
  const char* locale = nullptr;
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != 0) {
      locale = value;
      break;
    }
  }
  if (locale == nullptr) return {};
  std::string_view text(locale);
  const size_t underscore = text.find('_');
  if (underscore == std::string_view::npos) return {};
  std::string_view territory = text.substr(underscore + 1, 2);
  return territory == "US" ? "United States" : std::string(territory);
}

std::string DicomDateToDisplay(std::string_view date, std::string_view country) {
  if (date.empty()) return {};
  auto part = [&](size_t from, size_t count) {
    return from < date.size() ? date.substr(from, count) : std::string_view();
  };
  std::string result;
  if (country == "United States") {
    (((result += part(4, 2)) += '/') += part(6, 2)) += '/';
  } else {
    (((result += part(6, 2)) += '/') += part(4, 2)) += '/';
  }
  result += part(0, 4);
  return result;
}

std::string DicomDateToDisplay(std::string_view date) {
  return DicomDateToDisplay(date, LocaleCountryName());
}

std::string FileVersionText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  const std::string content((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
  constexpr std::string_view kPrefix = "VELLORAN-FILE-VERSION:";
  // The prefix also stands alone in the binary (this very constant); take the occurrence that is
  // followed by major.minor.release and a line feed.
  for (size_t found = content.find(kPrefix); found != std::string::npos;
       found = content.find(kPrefix, found + 1)) {
    const size_t start = found + kPrefix.size();
    const size_t end = content.find('\n', start);
    if (end == std::string::npos || end - start > 32) continue;
    const std::string version = content.substr(start, end - start);
    if (!version.empty() && std::count(version.begin(), version.end(), '.') == 2 &&
        version.find_first_not_of("0123456789.") == std::string::npos) {
      return version;
    }
  }
  return {};
}
