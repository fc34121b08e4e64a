// What a JPEG file says about itself before its picture: how its frame is coded, the Exif
// orientation and moment of capture, the ICC profile, the embedded thumbnail, where it ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The frame header (SOFn) of a JPEG stream.
struct JpegFrame {
  uint8_t marker = 0;  // 0xC0 baseline, 0xC1 extended, 0xC2 progressive, ...; 0 when none found
  int precision = 0;   // bits per sample
  uint32_t width = 0;
  uint32_t height = 0;
  int components = 0;
  uint8_t componentIds[4] = {};
  uint8_t horizontalSampling[4] = {};
  uint8_t verticalSampling[4] = {};
};

struct JpegFacts {
  bool isJpeg = false;  // starts with SOI
  JpegFrame frame;
  bool jfif = false;              // an APP0 "JFIF" segment
  int adobeTransform = -1;        // the APP14 "Adobe" colour transform; -1 without that segment
  bool quantTables16Bit = false;  // a DQT with 16-bit entries (not allowed in baseline)
  // Exif, from the APP1 "Exif" segment (IFD0, its Exif IFD and IFD1).
  int orientation = 0;             // 0x0112 of IFD0: 1 to 8; 0 when absent or not one of those
  std::string dateTimeOriginal;    // 0x9003, "YYYY:MM:DD HH:MM:SS" as stored; empty when absent
  std::string subSecTimeOriginal;  // 0x9291, digits of the second's fraction
  std::string offsetTimeOriginal;  // 0x9011, "+hh:mm" or "-hh:mm"
  size_t thumbnailOffset = 0;      // the IFD1 JPEG thumbnail, as offset and length in the file
  size_t thumbnailLength = 0;
  int thumbnailOrientation = 0;  // 0x0112 of IFD1; 0 when absent
  // The ICC profile of the APP2 "ICC_PROFILE" segments, joined in their order; empty when there
  // is none or a piece is missing.
  std::vector<uint8_t> iccProfile;
  // The segments that only describe the photo (Exif, XMP, comments, makers' own APPn), as offset
  // of their marker and length with it, in file order. A kept stream leaves them out: they may
  // hold where the photo was taken and the camera's serial number, and no decoder needs them.
  std::vector<std::pair<size_t, size_t>> metadataSegments;
  // Offset just past the EOI marker of the first picture (cameras may append further pictures
  // behind it); 0 when the stream ends before its EOI.
  size_t imageEnd = 0;
};

// Reads the segments of the JPEG stream held in `bytes`. Damaged or missing parts leave their
// facts at the defaults; it never reads outside the buffer.
JpegFacts ReadJpegFacts(const uint8_t* bytes, size_t size);

// The first picture of the stream (up to `facts.imageEnd`) without its metadata segments: every
// byte a decoder reads is kept as it stands, so the picture is the same and no larger.
std::vector<uint8_t> JpegWithoutMetadata(const uint8_t* bytes, const JpegFacts& facts);

// The Exif moment of capture as a DICOM DT value ("YYYYMMDDHHMMSS", with ".FFFFFF" from the
// fraction and "&ZZXX" from the offset when given); empty when the date is absent or not a valid
// date and time.
std::string ExifDateTimeToDicom(const std::string& dateTime, const std::string& subSeconds,
                                const std::string& offset);
