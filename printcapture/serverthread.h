// The print job listener: ServerThread accepts connections on the printer port, and a SendThread
// per connection reads one job into the work folder and hands PDF results to the item list.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "itemlist.h"
#include "jobfiles.h"
#include "peeruser.h"
#include "socket.h"

// Bounds on what one connection, and all of them together, may cost.
struct CaptureLimits {
  // A larger job is cut off and not kept.
  uint64_t maxJobBytes = uint64_t{512} << 20;
  // A sender silent this long ends its job with the data read so far.
  std::chrono::milliseconds idleLimit = std::chrono::seconds(300);
  // How long Stop lets running jobs finish before it ends their reading and stops their
  // converters; the window closes right after.
  std::chrono::milliseconds stopGrace = std::chrono::seconds(1);
  // Jobs received at once. Further connections wait in the listen queue until one ends, so a
  // flood of connections cannot use up the program's descriptors.
  int maxReceivers = 16;
  // Captured files the work folder may hold; a job that would pass it is refused.
  uint64_t workFolderQuota = uint64_t{2} << 30;
  // Space that must stay free on the work folder's disk; a job that would take it is refused.
  uint64_t minimumFreeSpace = uint64_t{1} << 30;
  // The pause after a failed accept (no descriptor left, for instance) before the next try.
  std::chrono::milliseconds acceptRetryPause = std::chrono::seconds(1);
};

// What the receiving threads share with the listener (and through it with the window).
struct CaptureContext {
  CaptureContext(std::filesystem::path folder, ItemList& itemList, JobCounter& jobCounter,
                 CaptureLimits captureLimits, std::string printer)
      : workFolder(std::move(folder)),
        items(itemList),
        counter(jobCounter),
        limits(captureLimits),
        printerName(std::move(printer)) {}

  std::filesystem::path workFolder;
  ItemList& items;
  JobCounter& counter;
  CaptureLimits limits;
  std::string printerName;
  // Whose connections are taken.
  PrintingUsers printingUsers;
  // Readable once the receivers must stop reading and their converters must end (never drained,
  // so every receiver sees it).
  int stopReadingHandle = -1;

  // Failures the user must be told about, collected for the window.
  void Report(const std::string& message);
  // The reports since the last call, in order; a report repeated meanwhile (the same refusal for
  // a burst of jobs) comes once, with the count.
  std::vector<std::string> TakeReports();

 private:
  std::mutex reportsMutex_;
  std::vector<std::pair<std::string, int>> reports_;
};

// One connection, one job.
class SendThread {
 public:
  SendThread(CaptureContext& context, int handle) : context_(context), handle_(handle) {}
  void Execute();

 private:
  CaptureContext& context_;
  int handle_;
};

class ServerThread {
 public:
  ServerThread(std::filesystem::path workFolder, ItemList& items,
               JobCounter& counter = ProcessJobCounter(), CaptureLimits limits = {},
               std::string printerName = "QUELLPRINT");
  ~ServerThread();
  ServerThread(const ServerThread&) = delete;
  ServerThread& operator=(const ServerThread&) = delete;

  // Listens on 127.0.0.1 at `port` and starts accepting jobs: from root, the spooler's user and
  // this program's user (others are closed at once, with a log line; a sender that closed before
  // it could be identified is taken), at most `maxReceivers` at a time. A failed accept is logged
  // and tried again after a pause, so the listener runs until Stop. False after the log line
  // "ERROR: Couldn't initialize port: " + port; ListenError then tells why.
  bool Start(const std::string& port);
  // The errno of the failed bind of the last Start (EADDRINUSE: another program holds the port),
  // 0 when the port text was no port or the start failed otherwise.
  int ListenError() const { return listenError_; }
  // Closes the listener, lets running jobs finish (for at most the stop grace, then they end
  // with what they read and their converters are stopped) and returns once every receiving
  // thread has ended.
  void Stop();

  // Failures of capture since the last call, for the user.
  std::vector<std::string> TakeReports() { return context_.TakeReports(); }

 private:
  struct Receiver {
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void Execute();
  // Waits until fewer than the most receivers run; false when the listener must stop.
  bool WaitForFreeReceiver();
  // Logs a failed accept and pauses; false when the listener must stop.
  bool PauseAfterAcceptFailure(int error);
  // True when the connection's sender may print here; otherwise logs the refusal.
  bool SenderMayPrint(int handle);
  void StartReceiver(int handle);
  void JoinFinishedReceivers();

  CaptureContext context_;
  Socket listener_;
  std::thread thread_;
  int stopListening_[2] = {-1, -1};
  int stopReading_[2] = {-1, -1};
  // Held open so that a log line can still be written when every other descriptor is taken.
  int spareDescriptor_ = -1;
  std::list<std::unique_ptr<Receiver>> receivers_;
  std::mutex activeMutex_;
  std::condition_variable activeChanged_;
  int active_ = 0;
  bool stopping_ = false;
  int listenError_ = 0;
};
