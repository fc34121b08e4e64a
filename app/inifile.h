// A small ini file: sections in brackets, "key=value" lines, read and rewritten in place.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Keeps every line of the file, so writing a key leaves other sections, keys and comments as
// they were. Section and key names compare without regard to case, values are trimmed, and a
// missing file, section or key reads as the given default.
class IniFile {
 public:
  explicit IniFile(std::string path);

  // Reads the file if it exists; a missing file is an empty one. False only when an existing
  // file cannot be read.
  bool Load();
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view fallback) const;
  // True when the section holds the key (with any value, an empty one too).
  bool HasKey(std::string_view section, std::string_view key) const {
    return FindKey(section, key, nullptr) >= 0;
  }
  // Any integer other than 0 is true; a value that is not an integer gives the default.
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
  // Replaces the key's value, or adds the key at the end of its section, creating the section.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteBool(std::string_view section, std::string_view key, bool value);
  // Who may read the file once saved: its owner only, or whoever could before (the file keeps
  // its permissions; a new one gets the process's default).
  enum class Access { AsBefore, OwnerOnly };
  // Writes the lines back (beside the file, then renamed over it, with the permissions Access
  // gives). False when that fails.
  bool Save(Access access = Access::AsBefore) const;

  const std::string& path() const { return path_; }

 private:
  // Index of the key's line, or -1; `sectionEnd` gets the index after the section's last line
  // with content (or -1 when the section is missing).
  long FindKey(std::string_view section, std::string_view key, long* sectionEnd) const;

  std::string path_;
  std::vector<std::string> lines_;
};
