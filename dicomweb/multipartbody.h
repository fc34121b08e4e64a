// A multipart/related body of Part 10 objects, produced piece by piece as it is sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dcmobj.h"
#include "storefiles.h"

// The bytes of one part, pulled piece by piece.
class PartSource {
 public:
  virtual ~PartSource() = default;
  // How many bytes the part holds, known before it is read; 0 when it cannot be made at all.
  virtual uint64_t Size() const = 0;
  // Copies up to `size` bytes into `into`: how many, 0 at the end, or -1 with `error` set.
  virtual long Read(uint8_t* into, size_t size, std::string& error) = 0;
};

// A Part 10 file on disk: a meta group for the class, instance and transfer syntax that `header`
// names, then the data set bytes as they are in the file, read as they are sent. The file is
// opened when its part starts; one that has become shorter than `header` says fails the part.
std::unique_ptr<PartSource> FilePart(std::string path, Part10Header header);

// A data set in memory, encoded as a Part 10 file while it is sent: long values go from the
// object (or the file they stay in) straight into the request, so no encoded copy of the object
// is ever held. Its size is measured when the part is made, without reading the values that stay
// in files. Nothing else may use the data set until the part is destroyed.
std::unique_ptr<PartSource> DataSetPart(DcmObj& dataSet);

// `multipart/related; type="application/dicom"` with one application/dicom part per source, in
// order, each source released as soon as its part has been sent. Its length is known before it
// is sent, so a request can announce it rather than be sent in chunks (which some servers take
// slowly or not at all); a part that comes out at another length than it announced fails the
// body.
class MultipartBody {
 public:
  explicit MultipartBody(std::vector<std::unique_ptr<PartSource>> parts);

  // The Content-Type header's value, boundary included.
  std::string ContentType() const;
  // The body's length in bytes.
  uint64_t Size() const { return size_; }
  // Copies up to `size` bytes of the body into `into`: how many, 0 at the end, -1 with `error`.
  long Read(uint8_t* into, size_t size, std::string& error);

  const std::string& boundary() const { return boundary_; }

 private:
  std::string boundary_;
  std::vector<std::unique_ptr<PartSource>> parts_;
  size_t current_ = 0;   // the part being read
  bool inPart_ = false;  // reading the current part's bytes, not the text before it
  std::string text_;     // delimiter and part headers waiting to go
  size_t textSent_ = 0;
  uint64_t size_ = 0;
  uint64_t partRead_ = 0;  // bytes of the current part read so far
};
