// Taking the jobs the printer application filed for this user into the work folder as items:
// at start those printed while the window was closed, then each one as it arrives.
#pragma once

#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "itemlist.h"

class SpoolReceiver {
 public:
  // Takes from `userFolder` (this user's folder of the spool) into `workFolder`, looking again
  // every `pause`.
  SpoolReceiver(std::filesystem::path userFolder, std::filesystem::path workFolder, ItemList& items,
                std::chrono::milliseconds pause = std::chrono::milliseconds(500));
  ~SpoolReceiver();
  SpoolReceiver(const SpoolReceiver&) = delete;
  SpoolReceiver& operator=(const SpoolReceiver&) = delete;

  // Moves every complete job of the folder, oldest first, into the work folder (under its own
  // name, or name_2 ... when a file of the work folder has it) and appends it to the items.
  // A job that cannot be moved stays in the spool and is tried again; the user hears of it once.
  // Returns how many were taken.
  size_t TakeJobs();
  // Takes the jobs as they arrive, on a thread of its own, until Stop.
  void Start();
  void Stop();

  // What the user must be told since the last call.
  std::vector<std::string> TakeReports();

 private:
  // Moves one job; the path in the work folder, or empty after the cause in `cause`.
  std::filesystem::path Move(int spool, int work, const std::string& name, std::string& cause);
  // Logs `message` and keeps it for the user, once for each `subject` (a job, the folder).
  void Report(const std::string& subject, const std::string& message);

  std::filesystem::path userFolder_;
  std::filesystem::path workFolder_;
  ItemList& items_;
  std::chrono::milliseconds pause_;
  std::mutex takeMutex_;
  std::mutex reportsMutex_;
  std::vector<std::string> reports_;
  std::set<std::string> reported_;  // the subjects whose failure the user heard of
  std::thread thread_;
  int stopPipe_[2] = {-1, -1};
};
