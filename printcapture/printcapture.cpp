// Start and stop of the print capture in either mode.
#include "printcapture.h"

#include <unistd.h>

#include <cerrno>

#include "log.h"
#include "printqueue.h"
#include "serverthread.h"
#include "spoolreceiver.h"
#include "virtualprinter.h"

namespace {

void AddLine(std::string& message, const std::string& line) {
  if (line.empty()) return;
  if (!message.empty()) message += "\n";
  message += line;
}

// What the user reads when the printer port cannot be opened.
std::string PortProblem(const std::string& port, int error) {
  if (error == EADDRINUSE) {
    return "Another program holds the printer port " + port + ": print capture is off";
  }
  if (error == EACCES) {
    return "The printer port " + port +
           " may be opened by the administrator only: print capture is off";
  }
  return "The printer port \"" + port + "\" cannot be opened: print capture is off";
}

}  // namespace

CaptureMode CaptureModeNamed(const std::string& name) {
  return name == "raw" ? CaptureMode::RawQueue : CaptureMode::PrinterApplication;
}

const char* CaptureModeText(CaptureMode mode) {
  return mode == CaptureMode::RawQueue ? "raw queue on the printer port"
                                       : "printer application (IPP Everywhere)";
}

PrintCapture::PrintCapture() = default;

PrintCapture::~PrintCapture() {
  Stop();
}

bool PrintCapture::Start(const std::string& port, const std::filesystem::path& workFolder,
                         ItemList& items, std::string& message) {
  CaptureSettings settings;
  settings.mode = CaptureMode::RawQueue;
  settings.port = port;
  return Start(settings, workFolder, items, message);
}

bool PrintCapture::Start(const CaptureSettings& settings, const std::filesystem::path& workFolder,
                         ItemList& items, std::string& message) {
  Stop();
  message.clear();
  WriteLog(std::string("Print capture: ") + CaptureModeText(settings.mode));
  // Jobs the printer application filed while the window was closed (or before the raw queue was
  // chosen) come first, in the order they were printed.
  spool_ = std::make_unique<SpoolReceiver>(UserSpoolFolder(settings.places.spool, geteuid()),
                                           workFolder, items);
  spool_->TakeJobs();
  if (settings.mode == CaptureMode::RawQueue) {
    return StartRawQueue(settings.port, settings.places, workFolder, items, message);
  }
  spool_->Start();
  return StartPrinterApplication(settings.places, message);
}

bool PrintCapture::StartPrinterApplication(const PrinterPlaces& places, std::string& message) {
  std::string cause;
  if (!PrinterApplicationListens(places.socket.string(), cause)) {
    WriteLog("ERROR, PrintCapture::Start, the printer application does not run: " + cause);
    message =
        "The printer application (velloran-printer) does not run: print capture is off. "
        "Start it with \"systemctl start velloran-printer\".";
    return false;
  }
  const VirtualPrinter printer = EverywhereVirtualPrinter(places.socket);
  switch (InstallVirtualPrinter(printer, message)) {
    case PrinterInstall::AlreadyPresent:
    case PrinterInstall::Installed:
    case PrinterInstall::Replaced:
      return true;
    case PrinterInstall::PrintsElsewhere:
      AddLine(message, "The printer " + printer.name +
                           " prints elsewhere, not to this program: print capture is off");
      return false;
    case PrinterInstall::SpoolerUnavailable:
      AddLine(message, "No print spooler (CUPS) answers: print capture is off");
      return false;
    case PrinterInstall::Failed:
      AddLine(message,
              "The printer " + printer.name + " could not be set up: print capture is off");
      return false;
  }
  return false;
}

bool PrintCapture::StartRawQueue(const std::string& port, const PrinterPlaces& places,
                                 const std::filesystem::path& workFolder, ItemList& items,
                                 std::string& message) {
  // The listener starts whatever the installation gives: jobs can also be sent to the port
  // directly, and a spooler that comes later finds the listener running.
  InstallVirtualPrinter(RawVirtualPrinter(places.socket), message);
  auto server = std::make_unique<ServerThread>(workFolder, items);
  if (!server->Start(port)) {
    AddLine(message, PortProblem(port, server->ListenError()));
    return false;
  }
  server_ = std::move(server);
  return true;
}

void PrintCapture::Stop() {
  if (server_) server_->Stop();
  server_.reset();
  if (spool_) spool_->Stop();
  spool_.reset();
}

std::vector<std::string> PrintCapture::TakeMessages() {
  std::vector<std::string> messages = server_ ? server_->TakeReports() : std::vector<std::string>{};
  if (spool_) {
    for (std::string& report : spool_->TakeReports()) messages.push_back(std::move(report));
  }
  return messages;
}
