// The header elements the image, video and PDF objects share, built once for all converters.
#pragma once

#include <cstdint>
#include <string_view>

#include "dcmobj.h"
#include "studyinfo.h"

// Each run below appends its elements in tag order; a caller places its own elements between the
// runs so the whole object stays in tag order. The runs read CurrentSeriesUID, SeriesNumberText
// and InstanceCounter themselves.

// (0008,0012) to (0008,0030): Instance Creation Date and Time, the SOP Class and Instance UIDs,
// Study Date and Study Time.
void AppendCreationAndStudyTime(DcmObj& dataSet, const StudyInfo& study,
                                std::string_view sopClassUid, std::string_view sopInstanceUid);

// (0008,0050) to (0008,1030): Accession Number, `modality`, Conversion Type "WSD", Institution
// Name, Referring Physician's Name and Study Description.
void AppendStudyDescription(DcmObj& dataSet, const StudyInfo& study, std::string_view modality);

// (0010,0010) to (0020,0013): the patient's name, ID, birth date and sex, then the study and
// series UIDs, Study ID, Series Number and Instance Number.
void AppendPatientAndSeries(DcmObj& dataSet, const StudyInfo& study);

// Adds every element of a colour picture object (image or video) except Pixel Data, in tag
// order: eight bits per sample, three samples, `photometricInterpretation` for how they are coded.
void FillPictureHeader(DcmObj& dataSet, const StudyInfo& study, std::string_view sopClassUid,
                       std::string_view sopInstanceUid, uint32_t width, uint32_t height,
                       std::string_view photometricInterpretation);
