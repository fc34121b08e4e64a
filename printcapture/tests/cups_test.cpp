// The virtual printer in a real CUPS scheduler: installation, a second start, and documents
// printed with lp arriving as items named after their title.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <regex>

#include "capturepeers.h"
#include "printcapture.h"
#include "printqueue.h"
#include "serverthread.h"
#include "virtualprinter.h"

namespace {

using capturetest::WaitUntil;
using testsupport::ReadFile;
using testsupport::RunCommand;

class Spooler : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::HaveProgram("cupsd") && testsupport::HaveProgram("lp"))
        << "cupsd and lp are needed (scripts/setup.sh installs them)";
    // The scheduler hands jobs to its backends as user lp, which needs root to start it.
    if (geteuid() != 0) GTEST_SKIP() << "a private cupsd needs root";
    cupsd_ = std::make_unique<capturetest::PrivateCupsd>();
    std::string why;
    ASSERT_TRUE(cupsd_->Running(why)) << why;
    std::filesystem::create_directories(work_);
  }

  std::string Lpstat(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"lpstat"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunCommand(argv).output;
  }

  capturetest::CapturedLog log_;
  std::unique_ptr<capturetest::PrivateCupsd> cupsd_;
  testsupport::TempDir temp_;
  std::filesystem::path work_ = temp_ / "work";
};

TEST_F(Spooler, InstallsTheQueueOnceAndPrintedDocumentsBecomeItems) {
  const int port = testsupport::FreePort();
  VirtualPrinter printer;
  printer.deviceUri = "socket://127.0.0.1:" + std::to_string(port);

  std::string message;
  ASSERT_EQ(InstallVirtualPrinter(printer, message), PrinterInstall::Installed)
      << log_.Text() << cupsd_->ErrorLog();
  EXPECT_EQ(message, "");
  EXPECT_NE(Lpstat({"-v", "QUELLPRINT"}).find("device for QUELLPRINT: " + printer.deviceUri),
            std::string::npos);
  EXPECT_NE(Lpstat({"-l", "-p", "QUELLPRINT"}).find("Description: IP_127.0.0.1"),
            std::string::npos);

  // A second start finds the queue and changes nothing.
  VirtualPrinter elsewhere = printer;
  elsewhere.deviceUri = "socket://127.0.0.1:1";
  EXPECT_EQ(InstallVirtualPrinter(elsewhere, message), PrinterInstall::AlreadyPresent);
  EXPECT_EQ(message, "");
  EXPECT_NE(Lpstat({"-v", "QUELLPRINT"}).find(printer.deviceUri), std::string::npos);

  // An idle queue has no document to name the capture after.
  EXPECT_EQ(JobDocumentName("QUELLPRINT"), "Unknown");
  EXPECT_TRUE(log_.Contains("ERROR, GetJobs, No Jobs in this queue\n"));
  EXPECT_EQ(JobDocumentName("NOSUCHQUEUE"), "Unknown");
  EXPECT_TRUE(log_.Contains("ERROR, GetJobs, Can't Open Printer, NOSUCHQUEUE, 0x00000406\n"))
      << log_.Text();

  ItemList items;
  JobCounter counter;
  ServerThread server(work_, items, counter);
  ASSERT_TRUE(server.Start(std::to_string(port)));

  const std::string pdf = "%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n";
  testsupport::WriteFile(temp_ / "report.pdf", pdf);
  testsupport::WriteFile(temp_ / "report.ps",
                         "%!PS-Adobe-3.0\n/Helvetica findfont 20 scalefont setfont 72 720 moveto "
                         "(My Report) show showpage\n");
  for (const char* file : {"report.pdf", "report.ps"}) {
    const testsupport::CommandResult printed =
        RunCommand({"lp", "-d", "QUELLPRINT", "-t", "My Report (v2)", (temp_ / file).string()});
    ASSERT_EQ(printed.exitCode, 0) << printed.errors;
    const size_t expected = items.Size() + 1;
    ASSERT_TRUE(WaitUntil([&] { return items.Size() == expected; }, std::chrono::seconds(60)))
        << file << "\n"
        << log_.Text() << cupsd_->ErrorLog();
  }
  // The spooler sees both jobs delivered.
  EXPECT_TRUE(WaitUntil([&] {
    return Lpstat({"-o", "QUELLPRINT"}).empty();
  })) << Lpstat({"-o", "QUELLPRINT"});
  server.Stop();

  const std::vector<std::string> paths = items.Snapshot();
  ASSERT_EQ(paths.size(), 2u);
  const std::string first = std::filesystem::path(paths[0]).filename().string();
  const std::string second = std::filesystem::path(paths[1]).filename().string();
  EXPECT_TRUE(std::regex_match(first, std::regex(R"(My_Report__v2__\d{6}_1\.pdf)"))) << first;
  EXPECT_TRUE(std::regex_match(second, std::regex(R"(My_Report__v2__\d{6}_2\.pdf)"))) << second;
  EXPECT_EQ(ReadFile(paths[0]), pdf);  // a raw queue passes the PDF through unchanged
  EXPECT_TRUE(ReadFile(paths[1]).starts_with("%PDF"));
  // The PostScript job is kept as it came, beside its PDF.
  std::smatch match;
  ASSERT_TRUE(std::regex_match(second, match, std::regex(R"(My_Report__v2__(\d{6})_2\.pdf)")));
  EXPECT_TRUE(std::filesystem::exists(work_ / (match[1].str() + "_2.ps")));
}

}  // namespace

TEST_F(Spooler, OnlyTheInstallingUserMayPrintAndAQueueOpenToAllIsLogged) {
  VirtualPrinter printer;
  printer.deviceUri = "socket://127.0.0.1:" + std::to_string(testsupport::FreePort());
  std::string message;
  ASSERT_EQ(InstallVirtualPrinter(printer, message), PrinterInstall::Installed)
      << log_.Text() << cupsd_->ErrorLog();
  std::string cause;
  const std::optional<QueueUsers> users = QueueUserAccess("QUELLPRINT", cause);
  ASSERT_TRUE(users) << cause;
  EXPECT_FALSE(QueueOpenToAll(*users)) << testing::PrintToString(users->allowed);
  EXPECT_NE(std::find(users->allowed.begin(), users->allowed.end(), printer.user),
            users->allowed.end());

  const std::string why = testsupport::SecondUserUnavailable();
  if (why.empty()) {
    // Another user's document never reaches the queue, so it never reaches this user's batch.
    std::filesystem::permissions(temp_.path(), std::filesystem::perms(0755));
    testsupport::WriteFile(temp_ / "theirs.pdf", "%PDF-1.4\n%%EOF\n");
    std::filesystem::permissions(temp_ / "theirs.pdf", std::filesystem::perms(0644));
    const testsupport::CommandResult theirs = RunCommand(
        testsupport::AsSecondUser({"lp", "-d", "QUELLPRINT", (temp_ / "theirs.pdf").string()}));
    EXPECT_NE(theirs.exitCode, 0) << theirs.output;
    EXPECT_NE(theirs.errors.find("Not allowed to print"), std::string::npos) << theirs.errors;
    const testsupport::CommandResult mine =
        RunCommand({"lp", "-d", "QUELLPRINT", (temp_ / "theirs.pdf").string()});
    EXPECT_EQ(mine.exitCode, 0) << mine.errors;
  } else {
    std::cout << "[  SKIPPED ] printing as a second user: " << why << "\n";
  }

  // A queue made by an older version, or opened by hand: the next start says so in the log.
  ASSERT_EQ(RunCommand({"lpadmin", "-p", "QUELLPRINT", "-u", "allow:all"}).exitCode, 0);
  EXPECT_EQ(InstallVirtualPrinter(printer, message), PrinterInstall::AlreadyPresent);
  EXPECT_TRUE(
      log_.Contains("WARNING, InstallVirtualPrinter, every user may print to QUELLPRINT, "
                    "so their documents join this user's items; lpadmin -p QUELLPRINT "
                    "-u allow:" +
                    (printer.user == "root" ? std::string("root") : printer.user + ",root") +
                    " lets only " + printer.user + " and root print to it\n"))
      << log_.Text();
}

TEST_F(Spooler, TheCaptureStartInstallsTheQueueForPort9100AndTheNextStartFindsIt) {
  const std::string installed =
      "INFO, InstallVirtualPrinter, installed QUELLPRINT on "
      "socket://127.0.0.1:9100\n";
  for (int start = 1; start <= 2; ++start) {
    SCOPED_TRACE(start);
    const std::string port = std::to_string(testsupport::FreePort());
    ItemList items;
    PrintCapture capture;
    std::string message;
    ASSERT_TRUE(capture.Start(port, work_, items, message)) << message;
    EXPECT_EQ(message, "");
    EXPECT_TRUE(log_.Contains("Initialize port: " + port + "\n"));
    capture.Stop();
  }
  EXPECT_NE(Lpstat({"-v", "QUELLPRINT"}).find("device for QUELLPRINT: socket://127.0.0.1:9100"),
            std::string::npos);
  // Only the first start ran the installer.
  const std::string log = log_.Text();
  const size_t first = log.find(installed);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find(installed, first + 1), std::string::npos);
}
