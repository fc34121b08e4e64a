// The TLS client seen from the peer's side: the server name it announces, and how it ends its
// sessions: a close notify after a good session, nothing at all after a failed one, and no
// OpenSSL errors left behind for the next connection.
#include <openssl/err.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "captured_log.h"
#include "socket.h"
#include "testsupport.h"
#include "tls_certificates.h"

namespace {

// network/tests/tls_watch_peer.py on a free loopback port: it prints one line per event of each
// connection ("1 handshake-ok", "1 close_notify", "2 after-failure <hex>"...).
class WatchPeer {
 public:
  WatchPeer(const std::string& mode, const std::string& certificate, const std::string& key,
            const std::string& log)
      : port_(testsupport::FreePort()), log_(log) {
    std::vector<std::string> argv{
        "/usr/bin/python3", (testsupport::SourceDir() / "network/tests/tls_watch_peer.py").string(),
        mode, std::to_string(port_)};
    if (mode == "tls") {
      argv.push_back(certificate);
      argv.push_back(key);
    }
    process_ = std::make_unique<testsupport::ChildProcess>(argv, log_);
  }

  bool Started() { return process_->WaitListening(port_); }
  std::string Port() const { return std::to_string(port_); }
  std::string Report() const { return testsupport::ReadFile(log_); }

  // The rest of the line that starts with "<connection> <event>", waiting (at most 20 s) for it
  // to be written; nullopt when it never is.
  std::optional<std::string> Event(int connection, const std::string& event) const {
    const std::optional<std::string> line = FirstOf(connection, {event});
    if (!line) return std::nullopt;
    return line->size() > event.size() ? line->substr(event.size() + 1) : "";
  }

  // How the client left the connection after a handshake: "close_notify",
  // "eof-without-close_notify", or "after-failure <hex>" after a fatal alert from it.
  std::optional<std::string> Ending(int connection) const {
    return FirstOf(connection, {"close_notify", "eof-without-close_notify", "after-failure"});
  }

  // Whatever ended the connection at the peer, a failed handshake or a reset included.
  std::optional<std::string> Over(int connection) const {
    return FirstOf(connection, {"close_notify", "eof-without-close_notify", "after-failure",
                                "handshake-failed", "connection-reset"});
  }

 private:
  // The first line of the connection that starts with one of the events, without the number.
  std::optional<std::string> FirstOf(int connection, const std::vector<std::string>& events) const {
    const std::string number = std::to_string(connection) + " ";
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    do {
      const std::string report = Report();
      size_t at = 0;
      size_t end;
      // Only whole lines: the last one may still be being written.
      while ((end = report.find('\n', at)) != std::string::npos) {
        const std::string line = report.substr(at, end - at);
        at = end + 1;
        if (line.rfind(number, 0) != 0) continue;
        const std::string rest = line.substr(number.size());
        for (const std::string& event : events) {
          if (rest.rfind(event, 0) == 0 &&
              (rest.size() == event.size() || rest[event.size()] == ' ')) {
            return rest;
          }
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < limit);
    return std::nullopt;
  }

  int port_;
  std::string log_;
  std::unique_ptr<testsupport::ChildProcess> process_;
};

class TlsShutdown : public TlsCertificates {
 protected:
  std::unique_ptr<WatchPeer> StartPeer(const std::string& mode) {
    if (!testsupport::HaveProgram("/usr/bin/python3")) {
      ADD_FAILURE() << "/usr/bin/python3 missing (scripts/setup.sh installs it)";
      return nullptr;
    }
    auto peer = std::make_unique<WatchPeer>(mode, File("server.pem"), File("server.key"),
                                            File((mode + "-peer.log").c_str()));
    if (!peer->Started()) {
      ADD_FAILURE() << "the peer did not start: " << peer->Report();
      return nullptr;
    }
    return peer;
  }
};

// Sends a line and reads until the peer's echo of it is complete.
bool RoundTrip(Socket& socket, const std::string& line) {
  if (!socket.SendBinary(line.data(), line.size())) return false;
  std::string answer;
  char block[256];
  while (answer.size() < line.size()) {
    const long got = socket.ReadBinary(block, sizeof block);
    if (got <= 0) return false;
    answer.append(block, static_cast<size_t>(got));
  }
  return answer == line;
}

// Whether the bytes a client wrote after its handshake failed are nothing, or the single fatal
// alert record OpenSSL sends as part of the failure itself. Anything else (a close notify, which
// is a warning-level alert, or data) was written on a broken session.
bool NothingButAFatalAlert(const std::string& hex) {
  if (hex.empty()) return true;
  // 15 = alert, 03 0x = the record version, 0002 = the length, 02 = fatal, then the reason.
  return hex.size() == 14 && hex.rfind("1503", 0) == 0 && hex.substr(6, 6) == "000202";
}

// A host given by name is announced to the peer (SNI), so that a server holding several
// certificates, or a TLS proxy routing by name, picks the right one, whether or not the client
// checks the certificate. An address is never announced: the extension carries names only.
TEST_F(TlsShutdown, TheServerNameIsAnnouncedWheneverTheHostIsAName) {
  auto peer = StartPeer("tls");
  ASSERT_TRUE(peer);
  struct Case {
    const char* name;
    const char* serverName;
    const char* caFile;  // "" for no verification
    bool handshake;      // the certificate names 127.0.0.1 only
    const char* announced;
  };
  const Case cases[] = {
      {"a name, no verification", "localhost", "", true, "localhost"},
      {"a name, verification", "localhost", "ca.pem", false, "localhost"},
      {"an address, no verification", "127.0.0.1", "", true, "-"},
      {"an address, verification", "127.0.0.1", "ca.pem", true, "-"},
      {"no host given", "", "", true, "-"},
  };
  int connection = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++connection;
    CapturedLog log;
    Socket socket;
    socket.TimeOut = 2;
    ASSERT_TRUE(socket.Open("127.0.0.1", peer->Port()));
    const std::string caFile = *c.caFile ? File(c.caFile) : "";
    EXPECT_EQ(socket.StartTLS("", "", caFile, c.serverName), c.handshake) << log.Text();
    EXPECT_EQ(peer->Event(connection, "sni"), std::string(c.announced)) << peer->Report();
    socket.Close();
    // The connection is over at the peer before the next one starts.
    ASSERT_TRUE(peer->Over(connection)) << peer->Report();
  }
}

TEST_F(TlsShutdown, HowASessionEndsDecidesWhetherCloseNotifyIsSent) {
  auto peer = StartPeer("tls");
  ASSERT_TRUE(peer);
  struct Case {
    const char* name;
    // What the client does after a first good exchange; true when it went as expected.
    bool (*act)(Socket&);
    bool closeNotify;     // whether the peer must see one; when not, nothing else may follow
    const char* logLine;  // nullptr: nothing goes to the log
  };
  const Case cases[] = {
      {"the client closes a good session", [](Socket& socket) { return socket.Close(); }, true,
       nullptr},
      {"the peer ends the session with a close notify first",
       [](Socket& socket) {
         const std::string bye = "bye\n";
         char block[16];
         return socket.SendBinary(bye.data(), bye.size()) &&
                socket.ReadBinary(block, sizeof block) == -1;
       },
       true, nullptr},
      {"the peer vanishes without a close notify: the read fails",
       [](Socket& socket) {
         const std::string vanish = "vanish\n";
         char block[16];
         return socket.SendBinary(vanish.data(), vanish.size()) &&
                socket.ReadBinary(block, sizeof block) == -1;
       },
       false, "ERROR, Socket::ReadBinary, unknown error."},
      {"a receive that times out is no failure of the session",
       [](Socket& socket) {
         char block[16];
         return socket.ReadBinary(block, sizeof block) == -1;
       },
       true, "ERROR, Socket::ReadBinary, Timed out"},
  };
  int connection = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++connection;
    CapturedLog log;
    Socket socket;
    socket.TimeOut = 1;
    ASSERT_TRUE(socket.Open("127.0.0.1", peer->Port()));
    ASSERT_TRUE(socket.StartTLS("", "", File("ca.pem"), "127.0.0.1")) << log.Text();
    ASSERT_EQ(peer->Event(connection, "handshake-ok"), "");
    EXPECT_TRUE(RoundTrip(socket, "ping\n"));
    EXPECT_TRUE(c.act(socket));
    EXPECT_FALSE(socket.Connected);
    EXPECT_EQ(ERR_peek_error(), 0u)
        << "left in OpenSSL's error queue: " << ERR_error_string(ERR_peek_error(), nullptr);
    const std::optional<std::string> ending = peer->Ending(connection);
    ASSERT_TRUE(ending) << peer->Report();
    if (c.closeNotify) {
      EXPECT_EQ(*ending, "close_notify") << peer->Report();
    } else {
      // A closed connection, or the fatal alert OpenSSL sends itself and nothing after it.
      EXPECT_TRUE(*ending == "eof-without-close_notify" || *ending == "after-failure")
          << peer->Report();
    }
    if (c.logLine) {
      EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
    } else {
      EXPECT_FALSE(log.Contains("ERROR")) << log.Text();
    }
  }
}

TEST_F(TlsShutdown, APeerThatResetsFailsTheWriteAndLeavesNoErrors) {
  auto peer = StartPeer("tls");
  ASSERT_TRUE(peer);
  CapturedLog log;
  Socket socket;
  socket.TimeOut = 2;
  ASSERT_TRUE(socket.Open("127.0.0.1", peer->Port()));
  ASSERT_TRUE(socket.StartTLS("", ""));
  const std::string reset = "reset\n";
  ASSERT_TRUE(socket.SendBinary(reset.data(), reset.size()));
  ASSERT_TRUE(peer->Event(1, "reset")) << peer->Report();
  // The first writes may still fit into the connection before the reset is known.
  const std::string block(4096, 'x');
  bool sent = true;
  for (int attempt = 0; attempt < 50 && sent; ++attempt) {
    sent = socket.SendBinary(block.data(), block.size());
    if (sent) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_FALSE(sent);
  EXPECT_TRUE(log.Contains("ERROR, Socket::SSL_write, couldn't send")) << log.Text();
  EXPECT_EQ(ERR_peek_error(), 0u) << ERR_error_string(ERR_peek_error(), nullptr);
  socket.Close();
  EXPECT_EQ(ERR_peek_error(), 0u) << ERR_error_string(ERR_peek_error(), nullptr);
}

TEST_F(TlsShutdown, AFailedHandshakeIsFollowedByNoByteAndNoError) {
  struct Case {
    const char* name;
    const char* mode;
    const char* caFile;
    const char* peerFailure;  // the peer's own view of the failure ("" for a plain peer)
    const char* logLine;
  };
  const Case cases[] = {
      {"untrusted server certificate", "tls", "otherca.pem", "TLSV1_ALERT_UNKNOWN_CA",
       "server certificate not trusted"},
      {"a peer that does not speak TLS", "plain", "", nullptr, "wrong version number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto peer = StartPeer(c.mode);
    ASSERT_TRUE(peer);
    CapturedLog log;
    Socket socket;
    socket.TimeOut = 2;
    ASSERT_TRUE(socket.Open("127.0.0.1", peer->Port()));
    const std::string caFile = *c.caFile ? File(c.caFile) : "";
    EXPECT_FALSE(socket.StartTLS("", "", caFile, "127.0.0.1"));
    EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
    EXPECT_EQ(ERR_peek_error(), 0u) << ERR_error_string(ERR_peek_error(), nullptr);
    // The connection is of no further use: nothing, least of all data meant to be encrypted,
    // may go out on it in the clear.
    EXPECT_FALSE(socket.Connected);
    const std::string request = "A-ASSOCIATE-RQ";
    EXPECT_FALSE(socket.SendBinary(request.data(), request.size()));
    socket.Close();
    if (c.peerFailure) {
      EXPECT_EQ(peer->Event(1, "handshake-failed"), c.peerFailure) << peer->Report();
    }
    const std::optional<std::string> after = peer->Event(1, "after-failure");
    ASSERT_TRUE(after) << peer->Report();
    EXPECT_TRUE(NothingButAFatalAlert(*after)) << "written after the failure: " << *after;
  }
}

TEST_F(TlsShutdown, EachConnectionReportsOnlyItsOwnErrors) {
  auto tlsPeer = StartPeer("tls");
  auto plainPeer = StartPeer("plain");
  ASSERT_TRUE(tlsPeer && plainPeer);
  {
    CapturedLog log;
    Socket socket;
    socket.TimeOut = 2;
    ASSERT_TRUE(socket.Open("127.0.0.1", tlsPeer->Port()));
    EXPECT_FALSE(socket.StartTLS("", "", File("otherca.pem"), "127.0.0.1"));
    EXPECT_TRUE(log.Contains("certificate verify failed")) << log.Text();
  }
  {
    // A second failure names its own cause, not the first one's.
    CapturedLog log;
    Socket socket;
    socket.TimeOut = 2;
    ASSERT_TRUE(socket.Open("127.0.0.1", plainPeer->Port()));
    EXPECT_FALSE(socket.StartTLS("", ""));
    EXPECT_TRUE(log.Contains("wrong version number")) << log.Text();
    EXPECT_FALSE(log.Contains("certificate verify failed")) << log.Text();
  }
  {
    // And a good connection after both has nothing to report.
    CapturedLog log;
    Socket socket;
    socket.TimeOut = 2;
    ASSERT_TRUE(socket.Open("127.0.0.1", tlsPeer->Port()));
    ASSERT_TRUE(socket.StartTLS("", "", File("ca.pem"), "127.0.0.1")) << log.Text();
    EXPECT_TRUE(RoundTrip(socket, "still fine\n"));
    socket.Close();
    EXPECT_TRUE(tlsPeer->Event(2, "close_notify")) << tlsPeer->Report();
    EXPECT_FALSE(log.Contains("ERROR")) << log.Text();
  }
  EXPECT_EQ(ERR_peek_error(), 0u) << ERR_error_string(ERR_peek_error(), nullptr);
}

}  // namespace
