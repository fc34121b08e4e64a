// Batch UIDs that stay unique and short: installation identity, batch stamps, the batch root.
#include "batchuid.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "appfolders.h"
#include "log.h"
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

// Closes a descriptor when it goes out of scope (and with it the lock taken on it).
class OpenFile {
 public:
  explicit OpenFile(int descriptor) : descriptor_(descriptor) {}
  ~OpenFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int get() const { return descriptor_; }

 private:
  int descriptor_;
};

enum class Exchange {
  Granted,      // the stamp was read and replaced under the lock
  Busy,         // another process held the lock for the whole wait
  Unavailable,  // the file cannot be used at all
};

// Reads and replaces the last stamp in the user's stamp file under an exclusive lock, waiting at
// most `wait` for it. The file is never followed through a link and never written unless it is
// a plain file of this user.
Exchange ExchangeSharedStamp(const std::filesystem::path& path, uint64_t wanted,
                             std::chrono::milliseconds wait, uint64_t& granted, std::string& why) {
  const OpenFile file(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (file.get() < 0) {
    why = path.string() + ": " + std::strerror(errno);
    return Exchange::Unavailable;
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_uid != ::geteuid()) {
    why = path.string() + " is not a plain file of this user";
    return Exchange::Unavailable;
  }
  if ((status.st_mode & 077) != 0) ::fchmod(file.get(), 0600);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      why = path.string() + ": " + std::strerror(errno);
      return Exchange::Unavailable;
    }
    if (std::chrono::steady_clock::now() >= deadline) return Exchange::Busy;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  char text[32] = {};
  const ssize_t got = ::pread(file.get(), text, sizeof text - 1, 0);
  const uint64_t last = got > 0 ? std::strtoull(text, nullptr, 10) : 0;
  granted = wanted > last ? wanted : last + 1;
  const std::string next = std::to_string(granted) + "\n";
  if (::ftruncate(file.get(), 0) != 0 ||
      ::pwrite(file.get(), next.data(), next.size(), 0) != static_cast<ssize_t>(next.size())) {
    why = path.string() + ": " + std::strerror(errno);
    return Exchange::Unavailable;
  }
  return Exchange::Granted;
}

std::string SecondsText(std::chrono::milliseconds wait) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", static_cast<double>(wait.count()) / 1000.0);
  return text;
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

std::optional<uint64_t> NextBatchStamp(UserMessage& problem, std::chrono::milliseconds wait) {
  static std::mutex guard;
  static uint64_t lastInProcess = 0;
  std::lock_guard<std::mutex> lock(guard);
  uint64_t wanted = ClockStamp();
  if (wanted <= lastInProcess) wanted = lastInProcess + 1;
  std::string why;
  const std::filesystem::path folder = PrivateRuntimeFolder(why);
  if (!folder.empty()) {
    const std::filesystem::path path = folder / kBatchStampFileName;
    uint64_t granted = wanted;
    switch (ExchangeSharedStamp(path, wanted, wait, granted, why)) {
      case Exchange::Granted:
        lastInProcess = granted;
        return granted;
      case Exchange::Busy:
        problem =
            UserMessage(UserMessageKind::BatchStampBusy,
                        {UserMessage::Text(path.string()), UserMessage::Text(SecondsText(wait))});
        WriteLog("ERROR, NextBatchStamp, " + path.string() + " still locked after " +
                 SecondsText(wait) + " s");
        return std::nullopt;
      case Exchange::Unavailable:
        break;
    }
  }
  // Other users cannot collide with this batch (their user ID is part of the root); only another
  // process of this user could, within the same tenth of a second.
  WriteLog("WARNING, NextBatchStamp, " + why + "; the batch is numbered by this process alone");
  lastInProcess = wanted;
  return wanted;
}

uint64_t UidUserComponent() {
  return static_cast<uint64_t>(::geteuid());
}

std::string MakeBatchUidRoot(std::string_view generatedUid, uint64_t user, uint64_t stamp,
                             size_t itemCount) {
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
  // The last component is the study date and time to the minute; the user and the stamp replace
  // it.
  if (components.empty()) return "";
  if (components.size() >= 2) components.pop_back();
  components.push_back(std::to_string(user));
  components.push_back(std::to_string(stamp));

  const size_t budget = kMaxUidLength - 4 - DecimalDigits(itemCount == 0 ? 1 : itemCount);
  auto joined = [&] {
    std::string uid(root);
    for (const std::string& part : components) uid += "." + part;
    return uid;
  };
  std::string uid = joined();
  // The components between the product/installation one and the user carry patient and
  // accession digits; they add no uniqueness, so they give way first.
  while (uid.size() > budget && components.size() > 3) {
    std::string& middle = components[1];
    middle.erase(0, 1);
    if (middle.empty()) {
      components.erase(components.begin() + 1);
    } else if (middle.size() > 1 && middle[0] == '0') {
      middle[0] = '1';  // a component does not start with a zero
    }
    uid = joined();
  }
  // The user's low digits are the ones that tell users apart; the leading ones go last of all.
  std::string& userPart = components[components.size() - 2];
  while (uid.size() > budget && userPart.size() > 1) {
    userPart = std::to_string(std::stoull(userPart.substr(1)));
    uid = joined();
  }
  return uid;
}
