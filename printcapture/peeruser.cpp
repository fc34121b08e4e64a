// Identifying the sender of a print job through the kernel's socket diagnostics.
#include "peeruser.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "descriptor.h"

namespace {

// The socket table answers at once; this only bounds a kernel that does not.
constexpr timeval kAnswerWait{1, 0};

std::optional<uid_t> UserNamed(const char* name) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(4096);
  if (getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return std::nullopt;
  }
  return found->pw_uid;
}

std::string ErrorText(const char* step) {
  return std::string(step) + ": " + std::strerror(errno);
}

}  // namespace

std::optional<uid_t> LoopbackPeerUser(int connection, std::string& why) {
  sockaddr_in local{};
  sockaddr_in peer{};
  socklen_t size = sizeof local;
  if (getsockname(connection, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    why = ErrorText("getsockname");
    return std::nullopt;
  }
  size = sizeof peer;
  if (getpeername(connection, reinterpret_cast<sockaddr*>(&peer), &size) != 0) {
    why = errno == ENOTCONN ? kSenderGone : ErrorText("getpeername");
    return std::nullopt;
  }
  if (local.sin_family != AF_INET || peer.sin_family != AF_INET) {
    why = "not an IPv4 connection";
    return std::nullopt;
  }
  const Descriptor table(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (table.get() < 0) {
    why = ErrorText("socket table");
    return std::nullopt;
  }
  setsockopt(table.get(), SOL_SOCKET, SO_RCVTIMEO, &kAnswerWait, sizeof kAnswerWait);

  // The sender's socket is the one whose own end is the peer's address and port and whose other
  // end is ours; the kernel looks that one socket up.
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } question{};
  question.header.nlmsg_len = sizeof question;
  question.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  question.header.nlmsg_flags = NLM_F_REQUEST;
  question.request.sdiag_family = AF_INET;
  question.request.sdiag_protocol = IPPROTO_TCP;
  question.request.idiag_states = ~0u;
  question.request.id.idiag_sport = peer.sin_port;
  question.request.id.idiag_dport = local.sin_port;
  question.request.id.idiag_src[0] = peer.sin_addr.s_addr;
  question.request.id.idiag_dst[0] = local.sin_addr.s_addr;
  question.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  question.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(table.get(), &question, sizeof question, 0, reinterpret_cast<sockaddr*>(&kernel),
             sizeof kernel) < 0) {
    why = ErrorText("socket table");
    return std::nullopt;
  }
  alignas(nlmsghdr) char answer[8192];
  ssize_t length;
  do {
    length = recv(table.get(), answer, sizeof answer, 0);
  } while (length < 0 && errno == EINTR);
  if (length < 0) {
    why = ErrorText("socket table");
    return std::nullopt;
  }
  size_t offset = 0;
  while (offset + sizeof(nlmsghdr) <= static_cast<size_t>(length)) {
    const auto* message = reinterpret_cast<const nlmsghdr*>(answer + offset);
    if (message->nlmsg_len < sizeof(nlmsghdr) ||
        offset + message->nlmsg_len > static_cast<size_t>(length)) {
      break;
    }
    offset += NLMSG_ALIGN(message->nlmsg_len);
    if (message->nlmsg_type == NLMSG_ERROR) {
      const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(message));
      // The sender's socket is gone: it closed and its end no longer exists.
      why = -error->error == ENOENT ? kSenderGone
                                    : std::string("socket table: ") + std::strerror(-error->error);
      return std::nullopt;
    }
    if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY) continue;
    if (message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) break;
    const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
    // A socket its program has closed keeps no owner (the table shows it as root's), so only an
    // open one counts.
    if (found->idiag_inode == 0) {
      why = kSenderGone;
      return std::nullopt;
    }
    return static_cast<uid_t>(found->idiag_uid);
  }
  why = "socket table: no answer";
  return std::nullopt;
}

PrintingUsers::PrintingUsers() : own_(geteuid()), spooler_(UserNamed("lp")) {
  // Named once: a flood of refused connections should cost no user lookups beyond the sender's.
  description_ = "root";
  if (spooler_ && *spooler_ != 0) description_ += ", " + UserName(*spooler_);
  if (own_ != 0 && (!spooler_ || own_ != *spooler_)) description_ += ", " + UserName(own_);
  const size_t last = description_.rfind(", ");
  if (last != std::string::npos) description_.replace(last, 2, " and ");
}

bool PrintingUsers::Allows(uid_t user) const {
  return user == 0 || user == own_ || (spooler_ && user == *spooler_);
}

const std::string& PrintingUsers::Describe() const {
  return description_;
}

std::string UserName(uid_t user) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(4096);
  if (getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return std::to_string(user);
  }
  return found->pw_name;
}

std::string PeerAddressText(int connection) {
  sockaddr_in peer{};
  socklen_t size = sizeof peer;
  if (getpeername(connection, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
      peer.sin_family != AF_INET) {
    return "an unknown address";
  }
  char address[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
  return std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
}
