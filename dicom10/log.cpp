// The log writer. One mutex serialises writers so lines are never interleaved; the file is
// opened per line so that it stays complete if the process dies.
#include "log.h"

#include <cstdio>
#include <ctime>
#include <mutex>

std::atomic<int> LogLevel{0};

namespace {

struct LogTargets {
  std::mutex mutex;
  std::string filePath;
  // Kept for callers that set them; this platform has no window to forward messages to.
  std::string listenerTitle;
  std::string listenerClass;
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

}  // namespace

void WriteLog(std::string_view message) {
  LogTargets& targets = Targets();
  std::string line = TimeStamp();
  line += ", ";
  line += message;
  line += '\n';
  std::lock_guard lock(targets.mutex);
  if (targets.filePath.empty()) return;
  if (std::FILE* file = std::fopen(targets.filePath.c_str(), "a")) {
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
  }
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
