// The scripted HTTP server as a test peer.
#include "scripted_server.h"

#include <filesystem>

ScriptedWebServer::ScriptedWebServer(const std::string& script, const std::string& certificate,
                                     const std::string& key)
    : https_(!certificate.empty()) {
  testsupport::WriteFile(folder_ / "script.json", script);
  port_ = testsupport::FreePort();
  std::vector<std::string> argv = {"/usr/bin/python3", SCRIPTED_SERVER, std::to_string(port_),
                                   folder_.path().string()};
  if (https_) argv.insert(argv.end(), {certificate, key});
  process_ = std::make_unique<testsupport::ChildProcess>(argv, (folder_ / "server.log").string());
  running_ = process_->WaitListening(port_);
}

int ScriptedWebServer::RequestCount() const {
  int count = 0;
  while (std::filesystem::exists(folder_ / ("request-" + std::to_string(count + 1) + ".body"))) {
    ++count;
  }
  return count;
}

std::string ScriptedWebServer::Request(int number) const {
  return testsupport::ReadFile(folder_ / ("request-" + std::to_string(number) + ".txt"));
}

std::string ScriptedWebServer::Body(int number) const {
  return testsupport::ReadFile(folder_ / ("request-" + std::to_string(number) + ".body"));
}
