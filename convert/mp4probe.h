// Probing an MP4 file for its video frame size, rate and duration without decoding a frame.
#pragma once

#include <cstdint>
#include <string>

// Opens the file as MP4 video and reads its first video stream's description. Returns 0 on
// success and then writes the outputs; otherwise a non-zero code (a negative library code) and
// the outputs stay as they were. Logs "ERROR, GetMP4Information, Can't open File: ..." when the
// file does not open as MP4. When `sampleDataEnd` is given it receives the byte offset just past
// the last sample the file's index points at (0 when the index names none): a file shorter than
// that was cut short, although its index at the front still opens.
int32_t GetMP4Information(const std::string& path, uint32_t& width, uint32_t& height,
                          uint32_t& frameRate, uint64_t& durationMilliseconds,
                          uint64_t* sampleDataEnd = nullptr);

// What the first video stream is encoded with, as its decoder configuration record (avcC or hvcC)
// declares it, and how many frames it holds at what rate.
enum class VideoCodec { H264, Hevc, Other };
struct VideoEncoding {
  VideoCodec codec = VideoCodec::Other;
  int profile = -1;         // H.264 profile_idc or HEVC general_profile_idc; -1 when unknown
  int level = -1;           // H.264 level_idc (41 for 4.1) or HEVC general_level_idc (153 for 5.1)
  int constraintFlags = 0;  // H.264 constraint_set0..5 flags, 0x80 being constraint_set0
  bool highTier = false;    // HEVC general_tier_flag
  int bitDepth = 8;         // luma bits per sample
  std::string name;         // the codec's short name ("h264", "hevc", "mpeg4", ...)
  uint64_t frames = 0;      // frames in the stream; 0 when unknown
  int rateNumerator = 0;    // frames per second as a fraction; 0 when unknown
  int rateDenominator = 0;
};

// The probe with the stream's encoding as well (written on success).
int32_t GetMP4Information(const std::string& path, uint32_t& width, uint32_t& height,
                          uint32_t& frameRate, uint64_t& durationMilliseconds,
                          uint64_t* sampleDataEnd, VideoEncoding* encoding);

// A result code as 8 upper-case hexadecimal digits, as the log lines show it.
std::string ResultCodeText(int32_t code);
