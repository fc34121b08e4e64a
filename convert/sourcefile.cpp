// Reading a converter's source file as an even-length value: in memory, or kept in the file.
#include "sourcefile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "dcmtag.h"
#include "filevalue.h"

namespace {

// Element lengths are 32-bit and 0xFFFFFFFF means "undefined", so the largest even value that
// can be stored is 0xFFFFFFFE.
constexpr uint64_t kLargestStorableLength = 0xFFFFFFFEull;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool ReadSourceFile(const std::string& path, SourceBytes& source, std::string& error) {
  std::error_code status;
  if (std::filesystem::is_directory(path, status)) {
    error = "Cannot read file \"" + path + "\": it is a folder";
    return false;
  }
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = "Cannot open file \"" + path + "\": " + std::strerror(errno);
    return false;
  }
  if (std::fseek(file.get(), 0, SEEK_END) != 0) {
    error = "Cannot read file \"" + path + "\": " + std::strerror(errno);
    return false;
  }
  const long end = std::ftell(file.get());
  if (end < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
    error = "Cannot read file \"" + path + "\": " + std::strerror(errno);
    return false;
  }
  const uint64_t fileLength = static_cast<uint64_t>(end);
  const uint64_t evenLength = fileLength + (fileLength & 1u);
  if (evenLength > kLargestStorableLength) {
    error = "File \"" + path + "\" is too large to be stored (" + std::to_string(fileLength) +
            " bytes; at most 4 GB)";
    return false;
  }
  SourceBytes read;
  read.fileLength = fileLength;
  read.length = static_cast<uint32_t>(evenLength);
  if (evenLength != 0) {
    read.bytes = std::make_unique_for_overwrite<uint8_t[]>(evenLength);
    if (std::fread(read.bytes.get(), 1, fileLength, file.get()) != fileLength) {
      error = "Cannot read file \"" + path + "\": it ended early or could not be read";
      return false;
    }
    if (evenLength != fileLength) read.bytes[fileLength] = 0x00;
  }
  source = std::move(read);
  return true;
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
  const uint32_t length = file->Length();
  std::unique_ptr<uint8_t[]> bytes;
  if (length != 0) {
    bytes = std::make_unique_for_overwrite<uint8_t[]>(length);
    std::string reason;
    if (!file->Read(0, bytes.get(), length, reason)) {
      error = "Cannot read file \"" + path + "\": " + reason;
      return false;
    }
  }
  tag.TakeValue(std::move(bytes), length);
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
