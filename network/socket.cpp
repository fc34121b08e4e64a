// Socket: POSIX TCP connections and listeners, bounded receives, and the OpenSSL client.
#include "socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string_view>

#include "log.h"

namespace {

std::atomic<int> liveSockets{0};

// A peer that closes while we send must give an error result, not end the process with
// SIGPIPE. OpenSSL writes with write(2), which has no MSG_NOSIGNAL, so the signal is ignored
// once for the process, unless the program installed its own handler.
void IgnoreBrokenPipeOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction current {};
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      signal(SIGPIPE, SIG_IGN);
    }
  });
}

void CloseDescriptor(int& descriptor) {
  if (descriptor != kNoSocket) {
    ::close(descriptor);
    descriptor = kNoSocket;
  }
}

// Zero linger time: closing resets the connection at once instead of lingering in TIME_WAIT.
void SetLingerZero(int descriptor) {
  linger option{};
  option.l_onoff = 1;
  option.l_linger = 0;
  setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

// Bounds every blocking receive and send, including those OpenSSL makes inside SSL_read and
// SSL_write, so a silent peer never holds the program longer than the time-out.
void SetIoTimeouts(int descriptor, int seconds) {
  if (seconds <= 0) return;
  timeval limit{};
  limit.tv_sec = seconds;
  setsockopt(descriptor, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// connect() with the time limit: non-blocking start, wait for writability, then read the result.
int ConnectWithin(int descriptor, const sockaddr_in& address, int seconds) {
  if (seconds <= 0) {
    return ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
               ? 0
               : errno;
  }
  const int flags = fcntl(descriptor, F_GETFL, 0);
  fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
  int error = 0;
  if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd wait{descriptor, POLLOUT, 0};
      int ready;
      do {
        ready = poll(&wait, 1, seconds * 1000);
      } while (ready < 0 && errno == EINTR);
      if (ready == 1) {
        socklen_t size = sizeof error;
        if (getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      } else {
        error = ready == 0 ? ETIMEDOUT : errno;
      }
    }
  }
  fcntl(descriptor, F_SETFL, flags);
  return error;
}

const char* SslConnectErrorText(int code) {
  switch (code) {
    case SSL_ERROR_NONE:
      return nullptr;
    case SSL_ERROR_SSL:
      return "ERROR, SSL connect: Protocol Error.";
    case SSL_ERROR_WANT_READ:
      return "ERROR, SSL connect: Read Error";
    case SSL_ERROR_WANT_WRITE:
      return "ERROR, SSL connect: Write Error";
    case SSL_ERROR_WANT_X509_LOOKUP:
      return "ERROR, SSL connect error: X509 lookup";
    case SSL_ERROR_SYSCALL:
      return "ERROR, SSL connect: Error in system call";
    case SSL_ERROR_ZERO_RETURN:
      return "ERROR, SSL connect returned 0";
    case SSL_ERROR_WANT_CONNECT:
      return "ERROR, SSL connect: Error connect";
    case SSL_ERROR_WANT_ACCEPT:
      return "ERROR, SSL connect: Error accept";
    default:
      return "ERROR, Failed SSL connect.";
  }
}

}  // namespace

int SocketLibraryCount() {
  return liveSockets.load();
}

Socket::Socket() {
  IgnoreBrokenPipeOnce();
  liveSockets.fetch_add(1);
}

Socket::~Socket() {
  Close();
  liveSockets.fetch_sub(1);
}

uint32_t Socket::ResolveHost(const std::string& host) {
  if (!host.empty() && std::isdigit(static_cast<unsigned char>(host[0]))) {
    return inet_addr(host.c_str());
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  uint32_t address = INADDR_NONE;
  if (!host.empty() && getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found) {
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  }
  if (found) freeaddrinfo(found);
  return address;
}

std::optional<uint16_t> Socket::ResolvePort(const std::string& port) {
  // A port number is the whole text (spaces around it aside) and lies in 1..65535: "70000" or
  // "104x" are typing errors, and taking part of them would reach another service. Any other
  // text is a service name.
  const size_t first = port.find_first_not_of(" \t");
  const size_t last = port.find_last_not_of(" \t");
  const std::string trimmed =
      first == std::string::npos ? std::string() : port.substr(first, last - first + 1);
  if (!trimmed.empty() && std::isdigit(static_cast<unsigned char>(trimmed[0]))) {
    unsigned long number = 0;
    for (const char c : trimmed) {
      if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
      number = number * 10 + static_cast<unsigned long>(c - '0');
      if (number > 0xFFFF) return std::nullopt;
    }
    if (number == 0) return std::nullopt;
    return static_cast<uint16_t>(number);
  }
  if (trimmed.empty()) return std::nullopt;
  servent result{};
  servent* found = nullptr;
  char scratch[1024];
  if (getservbyname_r(trimmed.c_str(), nullptr, &result, scratch, sizeof scratch, &found) == 0 &&
      found) {
    return ntohs(static_cast<uint16_t>(found->s_port));
  }
  return std::nullopt;
}

bool Socket::Open(const std::string& host, const std::string& port) {
  Close();
  const uint32_t hostAddress = ResolveHost(host);
  const std::optional<uint16_t> portNumber = ResolvePort(port);
  if (!portNumber) {
    WriteLog("ERROR, could not resolve host port");
    return false;
  }
  const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (descriptor < 0) {
    WriteLog("ERROR, could not create socket");
    return false;
  }
  Socketfd = descriptor;
  SetLingerZero(Socketfd);
  const int noDelay = 1;
  if (setsockopt(Socketfd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay) != 0) {
    WriteLog("ERROR, set socket option");
    return false;
  }
  address = sockaddr_in{};
  address.sin_family = AF_INET;
  address.sin_port = htons(*portNumber);
  address.sin_addr.s_addr = hostAddress;
  LastResult = ConnectWithin(Socketfd, address, TimeOut);
  if (LastResult == 0) {
    SetIoTimeouts(Socketfd, TimeOut);
    Connected = true;
    return true;
  }
  CloseDescriptor(Socketfd);
  WriteLog("ERROR, Connecting to Socket: " + host + ":" + port + ", " + std::to_string(LastResult));
  return false;
}

bool Socket::StartTLS(const std::string& certificateFile, const std::string& keyFile,
                      const std::string& caFile, const std::string& serverName) {
  if (!Connected) {
    WriteLog("ERROR, Socket::StartTLS, not connected");
    return false;
  }
  FreeTLS();
  ERR_clear_error();
  sslctx = SSL_CTX_new(TLS_client_method());
  if (!sslctx) {
    WriteLog("ERROR, Socket, couldn't create SSL_CTX");
    return false;
  }
  SSL_CTX_set_min_proto_version(sslctx, TLS1_2_VERSION);
  if (!certificateFile.empty() &&
      SSL_CTX_use_certificate_file(sslctx, certificateFile.c_str(), SSL_FILETYPE_PEM) <= 0) {
    WriteLog("ERROR, Socket, couldn't load SSL Certificate");
    FreeTLS();
    return false;
  }
  if (!keyFile.empty() &&
      SSL_CTX_use_PrivateKey_file(sslctx, keyFile.c_str(), SSL_FILETYPE_PEM) <= 0) {
    WriteLog("ERROR, Socket, couldn't load SSL Key");
    FreeTLS();
    return false;
  }
  if (!caFile.empty()) {
    if (SSL_CTX_load_verify_locations(sslctx, caFile.c_str(), nullptr) != 1) {
      WriteLog("ERROR, Socket, couldn't load CA file " + caFile);
      FreeTLS();
      return false;
    }
    SSL_CTX_set_verify(sslctx, SSL_VERIFY_PEER, nullptr);
  }
  sslobj = SSL_new(sslctx);
  if (!sslobj) {
    WriteLog("ERROR, Socket, couldn't create SSL_new");
    FreeTLS();
    return false;
  }
  if (!serverName.empty()) {
    // A name is announced (SNI) whether or not the certificate is checked: a server with several
    // certificates, or a TLS proxy in front of the PACS, chooses by it. An address never is, as
    // the extension carries names only. With verification, a dotted address is checked against
    // the certificate's IP entries, a name against its DNS entries.
    in_addr parsed{};
    const bool address = inet_pton(AF_INET, serverName.c_str(), &parsed) == 1;
    if (!address) SSL_set_tlsext_host_name(sslobj, serverName.c_str());
    if (!caFile.empty()) {
      if (address) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(sslobj), serverName.c_str());
      } else {
        SSL_set1_host(sslobj, serverName.c_str());
      }
    }
  }
  SSL_set_fd(sslobj, Socketfd);
  ERR_clear_error();
  LastResult = SSL_connect(sslobj);
  if (LastResult == 1) {
    UseSSL = true;
    return true;
  }
  const int code = SSL_get_error(sslobj, LastResult);
  // The untrusted certificate, when that is why, goes first: the earliest error of a run is what a
  // user is shown as its cause.
  const long verification = SSL_get_verify_result(sslobj);
  if (!caFile.empty() && verification != X509_V_OK) {
    WriteLog(std::string("ERROR, Socket::StartTLS, server certificate not trusted: ") +
             X509_verify_cert_error_string(verification));
  }
  if (const char* text = SslConnectErrorText(code)) WriteLog(text);
  if (const unsigned long reason = ERR_peek_error()) {
    char text[256];
    ERR_error_string_n(reason, text, sizeof text);
    WriteLog(std::string("ERROR, Socket::StartTLS, ") + text);
  }
  // A handshake that did not complete has no session to close, and the connection is of no
  // further use: whatever was meant to go out encrypted must not go out in the clear.
  tlsBroken_ = true;
  Close();
  return false;
}

bool Socket::Listen(const std::string& port, ListenScope scope) {
  Close();
  const std::optional<uint16_t> portNumber = ResolvePort(port);
  if (!portNumber) {
    WriteLog("ERROR, could not resolve port");
    return false;
  }
  int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (descriptor < 0) {
    WriteLog("ERROR, could not create socket");
    return false;
  }
  SetLingerZero(descriptor);
  const int reuse = 1;
  setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  address = sockaddr_in{};
  address.sin_family = AF_INET;
  address.sin_port = htons(*portNumber);
  address.sin_addr.s_addr =
      htonl(scope == ListenScope::LoopbackOnly ? INADDR_LOOPBACK : INADDR_ANY);
  if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    LastResult = errno;
    CloseDescriptor(descriptor);
    WriteLog("ERROR, could not bind socket");
    return false;
  }
  if (::listen(descriptor, 10) != 0) {
    CloseDescriptor(descriptor);
    WriteLog("ERROR, listening to socket");
    return false;
  }
  ListenedSocketfd = descriptor;
  Listened = true;
  return true;
}

bool Socket::Accept() {
  if (!Listened) {
    WriteLog("ERROR Socket:Accept not Listened");
    return false;
  }
  if (ListenedSocketfd == kNoSocket) {
    WriteLog("ERROR Socket:Accept not ListenedSocketfd");
    return false;
  }
  socklen_t size = sizeof address;
  int accepted;
  do {
    accepted =
        ::accept4(ListenedSocketfd, reinterpret_cast<sockaddr*>(&address), &size, SOCK_CLOEXEC);
  } while (accepted < 0 && errno == EINTR);
  if (accepted >= 0) {
    CloseDescriptor(Socketfd);
    Socketfd = accepted;
    Connected = true;
    return true;
  }
  Close();
  WriteLog("ERROR Socket:Accept not Socketfd");
  return false;
}

int Socket::ReleaseHandle() {
  const int handle = Socketfd;
  Socketfd = kNoSocket;
  Connected = false;
  return handle;
}

void Socket::AdoptHandle(int descriptor) {
  FreeTLS();
  CloseDescriptor(Socketfd);
  Socketfd = descriptor;
  Connected = descriptor != kNoSocket;
}

bool Socket::SendBinary(const void* bytes, size_t length) {
  if (!Connected) return false;
  const auto* data = static_cast<const uint8_t*>(bytes);
  size_t sent = 0;
  while (sent < length) {
    if (UseSSL) {
      if (!sslobj) return false;
      size_t written = 0;
      ERR_clear_error();
      const int result = SSL_write_ex(sslobj, data + sent, length - sent, &written);
      if (result <= 0) {
        const int code = SSL_get_error(sslobj, result);
        NoteTlsError(code);
        WriteLog("ERROR, Socket::SSL_write, couldn't send: " + std::to_string(code));
        return false;
      }
      sent += written;
    } else {
      const ssize_t result = ::send(Socketfd, data + sent, length - sent, MSG_NOSIGNAL);
      if (result < 0 && errno == EINTR) continue;
      if (result <= 0) {
        WriteLog("ERROR, Socket::SendBinary, couldn't send: " +
                 std::to_string(result < 0 ? errno : 0));
        return false;
      }
      sent += static_cast<size_t>(result);
    }
  }
  if (LogLevel.load() > 2) DumpPacket(bytes, length, PacketDirection::Sent);
  return true;
}

bool Socket::WaitReadable() {
  pollfd wait{Socketfd, POLLIN, 0};
  int ready;
  do {
    long long milliseconds = static_cast<long long>(TimeOut) * 1000;
    if (Deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            *Deadline - std::chrono::steady_clock::now())
                            .count();
      milliseconds = std::max<long long>(0, std::min<long long>(milliseconds, left));
    }
    ready = poll(&wait, 1, static_cast<int>(milliseconds));
  } while (ready < 0 && errno == EINTR);
  return ready == 1;
}

void Socket::NoteTlsError(int code) {
  if (code == SSL_ERROR_SYSCALL || code == SSL_ERROR_SSL) tlsBroken_ = true;
  ERR_clear_error();
}

long Socket::ReadBinary(void* destination, size_t capacity) {
  if (!Connected) return -1;
  if (UseSSL) {
    if (!sslobj) {
      WriteLog("WARNING, Socket::ReadBinary, sslobj is NULL");
      return -1;
    }
    // Bytes already decrypted need no wait; otherwise the same time limit as a plain receive.
    // SO_RCVTIMEO bounds the reads inside SSL_read when a record arrives only in part.
    if (SSL_pending(sslobj) == 0 && !WaitReadable()) {
      Close();
      WriteLog("ERROR, Socket::ReadBinary, Timed out");
      return -1;
    }
    size_t received = 0;
    ERR_clear_error();
    const int result = SSL_read_ex(sslobj, destination, capacity, &received);
    if (result == 1) {
      if (LogLevel.load() > 2) DumpPacket(destination, received, PacketDirection::Received);
      return static_cast<long>(received);
    }
    const int code = SSL_get_error(sslobj, result);
    NoteTlsError(code);
    switch (code) {
      case SSL_ERROR_WANT_READ:
      case SSL_ERROR_WANT_WRITE:
        WriteLog("ERROR, Socket::ReadBinary, the operation did not complete");
        break;
      case SSL_ERROR_SYSCALL:
        WriteLog("ERROR, Socket::ReadBinary, I/O error occured");
        break;
      case SSL_ERROR_ZERO_RETURN:
        break;
      default:
        WriteLog("ERROR, Socket::ReadBinary, unknown error.");
        break;
    }
    Close();
    return -1;
  }
  if (!WaitReadable()) {
    Close();
    if (TimeOut == 0) return 0;
    WriteLog("ERROR, Socket::ReadBinary, Timed out");
    return -1;
  }
  ssize_t result;
  do {
    result = ::recv(Socketfd, destination, capacity, 0);
  } while (result < 0 && errno == EINTR);
  if (result == 0) {
    Close();
    return -1;
  }
  if (result < 0) {
    WriteLog("ERROR, Socket::ReadBinary, couldn't receive: " + std::to_string(errno));
    Close();
    return -1;
  }
  if (LogLevel.load() > 2) {
    DumpPacket(destination, static_cast<size_t>(result), PacketDirection::Received);
  }
  return static_cast<long>(result);
}

// The TLS connection ends first (its close notify still needs the descriptor), then the
// connection object, then the context it refers to.
void Socket::FreeTLS() {
  if (sslobj) {
    if (Connected && !tlsBroken_ && SSL_is_init_finished(sslobj)) {
      ERR_clear_error();
      SSL_shutdown(sslobj);
    }
    SSL_free(sslobj);
    sslobj = nullptr;
  }
  if (sslctx) {
    SSL_CTX_free(sslctx);
    sslctx = nullptr;
  }
  UseSSL = false;
  tlsBroken_ = false;
  // Errors of this session (a failed handshake, a broken read or write, a close notify the
  // peer no longer took) must not be taken for those of the next connection on this thread.
  ERR_clear_error();
}

bool Socket::Close() {
  FreeTLS();
  CloseDescriptor(ListenedSocketfd);
  CloseDescriptor(Socketfd);
  Connected = false;
  Listened = false;
  return true;
}

void Socket::DumpPacket(const void* bytes, size_t length, PacketDirection direction) {
  const std::string path = LogFilePath();
  if (path.empty()) return;
  FILE* file = std::fopen(path.c_str(), "ab");
  if (!file) return;
  const auto* data = static_cast<const uint8_t*>(bytes);
  const size_t shown = length < 256 ? length : 256;
  const bool more = shown == 256;
  std::fprintf(file, direction == PacketDirection::Sent ? "%6d >> " : "%6d << ",
               static_cast<int>(length));
  for (size_t i = 0; i < shown; ++i) std::fprintf(file, "%02X ", data[i]);
  if (more) std::fputs(" [MORE DATA...]", file);
  std::fputs("\r\n", file);
  for (size_t i = 0; i < shown; ++i) {
    std::fputc(data[i] >= 0x20 && data[i] <= 0x7A ? data[i] : '.', file);
  }
  if (more) std::fputs(" [MORE DATA...]", file);
  std::fputs("\r\n\r\n", file);
  std::fclose(file);
}
