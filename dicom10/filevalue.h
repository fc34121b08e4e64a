// A long value whose bytes stay in the file they came from until the element is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// A video of hundreds of megabytes travels from its file to the socket or to the saved object in
// pieces, so it is neither read whole into memory first nor held there while it is sent. The file
// stays open from Open on: renaming or deleting it afterwards changes nothing, and a file cut
// short in the meantime makes Read fail rather than send or save other bytes.
class FileValue {
 public:
  FileValue(const FileValue&) = delete;
  FileValue& operator=(const FileValue&) = delete;

  // The value is the whole file followed by one 0x00 byte when its length is odd, so that it can
  // stand as an element or fragment value as it is. Null, with a message for the user that names
  // the file, when it is a folder, cannot be opened, or is too long for a 32-bit length.
  static std::shared_ptr<const FileValue> Open(const std::string& path, std::string& error);

  // `length` bytes of the same file from `offset` on, read through the same descriptor: a value
  // of a DICOM file that a reader left where it is. Whether the file still holds them is found
  // out when they are read.
  std::shared_ptr<const FileValue> Slice(uint64_t offset, uint32_t length) const;

  // Even: the file's length, or one more (a slice: exactly its length).
  uint32_t Length() const { return length_; }
  // What the file held when it was opened (a slice: its length).
  uint64_t FileLength() const { return fileLength_; }
  const std::string& Path() const;
  // The descriptor the bytes are read through; it stays open while any value of the file lives.
  int Descriptor() const;

  // Copies `size` bytes of the value from `offset` on into `into`. False, with the reason in
  // `error`, when the file can no longer be read that far.
  bool Read(uint64_t offset, uint8_t* into, size_t size, std::string& error) const;

 private:
  struct OpenFile;
  FileValue(std::shared_ptr<const OpenFile> file, uint64_t start, uint64_t fileLength,
            uint32_t length);

  std::shared_ptr<const OpenFile> file_;  // shared by the file's slices
  uint64_t start_;                        // where the value's first byte is in the file
  uint64_t fileLength_;
  uint32_t length_;
};
