// The virtual printer in a real CUPS scheduler: installation, a second start, and documents
// printed with lp arriving as items named after their title.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "capturepeers.h"
#include "printcapture.h"
#include "printqueue.h"
#include "serverthread.h"
#include "virtualprinter.h"

namespace {

using capturetest::FileNames;
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

  // A second start finds the queue and changes nothing, also when it prints elsewhere.
  EXPECT_EQ(InstallVirtualPrinter(printer, message), PrinterInstall::AlreadyPresent);
  VirtualPrinter elsewhere = printer;
  elsewhere.deviceUri = "socket://127.0.0.1:1";
  EXPECT_EQ(InstallVirtualPrinter(elsewhere, message), PrinterInstall::PrintsElsewhere);
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

namespace {

// The window's capture in the printer application's mode, with a printer application and a
// spooler of the test's own.
class EverywhereQueue : public Spooler {
 protected:
  void SetUp() override {
    Spooler::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(testsupport::HaveProgram("lpadmin")) << "lpadmin missing (scripts/setup.sh)";
    std::string why;
    ASSERT_TRUE(printer_.Start(why)) << why;
    settings_.places = printer_.places();
  }

  // Starts the capture; the test fails with its message when it does not run.
  void StartCapture() {
    std::string message;
    ASSERT_TRUE(capture_.Start(settings_, work_, items_, message))
        << message << log_.Text() << cupsd_->ErrorLog();
    EXPECT_EQ(message, "");
  }

  // lp of `file` as `title`; the test fails when the spooler refuses it.
  void Print(const std::filesystem::path& file, const std::string& title) {
    const testsupport::CommandResult printed =
        RunCommand({"lp", "-d", "QUELLPRINT", "-t", title, file.string()});
    ASSERT_EQ(printed.exitCode, 0) << printed.errors;
  }

  capturetest::PrinterApplication printer_;
  CaptureSettings settings_;
  ItemList items_;
  PrintCapture capture_;
};

TEST_F(EverywhereQueue, PdfPostScriptAndTextArriveAsPdfItemsNamedAfterTheirTitle) {
  StartCapture();
  EXPECT_NE(Lpstat({"-v", "QUELLPRINT"}).find("device for QUELLPRINT: " + printer_.Uri()),
            std::string::npos);
  testsupport::WriteFile(temp_ / "report.pdf",
                         RunCommand({"ps2pdf", "-", "-"}, "%!PS\n72 720 moveto showpage\n").output);
  testsupport::WriteFile(temp_ / "report.ps",
                         "%!PS-Adobe-3.0\n/Helvetica findfont 20 scalefont setfont 72 720 moveto "
                         "(My Report) show showpage\n");
  testsupport::WriteFile(temp_ / "report.txt", "My Report\nas plain text\n");
  const char* const files[] = {"report.pdf", "report.ps", "report.txt"};
  for (size_t i = 0; i < std::size(files); ++i) {
    SCOPED_TRACE(files[i]);
    Print(temp_ / files[i], "My Report (v2)");
    ASSERT_TRUE(WaitUntil([&] { return items_.Size() == i + 1; }, std::chrono::seconds(60)))
        << log_.Text() << printer_.Log() << cupsd_->ErrorLog();
  }
  capture_.Stop();
  std::set<std::string> names;
  for (const std::string& item : items_.Snapshot()) {
    const std::filesystem::path path(item);
    EXPECT_EQ(path.parent_path(), work_);
    EXPECT_TRUE(
        std::regex_match(path.filename().string(), std::regex(R"(My_Report__v2__\d{6}_\d+\.pdf)")))
        << path;
    EXPECT_TRUE(ReadFile(path).starts_with("%PDF")) << path;
    // Who printed it is the user the spooler authenticated.
    EXPECT_TRUE(log_.Contains("INFO, SpoolReceiver::TakeJobs, job printed by root taken from " +
                              (printer_.UserFolder(0) / path.filename()).string() +
                              " into FileName=" + item + "\n"))
        << log_.Text();
    names.insert(path.filename().string());
  }
  EXPECT_EQ(names.size(), 3u);
  // The jobs left the spool; the spooler saw them delivered.
  EXPECT_TRUE(FileNames(printer_.UserFolder(0)).empty());
  EXPECT_TRUE(WaitUntil([&] { return Lpstat({"-o", "QUELLPRINT"}).empty(); }));
}

TEST_F(EverywhereQueue, AJobPrintedWhileTheWindowIsClosedIsAnItemAtTheNextStart) {
  StartCapture();
  capture_.Stop();
  testsupport::WriteFile(temp_ / "late.txt", "printed after closing time\n");
  Print(temp_ / "late.txt", "Late letter");
  ASSERT_TRUE(WaitUntil([&] { return FileNames(printer_.UserFolder(0)).size() == 1; },
                        std::chrono::seconds(60)))
      << printer_.Log() << cupsd_->ErrorLog();
  EXPECT_TRUE(items_.Empty());

  StartCapture();
  // There at once, before the first look of the running capture.
  ASSERT_EQ(items_.Size(), 1u);
  EXPECT_TRUE(std::regex_match(std::filesystem::path(*items_.At(0)).filename().string(),
                               std::regex(R"(Late_letter_\d{6}_\d+\.pdf)")))
      << *items_.At(0);
  EXPECT_TRUE(ReadFile(*items_.At(0)).starts_with("%PDF"));
  EXPECT_TRUE(FileNames(printer_.UserFolder(0)).empty());
}

TEST_F(EverywhereQueue, AnotherUsersJobsNeverJoinThisUsersItems) {
  const std::string why = testsupport::SecondUserUnavailable();
  if (!why.empty()) GTEST_SKIP() << why;
  StartCapture();
  std::filesystem::permissions(temp_.path(), std::filesystem::perms(0755));
  testsupport::WriteFile(temp_ / "theirs.txt", "printed by another user\n");
  std::filesystem::permissions(temp_ / "theirs.txt", std::filesystem::perms(0644));
  const struct {
    const char* title;
    std::vector<std::string> lp;
    const char* refusal;  // what lp says; empty when the job is taken
  } rows[] = {
      {"to the queue open to this user alone", {"lp", "-d", "QUELLPRINT"}, "Not allowed to print"},
      {"under this user's name", {"lp", "-U", "root", "-d", "QUELLPRINT"}, "Unauthorized"},
      // A queue opened to everyone by hand: the job goes to its sender's own folder.
      {"to the queue opened to all", {"lp", "-d", "QUELLPRINT"}, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.title);
    if (*row.refusal == '\0') {
      ASSERT_EQ(RunCommand({"lpadmin", "-p", "QUELLPRINT", "-u", "allow:all"}).exitCode, 0);
    }
    std::vector<std::string> lp = row.lp;
    lp.push_back((temp_ / "theirs.txt").string());
    const testsupport::CommandResult printed = RunCommand(testsupport::AsSecondUser(lp));
    if (*row.refusal != '\0') {
      EXPECT_NE(printed.exitCode, 0);
      EXPECT_NE(printed.errors.find(row.refusal), std::string::npos) << printed.errors;
      continue;
    }
    ASSERT_EQ(printed.exitCode, 0) << printed.errors;
    EXPECT_TRUE(WaitUntil(
        [&] { return FileNames(printer_.UserFolder(testsupport::SecondUserId())).size() == 1; },
        std::chrono::seconds(60)))
        << printer_.Log() << cupsd_->ErrorLog();
  }
  // This user's capture looked more than once meanwhile and found nothing.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_TRUE(items_.Empty());
  EXPECT_TRUE(FileNames(work_).empty());
}

TEST_F(EverywhereQueue, AnotherUserHoldingPortsAndSocketsFirstReceivesNothing) {
  const std::string why = testsupport::SecondUserUnavailable();
  if (!why.empty()) GTEST_SKIP() << why;
  // The other user listens on the raw queue's port and on a port of their choice, and tries to
  // put a socket where the printer application's is, all before the printer application starts.
  printer_.Stop();
  const int port = testsupport::FreePort();
  const std::filesystem::path output = temp_ / "listener.out";
  testsupport::ChildProcess listener(
      testsupport::AsSecondUser(
          {"/usr/bin/python3", "-c",
           "import socket, sys, select, time\n"
           "held = []\n"
           "for port in (9100, int(sys.argv[1])):\n"
           "    s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
           "    try:\n"
           "        s.bind(('127.0.0.1', port)); s.listen(); held.append(s)\n"
           "    except OSError as e: print('port', port, e, flush=True)\n"
           "u = socket.socket(socket.AF_UNIX)\n"
           "try:\n"
           "    u.bind(sys.argv[2]); u.listen(); held.append(u)\n"
           "except OSError as e: print('socket', e.strerror, flush=True)\n"
           "print('listening', len(held), flush=True)\n"
           "received = 0\n"
           "end = time.time() + 60\n"
           "while time.time() < end:\n"
           "    ready, _, _ = select.select(held, [], [], 0.2)\n"
           "    for s in ready:\n"
           "        c, _ = s.accept(); c.settimeout(2)\n"
           "        data = c.recv(65536)\n"
           "        received += len(data); print('received', len(data), flush=True)\n",
           std::to_string(port), printer_.places().socket.string()}),
      output.string());
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(output).find("listening") != std::string::npos; }))
      << ReadFile(output);
  EXPECT_NE(ReadFile(output).find("socket Permission denied"), std::string::npos)
      << ReadFile(output);

  std::string started;
  ASSERT_TRUE(printer_.Start(started)) << started;
  StartCapture();
  testsupport::WriteFile(temp_ / "mine.txt", "this user's letter\n");
  Print(temp_ / "mine.txt", "Mine");
  ASSERT_TRUE(WaitUntil([&] { return items_.Size() == 1; }, std::chrono::seconds(60)))
      << printer_.Log() << cupsd_->ErrorLog();
  listener.Stop();
  EXPECT_EQ(ReadFile(output).find("received"), std::string::npos) << ReadFile(output);
}

TEST_F(EverywhereQueue, AnEarlierRawQueueIsReplacedAndChoosingRawRestoresIt) {
  // The queue an earlier version made.
  std::string message;
  ASSERT_EQ(InstallVirtualPrinter(VirtualPrinter{}, message), PrinterInstall::Installed)
      << log_.Text();
  StartCapture();
  EXPECT_NE(Lpstat({"-v", "QUELLPRINT"}).find("device for QUELLPRINT: " + printer_.Uri()),
            std::string::npos)
      << Lpstat({"-v", "QUELLPRINT"});
  EXPECT_TRUE(
      log_.Contains("INFO, InstallVirtualPrinter, replaced QUELLPRINT on " + printer_.Uri() + "\n"))
      << log_.Text();
  capture_.Stop();

  // Chosen again, the raw queue prints raw to the printer port, as before.
  CaptureSettings raw = settings_;
  raw.mode = CaptureMode::RawQueue;
  raw.port = std::to_string(testsupport::FreePort());
  ASSERT_TRUE(capture_.Start(raw, work_, items_, message)) << message << log_.Text();
  EXPECT_NE(Lpstat({"-v", "QUELLPRINT"}).find("device for QUELLPRINT: socket://127.0.0.1:9100"),
            std::string::npos)
      << Lpstat({"-v", "QUELLPRINT"});
  EXPECT_TRUE(log_.Contains("Print capture: raw queue on the printer port\n"));
  EXPECT_TRUE(log_.Contains("Initialize port: " + raw.port + "\n"));
}

TEST(EverywhereQueueWithoutPolicy, IsMadeWithoutItAndTheLogSaysSo) {
  if (geteuid() != 0) GTEST_SKIP() << "a private cupsd needs root";
  capturetest::CapturedLog log;
  capturetest::PrivateCupsd cupsd(capturetest::PrivateCupsd::Policies::DefaultOnly);
  std::string why;
  ASSERT_TRUE(cupsd.Running(why)) << why;
  capturetest::PrinterApplication printer;
  ASSERT_TRUE(printer.Start(why)) << why;
  std::string message;
  EXPECT_EQ(InstallVirtualPrinter(EverywhereVirtualPrinter(printer.places().socket), message),
            PrinterInstall::Installed)
      << message << log.Text() << cupsd.ErrorLog();
  EXPECT_EQ(message, "");
  EXPECT_TRUE(
      log.Contains("WARNING, InstallVirtualPrinter, the spooler refused the policy "
                   "\"authenticated\"; QUELLPRINT is made without it, so a user can print "
                   "under another's name\n"))
      << log.Text();
  EXPECT_NE(RunCommand({"lpstat", "-v", "QUELLPRINT"}).output.find(printer.Uri()),
            std::string::npos);
}

}  // namespace
