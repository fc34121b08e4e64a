// P-DATA-TF PDUs built in one send buffer per thread, reused from message to message.
#include "fragmentwriter.h"

#include <algorithm>
#include <cstring>

#include "socket.h"

namespace {

// Every message of a thread is built in the same buffer: sending objects one after the other
// allocates nothing once the first has gone.
std::vector<uint8_t>& ThreadSendBuffer() {
  thread_local std::vector<uint8_t> buffer;
  return buffer;
}

void Put32(uint8_t* at, size_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
}

}  // namespace

FragmentWriter::FragmentWriter(Socket& socket, uint8_t context, bool command, size_t fragmentData,
                               size_t sendSize)
    : socket_(socket),
      context_(context),
      control_(command ? 0x01 : 0x00),
      fragmentData_(std::max<size_t>(fragmentData, 1)),
      sendSize_(sendSize),
      out_(ThreadSendBuffer()) {
  out_.clear();
  const size_t capacity = std::max(sendSize_, fragmentData_) + fragmentData_ + 2 * kHeaderSize;
  if (out_.capacity() < capacity) out_.reserve(capacity);
}

void FragmentWriter::OpenFragment() {
  openAt_ = out_.size();
  out_.resize(openAt_ + kHeaderSize);
  openData_ = 0;
  open_ = true;
}

void FragmentWriter::CloseFragment(bool last) {
  uint8_t* header = out_.data() + openAt_;
  header[0] = 0x04;  // P-DATA-TF
  header[1] = 0x00;
  Put32(header + 2, openData_ + 6);
  Put32(header + 6, openData_ + 2);
  header[10] = context_;
  header[11] = static_cast<uint8_t>(control_ | (last ? 0x02 : 0x00));
  open_ = false;
}

bool FragmentWriter::SendClosed() {
  const size_t closed = open_ ? openAt_ : out_.size();
  if (closed == 0) return true;
  const bool sent = socket_.SendBinary(out_.data(), closed);
  sentAny_ = true;
  out_.erase(out_.begin(), out_.begin() + static_cast<long>(closed));
  if (open_) openAt_ = 0;
  return sent;
}

bool FragmentWriter::Add(const uint8_t* bytes, size_t size) {
  while (size > 0) {
    if (open_ && openData_ == fragmentData_) {
      // More bytes follow, so the full fragment is not the last one.
      CloseFragment(false);
      if (out_.size() >= sendSize_ && !SendClosed()) return false;
    }
    if (!open_) OpenFragment();
    const size_t take = std::min(size, fragmentData_ - openData_);
    out_.insert(out_.end(), bytes, bytes + take);
    openData_ += take;
    bytes += take;
    size -= take;
  }
  return true;
}

bool FragmentWriter::Finish() {
  if (!open_) OpenFragment();
  CloseFragment(true);
  return SendClosed();
}
