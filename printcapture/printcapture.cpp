// Start and stop of the print capture.
#include "printcapture.h"

#include "serverthread.h"
#include "virtualprinter.h"

PrintCapture::PrintCapture() = default;

PrintCapture::~PrintCapture() {
  Stop();
}

bool PrintCapture::Start(const std::string& port, const std::filesystem::path& workFolder,
                         ItemList& items, std::string& message) {
  Stop();
  message.clear();
  // The listener starts whatever the installation gives: jobs can also be sent to the port
  // directly, and a spooler that comes later finds the listener running.
  InstallVirtualPrinter(VirtualPrinter{}, message);
  auto server = std::make_unique<ServerThread>(workFolder, items);
  if (!server->Start(port)) {
    if (!message.empty()) message += "\n";
    message += "ERROR: Couldn't initialize port: " + port;
    return false;
  }
  server_ = std::move(server);
  return true;
}

void PrintCapture::Stop() {
  if (server_) server_->Stop();
  server_.reset();
}

std::vector<std::string> PrintCapture::TakeMessages() {
  return server_ ? server_->TakeReports() : std::vector<std::string>{};
}
