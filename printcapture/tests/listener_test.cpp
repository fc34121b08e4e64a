// The listener over real loopback sockets: each job format, many senders, the counter's wrap,
// the limits, failures that must be reported, and the port.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <set>
#include <string_view>
#include <thread>

#include "capturepeers.h"
#include "listenerfixture.h"
#include "printcapture.h"
#include "serverthread.h"

namespace {

using capturetest::FileNames;
using capturetest::SendJob;
using capturetest::WaitUntil;
using testsupport::ReadFile;

using Listener = capturetest::ListenerFixture;

const char kPostScriptPage[] =
    "%!PS-Adobe-3.0\n/Helvetica findfont 24 scalefont setfont 72 720 moveto (Captured) show "
    "showpage\n";

TEST_F(Listener, EachFormatGivesItsFileLogLineAndItem) {
  struct Case {
    const char* title;
    std::string job;
    std::string rawPattern;  // the raw job kept, empty when it is not kept
    const char* logKind;     // the word of the "saving" line
    bool logsPdfName;        // the line names the PDF (else the raw file)
    bool pdfItem;            // a PDF joins the item list
  };
  const std::string pjl =
      std::string("\x1b%-12345X@PJL JOB\r\n@PJL ENTER LANGUAGE=POSTSCRIPT\r\n") + kPostScriptPage +
      "\x1b%-12345X";
  const Case cases[] = {
      {"PDF", "%PDF-1.4\n1 0 obj<<>>endobj\n%%EOF\n", "", "PDF", true, true},
      {"PostScript behind a language switch", pjl, R"(\d{6}_1\.ps)", "PS", false, true},
      {"PostScript", kPostScriptPage, R"(\d{6}_1\.ps)", "PS", false, true},
      {"XPS", capturetest::SmallXpsPackage(), "", "XPS", true, true},
      {"unknown", "plain text, no printer language\n", R"(\d{6}_1\.tmp)", "Unknown", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    std::filesystem::remove_all(work_);
    std::filesystem::create_directories(work_);
    items_.Clear();
    counter_ = std::make_unique<JobCounter>();
    StartServer();
    ASSERT_TRUE(SendJob(port_, c.job));
    // A conversion still running when the capture closes would be stopped.
    if (c.pdfItem) EXPECT_TRUE(WaitUntil([&] { return items_.Size() == 1; }));
    server_->Stop();

    const std::string pdf = OnlyFileLike(R"(Unknown_\d{6}_1\.pdf)");
    const std::string raw = c.rawPattern.empty() ? "" : OnlyFileLike(c.rawPattern);
    if (!c.rawPattern.empty()) {
      ASSERT_FALSE(raw.empty()) << testing::PrintToString(FileNames(work_));
      EXPECT_EQ(ReadFile(work_ / raw), c.job);
    }
    std::vector<std::string> expectedFiles;
    if (c.pdfItem) expectedFiles.push_back(pdf);
    if (!raw.empty()) expectedFiles.push_back(raw);
    std::sort(expectedFiles.begin(), expectedFiles.end());
    EXPECT_EQ(FileNames(work_), expectedFiles);

    if (c.pdfItem) {
      ASSERT_FALSE(pdf.empty()) << testing::PrintToString(FileNames(work_));
      EXPECT_EQ(items_.Snapshot(), std::vector<std::string>{(work_ / pdf).string()});
      EXPECT_TRUE(items_.TakeNewItemFlag());
      EXPECT_TRUE(ReadFile(work_ / pdf).starts_with("%PDF"));
      if (c.job.starts_with("%PDF")) EXPECT_EQ(ReadFile(work_ / pdf), c.job);
    } else {
      EXPECT_TRUE(items_.Empty());
      EXPECT_FALSE(items_.TakeNewItemFlag());
    }
    const std::string named = (work_ / (c.logsPdfName ? pdf : raw)).string();
    EXPECT_TRUE(log_.Contains(std::string("INFO, SendThread::Execute, saving ") + c.logKind +
                              " FileName=" + named + ", size=" + std::to_string(c.job.size()) +
                              "\n"))
        << log_.Text();
    EXPECT_TRUE(log_.Contains("ERROR, GetJobs, Can't Open Printer, QUELLPRINT, 0x00000502\n"));
  }
}

TEST_F(Listener, AConnectionThatBringsNothingLeavesNoFileAndTakesNoNumber) {
  StartServer();
  ASSERT_TRUE(SendJob(port_, ""));
  ASSERT_TRUE(SendJob(port_, "%PDF-1.4 after an empty connection"));
  server_->Stop();
  const std::string pdf = OnlyFileLike(R"(Unknown_\d{6}_1\.pdf)");
  ASSERT_FALSE(pdf.empty()) << testing::PrintToString(FileNames(work_));
  EXPECT_EQ(items_.Snapshot(), std::vector<std::string>{(work_ / pdf).string()});
  // Not even a hidden part file stays.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work_),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(Listener, EightSendersWith200JobsGive200DistinctFilesAndItems) {
  const struct {
    const char* title;
    bool (*send)(int port, std::string_view job);
  } senders[] = {
      {"senders that wait until the listener has read their job", capturetest::SendJob},
      // Their sockets are gone before the listener can look up who sent them.
      {"senders that close right after writing", capturetest::SendJobAndClose},
  };
  constexpr int kSenders = 8;
  constexpr int kJobsEach = 25;
  constexpr size_t kJobs = size_t{kSenders * kJobsEach};
  for (const auto& kind : senders) {
    SCOPED_TRACE(kind.title);
    std::filesystem::remove_all(work_);
    std::filesystem::create_directories(work_);
    items_.Clear();
    counter_ = std::make_unique<JobCounter>();
    StartServer();
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int s = 0; s < kSenders; ++s) {
      threads.emplace_back([&, s] {
        for (int j = 0; j < kJobsEach; ++j) {
          const std::string job =
              "%PDF-1.4 sender " + std::to_string(s) + " job " + std::to_string(j) + "\n";
          if (!kind.send(port_, job)) ++refused;
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_TRUE(WaitUntil([&] { return items_.Size() == kJobs; })) << items_.Size();
    server_->Stop();
    EXPECT_EQ(refused, 0);
    EXPECT_TRUE(server_->TakeReports().empty());

    const std::vector<std::string> items = items_.Snapshot();
    ASSERT_EQ(items.size(), kJobs) << log_.Text();
    std::set<std::string> contents;
    std::set<int> numbers;
    const std::regex name(R"(Unknown_\d{6}_(\d+)\.pdf)");
    for (const std::string& item : items) {
      const std::string file = std::filesystem::path(item).filename().string();
      std::smatch match;
      ASSERT_TRUE(std::regex_match(file, match, name)) << file;
      numbers.insert(std::stoi(match[1]));
      contents.insert(ReadFile(item));
    }
    EXPECT_EQ(std::set<std::string>(items.begin(), items.end()).size(), items.size());
    EXPECT_EQ(FileNames(work_).size(), items.size());
    EXPECT_EQ(contents.size(), items.size());  // no job overwrote another
    EXPECT_EQ(*numbers.begin(), 1);
    EXPECT_EQ(*numbers.rbegin(), kSenders * kJobsEach);
  }
}

TEST_F(Listener, TheThousandthJobGetsNumberZero) {
  StartServer();
  // Each job is numbered once it is read; the next is sent when its item is there, so the jobs
  // are numbered in the order they are sent.
  for (size_t job = 1; job <= 1000; ++job) {
    ASSERT_TRUE(SendJob(port_, "%PDF job " + std::to_string(job))) << job;
    ASSERT_TRUE(WaitUntil([&] { return items_.Size() == job; })) << job;
  }
  server_->Stop();
  const std::regex name(R"(Unknown_\d{6}_(\d+)\.pdf)");
  auto numberOf = [&](size_t index) {
    const std::string file = std::filesystem::path(*items_.At(index)).filename().string();
    std::smatch match;
    return std::regex_match(file, match, name) ? match[1].str() : "no match: " + file;
  };
  EXPECT_EQ(numberOf(0), "1");
  EXPECT_EQ(numberOf(998), "999");
  EXPECT_EQ(numberOf(999), "0");
  EXPECT_EQ(ReadFile(*items_.At(999)), "%PDF job 1000");
  EXPECT_EQ(FileNames(work_).size(), 1000u);
}

TEST_F(Listener, AJobOverTheSizeLimitIsCutOffAndNotKept) {
  CaptureLimits limits;
  limits.maxJobBytes = 64 * 1024;
  StartServer(limits);
  const std::string atLimit = "%PDF-1.4\n" + std::string(limits.maxJobBytes - 9, 'a');
  ASSERT_TRUE(SendJob(port_, atLimit));
  const std::string overLimit = "%PDF-1.4\n" + std::string(1024 * 1024, 'b');
  EXPECT_FALSE(SendJob(port_, overLimit));  // the listener closes while the sender still sends
  server_->Stop();

  // The job at the limit is kept; the larger one leaves nothing, not even its part file.
  ASSERT_EQ(items_.Size(), 1u);
  EXPECT_EQ(ReadFile(*items_.At(0)), atLimit);
  EXPECT_EQ(FileNames(work_).size(), 1u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(work_),
                          std::filesystem::directory_iterator()),
            1);
  const std::string line =
      "ERROR, SendThread::Execute, job larger than 65536 bytes cut off, not saved";
  EXPECT_TRUE(log_.Contains(line + "\n")) << log_.Text();
  EXPECT_EQ(server_->TakeReports(), std::vector<std::string>{line});
}

// Opens a connection, sends `bytes` and keeps the connection open.
int OpenSilentSender(int port, const std::string& bytes) {
  const int handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(handle);
    return -1;
  }
  send(handle, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  return handle;
}

TEST_F(Listener, ASilentSenderEndsItsJobWithTheDataReadSoFar) {
  CaptureLimits limits;
  limits.idleLimit = std::chrono::milliseconds(300);
  StartServer(limits);
  const int sender = OpenSilentSender(port_, "%PDF-1.4 first half");
  ASSERT_GE(sender, 0);
  EXPECT_TRUE(WaitUntil([&] { return items_.Size() == 1; }));
  close(sender);
  ASSERT_EQ(items_.Size(), 1u);
  EXPECT_EQ(ReadFile(*items_.At(0)), "%PDF-1.4 first half");
  EXPECT_TRUE(log_.Contains("ERROR, Socket::ReadBinary, Timed out\n"));
}

TEST_F(Listener, StopLetsARunningJobFinishWithWhatItReadBeforeTheListFreed) {
  CaptureLimits limits;
  limits.stopGrace = std::chrono::milliseconds(200);
  StartServer(limits);
  const int sender = OpenSilentSender(port_, "%PDF-1.4 still printing");
  ASSERT_GE(sender, 0);
  // The job is being read once its part file exists.
  ASSERT_TRUE(WaitUntil([&] {
    return std::distance(std::filesystem::directory_iterator(work_),
                         std::filesystem::directory_iterator()) == 1;
  }));
  server_->Stop();  // returns only when the receiving thread has ended
  close(sender);
  ASSERT_EQ(items_.Size(), 1u);
  EXPECT_EQ(ReadFile(*items_.At(0)), "%PDF-1.4 still printing");
  EXPECT_TRUE(
      log_.Contains("WARNING, SendThread::Execute, capture closing, the job ends after 23 bytes\n"))
      << log_.Text();
  // Nothing is accepted any more.
  EXPECT_FALSE(SendJob(port_, "%PDF-1.4 too late"));
}

TEST_F(Listener, AFileThatCannotBeWrittenIsLoggedWithItsCauseAndReported) {
  StartServer({}, temp_ / "missing" / "work");
  ASSERT_TRUE(SendJob(port_, "%PDF-1.4 lost?"));
  server_->Stop();
  EXPECT_TRUE(items_.Empty());
  const std::regex line(
      R"(ERROR, SendThread::Execute, can't save FileName=.*/missing/work/Unknown_\d{6}_1\.pdf, )"
      R"(size=14: No such file or directory)");
  const std::vector<std::string> reports = server_->TakeReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_TRUE(std::regex_match(reports[0], line)) << reports[0];
  EXPECT_TRUE(log_.Contains(reports[0] + "\n"));
}

TEST_F(Listener, AFailedConversionKeepsTheRawJobAndIsReported) {
  struct Case {
    const char* title;
    std::string job;
    const char* kind;
    const char* rawPattern;
    const char* converter;
  };
  const Case cases[] = {
      {"XPS that is no package", "PK this is not a zip file", "XPS", R"(\d{6}_1\.xps)", "xpstopdf"},
      {"PostScript that fails", "%!PS\nthis-operator-does-not-exist\n", "PS", R"(\d{6}_1\.ps)",
       "ps2pdf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    std::filesystem::remove_all(work_);
    std::filesystem::create_directories(work_);
    counter_ = std::make_unique<JobCounter>();
    StartServer();
    ASSERT_TRUE(SendJob(port_, c.job));
    EXPECT_TRUE(WaitUntil([&] {
      return log_.Contains(std::string("ERROR, SendThread::Execute, converting ") + c.kind);
    }));
    server_->Stop();
    EXPECT_TRUE(items_.Empty());
    const std::string raw = OnlyFileLike(c.rawPattern);
    ASSERT_FALSE(raw.empty()) << testing::PrintToString(FileNames(work_));
    EXPECT_EQ(FileNames(work_), std::vector<std::string>{raw});
    EXPECT_EQ(ReadFile(work_ / raw), c.job);
    const std::vector<std::string> reports = server_->TakeReports();
    ASSERT_EQ(reports.size(), 1u);
    const std::string start = std::string("ERROR, SendThread::Execute, converting ") + c.kind +
                              " to FileName=" + work_.string() + "/Unknown_";
    EXPECT_TRUE(reports[0].starts_with(start)) << reports[0];
    EXPECT_NE(reports[0].find(std::string(" failed: ") + c.converter + " exit status"),
              std::string::npos)
        << reports[0];
    EXPECT_TRUE(reports[0].ends_with("; the job is kept in " + (work_ / raw).string()));
    EXPECT_TRUE(log_.Contains(reports[0] + "\n"));
  }
}

TEST_F(Listener, ListensOnTheLoopbackAddressOnly) {
  StartServer();
  // Another loopback address is free at the same port: the listener holds 127.0.0.1 alone,
  // not every interface.
  const int other = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port_));
  address.sin_addr.s_addr = inet_addr("127.0.0.2");
  EXPECT_EQ(bind(other, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
      << std::strerror(errno);
  close(other);
  EXPECT_TRUE(SendJob(port_, "%PDF-1.4"));
}

TEST_F(Listener, APortInUseIsLoggedAndTheCaptureRunsWithout) {
  const int holder = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  const int port = testsupport::FreePort();
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(holder, 1), 0);

  PrintCapture capture;
  std::string message;
  EXPECT_FALSE(capture.Start(std::to_string(port), work_, items_, message));
  EXPECT_EQ(message, "Another program holds the printer port " + std::to_string(port) +
                         ": print capture is off");
  EXPECT_TRUE(log_.Contains("ERROR: Couldn't initialize port: " + std::to_string(port) + "\n"));
  capture.Stop();
  close(holder);
}

TEST_F(Listener, PrintCaptureStartsWithoutASpoolerAndStopsBeforeTheListGoes) {
  const int port = testsupport::FreePort();
  auto items = std::make_unique<ItemList>();
  PrintCapture capture;
  std::string message;
  ASSERT_TRUE(capture.Start(std::to_string(port), work_, *items, message));
  EXPECT_EQ(message, "");
  EXPECT_TRUE(log_.Contains("ERROR, InstallVirtualPrinter, no print spooler answers at "));
  EXPECT_TRUE(log_.Contains("Initialize port: " + std::to_string(port) + "\n"));
  ASSERT_TRUE(SendJob(port, "%PDF-1.4 direct to the port"));
  capture.Stop();
  EXPECT_EQ(items->Size(), 1u);
  items.reset();
  EXPECT_FALSE(SendJob(port, "%PDF-1.4 after the window closed"));
  EXPECT_TRUE(capture.TakeMessages().empty());
}

}  // namespace
