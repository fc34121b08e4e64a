// Part 10 files: the writer of DcmObj::SaveToFile and the reader.
#include "dicomfile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bufdata.h"
#include "log.h"
#include "uids.h"

bool DcmObj::SaveToFile(const std::string& path, const std::string& sopClassUid,
                        const std::string& sopInstanceUid) {
  if (transferSyntax == kExplicitVRBigEndian) bigEndian = true;
  // The meta group announces the transfer syntax, so the body must be encoded in its VR mode;
  // a data set whose flag disagrees would otherwise produce a file no reader can follow.
  const bool syntaxExplicit = transferSyntax != kImplicitVRLittleEndian;
  if (explicitVR != syntaxExplicit) {
    WriteLog("WARNING, DcmObj::SaveToFile, explicit VR flag does not match transfer syntax " +
             transferSyntax + ", writing " + (syntaxExplicit ? "explicit" : "implicit") + " VR");
    explicitVR = syntaxExplicit;
  }
  BufData buffer(false);
  if (!buffer.WriteMetaHeader(sopClassUid, sopInstanceUid, transferSyntax)) return false;
  if (!buffer.WriteDataSet(*this)) return false;
  return buffer.SaveToFile(path);
}

namespace {

// Compressed syntaxes encode the data set in explicit VR little endian; so do the video ones.
bool IsExplicitLittleEndianFamily(const std::string& uid) {
  return uid == kExplicitVRLittleEndian || uid.rfind("1.2.840.10008.1.2.4.", 0) == 0 ||
         uid == "1.2.840.10008.1.2.5";
}

}  // namespace

bool ParseDicomFile(BufData& buffer, DicomFile& file, std::string& error) {
  const uint8_t* bytes = buffer.InputData();
  if (buffer.InputSize() < 132 || bytes[128] != 'D' || bytes[129] != 'I' || bytes[130] != 'C' ||
      bytes[131] != 'M') {
    error = "not a DICOM file (no DICM prefix after the 128-byte preamble)";
    return false;
  }
  buffer.bigEndian = false;
  buffer.position = 132;
  file.meta.SetTransferSyntax(kExplicitVRLittleEndian);
  while (buffer.Remaining() >= 2 && bytes[buffer.position] == 0x02 &&
         bytes[buffer.position + 1] == 0x00) {
    auto tag = std::make_unique<DcmTag>();
    if (!buffer.ReadTag(*tag, true, true)) {
      error = "the file meta group is truncated or corrupt";
      return false;
    }
    file.meta.Append(std::move(tag));
  }
  if (buffer.shortReads != 0) {
    error = "the file meta group is truncated";
    return false;
  }
  const std::string syntax = file.meta.GetString(0x0002, 0x0010);
  if (syntax.empty()) {
    error = "the file meta group has no Transfer Syntax UID";
    return false;
  }
  if (syntax == kImplicitVRLittleEndian || syntax == kExplicitVRBigEndian ||
      IsExplicitLittleEndianFamily(syntax)) {
    file.dataSet.SetTransferSyntax(syntax);
  } else {
    error = "unsupported transfer syntax " + syntax;
    return false;
  }
  buffer.bigEndian = file.dataSet.bigEndian;
  if (!buffer.ReadDataSet(file.dataSet)) {
    error = "the data set is corrupt (see the log for the element)";
    return false;
  }
  if (buffer.shortReads != 0) {
    error = "the file is truncated: " + std::to_string(buffer.shortReads) +
            " element(s) run past its end";
    return false;
  }
  return true;
}

namespace {

// A read-only private mapping of a whole file, unmapped when it goes away.
class MappedFile {
 public:
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  explicit MappedFile(const std::string& path) {
    const int handle = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle < 0) return;
    struct stat status {};
    if (fstat(handle, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
      void* mapped =
          mmap(nullptr, static_cast<size_t>(status.st_size), PROT_READ, MAP_PRIVATE, handle, 0);
      if (mapped != MAP_FAILED) {
        data_ = static_cast<const uint8_t*>(mapped);
        size_ = static_cast<size_t>(status.st_size);
        madvise(mapped, size_, MADV_SEQUENTIAL);
      }
    }
    close(handle);
  }
  ~MappedFile() {
    if (data_ != nullptr) munmap(const_cast<uint8_t*>(data_), size_);
  }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace

bool ReadDicomFile(const std::string& path, DicomFile& file, std::string& error) {
  BufData buffer;
  // Values are copied straight out of the mapped file, so a large file is read once rather than
  // loaded into a buffer and copied again. A file that cannot be mapped is read the plain way,
  // which also gives the reason for a failure.
  MappedFile mapped(path);
  if (mapped.data() != nullptr) {
    buffer.ReadFrom(mapped.data(), mapped.size());
  } else if (!buffer.LoadFromFile(path, error)) {
    return false;
  }
  return ParseDicomFile(buffer, file, error);
}
