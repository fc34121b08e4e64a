// Temporary folders, child processes and loopback ports for tests.
#include "testsupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef VELLORAN_SOURCE_DIR
#define VELLORAN_SOURCE_DIR "."
#endif

namespace testsupport {

namespace {

std::vector<char*> ArgvPointers(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// The socket inodes of the TCP sockets listening on `port` (any local address), from the kernel's
// tables for IPv4 and IPv6.
std::vector<std::string> ListeningSocketInodes(int port) {
  std::vector<std::string> inodes;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream file(table);
    std::string line;
    std::getline(file, line);  // column heads
    while (std::getline(file, line)) {
      // sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid timeout inode
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode;
      const size_t colon = local.rfind(':');
      if (colon == std::string::npos || state != "0A") continue;  // 0A: listening
      if (std::stoi(local.substr(colon + 1), nullptr, 16) == port) inodes.push_back(inode);
    }
  }
  return inodes;
}

// True when the process holds one of these socket inodes among its open files.
bool ProcessHoldsSocket(pid_t pid, const std::vector<std::string>& inodes) {
  std::error_code error;
  const std::filesystem::path folder = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    std::error_code unreadable;
    const std::string target = std::filesystem::read_symlink(entry.path(), unreadable).string();
    for (const std::string& inode : inodes) {
      if (target == "socket:[" + inode + "]") return true;
    }
  }
  return false;
}

}  // namespace

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velloran-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input) {
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
      pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    auto pointers = ArgvPointers(argv);
    execvp(pointers[0], pointers.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  CommandResult result;
  size_t written = 0;
  if (input.empty()) {
    close(inPipe[1]);
    inPipe[1] = -1;
  }
  signal(SIGPIPE, SIG_IGN);
  pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {inPipe[1], POLLOUT, 0}};
  int open = 2;
  while (open > 0 || fds[2].fd >= 0) {
    if (poll(fds, 3, -1) < 0) break;
    char buffer[65536];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP))) {
        const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
        if (got <= 0) {
          close(fds[i].fd);
          fds[i].fd = -1;
          --open;
        } else {
          (i == 0 ? result.output : result.errors).append(buffer, static_cast<size_t>(got));
        }
      }
    }
    if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t put = write(fds[2].fd, input.data() + written, input.size() - written);
      if (put > 0) written += static_cast<size_t>(put);
      if (put <= 0 || written == input.size()) {
        close(fds[2].fd);
        fds[2].fd = -1;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

bool HaveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::stringstream folders(path ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (access((folder + "/" + name).c_str(), X_OK) == 0) return true;
  }
  return false;
}

std::vector<std::string> DciodvfyErrors(const std::string& path) {
  const CommandResult verify = RunCommand({"dciodvfy", path});
  std::vector<std::string> errors;
  std::istringstream lines(verify.output + verify.errors);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Error", 0) == 0) errors.push_back(line);
  }
  return errors;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logFile,
                           const std::filesystem::path& workingDirectory) {
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    const int out =
        open(logFile.empty() ? "/dev/null" : logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    const int in = open("/dev/null", O_RDONLY);
    if (in >= 0) dup2(in, 0);
    if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(126);
    auto pointers = ArgvPointers(argv);
    execvp(pointers[0], pointers.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  Stop();
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

bool ChildProcess::WaitListening(int port, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!Running()) return false;
    const std::vector<std::string> inodes = ListeningSocketInodes(port);
    if (!inodes.empty() && ProcessHoldsSocket(pid_, inodes)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

void ChildProcess::Stop() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGTERM);
  kill(pid_, SIGTERM);
  for (int i = 0; i < 50; ++i) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

int FreePort() {
  // Ports are drawn at random from a range away from the kernel's ephemeral ports, then checked,
  // so tests running side by side rarely pick the same one.
  static std::mt19937 random(std::random_device{}() ^ static_cast<unsigned>(getpid()));
  for (int attempt = 0; attempt < 200; ++attempt) {
    const int port = 20000 + static_cast<int>(random() % 20000);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = LoopbackAddress(port);
    const bool free = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (free) return port;
  }
  throw std::runtime_error("no free port");
}

bool WaitForPort(int port, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = LoopbackAddress(port);
    const bool connected =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (connected) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream content;
  content << file.rdbuf();
  return content.str();
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  std::ofstream file(path, std::ios::binary);
  file << content;
}

std::filesystem::path SourceDir() {
  return VELLORAN_SOURCE_DIR;
}

std::string SecondUserUnavailable() {
  if (geteuid() != 0) return "running programs as another user needs root";
  if (!HaveProgram("runuser")) return "runuser is missing";
  if (getpwnam(kSecondUser) == nullptr) return std::string("there is no user ") + kSecondUser;
  return {};
}

uid_t SecondUserId() {
  const passwd* entry = getpwnam(kSecondUser);
  return entry != nullptr ? entry->pw_uid : static_cast<uid_t>(-1);
}

std::vector<std::string> AsSecondUser(const std::vector<std::string>& argv) {
  std::vector<std::string> wrapped = {"runuser", "-u", kSecondUser, "--"};
  wrapped.insert(wrapped.end(), argv.begin(), argv.end());
  return wrapped;
}

}  // namespace testsupport
