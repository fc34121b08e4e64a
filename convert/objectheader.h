// The header elements the image, video and PDF objects share, built once for all converters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dcmobj.h"
#include "studyinfo.h"

// Each run below appends its elements in tag order; a caller places its own elements between the
// runs so the whole object stays in tag order.

// (0008,0012) to (0008,0020): Instance Creation Date and Time, the SOP Class and Instance UIDs
// and Study Date.
void AppendCreationAndStudyDate(DcmObj& dataSet, const StudyInfo& study,
                                std::string_view sopClassUid, std::string_view sopInstanceUid);

// (0008,0050) to (0008,1030): Accession Number, `modality`, Conversion Type "WSD", an empty
// Manufacturer (no device of a known maker made the object), Institution Name, Referring
// Physician's Name and Study Description.
void AppendStudyDescription(DcmObj& dataSet, const StudyInfo& study, std::string_view modality);

// (0010,0010) to (0010,0040): the patient's name, ID, birth date and sex.
void AppendPatient(DcmObj& dataSet, const StudyInfo& study);

// (0020,000D) to (0020,0013): the study and series UIDs (CurrentSeriesUID), Study ID,
// `seriesNumber` and Instance Number (InstanceCounter).
void AppendSeriesAndInstance(DcmObj& dataSet, const StudyInfo& study,
                             std::string_view seriesNumber);

// An empty sequence (Type 2: present, nothing known), appended at the end.
void AppendEmptySequence(DcmObj& dataSet, uint16_t group, uint16_t element);

// What a colour picture object (image or video) says about itself beyond the study.
struct PictureDescription {
  std::string_view sopClassUid;
  std::string_view sopInstanceUid;
  std::string_view modality;
  uint32_t width = 0;
  uint32_t height = 0;
  std::string_view photometricInterpretation;
  // The moment the picture was taken (DT); empty when unknown, and Acquisition Time is then the
  // moment of conversion.
  std::string acquisitionDateTime;
  // Video: the frames and the time between them in milliseconds; 0 frames for a still picture.
  uint32_t numberOfFrames = 0;
  std::string frameTime;
  // The pixels' ICC profile, kept when the source had one; empty otherwise.
  std::vector<uint8_t> iccProfile;
  // How the stream lost detail: (0028,2114) and the ratio (0028,2112), e.g. "ISO_10918_1".
  std::string_view lossyMethod;
  std::string lossyRatio;
  // VL objects (endoscopic pictures and videos) describe their acquisition context, here none.
  bool acquisitionContext = false;
  // VL videos must name the anatomic region they show. Nothing tells which it is, so they name
  // the most general one, "Body structure" (SNOMED CT 123037004), which every region is.
  bool anatomicRegion = false;
};

// Adds every element of a colour picture object except Pixel Data, in tag order.
void FillPictureHeader(DcmObj& dataSet, const StudyInfo& study, const PictureDescription& picture);

// A compression ratio as (0028,2112) holds it: uncompressed bytes over compressed, two decimals.
std::string CompressionRatioText(double uncompressedBytes, double compressedBytes);
