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
  // Copies up to `size` bytes into `into`: how many, 0 at the end, or -1 with `error` set.
  virtual long Read(uint8_t* into, size_t size, std::string& error) = 0;
};

// A Part 10 file on disk: a meta group for the class, instance and transfer syntax that `header`
// names, then the data set bytes as they are in the file, read as they are sent. The file is
// opened when its part starts; one that has become shorter than `header` says fails the part.
std::unique_ptr<PartSource> FilePart(std::string path, Part10Header header);

// A data set in memory, encoded as a Part 10 file while it is sent: long values go from the
// object (or the file they stay in) straight into the request, so no encoded copy of the object
// is ever held. Nothing else may use the data set until the part is destroyed.
std::unique_ptr<PartSource> DataSetPart(DcmObj& dataSet);

// `multipart/related; type="application/dicom"` with one application/dicom part per source, in
// order, each source released as soon as its part has been sent.
class MultipartBody {
 public:
  explicit MultipartBody(std::vector<std::unique_ptr<PartSource>> parts);

  // The Content-Type header's value, boundary included.
  std::string ContentType() const;
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
};
