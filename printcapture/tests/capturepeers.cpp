// Test peers for the print capture.
#include "capturepeers.h"

#include <arpa/inet.h>
#include <cups/cups.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "log.h"

namespace capturetest {

namespace {

constexpr int kReplyWaitMilliseconds = 30000;

void AddEntry(zip_t* archive, const char* name, const std::string& content) {
  // libzip reads the buffer when the archive is closed; the strings live until then.
  zip_source_t* source = zip_source_buffer(archive, content.data(), content.size(), 0);
  zip_file_add(archive, name, source, ZIP_FL_OVERWRITE);
}

// A connection to 127.0.0.1:port; -1 when none could be made.
int ConnectedTo(int port) {
  const int handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return handle;
  close(handle);
  return -1;
}

}  // namespace

bool SendJob(int port, std::string_view job) {
  const int handle = ConnectedTo(port);
  if (handle < 0) return false;
  bool delivered = true;
  size_t sent = 0;
  while (delivered && sent < job.size()) {
    const ssize_t count = send(handle, job.data() + sent, job.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) delivered = false;
    if (count > 0) sent += static_cast<size_t>(count);
  }
  if (delivered) shutdown(handle, SHUT_WR);
  // The listener closes once it has read the whole job.
  while (delivered) {
    pollfd wait{handle, POLLIN, 0};
    if (poll(&wait, 1, kReplyWaitMilliseconds) != 1) {
      delivered = false;
      break;
    }
    char block[256];
    const ssize_t count = recv(handle, block, sizeof block, 0);
    if (count == 0) break;
    if (count < 0) delivered = false;
  }
  close(handle);
  return delivered;
}

bool SendJobAndClose(int port, std::string_view job) {
  const int handle = ConnectedTo(port);
  if (handle < 0) return false;
  const bool sent =
      send(handle, job.data(), job.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(job.size());
  close(handle);
  return sent;
}

std::string SmallXpsPackage() {
  const std::string contentTypes =
      R"(<?xml version="1.0" encoding="UTF-8"?>)"
      R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
      R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
      R"(<Default Extension="fdseq" ContentType="application/vnd.ms-package.xps-fixeddocumentsequence+xml"/>)"
      R"(<Default Extension="fdoc" ContentType="application/vnd.ms-package.xps-fixeddocument+xml"/>)"
      R"(<Default Extension="fpage" ContentType="application/vnd.ms-package.xps-fixedpage+xml"/>)"
      R"(</Types>)";
  const std::string relationships =
      R"(<?xml version="1.0" encoding="UTF-8"?>)"
      R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
      R"(<Relationship Type="http://schemas.microsoft.com/xps/2005/06/fixedrepresentation")"
      R"( Target="/FixedDocSeq.fdseq" Id="R0"/></Relationships>)";
  const std::string sequence =
      R"(<FixedDocumentSequence xmlns="http://schemas.microsoft.com/xps/2005/06">)"
      R"(<DocumentReference Source="/Documents/1/FixedDoc.fdoc"/></FixedDocumentSequence>)";
  const std::string document =
      R"(<FixedDocument xmlns="http://schemas.microsoft.com/xps/2005/06">)"
      R"(<PageContent Source="/Documents/1/Pages/1.fpage"/></FixedDocument>)";
  const std::string page =
      R"(<FixedPage xmlns="http://schemas.microsoft.com/xps/2005/06" Width="816" Height="1056")"
      R"( xml:lang="en-US"><Path Fill="#FF0000" Data="M 100,100 L 300,100 L 300,300 L 100,300 Z"/>)"
      R"(</FixedPage>)";

  testsupport::TempDir temp;
  const std::string path = (temp / "page.xps").string();
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!archive) return {};
  AddEntry(archive, "[Content_Types].xml", contentTypes);
  AddEntry(archive, "_rels/.rels", relationships);
  AddEntry(archive, "FixedDocSeq.fdseq", sequence);
  AddEntry(archive, "Documents/1/FixedDoc.fdoc", document);
  AddEntry(archive, "Documents/1/Pages/1.fpage", page);
  if (zip_close(archive) != 0) {
    zip_discard(archive);
    return {};
  }
  return testsupport::ReadFile(path);
}

void PointSpoolerAt(const std::filesystem::path& socket) {
  if (socket.empty()) {
    unsetenv("CUPS_SERVER");
  } else {
    setenv("CUPS_SERVER", socket.c_str(), 1);
  }
  // libcups keeps the server name of each thread once read; make it read the variable again.
  cupsSetServer(nullptr);
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::vector<std::string> FileNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(".")) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

CapturedLog::CapturedLog() {
  ReleaseLogTarget();
  SetLogTarget((temp_ / "test.log").string(), "", "");
  LogLevel = 2;
}

CapturedLog::~CapturedLog() {
  LogLevel = 0;
  ReleaseLogTarget();
}

std::string CapturedLog::Text() const {
  return testsupport::ReadFile(temp_ / "test.log");
}

PrivateCupsd::PrivateCupsd(Policies policies) : socket_(temp_ / "cups.sock") {
  // The scheduler drops to user lp for the backends, which must reach the folder.
  std::filesystem::permissions(temp_.path(), std::filesystem::perms(0755));
  const std::filesystem::path root = temp_.path();
  for (const char* sub : {"spool", "cache", "state", "tmp", "log"}) {
    std::filesystem::create_directories(root / sub);
  }
  // The filters run as user lp and write their temporary files here.
  std::filesystem::permissions(root / "tmp", std::filesystem::perms(01777));
  const int port = testsupport::FreePort();
  testsupport::WriteFile(root / "cups-files.conf",
                         "ServerRoot " + root.string() + "\n" +                   //
                             "RequestRoot " + (root / "spool").string() + "\n" +  //
                             "CacheDir " + (root / "cache").string() + "\n" +     //
                             "StateDir " + (root / "state").string() + "\n" +     //
                             "TempDir " + (root / "tmp").string() + "\n" +        //
                             "AccessLog " + (root / "log/access_log").string() + "\n" +
                             "ErrorLog " + (root / "log/error_log").string() + "\n" + "PageLog " +
                             (root / "log/page_log").string() + "\n" +
                             "User lp\nGroup lp\nSystemGroup root\n"
                             "ServerBin /usr/lib/cups\nDataDir /usr/share/cups\n"
                             "FileDevice No\n");
  testsupport::WriteFile(root / "cupsd.conf",
                         "Listen " + socket_.string() + "\n" +                    //
                             "Listen 127.0.0.1:" + std::to_string(port) + "\n" +  //
                             "LogLevel info\nBrowsing No\nWebInterface No\n"
                             "DefaultAuthType Basic\n"
                             "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                             "<Policy default>\n  <Limit All>\n    Order deny,allow\n"
                             "  </Limit>\n</Policy>\n" +
                             (policies == Policies::DefaultOnly
                                  ? ""
                                  : "<Policy authenticated>\n"
                                    "  <Limit Create-Job Print-Job Print-URI Validate-Job>\n"
                                    "    AuthType Default\n    Order deny,allow\n  </Limit>\n"
                                    "  <Limit All>\n    Order deny,allow\n  </Limit>\n"
                                    "</Policy>\n"));
  PointSpoolerAt(socket_);
  process_ = std::make_unique<testsupport::ChildProcess>(
      std::vector<std::string>{"cupsd", "-f", "-c", (root / "cupsd.conf").string(), "-s",
                               (root / "cups-files.conf").string()},
      (root / "log/cupsd.out").string());
  running_ =
      process_->WaitListening(port) &&
      WaitUntil([this] { return std::filesystem::exists(socket_); }, std::chrono::seconds(10));
}

PrivateCupsd::~PrivateCupsd() {
  process_.reset();
  PointSpoolerAt({});
}

bool PrivateCupsd::Running(std::string& why) const {
  if (!running_) {
    why = "cupsd did not start: " + testsupport::ReadFile(temp_.path() / "log/cupsd.out") +
          ErrorLog();
  }
  return running_;
}

std::string PrivateCupsd::ErrorLog() const {
  std::error_code error;
  if (!std::filesystem::exists(temp_.path() / "log/error_log", error)) return {};
  return testsupport::ReadFile(temp_.path() / "log/error_log");
}

PrinterApplication::PrinterApplication() {
  // The spooler's backends (user lp) pass this folder to reach the socket.
  std::filesystem::permissions(temp_.path(), std::filesystem::perms(0755));
  places_.socket = temp_ / "run" / "printer.sock";
  places_.spool = temp_ / "spool";
}

PrinterApplication::~PrinterApplication() {
  Stop();
}

bool PrinterApplication::Start(std::string& why) {
  Stop();
  process_ = std::make_unique<testsupport::ChildProcess>(
      std::vector<std::string>{VELLORAN_PRINTER, "--socket", places_.socket.string(), "--spool",
                               places_.spool.string(), "--log", (temp_ / "printer.log").string(),
                               "--debug"},
      (temp_ / "printer.out").string());
  // The socket's folder opens once the socket is closed to everybody but the spooler.
  const bool started = WaitUntil([this] {
                         std::error_code error;
                         const auto folder =
                             std::filesystem::status(places_.socket.parent_path(), error);
                         return (!error && std::filesystem::exists(places_.socket, error) &&
                                 (folder.permissions() & std::filesystem::perms::others_exec) !=
                                     std::filesystem::perms::none) ||
                                !process_->Running();
                       }) &&
                       process_->Running();
  if (!started) why = "velloran-printer did not start: " + Log();
  return started;
}

void PrinterApplication::Stop() {
  process_.reset();
  std::error_code ignored;
  std::filesystem::remove(places_.socket, ignored);
}

std::string PrinterApplication::Log() const {
  std::error_code error;
  std::string log;
  for (const char* name : {"printer.out", "printer.log"}) {
    if (std::filesystem::exists(temp_ / name, error)) log += testsupport::ReadFile(temp_ / name);
  }
  return log;
}

}  // namespace capturetest
