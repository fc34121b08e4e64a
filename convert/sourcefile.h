// Reading a converter's source file whole into an owned, even-length buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A file's bytes, followed by one 0x00 byte when the file length is odd, so that `length` is
// always even and can be stored as an element or fragment value as it is.
struct SourceBytes {
  std::unique_ptr<uint8_t[]> bytes;
  uint32_t length = 0;      // even: the file length, or the file length plus one
  uint64_t fileLength = 0;  // what the file held
};

// Reads the whole file. False, with a message for the user that names the file, when it cannot
// be opened or read completely or is too large for a 32-bit element length.
bool ReadSourceFile(const std::string& path, SourceBytes& source, std::string& error);

// The file name with its extension and without its folder.
std::string FileNameOf(const std::string& path);
// The extension from the last dot of the file name on, upper-cased (".JPG"); "" when none.
std::string UpperExtension(const std::string& path);
