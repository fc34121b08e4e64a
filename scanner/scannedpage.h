// A scanned page in memory, built from SANE frames, and its BMP file.
#pragma once

#include <sane/sane.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct ScannedPage {
  uint32_t width = 0;
  uint32_t height = 0;
  int channels = 0;              // 1 for grey, 3 for RGB
  std::vector<uint8_t> samples;  // width * height * channels, rows top to bottom
  double resolution = 0;         // dots per inch
};

// Checks what sane_get_parameters reported before any data is read. Empty when the frame can be
// taken; otherwise the reason.
std::string CheckFrameParameters(const SANE_Parameters& parameters);

// Adds one frame's bytes to the page: a grey or RGB frame makes the page, a red, green or blue
// frame fills its channel. Samples become 8-bit (16-bit ones keep their high byte, a line-art bit
// set means black). Only complete lines count, so a frame cut short gives a shorter page. False
// with the reason when the frame does not fit the page built so far.
bool AddFrame(const SANE_Parameters& parameters, const std::vector<uint8_t>& bytes,
              ScannedPage& page, std::string& problem);

// The page as a BMP file: 8-bit with a grey palette, or 24-bit colour; bottom-up rows, each
// padded to four bytes; the resolution in pixels per metre.
std::vector<uint8_t> EncodeBmp(const ScannedPage& page);

// Writes the BMP beside `target` first and renames it into place, so a failed write never
// replaces an earlier page. The page lies in the work folder, so its file is the user's alone
// (mode 0600). 0, or the errno of the failing call.
int WriteBmpFile(const ScannedPage& page, const std::filesystem::path& target);
