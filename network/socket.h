// One IPv4 TCP endpoint with receive time-outs and an optional TLS 1.2+ client on top.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

// The value of a handle member that holds no descriptor.
inline constexpr int kNoSocket = -1;

// Which local addresses a listening socket accepts connections on.
enum class ListenScope { AllInterfaces, LoopbackOnly };

// Direction of a raw trace written by Socket::DumpPacket.
enum class PacketDirection { Sent, Received };

class Socket {
 public:
  // Result of the last connect, TLS handshake, or the errno of a failed bind.
  int LastResult = 0;
  // The connected data socket (client connection or accepted connection); kNoSocket when none.
  int Socketfd = kNoSocket;
  // The listening socket after Listen; kNoSocket when none.
  int ListenedSocketfd = kNoSocket;
  bool Connected = false;
  bool Listened = false;
  // Receive (and send) time limit in seconds. 0 makes ReadBinary poll without waiting.
  int TimeOut = 300;
  // When set, no receive waits beyond this moment, whatever TimeOut allows: a whole message
  // gets one deadline however its PDUs are paced.
  std::optional<std::chrono::steady_clock::time_point> Deadline;
  // Sends and receives go through TLS once StartTLS succeeded.
  bool UseSSL = false;
  // Peer address for Open, local address for Listen, the peer filled in by Accept.
  sockaddr_in address{};

  Socket();
  ~Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // The IPv4 address (network byte order) for a host text. A text that starts with a digit is
  // taken as a dotted address; a name that cannot be resolved gives 255.255.255.255, so the
  // following connect fails and reports the host by its text.
  static uint32_t ResolveHost(const std::string& host);
  // The port (host byte order) for a decimal number from 1 to 65535 or a service name; nullopt
  // when neither (a number out of range or followed by other characters is neither).
  static std::optional<uint16_t> ResolvePort(const std::string& port);

  // Client connection. The connect itself is bounded by TimeOut (when above 0).
  bool Open(const std::string& host, const std::string& port);
  // TLS client handshake on the connected socket; when it fails, the connection is closed.
  // Certificate and key are the client's own credentials (PEM, may be empty). A `serverName` that
  // is a name, not an address, is announced to the server (SNI). A non-empty `caFile` turns on
  // verification of the server's certificate chain and of its name against `serverName` (when not
  // empty).
  bool StartTLS(const std::string& certificateFile, const std::string& keyFile,
                const std::string& caFile = "", const std::string& serverName = "");
  // Listening socket (backlog 10), on every interface or on 127.0.0.1 only.
  bool Listen(const std::string& port, ListenScope scope = ListenScope::AllInterfaces);
  // Blocks until a connection arrives; it goes to Socketfd.
  bool Accept();

  // Hands the connected descriptor to the caller, who then owns it; this socket becomes idle.
  int ReleaseHandle();
  // Takes ownership of a connected descriptor (closing any held before).
  void AdoptHandle(int descriptor);

  // Sends the whole block (looping over partial sends). False on any failure or time-out.
  bool SendBinary(const void* bytes, size_t length);
  // One receive of at most `capacity` bytes: the count (> 0); 0 only when TimeOut is 0 and
  // nothing arrived; -1 on failure, time-out or when the peer closed (the socket is closed then).
  long ReadBinary(void* destination, size_t capacity);
  // Ends TLS, closes both descriptors and returns to idle. Always true.
  bool Close();

  // Appends a hex and character trace of the first 256 bytes to the log file.
  static void DumpPacket(const void* bytes, size_t length, PacketDirection direction);

 private:
  SSL_CTX* sslctx = nullptr;
  SSL* sslobj = nullptr;
  // The TLS session failed (a broken handshake, SSL_ERROR_SYSCALL or SSL_ERROR_SSL): no close
  // notify may be sent on it.
  bool tlsBroken_ = false;
  void FreeTLS();
  // Marks the session broken for the codes after which SSL_shutdown must not be called, and
  // empties OpenSSL's error queue of this thread.
  void NoteTlsError(int code);
  bool WaitReadable();
};

// Number of live Socket objects (the count kept for the socket library's start and stop).
int SocketLibraryCount();
