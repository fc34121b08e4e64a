// The port a PACS calls back on to report storage commitment: a small association acceptor that
// runs on its own thread and hands each report to a CommitmentResults by transaction UID.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "commitment.h"
#include "socket.h"

class CommitmentListener {
 public:
  // Associations must be addressed to `aeTitle` (any title when empty). Reports go to `results`,
  // which must outlive the listener.
  CommitmentListener(std::string aeTitle, CommitmentResults& results);
  // Stops listening; an association in progress is cut.
  ~CommitmentListener();
  CommitmentListener(const CommitmentListener&) = delete;
  CommitmentListener& operator=(const CommitmentListener&) = delete;

  // Listens on `port` and starts the thread. False, with `error`, when the port cannot be bound.
  bool Start(const std::string& port, ListenScope scope, std::string& error);
  // Stops listening, cuts an association in progress and waits for the thread to end.
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
  // A second descriptor of the connection being served, so that Stop can cut it whatever the
  // serving thread waits for; kNoSocket between associations.
  std::mutex servingMutex_;
  int serving_ = kNoSocket;
  std::thread thread_;
};

// The whole exchange for objects just stored: listens on `listenPort` for the PACS's call back
// (unless it is empty), requests commitment, and waits up to `limit` for the report on the same
// association (a few seconds only when there is a listener) or the listener. Every object gets an
// outcome: an object the report leaves out is not committed, with the cause; when no report came
// in time, or `stop` (when given) was set first, every object is not committed and the result is
// marked unanswered. False, with `error` and no outcome, when the request itself failed or the
// port could not be listened on.
bool CommitObjects(const RemoteNode& node, const std::vector<CommitmentObject>& objects,
                   const std::string& listenPort, int timeoutSeconds, std::chrono::seconds limit,
                   CommitmentResult& result, std::string& error,
                   const std::atomic<bool>* stop = nullptr);
