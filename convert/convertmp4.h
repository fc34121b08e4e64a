// The video converter: an MP4 file becomes one video object carrying the whole file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "conversioncontext.h"

// How the video stream codes its colour, as the object declares it.
inline constexpr const char* kVideoPhotometricInterpretation = "YBR_PARTIAL_420";
// The modality of every video object: its SOP class, Video Endoscopic, admits no other.
inline constexpr const char* kVideoModality = "ES";

// Probes the file for its encoding, frame size, frames and rate and appends a video object whose
// single pixel-data fragment is the file, byte for byte (made even), labelled with the transfer
// syntax the stream fits. The file's bytes are held once, inside the object. A file that does not
// probe as MP4 video logs the probe's and the converter's lines and consumes no number; a stream
// no video transfer syntax admits is refused with its codec, profile, level and size; any failure
// appends nothing and leaves a message naming the file.
bool ConvertMP4(const std::string& path, DataSetList& list, std::string& error);
