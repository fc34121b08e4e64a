// The printer application on its own, as ipptool meets it: its description, the documents it
// takes and where they go, who can reach it, and what it shows of itself on the network.
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "capturepeers.h"
#include "printcapture.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

using capturetest::FileNames;
using capturetest::WaitUntil;
using testsupport::ReadFile;
using testsupport::RunCommand;

// The socket inodes process `pid` holds open.
std::set<std::string> SocketsOf(pid_t pid) {
  std::set<std::string> inodes;
  const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (target.starts_with("socket:[")) inodes.insert(target.substr(8, target.size() - 9));
  }
  return inodes;
}

// The network sockets (TCP, UDP, IPv4 and IPv6) among `inodes`, as lines of /proc/net/*.
std::vector<std::string> NetworkSockets(const std::set<std::string>& inodes) {
  std::vector<std::string> found;
  for (const char* table : {"tcp", "tcp6", "udp", "udp6"}) {
    std::ifstream lines(std::string("/proc/net/") + table);
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string field;
      for (int column = 0; column < 10 && fields >> field; ++column) {
      }
      if (inodes.count(field)) found.push_back(std::string(table) + ": " + line);
    }
  }
  return found;
}

class PrinterApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testsupport::HaveProgram("ipptool")) << "ipptool missing (scripts/setup.sh)";
    // The service runs as root: it gives each job to the user who printed it.
    if (geteuid() != 0) GTEST_SKIP() << "the printer application runs as root";
    std::string why;
    ASSERT_TRUE(printer_.Start(why)) << why;
  }

  // ipptool with one of CUPS' test files against the printer; its exit status and output.
  testsupport::CommandResult IppTool(const std::string& test,
                                     const std::vector<std::string>& options = {},
                                     const std::vector<std::string>& as = {}) {
    std::vector<std::string> argv = as;
    argv.insert(argv.end(), {"ipptool", "-tv"});
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {printer_.Uri(), test});
    return RunCommand(argv);
  }

  capturetest::PrinterApplication printer_;
  testsupport::TempDir documents_;
};

TEST_F(PrinterApplicationTest, IppToolDescribesItAndEachDocumentIsFiledAsAPdfOfTheSender) {
  const testsupport::CommandResult described = IppTool("get-printer-attributes.test");
  EXPECT_EQ(described.exitCode, 0) << described.output << printer_.Log();
  EXPECT_TRUE(std::regex_search(
      described.output,
      std::regex(R"(document-format-supported \(1setOf mimeMediaType\) = [^\n]*application/pdf)"
                 R"([^\n]*image/jpeg[^\n]*image/png)")))
      << described.output;

  const std::string pdf = "%PDF-1.4\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n";
  testsupport::WriteFile(documents_ / "letter.pdf", pdf);
  testsupport::WriteFile(documents_ / "photo.jpg", testpictures::MakeJpeg(64, 48, false));
  testsupport::WriteFile(documents_ / "screen.png",
                         testpictures::MakePng(40, 30, testpictures::PngKind::Rgb));
  const struct {
    const char* file;
    const char* picture;  // what pdfimages lists for the page; empty: the PDF stays as it came
  } rows[] = {
      {"letter.pdf", ""},
      {"photo.jpg", R"(64\s+48\s+rgb\s+3\s+8\s+jpeg)"},  // the JPEG as it came
      {"screen.png", R"(rgb\s+3\s+8\s+image)"},          // a raster page of the page's size
  };
  const std::filesystem::path mine = printer_.UserFolder(0);
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].file);
    const testsupport::CommandResult printed =
        IppTool("print-job.test", {"-f", (documents_ / rows[i].file).string()});
    EXPECT_EQ(printed.exitCode, 0) << printed.output;
    ASSERT_TRUE(WaitUntil([&] { return FileNames(mine).size() == i + 1; })) << printer_.Log();
  }
  const std::vector<std::string> filed = FileNames(mine);
  // print-job.test gives no job name; the jobs are numbered in the order they came.
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].file);
    const std::string expected = "Untitled_\\d{6}_" + std::to_string(i + 1) + "\\.pdf";
    std::string name;
    for (const std::string& candidate : filed) {
      if (std::regex_match(candidate, std::regex(expected))) name = candidate;
    }
    ASSERT_FALSE(name.empty()) << testing::PrintToString(filed);
    const std::filesystem::path file = mine / name;
    EXPECT_TRUE(ReadFile(file).starts_with("%PDF"));
    if (*rows[i].picture == '\0') {
      EXPECT_EQ(ReadFile(file), pdf);
    } else {
      const std::string pictures = RunCommand({"pdfimages", "-list", file.string()}).output;
      EXPECT_TRUE(std::regex_search(pictures, std::regex(rows[i].picture))) << pictures;
    }
    EXPECT_EQ(std::filesystem::status(file).permissions(), std::filesystem::perms(0600));
  }
  // PAPPL's own copy of each document is gone once the job is filed.
  EXPECT_TRUE(WaitUntil([&] { return FileNames(printer_.places().spool / ".printer").empty(); }))
      << testing::PrintToString(FileNames(printer_.places().spool / ".printer"));

  // Nothing of it is on the network: no port, no DNS-SD advertisement.
  EXPECT_EQ(NetworkSockets(SocketsOf(printer_.pid())), std::vector<std::string>{});
  EXPECT_EQ(printer_.Log().find("DNS-SD"), std::string::npos) << printer_.Log();
}

TEST_F(PrinterApplicationTest, OnlyRootTheSpoolerAndPrinterAdministratorsReachIt) {
  const std::string why = testsupport::SecondUserUnavailable();
  if (!why.empty()) GTEST_SKIP() << why;
  testsupport::WriteFile(documents_ / "theirs.pdf", "%PDF-1.4 printed by nobody\n");
  std::filesystem::permissions(documents_.path(), std::filesystem::perms(0755));
  std::filesystem::permissions(documents_ / "theirs.pdf", std::filesystem::perms(0644));
  const std::string nobody = testsupport::kSecondUser;
  const std::string administrators = std::to_string(std::stoi(
      RunCommand({"getent", "group", "lpadmin"}).output.substr(std::string("lpadmin:x:").size())));
  const struct {
    const char* title;
    std::vector<std::string> as;
    const char* test;
    bool reached;
  } rows[] = {
      {"another user reads the description",
       {"runuser", "-u", nobody, "--"},
       "get-printer-attributes.test",
       false},
      {"another user prints", {"runuser", "-u", nobody, "--"}, "print-job.test", false},
      // lpadmin -m everywhere, run by a printer administrator, asks the printer what it takes.
      {"a printer administrator reads the description",
       {"setpriv", "--reuid=" + nobody, "--regid=nogroup", "--groups=" + administrators},
       "get-printer-attributes.test",
       true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.title);
    const testsupport::CommandResult result =
        IppTool(row.test, {"-f", (documents_ / "theirs.pdf").string()}, row.as);
    EXPECT_EQ(result.exitCode == 0, row.reached) << result.output << result.errors;
  }
  EXPECT_TRUE(FileNames(printer_.UserFolder(testsupport::SecondUserId())).empty());

  // Nor can another user put a socket of theirs where the printer's goes.
  printer_.Stop();
  const testsupport::CommandResult taken = RunCommand(testsupport::AsSecondUser(
      {"/usr/bin/python3", "-c",
       "import socket, sys; s = socket.socket(socket.AF_UNIX); s.bind(sys.argv[1]); s.listen()",
       printer_.places().socket.string()}));
  EXPECT_NE(taken.exitCode, 0);
  EXPECT_NE(taken.errors.find("Permission denied"), std::string::npos) << taken.errors;
}

TEST(PrinterApplicationCapture, WithoutThePrinterApplicationTheUserHearsThatCaptureIsOff) {
  testsupport::TempDir temp;
  capturetest::CapturedLog log;
  CaptureSettings settings;
  settings.places.socket = temp / "run" / "printer.sock";
  settings.places.spool = temp / "spool";
  ItemList items;
  PrintCapture capture;
  std::string message;
  EXPECT_FALSE(capture.Start(settings, temp.path(), items, message));
  EXPECT_EQ(message,
            "The printer application (velloran-printer) does not run: print capture is off. "
            "Start it with \"systemctl start velloran-printer\".");
  EXPECT_TRUE(log.Contains("Print capture: printer application (IPP Everywhere)\n"));
  EXPECT_TRUE(
      log.Contains("ERROR, PrintCapture::Start, the printer application does not run: "
                   "no socket at " +
                   settings.places.socket.string() + "\n"))
      << log.Text();
}

}  // namespace
