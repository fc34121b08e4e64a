// Buffer: the outgoing and incoming byte queues of one connection.
#include "buffer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "log.h"

namespace {

// The process's resident memory in millions of bytes, for the flush error line.
long ResidentMegabytes() {
  long pages = 0;
  long resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return resident * sysconf(_SC_PAGESIZE) / 1000000;
}

// How much one receive may bring in; reads ahead of what the caller asked for.
constexpr size_t kReceiveBlock = 16384;

}  // namespace

bool Buffer::Write(const void* bytes, size_t count) {
  const auto* data = static_cast<const uint8_t*>(bytes);
  outgoing_.insert(outgoing_.end(), data, data + count);
  return true;
}

bool Buffer::Write8(uint8_t value) {
  return Write(&value, 1);
}

bool Buffer::Write16(uint16_t value) {
  uint8_t bytes[2];
  if (OutEndian == ByteOrder::BigEndian) {
    bytes[0] = static_cast<uint8_t>(value >> 8);
    bytes[1] = static_cast<uint8_t>(value);
  } else {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
  }
  return Write(bytes, 2);
}

bool Buffer::Write32(uint32_t value) {
  if (OutEndian == ByteOrder::BigEndian) {
    Write16(static_cast<uint16_t>(value >> 16));
    return Write16(static_cast<uint16_t>(value));
  }
  Write16(static_cast<uint16_t>(value));
  return Write16(static_cast<uint16_t>(value >> 16));
}

bool Buffer::Flush() {
  bool sent = true;
  // Sending stops at the first failure: later bytes without the earlier ones would only
  // corrupt the stream for the peer.
  for (size_t offset = outgoingPosition_; sent && offset < outgoing_.size(); offset += ChunkSize) {
    const size_t size = std::min<size_t>(ChunkSize, outgoing_.size() - offset);
    if (!dsocket.SendBinary(outgoing_.data() + offset, size)) {
      WriteLog("ERROR, Buffer::Flush, failed socket::SendBinary, mem=" +
               std::to_string(ResidentMegabytes()));
      sent = false;
    }
  }
  outgoing_.clear();
  outgoingPosition_ = 0;
  return sent;
}

bool Buffer::ReadBlock() {
  uint8_t block[kReceiveBlock];
  long received;
  do {
    received = dsocket.ReadBinary(block, sizeof block);
  } while (received == 0 && dsocket.Connected);
  if (received <= 0) {
    WriteLog("ERROR, Buffer::ReadBlock, Error from ReadBinary()");
    return false;
  }
  // Consumed bytes are dropped before new ones are added, so the queue never grows beyond
  // what has not been read yet.
  if (incomingPosition_ > 0) {
    incoming_.erase(incoming_.begin(), incoming_.begin() + static_cast<long>(incomingPosition_));
    incomingPosition_ = 0;
  }
  incoming_.insert(incoming_.end(), block, block + received);
  return true;
}

bool Buffer::Read(void* destination, size_t count) {
  while (IncomingCount() < count) {
    if (!ReadBlock()) {
      WriteLog("ERROR, Buffer::Read, failed ReadBlock");
      return false;
    }
  }
  if (count > 0) std::memcpy(destination, incoming_.data() + incomingPosition_, count);
  incomingPosition_ += count;
  if (incomingPosition_ == incoming_.size()) {
    incoming_.clear();
    incomingPosition_ = 0;
  }
  return true;
}

bool Buffer::Read8(uint8_t& value) {
  return Read(&value, 1);
}

bool Buffer::Read16(uint16_t& value) {
  uint8_t bytes[2];
  if (!Read(bytes, 2)) return false;
  value = InEndian == ByteOrder::BigEndian ? static_cast<uint16_t>(bytes[0] << 8 | bytes[1])
                                           : static_cast<uint16_t>(bytes[1] << 8 | bytes[0]);
  return true;
}

bool Buffer::Read32(uint32_t& value) {
  uint16_t first = 0;
  uint16_t second = 0;
  if (!Read16(first) || !Read16(second)) return false;
  value = InEndian == ByteOrder::BigEndian ? (uint32_t{first} << 16 | second)
                                           : (uint32_t{second} << 16 | first);
  return true;
}

bool Buffer::Skip(size_t count) {
  // In pieces, so that a large count never becomes one large allocation.
  uint8_t scrap[4096];
  while (count > 0) {
    const size_t piece = std::min(count, sizeof scrap);
    if (!Read(scrap, piece)) return false;
    count -= piece;
  }
  return true;
}

bool Buffer::MoveIn(Buffer& source, size_t count) {
  // The bytes arrive through the source's queue, so the size of this copy is bounded by what
  // the peer really sent, never by a length it only announced.
  std::vector<uint8_t> block(std::min(count, kReceiveBlock));
  size_t moved = 0;
  while (moved < count) {
    const size_t piece = std::min(count - moved, block.size());
    if (!source.Read(block.data(), piece)) {
      WriteLog("ERROR, Buffer::MoveIn, in->Read");
      return false;
    }
    incoming_.insert(incoming_.end(), block.data(), block.data() + piece);
    moved += piece;
  }
  return true;
}

std::vector<uint8_t> Buffer::TakeIncoming() {
  std::vector<uint8_t> bytes;
  if (incomingPosition_ == 0) {
    bytes.swap(incoming_);
  } else {
    bytes.assign(incoming_.begin() + static_cast<long>(incomingPosition_), incoming_.end());
    incoming_.clear();
  }
  incomingPosition_ = 0;
  return bytes;
}

void Buffer::Clear() {
  incoming_.clear();
  incomingPosition_ = 0;
  outgoing_.clear();
  outgoingPosition_ = 0;
}
