// The storage commitment listener: accepts associations for the Storage Commitment Push Model (and
// Verification, so that a PACS's echo test of this node succeeds) and answers their requests.
#include "commitmentlistener.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "acceptor.h"
#include "dimse.h"
#include "log.h"
#include "pdu_service.h"

namespace {

// How often the accepting thread looks whether it is asked to stop.
constexpr int kStopCheckMilliseconds = 200;

// Associations served at once; a caller beyond them is turned away at once.
constexpr size_t kMostConnections = 8;

// How long the requesting association waits for a report when a listener waits as well.
constexpr std::chrono::seconds kSameAssociationWait{3};

std::unique_ptr<DcmObj> EchoRSP(uint16_t messageIdBeingRespondedTo) {
  auto command = std::make_unique<DcmObj>();
  command->Append(UidElement(0x0002, kVerificationSopClass));
  command->Append(DcmTag::FromUS(0x0000, 0x0100, kCommandEchoRSP, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0120, messageIdBeingRespondedTo, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0800, kNoDataSet, "US"));
  command->Append(DcmTag::FromUS(0x0000, 0x0900, 0, "US"));
  AddGroupLength(*command);
  return command;
}

}  // namespace

CommitmentListener::CommitmentListener(std::string aeTitle, CommitmentResults& results)
    : aeTitle_(std::move(aeTitle)), results_(results) {}

CommitmentListener::~CommitmentListener() {
  Stop();
}

void CommitmentListener::AcceptOnlyFrom(const std::string& aeTitle, const std::string& host) {
  callerAeTitle_ = aeTitle;
  callerAddress_ = Socket::ResolveHost(host);
}

bool CommitmentListener::Start(const std::string& port, ListenScope scope, std::string& error) {
  Stop();
  if (!listening_.Listen(port, scope)) {
    error = "Cannot listen on port " + port + " for storage commitment reports";
    return false;
  }
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
  WriteLog("INFO, listening for storage commitment reports on port " + port);
  return true;
}

void CommitmentListener::Stop() {
  stopping_ = true;
  {
    const std::lock_guard<std::mutex> lock(connectionsMutex_);
    for (Connection& connection : connections_) {
      if (connection.watch != kNoSocket) ::shutdown(connection.watch, SHUT_RDWR);
    }
  }
  if (thread_.joinable()) thread_.join();
  Reap(true);
  listening_.Close();
}

void CommitmentListener::Reap(bool all) {
  std::list<Connection> ended;
  {
    const std::lock_guard<std::mutex> lock(connectionsMutex_);
    for (auto connection = connections_.begin(); connection != connections_.end();) {
      const auto next = std::next(connection);
      if (all || connection->done) ended.splice(ended.end(), connections_, connection);
      connection = next;
    }
  }
  for (Connection& connection : ended) {
    if (connection.thread.joinable()) connection.thread.join();
  }
}

void CommitmentListener::Run() {
  while (!stopping_) {
    Reap(false);
    pollfd watched{listening_.ListenedSocketfd, POLLIN, 0};
    if (::poll(&watched, 1, kStopCheckMilliseconds) <= 0) continue;
    if (!listening_.Accept()) continue;
    const int descriptor = listening_.ReleaseHandle();
    const std::lock_guard<std::mutex> lock(connectionsMutex_);
    if (connections_.size() >= kMostConnections) {
      WriteLog("ERROR, CommitmentListener, too many connections at once; one is closed");
      ::close(descriptor);
      continue;
    }
    Connection& connection = connections_.emplace_back();
    connection.watch = ::dup(descriptor);
    connection.thread = std::thread([this, descriptor, &connection] {
      Serve(descriptor);
      const std::lock_guard<std::mutex> ended(connectionsMutex_);
      if (connection.watch != kNoSocket) ::close(connection.watch);
      connection.watch = kNoSocket;
      connection.done = true;
    });
  }
}

void CommitmentListener::Serve(int descriptor) {
  PDU_Service service;
  service.TraceMessages = LogLevel > 1;
  AcceptPolicy policy{aeTitle_, {kStorageCommitmentSopClass, kVerificationSopClass}};
  policy.callerAeTitle = callerAeTitle_;
  policy.callerAddress = callerAddress_;
  if (stopping_) {
    ::close(descriptor);
    return;
  }
  // However the caller paces its bytes, the association ends at this moment.
  service.Link.dsocket.Deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  if (!AcceptAssociation(service, descriptor, policy, timeoutSeconds)) return;
  while (!stopping_) {
    DcmObj command;
    if (!service.Read(command, MessageKind::Command, kMaxCommandLength)) break;
    const uint16_t field = command.GetUS(0x0000, 0x0100);
    bool answered = false;
    if (field == kCommandEventReportRQ) {
      answered = AnswerCommitmentReport(service, command, results_);
    } else if (field == kCommandEchoRQ) {
      auto response = EchoRSP(command.GetUS(0x0000, 0x0110));
      answered = service.Write(*response, kVerificationSopClass, MessageKind::Command);
    } else {
      WriteLog("ERROR, CommitmentListener, command field " + std::to_string(field) + " not served");
    }
    if (!answered) {
      service.Abort(AbortReason::NotSpecified);
      return;
    }
  }
  service.Link.dsocket.Close();
}

bool CommitObjects(const RemoteNode& node, const std::vector<CommitmentObject>& objects,
                   const std::string& listenPort, int timeoutSeconds, std::chrono::seconds limit,
                   CommitmentResult& result, std::string& error, const std::atomic<bool>* stop) {
  CommitmentResults results;
  CommitmentListener listener(node.callingAet, results);
  listener.AcceptOnlyFrom(node.calledAet, node.host);
  // The listener is up before the request goes out: a PACS may call back at once.
  if (!listenPort.empty() && !listener.Start(listenPort, ListenScope::AllInterfaces, error)) {
    return false;
  }
  const auto end = std::chrono::steady_clock::now() + limit;
  // Some PACSs report only once the requesting association is gone: with a listener to take the
  // report, the association is held only briefly.
  const std::chrono::milliseconds onAssociation =
      listenPort.empty() ? std::chrono::milliseconds(limit)
                         : std::min<std::chrono::milliseconds>(limit, kSameAssociationWait);
  const std::string transactionUid =
      RequestCommitment(node, objects, timeoutSeconds, results, error, onAssociation, {}, stop);
  if (transactionUid.empty()) return false;
  // Waited for in short steps, so that a stop is seen soon.
  std::optional<CommitmentResult> report;
  while (!report && !(stop != nullptr && stop->load())) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    report = results.WaitFor(transactionUid, std::min(left, std::chrono::milliseconds(250)));
  }
  listener.Stop();
  if (report) {
    result = std::move(*report);
    AddUnreported(result, objects);
    return true;
  }
  const bool stopped = stop != nullptr && stop->load();
  const std::string cause = stopped ? "stopped before the PACS reported storage commitment"
                                    : "no storage commitment report from the PACS within " +
                                          std::to_string(limit.count()) + " seconds";
  WriteLog((stopped ? "INFO" : "ERROR") + std::string(", CommitObjects, transaction ") +
           transactionUid + ": " + cause);
  result = CommitmentResult();
  result.transactionUid = transactionUid;
  result.unanswered = true;
  AddUnreported(result, objects);
  for (CommitmentOutcome& outcome : result.objects) outcome.cause = cause;
  return true;
}
