// A Buffer connected to an in-process socket pair, so that tests can feed it bytes and collect
// exactly what it writes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "buffer.h"

class LinkPair {
 public:
  // `buffer`'s socket adopts one end; this object keeps the other.
  explicit LinkPair(Buffer& buffer, int timeOutSeconds = 2) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0) {
      buffer.dsocket.AdoptHandle(ends[0]);
      buffer.dsocket.TimeOut = timeOutSeconds;
      far_ = ends[1];
    }
  }
  ~LinkPair() {
    if (far_ >= 0) close(far_);
  }
  LinkPair(const LinkPair&) = delete;
  LinkPair& operator=(const LinkPair&) = delete;

  // Writes bytes for the buffer to read; `thenClose` ends the stream after them.
  void Feed(const std::vector<uint8_t>& bytes, bool thenClose = true) {
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t sent = write(far_, bytes.data() + done, bytes.size() - done);
      if (sent <= 0) break;
      done += static_cast<size_t>(sent);
    }
    if (thenClose) shutdown(far_, SHUT_WR);
  }

  // Everything the buffer has sent so far.
  std::vector<uint8_t> Collect() {
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    pollfd wait{far_, POLLIN, 0};
    while (poll(&wait, 1, 50) == 1) {
      const ssize_t got = read(far_, block, sizeof block);
      if (got <= 0) break;
      bytes.insert(bytes.end(), block, block + got);
    }
    return bytes;
  }

 private:
  int far_ = -1;
};
