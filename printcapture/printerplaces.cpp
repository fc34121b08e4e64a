// The printer application's places and free file names.
#include "printerplaces.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Gives up looking for a free name after this many; a folder holding them all is broken.
constexpr int kMostVariants = 10000;

}  // namespace

std::string PrinterApplicationUri(const std::filesystem::path& socket) {
  // The host part of the URI is the socket's path with every character outside the unreserved
  // ones written as %XX, which is how CUPS names a printer behind a local socket.
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string host;
  for (const unsigned char c : socket.string()) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      host += static_cast<char>(c);
    } else {
      host += '%';
      host += kHex[c >> 4];
      host += kHex[c & 15];
    }
  }
  return "ipp://" + host + "/ipp/print";
}

std::filesystem::path UserSpoolFolder(const std::filesystem::path& spool, uid_t user) {
  return spool / std::to_string(user);
}

std::string LinkUnderFreeName(int fromFolder, const std::string& from, int toFolder,
                              const std::string& name) {
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string extension = stem.size() == name.size() ? "" : name.substr(dot);
  for (int variant = 1; variant <= kMostVariants; ++variant) {
    const std::string candidate =
        variant == 1 ? name : stem + "_" + std::to_string(variant) + extension;
    if (linkat(fromFolder, from.c_str(), toFolder, candidate.c_str(), 0) == 0) return candidate;
    if (errno != EEXIST) return {};
  }
  errno = EEXIST;
  return {};
}

bool CopyAll(int from, int to) {
  char block[65536];
  while (true) {
    const ssize_t count = read(from, block, sizeof block);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return count == 0;
    for (ssize_t written = 0; written < count;) {
      const ssize_t now = write(to, block + written, static_cast<size_t>(count - written));
      if (now < 0 && errno == EINTR) continue;
      if (now < 0) return false;
      written += now;
    }
  }
}
