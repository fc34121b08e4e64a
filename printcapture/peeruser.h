// Who is on the other end of a loopback connection to the print port, and whether they may print.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

// The user owning the sending end of an accepted loopback TCP connection, as the kernel's socket
// table tells it (SO_PEERCRED answers only for local sockets, not for TCP). Nullopt, with the
// reason, when the sender cannot be identified, also when it has already closed its end: a
// closed socket no longer tells its owner.
std::optional<uid_t> LoopbackPeerUser(int connection, std::string& why);

// The reason LoopbackPeerUser gives when the sender's socket is gone; any other reason means the
// socket table could not be asked, so no sender at all can be identified.
inline constexpr const char* kSenderGone =
    "the sender closed its end before it could be identified";

// The users whose connections the listener takes: root, the print spooler's backends (user lp)
// and the user running the window. Everyone else shares the machine but not this user's batch.
class PrintingUsers {
 public:
  PrintingUsers();
  bool Allows(uid_t user) const;
  // "root, lp and alice": for the log line of a refused connection.
  const std::string& Describe() const;

 private:
  uid_t own_;
  std::optional<uid_t> spooler_;
  std::string description_;
};

// The name of `user`, or its number in decimal when it has none.
std::string UserName(uid_t user);

// "127.0.0.1:40312": the address and port of the other end of `connection`.
std::string PeerAddressText(int connection);
