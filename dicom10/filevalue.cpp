// A long value whose bytes stay in the file they came from until the element is written.
#include "filevalue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Element lengths are 32-bit and 0xFFFFFFFF means "undefined", so the largest even value that
// can be stored is 0xFFFFFFFE.
constexpr uint64_t kLargestStorableLength = 0xFFFFFFFEull;

}  // namespace

struct FileValue::OpenFile {
  OpenFile(std::string name, int handle) : path(std::move(name)), descriptor(handle) {}
  ~OpenFile() { close(descriptor); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  const std::string path;
  const int descriptor;
};

FileValue::FileValue(std::shared_ptr<const OpenFile> file, uint64_t start, uint64_t fileLength,
                     uint32_t length)
    : file_(std::move(file)), start_(start), fileLength_(fileLength), length_(length) {}

const std::string& FileValue::Path() const {
  return file_->path;
}

int FileValue::Descriptor() const {
  return file_->descriptor;
}

std::shared_ptr<const FileValue> FileValue::Slice(uint64_t offset, uint32_t length) const {
  return std::shared_ptr<const FileValue>(new FileValue(file_, start_ + offset, length, length));
}

std::shared_ptr<const FileValue> FileValue::Open(const std::string& path, std::string& error) {
  // Without O_NONBLOCK a FIFO would wait here for a writer; regular files ignore the flag.
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) {
    error = "Cannot open file \"" + path + "\": " + std::strerror(errno);
    return nullptr;
  }
  struct stat status {};
  if (fstat(descriptor, &status) != 0) {
    error = "Cannot read file \"" + path + "\": " + std::strerror(errno);
    close(descriptor);
    return nullptr;
  }
  if (S_ISDIR(status.st_mode)) {
    error = "Cannot read file \"" + path + "\": it is a folder";
    close(descriptor);
    return nullptr;
  }
  if (!S_ISREG(status.st_mode)) {
    // A pipe or a device has no length to announce before its bytes are sent.
    error = "Cannot read file \"" + path + "\": it is not a regular file";
    close(descriptor);
    return nullptr;
  }
  const uint64_t fileLength = static_cast<uint64_t>(status.st_size);
  if (fileLength + (fileLength & 1u) > kLargestStorableLength) {
    error = "File \"" + path + "\" is too large to be stored (" + std::to_string(fileLength) +
            " bytes; at most 4 GB)";
    close(descriptor);
    return nullptr;
  }
  posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
  return std::shared_ptr<const FileValue>(
      new FileValue(std::make_shared<const OpenFile>(path, descriptor), 0, fileLength,
                    static_cast<uint32_t>(fileLength + (fileLength & 1u))));
}

bool FileValue::Read(uint64_t offset, uint8_t* into, size_t size, std::string& error) const {
  if (offset > length_ || size > length_ - offset) {
    error = "read past the end of the value";
    return false;
  }
  // The pad byte of an odd-length file is not in the file.
  const size_t fromFile = offset >= fileLength_
                              ? 0
                              : static_cast<size_t>(std::min<uint64_t>(size, fileLength_ - offset));
  size_t done = 0;
  while (done < fromFile) {
    const ssize_t got = pread(file_->descriptor, into + done, fromFile - done,
                              static_cast<off_t>(start_ + offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = "cannot read \"" + Path() + "\": " + std::strerror(errno);
      return false;
    }
    if (got == 0) {
      error = "\"" + Path() + "\" has changed: it now ends at byte " +
              std::to_string(start_ + offset + done) + " of " +
              std::to_string(start_ + fileLength_);
      return false;
    }
    done += static_cast<size_t>(got);
  }
  std::memset(into + fromFile, 0, size - fromFile);
  return true;
}
