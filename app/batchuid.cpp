// Batch UIDs that stay unique and short: installation identity, batch stamps, the batch root.
#include "batchuid.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "uids.h"

namespace {

std::string FirstLine(const char* path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && static_cast<unsigned char>(line.back()) <= 0x20) line.pop_back();
  return line;
}

// 2020-01-01T00:00:00Z in seconds since 1970.
constexpr int64_t kStampEpochSeconds = 1577836800;

uint64_t ClockStamp() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const int64_t tenths = std::chrono::duration_cast<std::chrono::milliseconds>(now).count() / 100;
  const int64_t sinceEpoch = tenths - kStampEpochSeconds * 10;
  return sinceEpoch > 0 ? static_cast<uint64_t>(sinceEpoch) : 1;
}

// Reads and replaces the last stamp in the shared file under an exclusive lock. False when the
// file cannot be used; the caller then relies on its own memory.
bool ExchangeSharedStamp(uint64_t wanted, uint64_t& granted) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "velloran-batch-stamp";
  const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (descriptor < 0) return false;
  bool ok = ::flock(descriptor, LOCK_EX) == 0;
  if (ok) {
    char text[32] = {};
    const ssize_t got = ::pread(descriptor, text, sizeof text - 1, 0);
    const uint64_t last = got > 0 ? std::strtoull(text, nullptr, 10) : 0;
    granted = wanted > last ? wanted : last + 1;
    const std::string next = std::to_string(granted) + "\n";
    ok = ::ftruncate(descriptor, 0) == 0 &&
         ::pwrite(descriptor, next.data(), next.size(), 0) == static_cast<ssize_t>(next.size());
    ::flock(descriptor, LOCK_UN);
  }
  ::close(descriptor);
  return ok;
}

size_t DecimalDigits(size_t number) {
  size_t digits = 1;
  while (number >= 10) {
    number /= 10;
    ++digits;
  }
  return digits;
}

}  // namespace

std::string InstallationId() {
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    const std::string id = FirstLine(path);
    if (id.size() >= 8) return id;
  }
  char host[256] = {};
  std::string id = ::gethostname(host, sizeof host - 1) == 0 ? host : "";
  while (id.size() < 8) id.insert(id.begin(), '0');
  return id;
}

uint64_t NextBatchStamp() {
  static std::mutex guard;
  static uint64_t lastInProcess = 0;
  std::lock_guard<std::mutex> lock(guard);
  uint64_t wanted = ClockStamp();
  if (wanted <= lastInProcess) wanted = lastInProcess + 1;
  uint64_t granted = wanted;
  if (!ExchangeSharedStamp(wanted, granted)) granted = wanted;
  lastInProcess = granted;
  return granted;
}

std::string MakeBatchUidRoot(std::string_view generatedUid, uint64_t stamp, size_t itemCount) {
  const std::string_view root = kOrganisationUidRoot;
  if (generatedUid.empty() || generatedUid.substr(0, root.size()) != root) return "";
  std::vector<std::string> components;
  std::string_view rest = generatedUid.substr(root.size());
  while (!rest.empty()) {
    const size_t dot = rest.find('.');
    const std::string_view part = rest.substr(0, dot);
    if (!part.empty()) components.emplace_back(part);
    rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
  }
  // The last component is the study date and time to the minute; the stamp replaces it.
  if (components.empty()) return "";
  if (components.size() >= 2) components.pop_back();
  components.push_back(std::to_string(stamp));

  const size_t budget = kMaxUidLength - 4 - DecimalDigits(itemCount == 0 ? 1 : itemCount);
  auto joined = [&] {
    std::string uid(root);
    for (const std::string& part : components) uid += "." + part;
    return uid;
  };
  std::string uid = joined();
  // The components between the product/installation one and the stamp carry patient and
  // accession digits; they add no uniqueness, so they give way first.
  while (uid.size() > budget && components.size() > 2) {
    std::string& middle = components[1];
    middle.erase(0, 1);
    if (middle.empty()) {
      components.erase(components.begin() + 1);
    } else if (middle.size() > 1 && middle[0] == '0') {
      middle[0] = '1';  // a component does not start with a zero
    }
    uid = joined();
  }
  return uid;
}
