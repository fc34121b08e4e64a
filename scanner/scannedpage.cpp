// Turning SANE frames into a page and writing it as a Windows bitmap.
#include "scannedpage.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "rgbbitmap.h"

namespace {

int ChannelsOf(SANE_Frame format) {
  return format == SANE_FRAME_RGB ? 3 : 1;
}

bool IsSingleColour(SANE_Frame format) {
  return format == SANE_FRAME_RED || format == SANE_FRAME_GREEN || format == SANE_FRAME_BLUE;
}

// The 8-bit value of sample `index` of a line.
uint8_t SampleOf(const uint8_t* line, size_t index, int depth) {
  switch (depth) {
    case 1:
      return (line[index / 8] & (0x80 >> (index % 8))) != 0 ? 0 : 255;
    case 16: {
      uint16_t word;  // SANE sends 16-bit samples in the machine's byte order
      std::memcpy(&word, line + index * 2, 2);
      return static_cast<uint8_t>(word >> 8);
    }
    default:
      return line[index];
  }
}

void PutLittle16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutLittle32(std::vector<uint8_t>& out, uint32_t value) {
  PutLittle16(out, value & 0xFFFFu);
  PutLittle16(out, value >> 16);
}

}  // namespace

std::string CheckFrameParameters(const SANE_Parameters& parameters) {
  if (parameters.format != SANE_FRAME_GRAY && parameters.format != SANE_FRAME_RGB &&
      !IsSingleColour(parameters.format)) {
    return "unknown frame format " + std::to_string(parameters.format);
  }
  if (parameters.depth != 1 && parameters.depth != 8 && parameters.depth != 16) {
    return "unsupported sample depth " + std::to_string(parameters.depth);
  }
  if (parameters.pixels_per_line <= 0 || parameters.lines == 0 || parameters.lines < -1) {
    return "the device reports an empty page";
  }
  const uint64_t samples =
      uint64_t(parameters.pixels_per_line) * uint64_t(ChannelsOf(parameters.format));
  const uint64_t needed = (samples * uint64_t(parameters.depth) + 7) / 8;
  if (parameters.bytes_per_line <= 0 || uint64_t(parameters.bytes_per_line) < needed) {
    return "the line length does not hold the line's samples";
  }
  const uint64_t lines = parameters.lines > 0 ? uint64_t(parameters.lines) : 1;
  return CheckPictureSize(uint64_t(parameters.pixels_per_line), lines);
}

bool AddFrame(const SANE_Parameters& parameters, const std::vector<uint8_t>& bytes,
              ScannedPage& page, std::string& problem) {
  problem = CheckFrameParameters(parameters);
  if (!problem.empty()) return false;
  const size_t lineBytes = static_cast<size_t>(parameters.bytes_per_line);
  size_t lines = bytes.size() / lineBytes;
  if (parameters.lines > 0) lines = std::min(lines, static_cast<size_t>(parameters.lines));
  const uint32_t width = static_cast<uint32_t>(parameters.pixels_per_line);
  const int depth = parameters.depth;

  if (!IsSingleColour(parameters.format)) {
    if (lines == 0) {
      problem = "the device sent no complete line";
      return false;
    }
    problem = CheckPictureSize(width, lines);
    if (!problem.empty()) return false;
    const int channels = ChannelsOf(parameters.format);
    page.width = width;
    page.height = static_cast<uint32_t>(lines);
    page.channels = channels;
    page.samples.assign(size_t(width) * lines * size_t(channels), 0);
    const size_t lineSamples = size_t(width) * size_t(channels);
    for (size_t y = 0; y < lines; ++y) {
      const uint8_t* line = bytes.data() + y * lineBytes;
      uint8_t* out = page.samples.data() + y * lineSamples;
      for (size_t i = 0; i < lineSamples; ++i) out[i] = SampleOf(line, i, depth);
    }
    return true;
  }

  // One colour of a three-pass scan: the first such frame sizes the page, the others must match.
  if (page.channels == 0) {
    if (lines == 0) {
      problem = "the device sent no complete line";
      return false;
    }
    page.width = width;
    page.height = static_cast<uint32_t>(lines);
    page.channels = 3;
    page.samples.assign(size_t(width) * lines * 3, 0);
  } else if (page.channels != 3 || page.width != width) {
    problem = "the colour frames of the page differ in size";
    return false;
  }
  const size_t channel = parameters.format == SANE_FRAME_RED     ? 0
                         : parameters.format == SANE_FRAME_GREEN ? 1
                                                                 : 2;
  // A colour frame cut shorter than the first leaves the rest of its channel black.
  const size_t usable = std::min(lines, size_t(page.height));
  for (size_t y = 0; y < usable; ++y) {
    const uint8_t* line = bytes.data() + y * lineBytes;
    uint8_t* out = page.samples.data() + y * size_t(width) * 3 + channel;
    for (size_t x = 0; x < width; ++x) out[x * 3] = SampleOf(line, x, depth);
  }
  return true;
}

std::vector<uint8_t> EncodeBmp(const ScannedPage& page) {
  const bool grey = page.channels == 1;
  const uint32_t rowBytes = (page.width * (grey ? 1u : 3u) + 3u) & ~3u;
  const uint32_t paletteBytes = grey ? 256u * 4u : 0u;
  const uint32_t pixelOffset = 14u + 40u + paletteBytes;
  const uint32_t imageBytes = rowBytes * page.height;
  const uint32_t pixelsPerMetre = static_cast<uint32_t>(std::lround(page.resolution / 0.0254));

  std::vector<uint8_t> out;
  out.reserve(size_t(pixelOffset) + imageBytes);
  // BITMAPFILEHEADER
  out.push_back('B');
  out.push_back('M');
  PutLittle32(out, pixelOffset + imageBytes);
  PutLittle32(out, 0);
  PutLittle32(out, pixelOffset);
  // BITMAPINFOHEADER: positive height, so rows run bottom-up
  PutLittle32(out, 40);
  PutLittle32(out, page.width);
  PutLittle32(out, page.height);
  PutLittle16(out, 1);
  PutLittle16(out, grey ? 8 : 24);
  PutLittle32(out, 0);  // BI_RGB
  PutLittle32(out, imageBytes);
  PutLittle32(out, pixelsPerMetre);
  PutLittle32(out, pixelsPerMetre);
  PutLittle32(out, grey ? 256 : 0);
  PutLittle32(out, 0);
  if (grey) {
    for (uint32_t level = 0; level < 256; ++level) {
      const uint8_t value = static_cast<uint8_t>(level);
      out.insert(out.end(), {value, value, value, 0});
    }
  }
  const size_t lineSamples = size_t(page.width) * size_t(page.channels);
  for (uint32_t row = page.height; row-- > 0;) {
    const uint8_t* line = page.samples.data() + row * lineSamples;
    const size_t start = out.size();
    if (grey) {
      out.insert(out.end(), line, line + lineSamples);
    } else {
      for (uint32_t x = 0; x < page.width; ++x) {
        out.insert(out.end(), {line[x * 3 + 2], line[x * 3 + 1], line[x * 3]});
      }
    }
    out.resize(start + rowBytes, 0);
  }
  return out;
}

int WriteBmpFile(const ScannedPage& page, const std::filesystem::path& target) {
  const std::vector<uint8_t> bytes = EncodeBmp(page);
  const std::filesystem::path partial = target.string() + ".part";
  const int descriptor = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (descriptor < 0) return errno;
  size_t written = 0;
  int error = 0;
  while (written < bytes.size()) {
    const ssize_t count = ::write(descriptor, bytes.data() + written, bytes.size() - written);
    if (count < 0) {
      if (errno == EINTR) continue;
      error = errno;
      break;
    }
    written += static_cast<size_t>(count);
  }
  if (::close(descriptor) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(partial.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(partial.c_str());
  return error;
}
