// The port a PACS calls back on to report storage commitment: a small association acceptor that
// runs on its own thread and hands each report to a CommitmentResults by transaction UID.
#pragma once

#include <atomic>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "commitment.h"
#include "socket.h"

class CommitmentListener {
 public:
  // Associations must be addressed to `aeTitle` (any title when empty). Reports go to `results`,
  // which must outlive the listener.
  CommitmentListener(std::string aeTitle, CommitmentResults& results);
  // Stops listening; associations in progress are cut.
  ~CommitmentListener();
  CommitmentListener(const CommitmentListener&) = delete;
  CommitmentListener& operator=(const CommitmentListener&) = delete;

  // Takes reports only from this PACS: its AE title, calling from the address `host` resolves to.
  // Anyone else is rejected and logged with the address and AE title it called from, so that no
  // other host that reaches the port can have objects taken for committed.
  void AcceptOnlyFrom(const std::string& aeTitle, const std::string& host);

  // Listens on `port` and starts the thread. False, with `error`, when the port cannot be bound.
  bool Start(const std::string& port, ListenScope scope, std::string& error);
  // Stops listening, cuts the associations in progress and waits for their threads to end.
  void Stop();
  bool Running() const { return thread_.joinable(); }

  // How long one association may last in all, from its connection on: a caller that trickles its
  // bytes is cut then. Associations are served side by side, so none waits for another.
  int timeoutSeconds = 30;

 private:
  // One association being served on its own thread, with a second descriptor of its
  // connection so that Stop can cut it whatever the thread waits for.
  struct Connection {
    std::thread thread;
    int watch = kNoSocket;
    bool done = false;
  };

  void Run();
  // One association: requests served in turn until the peer releases, the link fails or the
  // association's time is up.
  void Serve(int descriptor);
  // Joins the threads of the associations that have ended (all of them when `all`).
  void Reap(bool all);

  std::string aeTitle_;
  std::string callerAeTitle_;
  std::optional<uint32_t> callerAddress_;
  CommitmentResults& results_;
  Socket listening_;
  std::atomic<bool> stopping_{false};
  std::mutex connectionsMutex_;
  std::list<Connection> connections_;
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
