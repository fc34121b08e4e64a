// Reading a converter's source file as an even-length value: in memory, or kept in the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class DcmTag;

// A file's bytes, followed by one 0x00 byte when the file length is odd, so that `length` is
// always even and can be stored as an element or fragment value as it is.
struct SourceBytes {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t length = 0;      // even: the file length, or the file length plus one
  uint64_t fileLength = 0;  // what the file held
};

// Reads the whole file. False, with a message for the user that names the file, when it is a
// folder or no regular file, cannot be opened or read completely, or is too large for a 32-bit
// element length.
bool ReadSourceFile(const std::string& path, SourceBytes& source, std::string& error);

// Files at least this long are not read when they are converted: their bytes stay in the file
// until the object is written, so that a video of hundreds of megabytes is never held in memory.
inline constexpr uint64_t kKeptInFileLength = uint64_t{1} << 20;

// Gives `tag` the whole file as its value, followed by one 0x00 byte when the file length is odd:
// read now when short, kept in the file when long (kKeptInFileLength). `fileLength` receives
// what the file held. False, with a message for the user that names the file, when it is a
// folder, cannot be opened or read, or is too large for a 32-bit element length.
bool LoadSourceValue(const std::string& path, DcmTag& tag, uint64_t& fileLength,
                     std::string& error);

// The file name with its extension and without its folder.
std::string FileNameOf(const std::string& path);
// The extension from the last dot of the file name on, upper-cased (".JPG"); "" when none.
std::string UpperExtension(const std::string& path);
