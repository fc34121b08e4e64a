// Helper programs in their own process group, so a time-out also ends what they started.
#include "childprogram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace {

constexpr size_t kKeptErrorText = 2048;

std::string FirstLines(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// Reaps the child without blocking; true once it has ended.
bool Reaped(pid_t pid, int& status) {
  pid_t result;
  do {
    result = waitpid(pid, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  return result == pid;
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

std::string ProgramResult::Cause() const {
  std::string cause;
  if (!started) {
    cause = "could not start: " + std::string(std::strerror(startError));
  } else if (timedOut) {
    cause = "stopped after its time limit";
  } else if (cancelled) {
    cause = "stopped because the capture is closing";
  } else {
    cause = "exit status " + std::to_string(exitCode);
  }
  if (!errorText.empty()) cause += ": " + FirstLines(errorText);
  return cause;
}

ProgramResult RunProgram(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                         int cancelHandle) {
  ProgramResult result;
  if (argv.empty()) {
    result.startError = EINVAL;
    return result;
  }
  int errorPipe[2];
  if (pipe2(errorPipe, O_CLOEXEC) != 0) {
    result.startError = errno;
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);

  std::vector<char*> arguments;
  for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  pid_t pid = -1;
  const int spawnError =
      posix_spawnp(&pid, arguments[0], &actions, &attributes, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(errorPipe[1]);
  if (spawnError != 0) {
    close(errorPipe[0]);
    result.startError = spawnError;
    return result;
  }
  result.started = true;

  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  bool pipeOpen = true;
  bool reaped = false;
  // Reads standard error while the program runs; it ends when the program has ended and (unless
  // something it started still holds standard error) its output is read.
  while (!(reaped && !pipeOpen)) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) result.timedOut = true;
    if (result.timedOut || result.cancelled) {
      kill(-pid, SIGKILL);
      if (!reaped) {
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
      }
      break;
    }
    const int wait = static_cast<int>(std::min<long>(left.count(), reaped ? 0 : 50));
    pollfd waits[2] = {{pipeOpen ? errorPipe[0] : -1, POLLIN, 0}, {cancelHandle, POLLIN, 0}};
    if (poll(waits, 2, wait) > 0) {
      if (waits[1].revents & POLLIN) result.cancelled = true;
      if (waits[0].revents & (POLLIN | POLLHUP)) {
        char block[512];
        const ssize_t count = read(errorPipe[0], block, sizeof block);
        if (count > 0) {
          if (result.errorText.size() < kKeptErrorText) {
            result.errorText.append(block, static_cast<size_t>(count));
          }
        } else if (count == 0 || errno != EINTR) {
          pipeOpen = false;
        }
      }
    } else if (reaped) {
      pipeOpen = false;
    }
    if (!reaped) reaped = Reaped(pid, status);
  }
  close(errorPipe[0]);
  if (result.errorText.size() > kKeptErrorText) result.errorText.resize(kKeptErrorText);
  result.exitCode = ExitCodeOf(status);
  return result;
}
