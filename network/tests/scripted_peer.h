// A scripted fake peer for protocol tests: one loopback connection running receive, send and
// close steps in order, plus builders for the PDUs such a peer answers with.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testpeer {

using Bytes = std::vector<uint8_t>;

struct Step {
  enum class Kind {
    ReceivePdu,         // one whole PDU (type, reserved, 32-bit length, body), kept in Received()
    Send,               // the bytes as they stand
    Pause,              // do nothing for a while
    WaitForClose,       // read and drop until the other side closes (or the peer's time limit)
    ExpectClose,        // the other side closes without sending another byte; fails otherwise
    ReceiveUntilClose,  // whole PDUs until the other side closes or resets the connection, kept
                        // in Received(); one cut short by the end is dropped
    ReceiveMessage,     // P-DATA-TF PDUs, each kept, up to the one whose last item ends a message
    Close,              // close the connection now
    Repeat,             // send the bytes every `pause` until the other side closes (at most 20 s)
  };
  Kind kind = Kind::Close;
  Bytes bytes;
  std::chrono::milliseconds pause{0};

  static Step ReceivePdu() { return {Kind::ReceivePdu, {}, {}}; }
  static Step Send(Bytes bytes) { return {Kind::Send, std::move(bytes), {}}; }
  static Step Pause(std::chrono::milliseconds time) { return {Kind::Pause, {}, time}; }
  static Step WaitForClose() { return {Kind::WaitForClose, {}, {}}; }
  static Step ExpectClose() { return {Kind::ExpectClose, {}, {}}; }
  static Step ReceiveUntilClose() { return {Kind::ReceiveUntilClose, {}, {}}; }
  static Step ReceiveMessage() { return {Kind::ReceiveMessage, {}, {}}; }
  static Step Close() { return {Kind::Close, {}, {}}; }
  static Step Repeat(Bytes bytes, std::chrono::milliseconds every) {
    return {Kind::Repeat, std::move(bytes), every};
  }
};

// The Message ID Being Responded To of a response built with the default: when the peer sends
// it, the Message ID of the last request command it received takes its place.
inline constexpr uint16_t kAnswerLastRequest = 0xFFFF;

// Listens on 127.0.0.1 at a free port, accepts one connection and runs the steps on its own
// thread. Every wait is bounded (10 s), so a test that goes wrong fails instead of hanging.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::vector<Step> steps);
  // One script per connection, accepted one after the other (a sender opening several
  // associations in turn). Received() holds the PDUs of all of them in order.
  explicit ScriptedPeer(std::vector<std::vector<Step>> connections);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  int port() const { return port_; }
  std::string Port() const { return std::to_string(port_); }
  // Waits for the script to end. True when every step ran as written.
  bool Finish();
  // The PDUs taken by ReceivePdu steps, in order (call after Finish).
  std::vector<Bytes> Received();
  // What went wrong in the script, empty when nothing did.
  std::string Problem();
  // The Message IDs (0000,0110) of the request commands received, in order (call after Finish).
  std::vector<uint16_t> RequestIds();

 private:
  void Run(std::vector<std::vector<Step>> connections);
  // False when the script failed (the problem is recorded).
  bool RunConnection(int connection, const std::vector<Step>& steps);
  // False when the connection stays silent past the time limit.
  bool ReceiveUntilClosed(int connection);
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  // Notes the Message ID of a request command in a received P-DATA-TF.
  void NoteRequest(const Bytes& pdu);
  // The PDU with kAnswerLastRequest replaced by the last request's Message ID.
  Bytes Answered(Bytes pdu);
  std::vector<Bytes> received_;
  std::vector<uint16_t> requestIds_;
  std::string problem_;
};

// Big-endian byte building for hand-made PDUs.
void Put8(Bytes& bytes, uint8_t value);
void Put16(Bytes& bytes, uint16_t value);
void Put32(Bytes& bytes, uint32_t value);
void PutText(Bytes& bytes, const std::string& text);
// Parses a string of hex digit pairs, blanks and line breaks ignored.
Bytes FromHex(const std::string& hex);

struct AcceptedContext {
  uint8_t id = 1;
  uint8_t result = 0;  // 0 acceptance, 3 abstract syntax not supported, 4 transfer syntaxes
  std::string transferSyntax = "1.2.840.10008.1.2";
};

// An A-ASSOCIATE-AC with these contexts and a maximum length sub-item (none when 0xFFFFFFFF).
Bytes AssociateAC(const std::vector<AcceptedContext>& contexts, uint32_t maximumLength = 16384);
// A-ASSOCIATE-RJ: rejected permanently by the service user, no reason given.
Bytes AssociateRJ();
Bytes ReleaseRQ();
Bytes ReleaseRP();
Bytes Abort();
// One P-DATA-TF PDU; each item is (control header, bytes) on the given context.
Bytes PData(uint8_t contextId, const std::vector<std::pair<uint8_t, Bytes>>& items);
// A C-ECHO-RSP (or any response) command set in Implicit VR Little Endian with the given command
// field and status, answering the last request the peer received.
Bytes ResponseCommand(uint16_t commandField, uint16_t status, uint16_t dataSetType = 0x0101);
// The optional parts of a response command set.
struct ResponseFields {
  uint16_t messageIdBeingRespondedTo = kAnswerLastRequest;
  std::string errorComment;            // (0000,0902) when not empty
  std::string affectedSopInstanceUid;  // (0000,1000) when not empty
};
Bytes ResponseCommand(uint16_t commandField, uint16_t status, uint16_t dataSetType,
                      const ResponseFields& fields);
// The same response command set with no Status (0000,0900) element at all.
Bytes ResponseCommandWithoutStatus(uint16_t commandField, uint16_t dataSetType = 0x0101);

}  // namespace testpeer
