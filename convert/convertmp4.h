// The video converter: an MP4 file becomes one video object carrying the whole file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "conversioncontext.h"

// How the video stream codes its colour, as the object declares it.
inline constexpr const char* kVideoPhotometricInterpretation = "YBR_PARTIAL_420";

// Probes the file for its frame size and appends a video object whose single pixel-data
// fragment is the file, byte for byte (made even). The file's bytes are held once, inside the
// object. A file that does not probe as MP4 video logs the probe's and the converter's lines and
// consumes no number; any failure appends nothing and leaves a message naming the file.
bool ConvertMP4(const std::string& path, DataSetList& list, std::string& error);
