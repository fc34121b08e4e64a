// The process-wide log: line format, targets, the viewer socket and concurrent writers.
#include "log.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <thread>

#include "logcapture.h"

namespace {

// A log viewer: a datagram socket bound at the address WriteLog sends to.
class Viewer {
 public:
  explicit Viewer(const std::string& name) {
    handle_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const std::string address = ListenerAddress(name);
    path_ = address;
    if (!address.empty()) unlink(address.c_str());
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    std::memcpy(local.sun_path, address.data(), address.size());
    bound_ = bind(handle_, reinterpret_cast<const sockaddr*>(&local),
                  static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size())) == 0;
  }
  ~Viewer() {
    close(handle_);
    if (!path_.empty()) unlink(path_.c_str());
  }
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;
  bool bound() const { return bound_; }
  // The next message waiting, or "" when none is.
  std::string Receive() {
    char buffer[4096];
    const ssize_t size = recv(handle_, buffer, sizeof buffer, MSG_DONTWAIT);
    return size > 0 ? std::string(buffer, static_cast<size_t>(size)) : std::string();
  }

 private:
  int handle_ = -1;
  bool bound_ = false;
  std::string path_;
};

// Points XDG_RUNTIME_DIR at a fresh folder with the given mode for the life of the object.
class RuntimeFolder {
 public:
  explicit RuntimeFolder(mode_t mode) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old != nullptr) saved_ = old;
    hadOne_ = old != nullptr;
    chmod(folder_.path().c_str(), mode);
    setenv("XDG_RUNTIME_DIR", folder_.path().c_str(), 1);
  }
  ~RuntimeFolder() {
    if (hadOne_) {
      setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
  }
  const std::filesystem::path& path() const { return folder_.path(); }

 private:
  testsupport::TempDir folder_;
  std::string saved_;
  bool hadOne_ = false;
};

std::string UniqueName(const char* base) {
  return std::string(base) + "-" + std::to_string(getpid());
}

TEST(LogTest, LineIsTimeCommaMessageAndLineFeed) {
  LogCapture log;
  WriteLog("ERROR, X");
  WriteLog("INFO, second line");
  EXPECT_TRUE(std::regex_match(log.Text(),
                               std::regex("[0-2][0-9]:[0-5][0-9]:[0-6][0-9], ERROR, X\n"
                                          "[0-2][0-9]:[0-5][0-9]:[0-6][0-9], INFO, second line\n")))
      << log.Text();
}

TEST(LogTest, MessagesWithoutATargetGoNowhere) {
  testsupport::TempDir folder;
  const auto path = folder / "day.log";
  WriteLog("before");  // no target yet: nothing to check but that it returns
  SetLogTarget(path.string(), "", "");
  WriteLog("during");
  ReleaseLogTarget();
  WriteLog("after");
  const std::string text = testsupport::ReadFile(path);
  EXPECT_EQ(text.find("before"), std::string::npos);
  EXPECT_NE(text.find(", during\n"), std::string::npos);
  EXPECT_EQ(text.find("after"), std::string::npos);
  EXPECT_EQ(LogFilePath(), "");
}

TEST(LogTest, UnwritableFileLosesTheLineQuietly) {
  testsupport::TempDir folder;
  SetLogTarget((folder / "no" / "such" / "folder.log").string(), "", "");
  WriteLog("ERROR, lost");
  ReleaseLogTarget();
  EXPECT_FALSE(std::filesystem::exists(folder / "no"));
}

TEST(LogTest, ViewerReceivesTheBareMessageAndEmptyArgumentsKeepTargets) {
  const RuntimeFolder runtime(0700);
  const std::string title = UniqueName("pageloft-test");
  Viewer viewer(title);
  ASSERT_TRUE(viewer.bound());
  LogCapture log;
  SetLogTarget("", title, "");
  WriteLog("WARNING, to the viewer");
  EXPECT_EQ(viewer.Receive(), std::string("WARNING, to the viewer\0", 23));

  // Empty arguments change nothing: the file and the title both stay.
  SetLogTarget("", "", "");
  WriteLog("INFO, still both");
  EXPECT_EQ(viewer.Receive(), std::string("INFO, still both\0", 17));
  EXPECT_TRUE(log.Contains(", WARNING, to the viewer\n"));
  EXPECT_TRUE(log.Contains(", INFO, still both\n"));

  // With no viewer under the name, the file still gets the line.
  SetLogTarget("", UniqueName("nobody-listens"), "");
  WriteLog("INFO, file only");
  EXPECT_TRUE(log.Contains(", INFO, file only\n"));
  EXPECT_EQ(viewer.Receive(), "");
}

// Log lines may name patients: they go only to a socket in the user's private runtime folder,
// never where another user could bind the name first, and nowhere when there is no such folder.
TEST(LogTest, ViewerSocketLivesOnlyInThePrivateRuntimeFolder) {
  {
    const RuntimeFolder runtime(0700);
    EXPECT_EQ(ListenerAddress("pageloft"), (runtime.path() / "velloran-log-pageloft").string());
    EXPECT_EQ(ListenerAddress("a/b"), (runtime.path() / "velloran-log-a_b").string());
  }
  {
    const RuntimeFolder shared(0755);
    EXPECT_EQ(ListenerAddress("pageloft"), "");
    // Nothing is sent, so nothing can be received even by a listener bound under the name.
    SetLogTarget("", UniqueName("open-folder"), "");
    WriteLog("INFO, DOE^JANE");
    ReleaseLogTarget();
    EXPECT_TRUE(std::filesystem::is_empty(shared.path()));
  }
  {
    const RuntimeFolder runtime(0700);
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(ListenerAddress("pageloft"), "");
    setenv("XDG_RUNTIME_DIR", "relative/folder", 1);
    EXPECT_EQ(ListenerAddress("pageloft"), "");
  }
}

TEST(LogTest, ConcurrentWritersProduceWholeLines) {
  LogCapture log;
  constexpr int kLines = 300;
  const std::string a(200, 'a');
  const std::string b(200, 'b');
  std::thread first([&] {
    for (int i = 0; i < kLines; ++i) WriteLog(a);
  });
  std::thread second([&] {
    for (int i = 0; i < kLines; ++i) WriteLog(b);
  });
  first.join();
  second.join();
  const std::string text = log.Text();
  int countA = 0;
  int countB = 0;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(start, end - start);
    ASSERT_EQ(line.size(), 10u + 200u) << line;
    const std::string message = line.substr(10);
    if (message == a) ++countA;
    if (message == b) ++countB;
    start = end + 1;
  }
  EXPECT_EQ(countA, kLines);
  EXPECT_EQ(countB, kLines);
}

}  // namespace
