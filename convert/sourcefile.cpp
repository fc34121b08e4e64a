// Reading a converter's source file as an even-length value: in memory, or kept in the file.
#include "sourcefile.h"

#include <memory>

#include "dcmtag.h"
#include "filevalue.h"

namespace {

// Reads the whole value of an opened file into an owned buffer.
bool ReadWhole(const FileValue& file, SourceBytes& source, std::string& error) {
  SourceBytes read;
  read.fileLength = file.FileLength();
  read.length = file.Length();
  if (read.length != 0) {
    read.bytes = std::make_unique_for_overwrite<uint8_t[]>(read.length);
    std::string reason;
    if (!file.Read(0, read.bytes.get(), read.length, reason)) {
      error = "Cannot read file \"" + file.Path() + "\": it ended early or could not be read";
      return false;
    }
  }
  source = std::move(read);
  return true;
}

}  // namespace

bool ReadSourceFile(const std::string& path, SourceBytes& source, std::string& error) {
  // Opening checks what can be stored at all: a folder, a pipe, a file beyond 32-bit lengths.
  const std::shared_ptr<const FileValue> file = FileValue::Open(path, error);
  return file && ReadWhole(*file, source, error);
}

bool LoadSourceValue(const std::string& path, DcmTag& tag, uint64_t& fileLength,
                     std::string& error) {
  std::shared_ptr<const FileValue> file = FileValue::Open(path, error);
  if (!file) return false;
  fileLength = file->FileLength();
  if (fileLength >= kKeptInFileLength) {
    tag.TakeFileValue(std::move(file));
    return true;
  }
  SourceBytes source;
  if (!ReadWhole(*file, source, error)) return false;
  tag.TakeValue(std::move(source.bytes), source.length);
  return true;
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string UpperExtension(const std::string& path) {
  const std::string name = FileNameOf(path);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return "";
  std::string extension = name.substr(dot);
  for (char& c : extension) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return extension;
}
