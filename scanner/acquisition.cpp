// Reading frames with sane_start/sane_read and writing each page as a bitmap.
#include "acquisition.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr size_t kReadChunk = 64 * 1024;
// A page of unknown length (a hand scanner) stops growing here.
constexpr size_t kMaxUnknownFrameBytes = size_t{1} << 30;

ScanResult Failure(ScanStep step, SANE_Status status) {
  return ScanResult::Failure(step, static_cast<uint32_t>(status));
}

bool IsSingleColour(SANE_Frame format) {
  return format == SANE_FRAME_RED || format == SANE_FRAME_GREEN || format == SANE_FRAME_BLUE;
}

}  // namespace

void ScanCanceller::Cancel() {
  requested_.store(true);
  sane_cancel(device_);
}

ScanResult TransferPage(SANE_Handle device, const ScanCanceller& canceller,
                        const ProgressCallback& progress, ScannedPage& page) {
  page = ScannedPage{};
  int lastPercent = -1;
  std::vector<uint8_t> chunk(kReadChunk);
  for (int frame = 0;; ++frame) {
    if (canceller.Requested()) return Failure(ScanStep::Start, SANE_STATUS_CANCELLED);
    SANE_Status status = sane_start(device);
    if (status != SANE_STATUS_GOOD) return Failure(ScanStep::Start, status);
    SANE_Parameters parameters{};
    status = sane_get_parameters(device, &parameters);
    if (status != SANE_STATUS_GOOD) return Failure(ScanStep::Parameters, status);
    if (!CheckFrameParameters(parameters).empty()) {
      return Failure(ScanStep::Parameters, SANE_STATUS_INVAL);
    }
    // A three-pass scan sends red, green and blue as three frames of one page.
    const int frames = IsSingleColour(parameters.format) ? 3 : 1;
    if (frame >= frames) return Failure(ScanStep::Parameters, SANE_STATUS_INVAL);
    const bool lengthKnown = parameters.lines > 0;
    const size_t expected =
        lengthKnown ? size_t(parameters.bytes_per_line) * size_t(parameters.lines) : 0;

    std::vector<uint8_t> bytes;
    bytes.reserve(std::min(lengthKnown ? expected : kReadChunk, size_t{64} << 20));
    for (;;) {
      SANE_Int length = 0;
      status = sane_read(device, chunk.data(), static_cast<SANE_Int>(chunk.size()), &length);
      if (status == SANE_STATUS_EOF) break;
      if (status != SANE_STATUS_GOOD) return Failure(ScanStep::Read, status);
      if (canceller.Requested()) return Failure(ScanStep::Read, SANE_STATUS_CANCELLED);
      size_t take = static_cast<size_t>(std::clamp<SANE_Int>(length, 0, SANE_Int(chunk.size())));
      // Bytes beyond the announced page are dropped; a page of unknown length is capped.
      if (lengthKnown) take = std::min(take, expected - bytes.size());
      if (!lengthKnown && bytes.size() + take > kMaxUnknownFrameBytes) {
        return Failure(ScanStep::Read, SANE_STATUS_NO_MEM);
      }
      bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<ptrdiff_t>(take));
      if (lengthKnown && progress) {
        // 100 is reported once the page is on disk.
        const int percent =
            std::min<int>(99, static_cast<int>((uint64_t(frame) * expected + bytes.size()) * 100 /
                                               (uint64_t(frames) * expected)));
        if (percent != lastPercent) {
          lastPercent = percent;
          progress(percent);
        }
      }
    }
    if (canceller.Requested()) return Failure(ScanStep::Read, SANE_STATUS_CANCELLED);
    std::string problem;
    if (!AddFrame(parameters, bytes, page, problem)) {
      return Failure(ScanStep::Read, SANE_STATUS_IO_ERROR);
    }
    if (parameters.last_frame) break;
  }
  return {};
}

ScanResult AcquirePages(SANE_Handle device, const AcquisitionRequest& request,
                        const ScanCanceller& canceller, const ProgressCallback& progress,
                        const PageCallback& onPage, int& pagesDone) {
  pagesDone = 0;
  ScanResult result;
  for (;;) {
    if (progress) progress(0);
    ScannedPage page;
    result = TransferPage(device, canceller, progress, page);
    if (!result.Ok()) {
      // An empty feeder after at least one page is the normal end of a feeder scan.
      if (request.allFeederPages && pagesDone > 0 && result.step == ScanStep::Start &&
          result.reason == static_cast<uint32_t>(SANE_STATUS_NO_DOCS)) {
        result = {};
      }
      break;
    }
    page.resolution = request.resolution;
    if (const int error = WriteBmpFile(page, request.bitmapPath); error != 0) {
      result = ScanResult::Failure(ScanStep::WriteBitmap, static_cast<uint32_t>(error));
      break;
    }
    if (progress) progress(100);
    ++pagesDone;
    if (onPage && !onPage(page)) break;
    if (!request.allFeederPages) break;
  }
  sane_cancel(device);
  return result;
}
