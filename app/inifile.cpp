// A small ini file: sections in brackets, "key=value" lines, read and rewritten in place.
#include "inifile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// "[name]" gives true and the name.
bool SectionName(std::string_view line, std::string_view& name) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  const size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  name = Trim(line.substr(1, close - 1));
  return true;
}

// "key=value" gives true, the key and the value.
bool KeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  const std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return false;
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  key = Trim(line.substr(0, equals));
  value = Trim(line.substr(equals + 1));
  return true;
}

// Strict decimal integer with an optional sign; false for anything else.
bool ParseInteger(std::string_view text, long long& number) {
  if (text.empty()) return false;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return false;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    if (value > 100000000000LL) return false;  // far beyond any integer a setting holds
    value = value * 10 + (text[i] - '0');
  }
  number = negative ? -value : value;
  return true;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

bool IniFile::Load() {
  lines_.clear();
  std::error_code error;
  if (!std::filesystem::exists(path_, error)) return true;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines_.push_back(line);
  }
  return !in.bad();
}

long IniFile::FindKey(std::string_view section, std::string_view key, long* sectionEnd) const {
  bool inSection = false;
  long found = -1;
  if (sectionEnd != nullptr) *sectionEnd = -1;
  for (size_t i = 0; i < lines_.size(); ++i) {
    std::string_view name;
    if (SectionName(lines_[i], name)) {
      inSection = SameName(name, section);
      if (inSection && sectionEnd != nullptr) *sectionEnd = static_cast<long>(i) + 1;
      continue;
    }
    if (!inSection) continue;
    if (!Trim(lines_[i]).empty() && sectionEnd != nullptr) *sectionEnd = static_cast<long>(i) + 1;
    std::string_view lineKey, value;
    // The first occurrence counts, as it does for the platform's reader.
    if (found < 0 && KeyValue(lines_[i], lineKey, value) && SameName(lineKey, key)) {
      found = static_cast<long>(i);
    }
  }
  return found;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  const long index = FindKey(section, key, nullptr);
  if (index < 0) return std::string(fallback);
  std::string_view lineKey, value;
  KeyValue(lines_[static_cast<size_t>(index)], lineKey, value);
  // A value in matching quotes loses them, as with the platform's reader.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  long long number = 0;
  if (!ParseInteger(ReadString(section, key, ""), number)) return fallback;
  return number != 0;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  long sectionEnd = -1;
  const long index = FindKey(section, key, &sectionEnd);
  std::string line = std::string(key) + "=" + std::string(value);
  // A line break inside a value would start a new line that reads as another key.
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  if (index >= 0) {
    lines_[static_cast<size_t>(index)] = std::move(line);
  } else if (sectionEnd >= 0) {
    lines_.insert(lines_.begin() + sectionEnd, std::move(line));
  } else {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(std::move(line));
  }
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

bool IniFile::Save(Access access) const {
  std::ostringstream text;
  for (const std::string& line : lines_) text << line << "\n";
  const std::string content = text.str();
  // The file keeps the permissions it had (a new one gets the process's default); owner-only
  // makes it readable and writable by its owner alone.
  struct stat existing {};
  const bool exists = ::stat(path_.c_str(), &existing) == 0;
  const bool exact = exists || access == Access::OwnerOnly;
  const mode_t mode = access == Access::OwnerOnly ? 0600 : exists ? existing.st_mode & 0777 : 0666;
  const std::string partial = path_ + ".part";
  // Created with no more permission than the final file's, so a secret is never readable by
  // others, not even for a moment.
  const int descriptor =
      ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, exact ? mode & 0600 : mode);
  if (descriptor < 0) return false;
  // A left-over file from an earlier attempt keeps its mode through O_TRUNC: set it anew.
  bool written = !exact || ::fchmod(descriptor, mode) == 0;
  for (size_t done = 0; written && done < content.size();) {
    const ssize_t count = ::write(descriptor, content.data() + done, content.size() - done);
    if (count < 0 && errno == EINTR) continue;
    written = count > 0;
    if (written) done += static_cast<size_t>(count);
  }
  written = ::close(descriptor) == 0 && written;
  if (!written) {
    std::remove(partial.c_str());
    return false;
  }
  std::error_code error;
  std::filesystem::rename(partial, path_, error);
  if (error) {
    std::remove(partial.c_str());
    return false;
  }
  return true;
}
