// Video transfer syntaxes by codec, profile, level, frame size and rate.
#include "videosyntax.h"

#include <cstdio>

#include "syntaxes.h"

namespace {

// H.264 profile_idc values, and the constraint_set1 flag that makes a stream playable by every
// Main (and so every High) decoder.
constexpr int kH264Baseline = 66;
constexpr int kH264Main = 77;
constexpr int kH264High = 100;
constexpr int kH264ConstraintSet1 = 0x40;
// HEVC general_profile_idc values and general_level_idc of level 5.1 (30 times the level).
constexpr int kHevcMain = 1;
constexpr int kHevcMain10 = 2;
constexpr int kHevcLevel51 = 153;

constexpr double kMaxFrameRate = 60.0;

struct VideoLimit {
  VideoCodec codec;
  int profile;   // -1: any H.264 profile a High decoder plays
  int maxLevel;  // as the stream writes it
  uint32_t maxWidth;
  uint32_t maxHeight;
  const char* syntax;
};

constexpr VideoLimit kLimits[] = {
    {VideoCodec::H264, -1, 41, 1920, 1080, kMpeg4Syntax},
    {VideoCodec::H264, -1, 42, 1920, 1080, kMpeg4Level42Syntax},
    {VideoCodec::Hevc, kHevcMain, kHevcLevel51, 4096, 2160, kHevcMainSyntax},
    {VideoCodec::Hevc, kHevcMain10, kHevcLevel51, 4096, 2160, kHevcMain10Syntax},
};

bool PlayedByHighDecoders(const VideoEncoding& encoding) {
  return encoding.profile == kH264High || encoding.profile == kH264Main ||
         (encoding.constraintFlags & kH264ConstraintSet1) != 0;
}

double FrameRate(const VideoEncoding& encoding) {
  if (encoding.rateNumerator <= 0 || encoding.rateDenominator <= 0) return 0;
  return static_cast<double>(encoding.rateNumerator) / encoding.rateDenominator;
}

std::string H264ProfileName(const VideoEncoding& encoding) {
  switch (encoding.profile) {
    case kH264Baseline:
      return (encoding.constraintFlags & kH264ConstraintSet1) != 0 ? "Constrained Baseline"
                                                                   : "Baseline";
    case kH264Main:
      return "Main";
    case 88:
      return "Extended";
    case kH264High:
      return "High";
    case 110:
      return "High 10";
    case 122:
      return "High 4:2:2";
    case 244:
      return "High 4:4:4 Predictive";
    case 44:
      return "CAVLC 4:4:4 Intra";
    case 118:
      return "Multiview High";
    case 128:
      return "Stereo High";
    case -1:
      return "of unknown profile";
    default:
      return "profile " + std::to_string(encoding.profile);
  }
}

std::string HevcProfileName(const VideoEncoding& encoding) {
  switch (encoding.profile) {
    case kHevcMain:
      return "Main";
    case kHevcMain10:
      return "Main 10";
    case 3:
      return "Main Still Picture";
    case 4:
      return "Range Extensions";
    case -1:
      return "of unknown profile";
    default:
      return "profile " + std::to_string(encoding.profile);
  }
}

// "4.1" from 41 (H.264) or 123 (HEVC, 30 times the level); whole levels without ".0".
std::string LevelName(const VideoEncoding& encoding) {
  if (encoding.level <= 0) return "level unknown";
  const int tenths = encoding.codec == VideoCodec::Hevc ? encoding.level / 3 : encoding.level;
  std::string text = std::to_string(tenths / 10);
  if (tenths % 10 != 0) text += "." + std::to_string(tenths % 10);
  return text;
}

}  // namespace

std::string TransferSyntaxForVideo(const VideoEncoding& encoding, uint32_t width, uint32_t height) {
  const double rate = FrameRate(encoding);
  if (rate > kMaxFrameRate * 1.001 || encoding.level <= 0) return {};
  for (const VideoLimit& limit : kLimits) {
    if (limit.codec != encoding.codec || encoding.level > limit.maxLevel) continue;
    if (width > limit.maxWidth || height > limit.maxHeight) continue;
    if (limit.codec == VideoCodec::H264) {
      if (!PlayedByHighDecoders(encoding)) continue;
    } else if (encoding.profile != limit.profile || encoding.highTier) {
      continue;
    }
    return limit.syntax;
  }
  return {};
}

std::string DescribeVideo(const VideoEncoding& encoding, uint32_t width, uint32_t height) {
  std::string text;
  switch (encoding.codec) {
    case VideoCodec::H264:
      text = "H.264 " + H264ProfileName(encoding) + " " + LevelName(encoding);
      break;
    case VideoCodec::Hevc:
      text = "HEVC " + HevcProfileName(encoding) + (encoding.highTier ? " High tier " : " ") +
             LevelName(encoding);
      break;
    case VideoCodec::Other:
      text = encoding.name;
      break;
  }
  text += ", " + std::to_string(width) + " \u00D7 " + std::to_string(height);
  const double rate = FrameRate(encoding);
  if (rate > kMaxFrameRate * 1.001) {
    char rateText[32];
    std::snprintf(rateText, sizeof rateText, "%.6g", rate);
    text += std::string(" at ") + rateText + " frames a second";
  }
  return text;
}

const char* VideoCompressionMethod(const VideoEncoding& encoding) {
  return encoding.codec == VideoCodec::Hevc ? "ISO_23008_2" : "ISO_14496_10";
}
