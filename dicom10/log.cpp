// The log writer. One mutex serialises writers so lines are never interleaved; the file is
// opened per line so that it stays complete if the process dies.
#include "log.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

std::atomic<int> LogLevel{0};

namespace {

struct LogTargets {
  std::mutex mutex;
  std::string filePath;
  // Name the log viewer listens under: see ListenerAddress.
  std::string listenerTitle;
  std::string listenerClass;
  std::string firstError;
};

LogTargets& Targets() {
  static LogTargets targets;
  return targets;
}

std::string TimeStamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

// Hands the bare message and its terminating zero byte to a log viewer, when one listens. A
// missing viewer refuses at once, and a viewer that does not read in time loses the message.
void ForwardToListener(const std::string& name, std::string_view message) {
  const std::string address = ListenerAddress(name);
  if (address.empty()) return;
  sockaddr_un target{};
  target.sun_family = AF_UNIX;
  if (address.size() > sizeof target.sun_path) return;
  std::memcpy(target.sun_path, address.data(), address.size());
  const int socketHandle = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socketHandle < 0) return;
  const timeval timeout{0, 500 * 1000};
  setsockopt(socketHandle, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  std::string payload(message);
  payload.push_back('\0');
  sendto(socketHandle, payload.data(), payload.size(), MSG_NOSIGNAL,
         reinterpret_cast<const sockaddr*>(&target),
         static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size()));
  close(socketHandle);
}

}  // namespace

std::string ListenerAddress(const std::string& name) {
  // Lines may name patients, so they go only where no other user can listen: a socket in the
  // user's own runtime folder, which must be a real folder of this user that nobody else may
  // enter. Without one, the viewer gets nothing.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || runtime[0] != '/') return "";
  struct stat folder {};
  if (lstat(runtime, &folder) != 0 || !S_ISDIR(folder.st_mode) || folder.st_uid != geteuid() ||
      (folder.st_mode & 077) != 0) {
    return "";
  }
  std::string leaf = "velloran-log-" + name;
  for (char& c : leaf) {
    if (c == '/' || c == '\0') c = '_';
  }
  std::string path = std::string(runtime) + "/" + leaf;
  if (path.size() >= sizeof(sockaddr_un{}.sun_path)) return "";
  return path;
}

void WriteLog(std::string_view message) {
  LogTargets& targets = Targets();
  std::string line = TimeStamp();
  line += ", ";
  line += message;
  line += '\n';
  std::lock_guard lock(targets.mutex);
  if (targets.firstError.empty() && message.substr(0, 5) == "ERROR") targets.firstError = message;
  if (!targets.filePath.empty()) {
    // Lines name patients: a new log file is readable by its user alone, whatever the umask.
    const int file =
        open(targets.filePath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (file >= 0) {
      // One write per line, so lines of several processes appending to one file stay whole.
      while (write(file, line.data(), line.size()) < 0 && errno == EINTR) {
      }
      close(file);
    }
  }
  const std::string& listener =
      !targets.listenerTitle.empty() ? targets.listenerTitle : targets.listenerClass;
  if (!listener.empty()) ForwardToListener(listener, message);
}

void SetLogTarget(const std::string& logFilePath, const std::string& listenerTitle,
                  const std::string& listenerClass) {
  LogTargets& targets = Targets();
  std::lock_guard lock(targets.mutex);
  if (!logFilePath.empty()) targets.filePath = logFilePath;
  if (!listenerTitle.empty()) targets.listenerTitle = listenerTitle;
  if (!listenerClass.empty()) targets.listenerClass = listenerClass;
}

void ReleaseLogTarget() {
  LogTargets& targets = Targets();
  std::lock_guard lock(targets.mutex);
  targets.filePath.clear();
  targets.listenerTitle.clear();
  targets.listenerClass.clear();
}

std::string LogFilePath() {
  LogTargets& targets = Targets();
  std::lock_guard lock(targets.mutex);
  return targets.filePath;
}

std::string FirstErrorLine() {
  LogTargets& targets = Targets();
  std::lock_guard lock(targets.mutex);
  return targets.firstError;
}
