// Byte queue in both directions over one Socket, with 8-, 16- and 32-bit reads and writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "socket.h"

enum class ByteOrder { LittleEndian = 1, BigEndian = 2 };

class Buffer {
 public:
  // Size of each outgoing send; a PDU of up to 16384 bytes leaves in one send.
  uint32_t ChunkSize = 32600;
  ByteOrder InEndian = ByteOrder::LittleEndian;
  ByteOrder OutEndian = ByteOrder::LittleEndian;
  // The connection. A buffer that only holds a message in memory never opens it.
  Socket dsocket;

  Buffer() = default;
  Buffer(ByteOrder in, ByteOrder out) : InEndian(in), OutEndian(out) {}
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  // Appends to the outgoing bytes.
  bool Write(const void* bytes, size_t count);
  bool Write8(uint8_t value);
  bool Write16(uint16_t value);
  bool Write32(uint32_t value);
  // Sends every outgoing byte through dsocket and empties the outgoing side in every case.
  bool Flush();

  // Delivers exactly `count` bytes, receiving from dsocket as needed. False when the socket
  // fails or times out first.
  bool Read(void* destination, size_t count);
  bool Read8(uint8_t& value);
  bool Read16(uint16_t& value);
  bool Read32(uint32_t& value);
  // One receive from dsocket appended to the incoming bytes.
  bool ReadBlock();
  // Reads and discards `count` bytes.
  bool Skip(size_t count);
  // Reads `count` bytes from `source` and appends them to this buffer's incoming side.
  bool MoveIn(Buffer& source, size_t count);

  size_t IncomingCount() const { return incoming_.size() - incomingPosition_; }
  size_t OutgoingCount() const { return outgoing_.size() - outgoingPosition_; }
  // Appends bytes to the incoming side as if they had been received (a message held in memory).
  void AppendIncoming(const uint8_t* bytes, size_t count) {
    incoming_.insert(incoming_.end(), bytes, bytes + count);
  }
  // Takes every incoming byte (a message gathered in memory) and empties the incoming side.
  std::vector<uint8_t> TakeIncoming();
  // Drops everything held in either direction.
  void Clear();

 private:
  std::vector<uint8_t> incoming_;
  size_t incomingPosition_ = 0;
  std::vector<uint8_t> outgoing_;
  size_t outgoingPosition_ = 0;
};
