// The port a PACS calls back on to report storage commitment: a small association acceptor that
// runs on its own thread and hands each report to a CommitmentResults by transaction UID.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "commitment.h"
#include "socket.h"

class CommitmentListener {
 public:
  // Associations must be addressed to `aeTitle` (any title when empty). Reports go to `results`,
  // which must outlive the listener.
  CommitmentListener(std::string aeTitle, CommitmentResults& results);
  // Stops listening and waits for the association in progress to end.
  ~CommitmentListener();
  CommitmentListener(const CommitmentListener&) = delete;
  CommitmentListener& operator=(const CommitmentListener&) = delete;

  // Listens on `port` and starts the thread. False, with `error`, when the port cannot be bound.
  bool Start(const std::string& port, ListenScope scope, std::string& error);
  void Stop();
  bool Running() const { return thread_.joinable(); }

  // Every receive of an accepted association waits at most this long.
  int timeoutSeconds = 30;

 private:
  void Run();
  // One association: requests served in turn until the peer releases or the link fails.
  void Serve(int descriptor);

  std::string aeTitle_;
  CommitmentResults& results_;
  Socket listening_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};
