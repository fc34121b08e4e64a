// The scripted fake peer's thread and the hand-made PDU builders.
#include "scripted_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace testpeer {

namespace {

constexpr int kWaitMilliseconds = 10000;

bool WaitReadable(int descriptor) {
  pollfd wait{descriptor, POLLIN, 0};
  return poll(&wait, 1, kWaitMilliseconds) == 1;
}

// Exactly `count` bytes, or false when the connection ends or stays silent.
bool ReceiveExactly(int descriptor, uint8_t* destination, size_t count) {
  size_t done = 0;
  while (done < count) {
    if (!WaitReadable(descriptor)) return false;
    const ssize_t got = recv(descriptor, destination + done, count - done, 0);
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

bool SendAll(int descriptor, const Bytes& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t sent = send(descriptor, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

ScriptedPeer::ScriptedPeer(std::vector<Step> steps)
    : ScriptedPeer(std::vector<std::vector<Step>>{std::move(steps)}) {}

ScriptedPeer::ScriptedPeer(std::vector<std::vector<Step>> connections) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t size = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listener_, 1) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    throw std::runtime_error("scripted peer: cannot listen on loopback");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread(&ScriptedPeer::Run, this, std::move(connections));
}

ScriptedPeer::~ScriptedPeer() {
  Finish();
  if (listener_ >= 0) close(listener_);
}

bool ScriptedPeer::Finish() {
  if (thread_.joinable()) thread_.join();
  return Problem().empty();
}

std::vector<Bytes> ScriptedPeer::Received() {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

std::vector<uint16_t> ScriptedPeer::RequestIds() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requestIds_;
}

namespace {

// Where the 2-byte value of element (0000,`element`) starts in an Implicit VR Little Endian command
// item, or 0 when the item has none.
size_t CommandValueAt(const Bytes& pdu, size_t from, size_t to, uint16_t element) {
  const uint8_t header[] = {
      0x00, 0x00, static_cast<uint8_t>(element), static_cast<uint8_t>(element >> 8), 2, 0, 0, 0};
  for (size_t at = from; at + sizeof header + 2 <= to; at += 1) {
    if (std::equal(header, header + sizeof header, pdu.begin() + static_cast<long>(at))) {
      return at + sizeof header;
    }
  }
  return 0;
}

// Calls `use` with the start and end of every command item of a P-DATA-TF.
template <typename Use>
void ForEachCommandItem(const Bytes& pdu, Use use) {
  if (pdu.size() < 6 || pdu[0] != 0x04) return;
  for (size_t at = 6; at + 6 <= pdu.size();) {
    const size_t itemLength =
        size_t{pdu[at]} << 24 | size_t{pdu[at + 1]} << 16 | size_t{pdu[at + 2]} << 8 | pdu[at + 3];
    const size_t end = std::min(pdu.size(), at + 4 + itemLength);
    if (pdu[at + 5] & 0x01) use(at + 6, end);
    at += 4 + itemLength;
  }
}

}  // namespace

void ScriptedPeer::NoteRequest(const Bytes& pdu) {
  ForEachCommandItem(pdu, [&](size_t from, size_t to) {
    // A C-CANCEL-RQ carries no Message ID of its own and answers nothing.
    if (const size_t at = CommandValueAt(pdu, from, to, 0x0110)) {
      std::lock_guard<std::mutex> lock(mutex_);
      requestIds_.push_back(static_cast<uint16_t>(pdu[at] | pdu[at + 1] << 8));
    }
  });
}

Bytes ScriptedPeer::Answered(Bytes pdu) {
  uint16_t last = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!requestIds_.empty()) last = requestIds_.back();
  }
  ForEachCommandItem(pdu, [&](size_t from, size_t to) {
    const size_t at = CommandValueAt(pdu, from, to, 0x0120);
    if (at != 0 && pdu[at] == 0xFF && pdu[at + 1] == 0xFF) {
      pdu[at] = static_cast<uint8_t>(last);
      pdu[at + 1] = static_cast<uint8_t>(last >> 8);
    }
  });
  return pdu;
}

std::string ScriptedPeer::Problem() {
  std::lock_guard<std::mutex> lock(mutex_);
  return problem_;
}

void ScriptedPeer::Run(std::vector<std::vector<Step>> connections) {
  for (size_t number = 0; number < connections.size(); ++number) {
    const std::string which =
        connections.size() > 1 ? "connection " + std::to_string(number + 1) + ": " : "";
    if (!WaitReadable(listener_)) {
      std::lock_guard<std::mutex> lock(mutex_);
      problem_ = which + "nobody connected";
      return;
    }
    const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      problem_ = which + "accept failed";
      return;
    }
    const bool ran = RunConnection(connection, connections[number]);
    close(connection);
    if (!ran) {
      std::lock_guard<std::mutex> lock(mutex_);
      problem_ = which + problem_;
      return;
    }
  }
}

bool ScriptedPeer::ReceiveUntilClosed(int connection) {
  Bytes pdu;
  bool header = true;  // the header first, then the body its length gives
  size_t wanted = 6;
  uint8_t block[65536];
  for (;;) {
    if (!WaitReadable(connection)) return false;
    const ssize_t got = recv(connection, block, sizeof block, 0);
    if (got <= 0) return true;
    pdu.insert(pdu.end(), block, block + got);
    while (pdu.size() >= wanted) {
      if (header) {
        wanted += uint32_t{pdu[2]} << 24 | uint32_t{pdu[3]} << 16 | uint32_t{pdu[4]} << 8 |
                  uint32_t{pdu[5]};
        header = false;
        continue;
      }
      NoteRequest(Bytes(pdu.begin(), pdu.begin() + static_cast<long>(wanted)));
      std::lock_guard<std::mutex> lock(mutex_);
      received_.emplace_back(pdu.begin(), pdu.begin() + static_cast<long>(wanted));
      pdu.erase(pdu.begin(), pdu.begin() + static_cast<long>(wanted));
      header = true;
      wanted = 6;
    }
  }
}

bool ScriptedPeer::RunConnection(int connection, const std::vector<Step>& steps) {
  bool ok = true;
  auto fail = [&](const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    problem_ = what;
    ok = false;
  };
  for (size_t index = 0; index < steps.size();) {
    const Step& step = steps[index];
    const std::string where = "step " + std::to_string(index) + ": ";
    bool repeat = false;
    if (step.kind == Step::Kind::ReceivePdu || step.kind == Step::Kind::ReceiveMessage) {
      Bytes pdu(6);
      if (!ReceiveExactly(connection, pdu.data(), 6)) {
        fail(where + "no PDU header");
        break;
      }
      const uint32_t length = uint32_t{pdu[2]} << 24 | uint32_t{pdu[3]} << 16 |
                              uint32_t{pdu[4]} << 8 | uint32_t{pdu[5]};
      if (length > (64u << 20)) {
        fail(where + "PDU length out of bounds");
        break;
      }
      pdu.resize(6 + length);
      if (!ReceiveExactly(connection, pdu.data() + 6, length)) {
        fail(where + "PDU body incomplete");
        break;
      }
      // The last item's control header (6-byte PDU header, then items of a 32-bit length, the
      // context and the control header) tells whether a message ends here.
      bool messageEnds = false;
      for (size_t at = 6; at + 6 <= pdu.size();) {
        const size_t itemLength = size_t{pdu[at]} << 24 | size_t{pdu[at + 1]} << 16 |
                                  size_t{pdu[at + 2]} << 8 | pdu[at + 3];
        messageEnds = (pdu[at + 5] & 0x02) != 0;
        at += 4 + itemLength;
      }
      const bool data = pdu[0] == 0x04;
      NoteRequest(pdu);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back(std::move(pdu));
      }
      if (step.kind == Step::Kind::ReceiveMessage) {
        if (!data) {
          fail(where + "a PDU other than P-DATA-TF arrived inside a message");
          break;
        }
        // The same step again, until the message is complete.
        repeat = !messageEnds;
      }
    } else if (step.kind == Step::Kind::Send) {
      if (!SendAll(connection, Answered(step.bytes))) {
        fail(where + "send failed");
        break;
      }
    } else if (step.kind == Step::Kind::Pause) {
      std::this_thread::sleep_for(step.pause);
    } else if (step.kind == Step::Kind::Repeat) {
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (std::chrono::steady_clock::now() < end && SendAll(connection, step.bytes)) {
        pollfd closed{connection, POLLIN, 0};
        if (poll(&closed, 1, static_cast<int>(step.pause.count())) == 1) {
          uint8_t scrap[4096];
          if (recv(connection, scrap, sizeof scrap, MSG_DONTWAIT) <= 0) break;
        }
      }
    } else if (step.kind == Step::Kind::WaitForClose) {
      uint8_t scrap[4096];
      while (WaitReadable(connection) && recv(connection, scrap, sizeof scrap, 0) > 0) {
      }
    } else if (step.kind == Step::Kind::ReceiveUntilClose) {
      if (!ReceiveUntilClosed(connection)) {
        fail(where + "the connection stayed open");
        break;
      }
    } else if (step.kind == Step::Kind::ExpectClose) {
      uint8_t byte = 0;
      if (!WaitReadable(connection)) {
        fail(where + "the connection stayed open");
        break;
      }
      const ssize_t got = recv(connection, &byte, 1, 0);
      if (got > 0) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02X", byte);
        fail(where + "a byte (" + hex + ") arrived instead of the close");
        break;
      }
    } else {
      break;
    }
    if (!repeat) ++index;
  }
  return ok;
}

void Put8(Bytes& bytes, uint8_t value) {
  bytes.push_back(value);
}

void Put16(Bytes& bytes, uint16_t value) {
  bytes.push_back(static_cast<uint8_t>(value >> 8));
  bytes.push_back(static_cast<uint8_t>(value));
}

void Put32(Bytes& bytes, uint32_t value) {
  Put16(bytes, static_cast<uint16_t>(value >> 16));
  Put16(bytes, static_cast<uint16_t>(value));
}

void PutText(Bytes& bytes, const std::string& text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
}

Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  std::string digits;
  for (char c : hex) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits.push_back(c);
  }
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

namespace {

void PutUidItem(Bytes& bytes, uint8_t type, const std::string& uid) {
  Put8(bytes, type);
  Put8(bytes, 0);
  Put16(bytes, static_cast<uint16_t>(uid.size()));
  PutText(bytes, uid);
}

// Type, reserved byte and 32-bit length in front of a body.
Bytes WithPduHeader(uint8_t type, const Bytes& body) {
  Bytes pdu;
  Put8(pdu, type);
  Put8(pdu, 0);
  Put32(pdu, static_cast<uint32_t>(body.size()));
  pdu.insert(pdu.end(), body.begin(), body.end());
  return pdu;
}

}  // namespace

Bytes AssociateAC(const std::vector<AcceptedContext>& contexts, uint32_t maximumLength) {
  Bytes body;
  Put16(body, 1);  // protocol version
  Put16(body, 0);
  PutText(body, "ANY-SCP         ");
  PutText(body, "VELLORAN        ");
  body.resize(body.size() + 32, 0);
  PutUidItem(body, 0x10, "1.2.840.10008.3.1.1.1");
  for (const AcceptedContext& context : contexts) {
    Put8(body, 0x21);
    Put8(body, 0);
    Put16(body, static_cast<uint16_t>(8 + context.transferSyntax.size()));
    Put8(body, context.id);
    Put8(body, 0);
    Put8(body, context.result);
    Put8(body, 0);
    PutUidItem(body, 0x40, context.transferSyntax);
  }
  Bytes user;
  if (maximumLength != 0xFFFFFFFFu) {
    Put8(user, 0x51);
    Put8(user, 0);
    Put16(user, 4);
    Put32(user, maximumLength);
  }
  PutUidItem(user, 0x52, "1.2.3.4");
  PutUidItem(user, 0x55, "SCRIPTED");
  Put8(body, 0x50);
  Put8(body, 0);
  Put16(body, static_cast<uint16_t>(user.size()));
  body.insert(body.end(), user.begin(), user.end());
  return WithPduHeader(0x02, body);
}

Bytes AssociateRJ() {
  return FromHex("03 00 00000004 00 01 01 01");
}
Bytes ReleaseRQ() {
  return FromHex("05 00 00000004 00000000");
}
Bytes ReleaseRP() {
  return FromHex("06 00 00000004 00000000");
}
Bytes Abort() {
  return FromHex("07 00 00000004 00 00 00 00");
}

Bytes PData(uint8_t contextId, const std::vector<std::pair<uint8_t, Bytes>>& items) {
  Bytes body;
  for (const auto& [control, data] : items) {
    Put32(body, static_cast<uint32_t>(data.size() + 2));
    Put8(body, contextId);
    Put8(body, control);
    body.insert(body.end(), data.begin(), data.end());
  }
  return WithPduHeader(0x04, body);
}

namespace {

// A response command set in Implicit VR Little Endian: group length first, then the elements in
// ascending tag order.
Bytes BuildResponse(uint16_t commandField, const uint16_t* status, uint16_t dataSetType,
                    const ResponseFields& fields) {
  Bytes elements;
  auto putHeader = [&](uint16_t element, uint32_t length) {
    const uint8_t bytes[] = {0x00,
                             0x00,
                             static_cast<uint8_t>(element),
                             static_cast<uint8_t>(element >> 8),
                             static_cast<uint8_t>(length),
                             static_cast<uint8_t>(length >> 8),
                             static_cast<uint8_t>(length >> 16),
                             static_cast<uint8_t>(length >> 24)};
    elements.insert(elements.end(), bytes, bytes + sizeof bytes);
  };
  auto putUS = [&](uint16_t element, uint16_t value) {
    putHeader(element, 2);
    elements.push_back(static_cast<uint8_t>(value));
    elements.push_back(static_cast<uint8_t>(value >> 8));
  };
  auto putText = [&](uint16_t element, std::string text, char pad) {
    if (text.size() % 2 != 0) text.push_back(pad);
    putHeader(element, static_cast<uint32_t>(text.size()));
    elements.insert(elements.end(), text.begin(), text.end());
  };
  putUS(0x0100, commandField);
  putUS(0x0120, fields.messageIdBeingRespondedTo);
  putUS(0x0800, dataSetType);
  if (status) putUS(0x0900, *status);
  if (!fields.errorComment.empty()) putText(0x0902, fields.errorComment, ' ');
  if (!fields.affectedSopInstanceUid.empty()) putText(0x1000, fields.affectedSopInstanceUid, '\0');
  const auto length = static_cast<uint32_t>(elements.size());
  Bytes command = {0x00, 0x00, 0x00, 0x00, 4, 0, 0, 0};
  for (int shift = 0; shift < 32; shift += 8)
    command.push_back(static_cast<uint8_t>(length >> shift));
  command.insert(command.end(), elements.begin(), elements.end());
  return command;
}

}  // namespace

Bytes ResponseCommand(uint16_t commandField, uint16_t status, uint16_t dataSetType) {
  return BuildResponse(commandField, &status, dataSetType, {});
}

Bytes ResponseCommand(uint16_t commandField, uint16_t status, uint16_t dataSetType,
                      const ResponseFields& fields) {
  return BuildResponse(commandField, &status, dataSetType, fields);
}

Bytes ResponseCommandWithoutStatus(uint16_t commandField, uint16_t dataSetType) {
  return BuildResponse(commandField, nullptr, dataSetType, {});
}

}  // namespace testpeer
