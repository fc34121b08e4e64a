// The process-wide log: one time-stamped line per message, appended to a daily file.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

// 0 at start; 2 when debug logging is on. INFO lines are written above 1, protocol traces above 2.
extern std::atomic<int> LogLevel;

// Appends "hh:mm:ss, message" and a line feed to the log file, when one is set, and sends the bare
// message to the log viewer, when one listens. Never fails towards the caller: a file that cannot
// be opened or a viewer that is missing or slow (500 ms) loses the line.
void WriteLog(std::string_view message);

// The socket path at which a log viewer receives the messages: "velloran-log-" and the listener
// title (or the class when no title is set; "/" becomes "_") in $XDG_RUNTIME_DIR. Empty, and
// nothing is sent, when that variable does not name a folder of this user closed to everyone
// else (mode 0700). Each message arrives as one datagram holding the text and its terminating
// zero byte.
std::string ListenerAddress(const std::string& name);

// Each non-empty argument replaces the stored value; an empty one keeps what was there.
void SetLogTarget(const std::string& logFilePath, const std::string& listenerTitle,
                  const std::string& listenerClass);

// Forgets every target: later messages go nowhere.
void ReleaseLogTarget();

// The file currently written to, empty when none (used by the application to show it).
std::string LogFilePath();

// The first message starting with "ERROR" that this process logged, whether or not a target was
// set; empty when there was none. The earliest error names what went wrong most precisely (the
// refused connection, not the failed operation that it caused), so it is what a user is shown as
// the cause of a failure.
std::string FirstErrorLine();
