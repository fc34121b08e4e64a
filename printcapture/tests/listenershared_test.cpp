// The listener on a machine shared by several users: connections of other users, floods of
// connections, failing accepts, a full work folder, and closing while a converter runs.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <regex>
#include <thread>

#include "capturepeers.h"
#include "listenerfixture.h"
#include "printcapture.h"

namespace {

using capturetest::FileNames;
using capturetest::SendJob;
using capturetest::WaitUntil;
using testsupport::ReadFile;

using SharedMachineListener = capturetest::ListenerFixture;

size_t CountMatches(const std::string& text, const std::regex& pattern) {
  return static_cast<size_t>(std::distance(std::sregex_iterator(text.begin(), text.end(), pattern),
                                           std::sregex_iterator()));
}

size_t PartFiles(const std::filesystem::path& work) {
  size_t count = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(work, error)) {
    if (entry.path().extension() == ".part") ++count;
  }
  return count;
}

// A connection to 127.0.0.1:port that sends nothing; the connect goes on in the background, so
// a connection still waiting for the listener's queue does not hold up the test.
int OpenIdleConnection(int port) {
  const int handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
  return handle;
}

// Another user opens `count` connections to the print port and keeps them open; the first one
// carries a PDF. It prints "connected N" once all are made.
constexpr const char* kFloodScript = R"(
import socket, sys, time
port, count = int(sys.argv[1]), int(sys.argv[2])
held = []
for i in range(count):
    # A connection closed at once may be reset before it is reported, the more often the busier
    # the machine: it is made again.
    for attempt in range(500):
        try:
            connection = socket.create_connection(("127.0.0.1", port), timeout=60)
            break
        except ConnectionError:
            time.sleep(0.01)
    else:
        sys.exit("connection %d could not be made" % i)
    held.append(connection)
    if i == 0:
        try:
            connection.sendall(b"%PDF-1.4 printed by another user\n")
        except OSError:
            pass  # the listener may have closed it already
print("connected", len(held), flush=True)
time.sleep(120)
)";

TEST_F(SharedMachineListener, AnotherUsersFloodIsClosedAtOnceLoggedAndAJobStillArrives) {
  const std::string why = testsupport::SecondUserUnavailable();
  if (!why.empty()) GTEST_SKIP() << "needs a second user: " << why;
  StartServer();
  constexpr size_t kConnections = 600;
  const std::filesystem::path output = temp_ / "flood.out";
  testsupport::ChildProcess flood(
      testsupport::AsSecondUser({"/usr/bin/python3", "-c", kFloodScript, std::to_string(port_),
                                 std::to_string(kConnections)}),
      output.string());
  ASSERT_TRUE(WaitUntil(
      [&] { return ReadFile(output).find("connected") != std::string::npos || !flood.Running(); },
      std::chrono::seconds(120)))
      << ReadFile(output);
  EXPECT_EQ(ReadFile(output), "connected " + std::to_string(kConnections) + "\n");

  // Every one of them was refused by name, while the other user still holds them open.
  const std::regex refused(
      "WARNING, ServerThread::Execute, refused the connection from 127\\.0\\.0\\.1:\\d+ of user " +
      std::string(testsupport::kSecondUser) + " \\(" + std::to_string(testsupport::SecondUserId()) +
      "\\): only root[^\n]* may print here\n");
  EXPECT_TRUE(WaitUntil([&] { return CountMatches(log_.Text(), refused) >= kConnections; }))
      << CountMatches(log_.Text(), refused);

  // This user's jobs arrive as items, also one whose sender closes right after writing while
  // the other user still holds the connections; nothing of the other user's is kept.
  ASSERT_TRUE(SendJob(port_, "%PDF-1.4 printed by this user"));
  ASSERT_TRUE(WaitUntil([&] { return items_.Size() == 1; }));
  ASSERT_TRUE(capturetest::SendJobAndClose(port_, "%PDF-1.4 sent and closed at once"));
  EXPECT_TRUE(WaitUntil([&] { return items_.Size() == 2; })) << log_.Text();
  flood.Stop();
  server_->Stop();
  EXPECT_EQ(ReadFile(*items_.At(0)), "%PDF-1.4 printed by this user");
  ASSERT_EQ(items_.Size(), 2u);
  EXPECT_EQ(ReadFile(*items_.At(1)), "%PDF-1.4 sent and closed at once");
  EXPECT_EQ(FileNames(work_).size(), 2u);
  EXPECT_EQ(PartFiles(work_), 0u);
}

TEST_F(SharedMachineListener, AtMostTheReceiverLimitReadAtOnceAndLaterJobsWaitTheirTurn) {
  CaptureLimits limits;
  limits.maxReceivers = 4;
  limits.idleLimit = std::chrono::milliseconds(400);
  StartServer(limits);
  std::vector<int> idle;
  for (int i = 0; i < 12; ++i) idle.push_back(OpenIdleConnection(port_));
  // The job comes after the idle connections and waits in the listen queue until they end.
  std::atomic<bool> delivered{false};
  std::thread printer([&] { delivered = SendJob(port_, "%PDF-1.4 behind idle connections"); });
  size_t mostAtOnce = 0;
  const bool arrived = WaitUntil([&] {
    mostAtOnce = std::max(mostAtOnce, PartFiles(work_));
    return items_.Size() == 1;
  });
  printer.join();
  for (int handle : idle) close(handle);
  server_->Stop();

  ASSERT_TRUE(arrived) << log_.Text();
  EXPECT_TRUE(delivered);
  EXPECT_EQ(ReadFile(*items_.At(0)), "%PDF-1.4 behind idle connections");
  EXPECT_GE(mostAtOnce, 1u);
  EXPECT_LE(mostAtOnce, 4u);
  // The idle connections brought nothing and left nothing.
  EXPECT_EQ(FileNames(work_).size(), 1u);
  EXPECT_EQ(PartFiles(work_), 0u);
}

// Lowers the soft limit of open descriptors while it lives.
class DescriptorLimit {
 public:
  explicit DescriptorLimit(rlim_t limit) {
    getrlimit(RLIMIT_NOFILE, &old_);
    rlimit lowered = old_;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~DescriptorLimit() { setrlimit(RLIMIT_NOFILE, &old_); }
  DescriptorLimit(const DescriptorLimit&) = delete;
  DescriptorLimit& operator=(const DescriptorLimit&) = delete;

 private:
  rlimit old_{};
};

TEST_F(SharedMachineListener, AFailedAcceptIsLoggedWithItsErrnoAndTriedAgain) {
  CaptureLimits limits;
  limits.acceptRetryPause = std::chrono::milliseconds(100);
  StartServer(limits);
  const std::string failed =
      "ERROR, ServerThread::Execute, accept failed: Too many open files (errno 24), trying again "
      "in 100 ms\n";
  // A first job shows the listener running: its thread must not start while descriptors are
  // short, which the sanitizers' checks of a starting thread cannot bear.
  ASSERT_TRUE(SendJob(port_, "%PDF-1.4 before"));
  ASSERT_TRUE(WaitUntil([&] { return items_.Size() == 1; }));
  // While no descriptor is left, a waiting connection makes accept fail. Reading the log would
  // need a descriptor too, so the test watches its size until the listener has written.
  const int provoker = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(provoker, 0);
  const int lowestFree = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(lowestFree, 0);
  close(lowestFree);
  const uintmax_t logSize = std::filesystem::file_size(log_.File());
  {
    DescriptorLimit none(static_cast<rlim_t>(lowestFree));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(provoker, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::error_code error;
    while (std::filesystem::file_size(log_.File(), error) == logSize &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // A second try has passed too once the log grows again.
    const uintmax_t firstFailure = std::filesystem::file_size(log_.File(), error);
    while (std::filesystem::file_size(log_.File(), error) == firstFailure &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  close(provoker);
  const std::string text = log_.Text();
  EXPECT_GE(std::count(text.begin(), text.end(), '\n') -
                std::count(text.begin(), text.begin() + static_cast<long>(logSize), '\n'),
            2);
  EXPECT_TRUE(log_.Contains(failed)) << text;

  // The listener goes on: the next job arrives.
  ASSERT_TRUE(SendJob(port_, "%PDF-1.4 after the failed accept"));
  ASSERT_TRUE(WaitUntil([&] { return items_.Size() == 2; })) << log_.Text();
  EXPECT_EQ(ReadFile(*items_.At(1)), "%PDF-1.4 after the failed accept");
}

TEST_F(SharedMachineListener, AJobRefusedForSpaceIsLoggedReportedAndLeavesNoFile) {
  const std::string job = "%PDF-1.4\n" + std::string(200 * 1024, 'p');
  const struct {
    const char* title;
    uint64_t quota;
    uint64_t minimumFree;
    size_t alreadyInWork;  // bytes of an earlier captured file
    const char* logStart;
    const char* message;
  } rows[] = {
      {"the work folder over its quota before the job", 64 * 1024, 0, 100 * 1024,
       "ERROR, SendThread::Execute, job refused: the work folder ",
       "A print job was refused: the work folder "},
      {"the job would pass the quota", 100 * 1024, 0, 0,
       "ERROR, SendThread::Execute, job refused: the work folder ",
       "A print job was refused: the work folder "},
      {"too little free on the disk", uint64_t{1} << 40, uint64_t{1} << 62, 0,
       "ERROR, SendThread::Execute, job refused: ", "A print job was refused: less than "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.title);
    if (server_) server_->Stop();
    std::filesystem::remove_all(work_);
    std::filesystem::create_directories(work_);
    if (row.alreadyInWork > 0) {
      testsupport::WriteFile(work_ / "earlier.tmp", std::string(row.alreadyInWork, 'e'));
    }
    CaptureLimits limits;
    limits.workFolderQuota = row.quota;
    limits.minimumFreeSpace = row.minimumFree;
    StartServer(limits);
    SendJob(port_, job);  // the sender sees the connection end early; its answer does not matter
    server_->Stop();

    EXPECT_TRUE(items_.Empty());
    EXPECT_EQ(FileNames(work_), row.alreadyInWork > 0 ? std::vector<std::string>{"earlier.tmp"}
                                                      : std::vector<std::string>{});
    EXPECT_EQ(PartFiles(work_), 0u);
    const std::vector<std::string> reports = server_->TakeReports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(reports[0].starts_with(row.message)) << reports[0];
    EXPECT_NE(reports[0].find(work_.string()), std::string::npos) << reports[0];
    EXPECT_TRUE(log_.Contains(row.logStart)) << log_.Text();
  }
}

// Puts `folder` first on PATH while it lives.
class PathFirst {
 public:
  explicit PathFirst(const std::filesystem::path& folder) {
    if (const char* path = std::getenv("PATH")) old_ = path;
    setenv("PATH", (folder.string() + ":" + old_.value_or("/usr/bin:/bin")).c_str(), 1);
  }
  ~PathFirst() {
    if (old_) {
      setenv("PATH", old_->c_str(), 1);
    } else {
      unsetenv("PATH");
    }
  }
  PathFirst(const PathFirst&) = delete;
  PathFirst& operator=(const PathFirst&) = delete;

 private:
  std::optional<std::string> old_;
};

// True when no process `pid` runs any more (an unreaped one counts as ended).
bool ProcessEnded(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return stat.empty() || close == std::string::npos || stat.substr(close + 2, 1) == "Z";
}

TEST_F(SharedMachineListener, ClosingStopsASlowConverterAndWhatItStartedWithinTwoSeconds) {
  // A ps2pdf that starts a long sleep and waits for it, as a converter stuck on a large job.
  const std::filesystem::path programs = temp_ / "programs";
  std::filesystem::create_directories(programs);
  const std::filesystem::path sleeper = temp_ / "sleeper.pid";
  testsupport::WriteFile(programs / "ps2pdf",
                         "#!/bin/sh\nsleep 60 &\necho $! > " + sleeper.string() + "\nwait\n");
  std::filesystem::permissions(programs / "ps2pdf", std::filesystem::perms(0755));
  PathFirst path(programs);

  const int port = testsupport::FreePort();
  PrintCapture capture;
  std::string message;
  ASSERT_TRUE(capture.Start(std::to_string(port), work_, items_, message)) << message;
  const std::string job = "%!PS-Adobe-3.0\nshowpage\n";
  ASSERT_TRUE(SendJob(port, job));
  ASSERT_TRUE(WaitUntil([&] { return !ReadFile(sleeper).empty(); }));
  const pid_t sleeping = std::stoi(ReadFile(sleeper));

  const auto start = std::chrono::steady_clock::now();
  capture.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(WaitUntil([&] { return ProcessEnded(sleeping); }, std::chrono::seconds(5)));

  // The job is kept as it came, and the log says why it has no PDF.
  EXPECT_TRUE(items_.Empty());
  const std::vector<std::string> files = FileNames(work_);
  ASSERT_EQ(files.size(), 1u) << testing::PrintToString(files);
  EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(\d{6}_1\.ps)"))) << files[0];
  EXPECT_EQ(ReadFile(work_ / files[0]), job);
  EXPECT_TRUE(log_.Contains("failed: ps2pdf stopped because the capture is closing"))
      << log_.Text();
}

}  // namespace
