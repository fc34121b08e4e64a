// Helpers shared by the tests: temporary folders, child processes, loopback ports, files.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct CommandResult {
  int exitCode = -1;   // the exit status, or 128 + signal number
  std::string output;  // standard output
  std::string errors;  // standard error
};

// Runs a program (looked up on PATH) to its end and collects what it prints. `input` is written
// to its standard input.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input = "");

// True when the program can be found on PATH (or is an existing path).
bool HaveProgram(const std::string& name);

// The lines dicom3tools' dciodvfy starts with "Error" for the DICOM file at `path`: what makes
// the object invalid for its IOD (warnings are left out). A file it cannot read gives its
// read errors.
std::vector<std::string> DciodvfyErrors(const std::string& path);

// A background process (a test peer) that is killed and reaped when this object goes away.
class ChildProcess {
 public:
  // Starts the program; its output goes to `logFile` (or /dev/null when empty).
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& logFile = "",
                        const std::filesystem::path& workingDirectory = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  pid_t pid() const { return pid_; }
  bool Running();
  // Waits until this very process (not whoever else may hold the port) listens on
  // 127.0.0.1:port; false when it ends first or after the time-out, which leaves room for a
  // sanitizer build on a loaded machine.
  bool WaitListening(int port, std::chrono::milliseconds timeout = std::chrono::seconds(60));
  void Stop();

 private:
  pid_t pid_ = -1;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreePort();
// Waits until something accepts connections on 127.0.0.1:port; false after the time-out. A peer
// the test started itself is awaited with ChildProcess::WaitListening instead.
bool WaitForPort(int port, std::chrono::milliseconds timeout = std::chrono::seconds(60));

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& content);

// The folder that holds the test's committed fixtures: <source>/<subsystem>/tests/data.
std::filesystem::path SourceDir();

// Another local user, for tests of what one user of a shared machine may do to another's work:
// the user "nobody", reached through runuser, which needs root.
inline constexpr const char* kSecondUser = "nobody";

// Why programs cannot run as the second user here (not root, no runuser, no such user); empty
// when they can. Tests skip with this reason.
std::string SecondUserUnavailable();

// The second user's numeric ID (valid when SecondUserUnavailable() is empty).
uid_t SecondUserId();

// `argv` as the second user runs it: runuser -u nobody -- argv...
std::vector<std::string> AsSecondUser(const std::vector<std::string>& argv);

}  // namespace testsupport
