// Socket: port and host resolution, connect failures, time-outs, whole sends, traces and TLS.
#include "socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <thread>

#include "captured_log.h"
#include "scripted_peer.h"
#include "testsupport.h"
#include "tls_certificates.h"

using testpeer::Bytes;
using testpeer::ScriptedPeer;
using testpeer::Step;

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(SocketResolve, PortTexts) {
  struct Case {
    const char* text;
    std::optional<uint16_t> expected;
  };
  const Case cases[] = {
      {"104", 104},
      {"11112", 11112},
      {"65535", 65535},
      {" 104 ", 104},           // spaces from a hand-edited settings file
      {"70000", std::nullopt},  // no port: not another port of its low 16 bits
      {"104x", std::nullopt},   // nor the port its leading digits name
      {"0", std::nullopt},
      {"65536", std::nullopt},
      {"0000000104", 104},
      {"", std::nullopt},
      {"no-such-service", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Socket::ResolvePort(c.text), c.expected) << c.text;
  }
  EXPECT_EQ(Socket::ResolveHost("127.0.0.1"), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(Socket::ResolveHost("localhost"), htonl(INADDR_LOOPBACK));
  // A name that starts with a digit is taken as an address and is then no address at all.
  EXPECT_EQ(Socket::ResolveHost("1nosuchhost"), INADDR_NONE);
}

TEST(SocketOpen, FailuresNameHostAndPort) {
  CapturedLog log;
  const int port = testsupport::FreePort();
  Socket socket;
  socket.TimeOut = 2;
  EXPECT_FALSE(socket.Open("127.0.0.1", std::to_string(port)));
  EXPECT_FALSE(socket.Connected);
  EXPECT_EQ(socket.Socketfd, kNoSocket);
  EXPECT_TRUE(log.Contains("ERROR, Connecting to Socket: 127.0.0.1:" + std::to_string(port) + ", " +
                           std::to_string(ECONNREFUSED)));
  EXPECT_FALSE(socket.Open("127.0.0.1", "no-such-service"));
  EXPECT_TRUE(log.Contains("ERROR, could not resolve host port"));
  EXPECT_FALSE(socket.Open("1nosuchhost", "104"));
  EXPECT_TRUE(log.Contains("ERROR, Connecting to Socket: 1nosuchhost:104, "));
  // Nothing is sent or received on a socket that is not connected.
  uint8_t byte = 0;
  EXPECT_FALSE(socket.SendBinary(&byte, 1));
  EXPECT_EQ(socket.ReadBinary(&byte, 1), -1);
}

TEST(SocketRead, SilentPeerTimesOutAndClosedPeerEnds) {
  {
    CapturedLog log;
    ScriptedPeer peer({Step::ExpectClose()});
    Socket socket;
    socket.TimeOut = 1;
    ASSERT_TRUE(socket.Open("127.0.0.1", peer.Port()));
    uint8_t block[16];
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(socket.ReadBinary(block, sizeof block), -1);
    EXPECT_LT(SecondsSince(start), 6.0);
    EXPECT_FALSE(socket.Connected);
    EXPECT_TRUE(log.Contains("ERROR, Socket::ReadBinary, Timed out"));
    EXPECT_TRUE(peer.Finish()) << peer.Problem();
  }
  {
    CapturedLog log;
    ScriptedPeer peer({Step::Send({1, 2, 3}), Step::Close()});
    Socket socket;
    socket.TimeOut = 2;
    ASSERT_TRUE(socket.Open("127.0.0.1", peer.Port()));
    uint8_t block[16];
    EXPECT_EQ(socket.ReadBinary(block, sizeof block), 3);
    EXPECT_EQ(socket.ReadBinary(block, sizeof block), -1);
    EXPECT_FALSE(socket.Connected);
    EXPECT_FALSE(log.Contains("ERROR"));
  }
  {
    // A peer that never answers the TLS handshake holds it no longer than the time-out; the
    // timed-out receive inside the handshake shows as a read that did not complete.
    CapturedLog log;
    ScriptedPeer peer({Step::WaitForClose()});
    Socket socket;
    socket.TimeOut = 1;
    ASSERT_TRUE(socket.Open("127.0.0.1", peer.Port()));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(socket.StartTLS("", ""));
    EXPECT_LT(SecondsSince(start), 6.0);
    EXPECT_FALSE(socket.UseSSL);
    EXPECT_TRUE(log.Contains("ERROR, SSL connect: Read Error")) << log.Text();
  }
}

TEST(SocketSend, WholeBlockReachesASlowReader) {
  // 8 MB is far more than the socket buffers hold, so the send has to go on while the reader
  // takes its time; a single send call would report success after part of it.
  Socket listener;
  const int port = testsupport::FreePort();
  ASSERT_TRUE(listener.Listen(std::to_string(port)));
  Bytes block(8 << 20);
  std::iota(block.begin(), block.end(), uint8_t{3});
  Bytes received;
  std::thread reader([&] {
    Socket accepted;
    if (!listener.Accept()) return;
    accepted.AdoptHandle(listener.ReleaseHandle());
    accepted.TimeOut = 5;
    std::vector<uint8_t> piece(65536);
    long got;
    while (received.size() < block.size() &&
           (got = accepted.ReadBinary(piece.data(), piece.size())) > 0) {
      received.insert(received.end(), piece.begin(), piece.begin() + got);
      if (received.size() < 65536) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  Socket sender;
  sender.TimeOut = 5;
  ASSERT_TRUE(sender.Open("127.0.0.1", std::to_string(port)));
  EXPECT_TRUE(sender.SendBinary(block.data(), block.size()));
  // Closing resets the connection at once (zero linger), which would drop what the reader has
  // not taken yet; so the reader finishes first.
  reader.join();
  sender.Close();
  EXPECT_TRUE(received == block);
}

TEST(SocketTrace, DumpShowsAtMost256Bytes) {
  CapturedLog log;
  Bytes block(300);
  std::iota(block.begin(), block.end(), uint8_t{0x40});
  Socket::DumpPacket(block.data(), 300, PacketDirection::Sent);
  Socket::DumpPacket(block.data(), 10, PacketDirection::Received);
  std::string hex;
  std::string text;
  for (size_t i = 0; i < 256; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02X ", block[i]);
    hex += pair;
    text += block[i] >= 0x20 && block[i] <= 0x7A ? static_cast<char>(block[i]) : '.';
  }
  const std::string expected = "   300 >> " + hex + " [MORE DATA...]\r\n" + text +
                               " [MORE DATA...]\r\n\r\n" +
                               "    10 << 40 41 42 43 44 45 46 47 48 49 \r\n@ABCDEFGHI\r\n\r\n";
  EXPECT_EQ(log.Text(), expected);
}

TEST(SocketCount, LiveSocketsAreCounted) {
  const int before = SocketLibraryCount();
  {
    Socket first;
    Socket second;
    EXPECT_EQ(SocketLibraryCount(), before + 2);
  }
  EXPECT_EQ(SocketLibraryCount(), before);
}

// `openssl s_server` on a free loopback port with the server certificate.
class TlsServer : public TlsCertificates {
 protected:
  void SetUp() override {
    TlsCertificates::SetUp();
    if (HasFatalFailure()) return;
    port_ = testsupport::FreePort();
    server_ = std::make_unique<testsupport::ChildProcess>(
        std::vector<std::string>{"openssl", "s_server", "-quiet", "-accept", std::to_string(port_),
                                 "-cert", File("server.pem"), "-key", File("server.key"), "-tls1_2",
                                 "-rev"},
        File("server.log"));
    ASSERT_TRUE(server_->WaitListening(port_)) << testsupport::ReadFile(File("server.log"));
  }

  std::string Port() const { return std::to_string(port_); }

  int port_ = 0;
  std::unique_ptr<testsupport::ChildProcess> server_;
};

TEST_F(TlsServer, HandshakeSendAndBoundedReceive) {
  CapturedLog log;
  Socket socket;
  socket.TimeOut = 1;
  ASSERT_TRUE(socket.Open("127.0.0.1", Port()));
  ASSERT_TRUE(socket.StartTLS("", ""));
  EXPECT_TRUE(socket.UseSSL);
  // The server answers each line with the line reversed.
  const std::string line = "hello over TLS\n";
  EXPECT_TRUE(socket.SendBinary(line.data(), line.size()));
  char block[64];
  std::string answer;
  long got;
  while (answer.find('\n') == std::string::npos &&
         (got = socket.ReadBinary(block, sizeof block)) > 0) {
    answer.append(block, static_cast<size_t>(got));
  }
  EXPECT_EQ(answer.substr(0, 14), "SLT revo olleh");
  // Then it says nothing more: the receive ends with the time-out like a plain one.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(socket.ReadBinary(block, sizeof block), -1);
  EXPECT_LT(SecondsSince(start), 6.0);
  EXPECT_TRUE(log.Contains("ERROR, Socket::ReadBinary, Timed out"));
  EXPECT_FALSE(socket.Connected);
  EXPECT_FALSE(socket.UseSSL);
}

TEST_F(TlsServer, VerificationOfTheServerCertificate) {
  struct Case {
    const char* name;
    std::string caFile;
    std::string serverName;
    bool handshake;
    const char* logLine;
  };
  const Case cases[] = {
      {"trusted CA, matching address", File("ca.pem"), "127.0.0.1", true, nullptr},
      {"unrelated CA", File("otherca.pem"), "127.0.0.1", false, "server certificate not trusted"},
      {"trusted CA, other name", File("ca.pem"), "pacs.example.org", false,
       "server certificate not trusted"},
      {"missing CA file", File("none.pem"), "127.0.0.1", false, "couldn't load CA file"},
      // Without a CA file nothing is checked, as before.
      {"no verification", "", "127.0.0.1", true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    Socket socket;
    socket.TimeOut = 2;
    ASSERT_TRUE(socket.Open("127.0.0.1", Port()));
    EXPECT_EQ(socket.StartTLS("", "", c.caFile, c.serverName), c.handshake);
    if (c.logLine) {
      EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
    }
    socket.Close();
  }
}

}  // namespace
