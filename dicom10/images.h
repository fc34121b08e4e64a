// The DICOM image reader: geometry, pixel format, spacings, the VOI LUT and native pixels of a
// data set in one record, and the burn-in of a VOI LUT into the pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class DcmObj;

struct VoiLut {
  uint32_t entries = 0;  // a descriptor value of 0 means 65536 entries
  uint16_t firstMapped = 0;
  uint16_t bitsPerEntry = 0;
  std::vector<uint8_t> data;  // entries bytes for 8-bit entries, 16-bit little-endian words else
};

class TImages {
 public:
  std::string modality;
  std::string manufacturer;
  std::string vendorMarker;  // "INSTRUMENTARIUM", "SOREDEX" or empty
  float imagerPixelSpacing[2] = {0, 0};
  bool colour = false;
  int frames = 1;
  uint16_t rows = 0;
  uint16_t columns = 0;
  float pixelSpacing[2] = {0, 0};
  uint16_t bitsAllocated = 0;
  float rescaleIntercept = 0;
  float rescaleSlope = 0;
  VoiLut voiLut;
  bool HasVOILUT = false;
  std::vector<uint8_t> pixels;  // native Pixel Data, expected size; empty when not taken

  // Fills the record from the data set's entries.
  void Read(const DcmObj& dataSet);
  // Maps the pixels of every frame through the VOI LUT. True when the LUT was applied.
  bool ApplyVOILUT();

 private:
  void ReadTopLevel(const class DcmTag& tag);
  void CheckSpacing();
};

// Burns a VOI LUT that the data set carries into its native pixel data and removes the VOI LUT
// Sequence. Returns the number of entries removed (0 when nothing was done).
int BurnInVOILUT(DcmObj& dataSet);
