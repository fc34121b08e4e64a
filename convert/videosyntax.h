// Which video transfer syntax a stream's encoding fits, and the stream described in words.
#pragma once

#include <cstdint>
#include <string>

#include "mp4probe.h"

// The transfer syntax whose limits a stream of this encoding and frame size meets:
// - H.264 High, or Main or Constrained Baseline (which every High decoder plays), at level 4.1 or
//   below: MPEG-4 AVC/H.264 High Profile / Level 4.1 (.102); at level 4.2: High Profile /
//   Level 4.2 For 2D Video (.104); both within 1920 × 1080 and 60 frames a second. Every stream
//   the BD-compatible syntax (.103) admits is within .102, which more receivers accept; the 3D and
//   stereo syntaxes are never claimed, as the stream does not show that it is either;
// - HEVC Main (.107) or Main 10 (.108), Main tier, level 5.1 or below, within 4096 × 2160 and
//   60 frames a second.
// Empty when none fits: such a stream is never labelled.
std::string TransferSyntaxForVideo(const VideoEncoding& encoding, uint32_t width, uint32_t height);

// The stream in words for a message: "H.264 High 5.1, 3840 × 2160", with the frame rate added
// when it is above 60 a second.
std::string DescribeVideo(const VideoEncoding& encoding, uint32_t width, uint32_t height);

// "ISO_14496_10" for H.264, "ISO_23008_2" for HEVC: how the stream lost detail.
const char* VideoCompressionMethod(const VideoEncoding& encoding);
