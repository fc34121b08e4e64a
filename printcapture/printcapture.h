// The print capture as the window starts and stops it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "itemlist.h"

class ServerThread;

class PrintCapture {
 public:
  PrintCapture();
  ~PrintCapture();
  PrintCapture(const PrintCapture&) = delete;
  PrintCapture& operator=(const PrintCapture&) = delete;

  // Makes sure the virtual printer is installed, then listens on `port` (127.0.0.1 only). Jobs
  // are saved in `workFolder`; their PDF files are appended to `items`, which must outlive Stop.
  // `message` receives what the user must be shown ("ERROR, AdminShell, Status=" + code,
  // "ERROR: Couldn't initialize port: " + port), empty when nothing. False when no listener
  // runs; the program works on without capture.
  bool Start(const std::string& port, const std::filesystem::path& workFolder, ItemList& items,
             std::string& message);
  // Closes the listener and returns once running jobs are finished, so `items` may go.
  void Stop();

  // Failures of captured jobs since the last call (a file that could not be written, a
  // conversion that failed), for the window to show.
  std::vector<std::string> TakeMessages();

 private:
  std::unique_ptr<ServerThread> server_;
};
