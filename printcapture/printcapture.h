// The print capture as the window starts and stops it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "itemlist.h"
#include "printerplaces.h"

class ServerThread;
class SpoolReceiver;

// How printed jobs reach this program.
enum class CaptureMode {
  // The printer application (IPP Everywhere) files each job for the user who printed it; the
  // window takes the user's jobs, also those printed while it was closed.
  PrinterApplication,
  // A raw queue sends each job to the listener on the printer port of this machine.
  RawQueue,
};

// The mode a settings value names: "raw" is the raw queue, anything else the printer
// application.
CaptureMode CaptureModeNamed(const std::string& name);
// What the log and the user read for a mode.
const char* CaptureModeText(CaptureMode mode);

struct CaptureSettings {
  CaptureMode mode = CaptureMode::PrinterApplication;
  std::string port = "9100";  // the raw queue's printer port
  PrinterPlaces places;       // the printer application's socket and spool
};

class PrintCapture {
 public:
  PrintCapture();
  ~PrintCapture();
  PrintCapture(const PrintCapture&) = delete;
  PrintCapture& operator=(const PrintCapture&) = delete;

  // Makes sure the virtual printer of the mode is installed (replacing the other mode's queue),
  // takes the jobs the printer application filed for this user meanwhile into `workFolder` as
  // items, and starts receiving: from the printer application, or on the printer port (127.0.0.1
  // only). Jobs are saved in `workFolder`; their PDF files are appended to `items`, which must
  // outlive Stop. `message` receives what the user must be shown in plain words ("Another
  // program holds the printer port 9100: print capture is off"), empty when nothing. False when
  // nothing printed can arrive; the program works on without capture.
  bool Start(const CaptureSettings& settings, const std::filesystem::path& workFolder,
             ItemList& items, std::string& message);
  // The raw queue on `port`.
  bool Start(const std::string& port, const std::filesystem::path& workFolder, ItemList& items,
             std::string& message);
  // Stops receiving and returns once running jobs are finished, so `items` may go.
  void Stop();

  // Failures of captured jobs since the last call (a file that could not be written, a
  // conversion that failed, a job that could not be taken), for the window to show.
  std::vector<std::string> TakeMessages();

 private:
  bool StartPrinterApplication(const PrinterPlaces& places, std::string& message);
  bool StartRawQueue(const std::string& port, const PrinterPlaces& places,
                     const std::filesystem::path& workFolder, ItemList& items,
                     std::string& message);

  std::unique_ptr<ServerThread> server_;
  std::unique_ptr<SpoolReceiver> spool_;
};
