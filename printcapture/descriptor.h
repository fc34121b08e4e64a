// An open file descriptor that closes when its owner goes.
#pragma once

#include <unistd.h>

class Descriptor {
 public:
  explicit Descriptor(int handle = -1) : handle_(handle) {}
  ~Descriptor() {
    if (handle_ >= 0) close(handle_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return handle_; }
  bool valid() const { return handle_ >= 0; }

 private:
  int handle_;
};
