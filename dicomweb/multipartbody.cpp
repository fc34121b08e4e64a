// A multipart/related body of Part 10 objects, produced piece by piece as it is sent.
#include "multipartbody.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "bufdata.h"
#include "dicomfile.h"

namespace {

constexpr const char* kPartHeaders = "\r\nContent-Type: application/dicom\r\n\r\n";

// A boundary of 128 random bits: no object's bytes will hold it by chance.
std::string NewBoundary() {
  std::random_device random;
  std::string boundary = "velloran-";
  static constexpr char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 8; ++i) {
    const unsigned value = random() & 0xFFFFu;
    for (int shift = 12; shift >= 0; shift -= 4) boundary += kHex[(value >> shift) & 0xF];
  }
  return boundary;
}

class FileSource : public PartSource {
 public:
  FileSource(std::string path, Part10Header header)
      : path_(std::move(path)), header_(std::move(header)) {
    BufData meta;
    if (meta.WriteMetaHeader(header_.sopClassUid, header_.sopInstanceUid,
                             header_.transferSyntaxUid)) {
      meta_ = std::move(meta.stream);
    }
  }
  ~FileSource() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  uint64_t Size() const override {
    if (meta_.empty()) return 0;
    return meta_.size() + (header_.fileSize > header_.dataSetOffset
                               ? header_.fileSize - header_.dataSetOffset
                               : 0);
  }

  long Read(uint8_t* into, size_t size, std::string& error) override {
    if (!opened_ && !Open(error)) return -1;
    size_t given = 0;
    if (metaSent_ < meta_.size()) {
      given = std::min(size, meta_.size() - metaSent_);
      std::memcpy(into, meta_.data() + metaSent_, given);
      metaSent_ += given;
      if (given == size) return static_cast<long>(given);
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(size - given, remaining_));
    if (want == 0) return static_cast<long>(given);
    const size_t read = std::fread(into + given, 1, want, file_);
    if (read == 0) {
      error = "The file \"" + path_ + "\" ended before its data set did; it was not sent";
      return -1;
    }
    remaining_ -= read;
    return static_cast<long>(given + read);
  }

 private:
  bool Open(std::string& error) {
    opened_ = true;
    if (meta_.empty()) {
      error = "The file \"" + path_ + "\" names UIDs too long for a meta group";
      return false;
    }
    file_ = std::fopen(path_.c_str(), "rb");
    if (file_ == nullptr ||
        std::fseek(file_, static_cast<long>(header_.dataSetOffset), SEEK_SET) != 0) {
      error = "The file \"" + path_ + "\" cannot be read: " + std::strerror(errno);
      return false;
    }
    remaining_ =
        header_.fileSize > header_.dataSetOffset ? header_.fileSize - header_.dataSetOffset : 0;
    return true;
  }

  std::string path_;
  Part10Header header_;
  std::FILE* file_ = nullptr;
  bool opened_ = false;
  std::vector<uint8_t> meta_;
  size_t metaSent_ = 0;
  uint64_t remaining_ = 0;
};

// The encoder writes a data set by pushing pieces at a sink; the request pulls bytes through
// curl's read callback. The encoder runs on a thread of its own and hands each piece over in
// place: it waits until the request has copied all of it, so at most one piece, which the data
// set or the encoder already holds, is ever in flight.
class DataSetSource : public PartSource {
 public:
  explicit DataSetSource(DcmObj& dataSet) : dataSet_(dataSet), size_(Part10Size(dataSet)) {}
  ~DataSetSource() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_ = true;
    }
    changed_.notify_all();
    if (encoder_.joinable()) encoder_.join();
  }
  DataSetSource(const DataSetSource&) = delete;
  DataSetSource& operator=(const DataSetSource&) = delete;

  uint64_t Size() const override { return size_; }

  long Read(uint8_t* into, size_t size, std::string& error) override {
    if (!encoder_.joinable()) encoder_ = std::thread([this] { Encode(); });
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return pendingSize_ > 0 || finished_; });
    if (pendingSize_ == 0) {
      if (encoded_) return 0;
      error = "The object " + dataSet_.GetString(0x0008, 0x0018) +
              " could not be encoded; see the log for the reason";
      return -1;
    }
    const size_t given = std::min(size, pendingSize_);
    std::memcpy(into, pending_, given);
    pending_ += given;
    pendingSize_ -= given;
    if (pendingSize_ == 0) changed_.notify_all();
    return static_cast<long>(given);
  }

 private:
  static constexpr size_t kPieceSize = 256 * 1024;

  void Encode() {
    bool encoded = false;
    try {
      encoded = WritePart10Pieces(dataSet_, kPieceSize, [this](const uint8_t* bytes, size_t size) {
        std::unique_lock<std::mutex> lock(mutex_);
        pending_ = bytes;
        pendingSize_ = size;
        changed_.notify_all();
        changed_.wait(lock, [&] { return pendingSize_ == 0 || cancelled_; });
        return !cancelled_;
      });
    } catch (const std::exception&) {
      encoded = false;  // out of memory while encoding: the part fails, the process goes on
    }
    std::lock_guard<std::mutex> lock(mutex_);
    pendingSize_ = 0;
    encoded_ = encoded;
    finished_ = true;
    changed_.notify_all();
  }

  DcmObj& dataSet_;
  uint64_t size_;
  std::thread encoder_;
  std::mutex mutex_;
  std::condition_variable changed_;
  const uint8_t* pending_ = nullptr;
  size_t pendingSize_ = 0;
  bool finished_ = false;
  bool encoded_ = false;
  bool cancelled_ = false;
};

}  // namespace

std::unique_ptr<PartSource> FilePart(std::string path, Part10Header header) {
  return std::make_unique<FileSource>(std::move(path), std::move(header));
}

std::unique_ptr<PartSource> DataSetPart(DcmObj& dataSet) {
  return std::make_unique<DataSetSource>(dataSet);
}

MultipartBody::MultipartBody(std::vector<std::unique_ptr<PartSource>> parts)
    : boundary_(NewBoundary()), parts_(std::move(parts)) {
  const std::string opening = "--" + boundary_ + kPartHeaders;
  const std::string closing = "--" + boundary_ + "--\r\n";
  text_ = parts_.empty() ? closing : opening;
  size_ = closing.size();
  for (const auto& part : parts_) size_ += part->Size() + opening.size() + 2;
}

std::string MultipartBody::ContentType() const {
  return "multipart/related; type=\"application/dicom\"; boundary=" + boundary_;
}

long MultipartBody::Read(uint8_t* into, size_t size, std::string& error) {
  size_t filled = 0;
  while (filled < size) {
    if (textSent_ < text_.size()) {
      const size_t given = std::min(size - filled, text_.size() - textSent_);
      std::memcpy(into + filled, text_.data() + textSent_, given);
      textSent_ += given;
      filled += given;
      if (textSent_ == text_.size()) inPart_ = current_ < parts_.size();
      continue;
    }
    if (!inPart_) break;  // the closing delimiter has gone: the end
    PartSource& part = *parts_[current_];
    const long read = part.Read(into + filled, size - filled, error);
    if (read < 0) return -1;
    partRead_ += static_cast<uint64_t>(read);
    if (partRead_ > part.Size() || (read == 0 && partRead_ != part.Size())) {
      // The request announced another length: sending on would make it malformed.
      error = "An object came out " + std::to_string(partRead_) + " bytes long instead of " +
              std::to_string(part.Size()) + "; it was not sent";
      return -1;
    }
    if (read > 0) {
      filled += static_cast<size_t>(read);
      continue;
    }
    // The part is complete: its file is closed and its encoder ends before the next begins.
    partRead_ = 0;
    parts_[current_].reset();
    ++current_;
    inPart_ = false;
    text_ = current_ < parts_.size() ? "\r\n--" + boundary_ + kPartHeaders
                                     : "\r\n--" + boundary_ + "--\r\n";
    textSent_ = 0;
  }
  return static_cast<long>(filled);
}
