// Part 10 files: the writer of DcmObj::SaveToFile and the reader.
#include "dicomfile.h"

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
  const auto& bytes = buffer.stream;
  if (bytes.size() < 132 || bytes[128] != 'D' || bytes[129] != 'I' || bytes[130] != 'C' ||
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

bool ReadDicomFile(const std::string& path, DicomFile& file, std::string& error) {
  BufData buffer;
  if (!buffer.LoadFromFile(path, error)) return false;
  return ParseDicomFile(buffer, file, error);
}
