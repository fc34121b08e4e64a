// Saving scanned pages as JPEG items.
#include "scanfiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "convertimage.h"
#include "itemlist.h"
#include "jpegfile.h"

namespace {

// Writes all bytes; false with errno set on failure.
bool WriteAll(int descriptor, const std::vector<uint8_t>& bytes) {
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count = ::write(descriptor, bytes.data() + written, bytes.size() - written);
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written += static_cast<size_t>(count);
  }
  return true;
}

}  // namespace

std::filesystem::path ScanBitmapPath(const std::filesystem::path& workFolder) {
  return workFolder / "scan.bmp";
}

std::string ScanFileStem(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[16];
  std::strftime(text, sizeof text, "%y%m%d%H%M%S", &local);
  return text;
}

std::filesystem::path ClaimPageFileName(const std::filesystem::path& workFolder,
                                        std::chrono::system_clock::time_point when,
                                        std::string& error) {
  const std::string stem = ScanFileStem(when);
  for (int number = 1; number < 10000; ++number) {
    const std::string name =
        stem + (number == 1 ? std::string() : "-" + std::to_string(number)) + ".jpg";
    const std::filesystem::path path = workFolder / name;
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor >= 0) {
      ::close(descriptor);
      return path;
    }
    if (errno != EEXIST) {
      error = path.string() + ": " + std::strerror(errno);
      return {};
    }
  }
  error = "no free file name for " + stem;
  return {};
}

SavedPage SaveScannedPage(const std::filesystem::path& workFolder,
                          std::chrono::system_clock::time_point when, ItemList& items) {
  SavedPage result;
  const std::filesystem::path bitmapPath = ScanBitmapPath(workFolder);
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(bitmapPath, ignored)) return result;

  RgbBitmap bitmap;
  std::string problem;
  if (!DecodePictureFile(bitmapPath.string(), bitmap, problem)) {
    result.error = "ERROR, saving scanned page: " + problem;
    return result;
  }
  std::vector<uint8_t> stream;
  if (!EncodeJpegBaseline(bitmap, kImageJpegQuality, stream, problem)) {
    result.error = "ERROR, saving scanned page: " + problem;
    return result;
  }
  const std::filesystem::path target = ClaimPageFileName(workFolder, when, problem);
  if (target.empty()) {
    result.error = "ERROR, saving scanned page: " + problem;
    return result;
  }
  const int descriptor = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  bool written = descriptor >= 0 && WriteAll(descriptor, stream);
  const int writeError = errno;
  if (descriptor >= 0 && ::close(descriptor) != 0 && written) written = false;
  if (!written) {
    const int error = writeError != 0 ? writeError : errno;
    ::unlink(target.c_str());
    result.error = "ERROR, saving scanned page: " + target.string() + ": " + std::strerror(error);
    return result;
  }
  items.Append(target.string());
  std::filesystem::remove(bitmapPath, ignored);
  result.saved = true;
  result.path = target.string();
  return result;
}

void DeleteScanBitmap(const std::filesystem::path& workFolder) {
  std::error_code ignored;
  std::filesystem::remove(ScanBitmapPath(workFolder), ignored);
}
