// The process-wide log: one time-stamped line per message, appended to a daily file.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

// 0 at start; 2 when debug logging is on. INFO lines are written above 1, protocol traces above 2.
extern std::atomic<int> LogLevel;

// Appends "hh:mm:ss, message" and a line feed to the log file, when one is set. Never fails
// towards the caller: a file that cannot be opened loses the line.
void WriteLog(std::string_view message);

// Each non-empty argument replaces the stored value; an empty one keeps what was there.
void SetLogTarget(const std::string& logFilePath, const std::string& listenerTitle,
                  const std::string& listenerClass);

// Forgets every target: later messages go nowhere.
void ReleaseLogTarget();

// The file currently written to, empty when none (used by the application to show it).
std::string LogFilePath();
