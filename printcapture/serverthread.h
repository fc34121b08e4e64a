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
#include "socket.h"

// Bounds on what one connection may cost.
struct CaptureLimits {
  // A larger job is cut off and not kept.
  uint64_t maxJobBytes = uint64_t{512} << 20;
  // A sender silent this long ends its job with the data read so far.
  std::chrono::milliseconds idleLimit = std::chrono::seconds(300);
  // How long Stop lets running jobs finish before it ends their reading.
  std::chrono::milliseconds stopGrace = std::chrono::seconds(5);
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
  // Readable once the receivers must stop reading (never drained, so every receiver sees it).
  int stopReadingHandle = -1;

  // Failures the user must be told about, collected for the window.
  void Report(const std::string& message);
  std::vector<std::string> TakeReports();

 private:
  std::mutex reportsMutex_;
  std::vector<std::string> reports_;
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

  // Listens on 127.0.0.1 at `port` and starts accepting jobs. False after the log line
  // "ERROR: Couldn't initialize port: " + port.
  bool Start(const std::string& port);
  // Closes the listener, lets running jobs finish (for at most the stop grace, then they end
  // with what they read) and returns once every receiving thread has ended.
  void Stop();

  // Failures of capture since the last call, for the user.
  std::vector<std::string> TakeReports() { return context_.TakeReports(); }

 private:
  struct Receiver {
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  void Execute();
  void StartReceiver(int handle);
  void JoinFinishedReceivers();

  CaptureContext context_;
  Socket listener_;
  std::thread thread_;
  int stopListening_[2] = {-1, -1};
  int stopReading_[2] = {-1, -1};
  std::list<std::unique_ptr<Receiver>> receivers_;
  std::mutex activeMutex_;
  std::condition_variable activeChanged_;
  int active_ = 0;
};
