// One message (a command set or a data set) written as P-DATA-TF PDUs while its bytes arrive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Socket;

class FragmentWriter {
 public:
  // PDUs of at most `fragmentData` data bytes for presentation context `context`; `command` sets
  // bit 0 of every control header. The bytes go out through `socket` in sends of about
  // `sendSize` bytes, whole PDUs only.
  FragmentWriter(Socket& socket, uint8_t context, bool command, size_t fragmentData,
                 size_t sendSize = kDefaultSendSize);

  // Appends message bytes; PDUs that are complete and not the last go out as the send buffer
  // fills. False when the socket fails.
  bool Add(const uint8_t* bytes, size_t size);
  // Marks the PDU holding the last bytes (or an empty one, for an empty message) as the last and
  // sends what is left. False when the socket fails.
  bool Finish();
  // Whether any PDU of the message has gone out.
  bool SentAny() const { return sentAny_; }

  static constexpr size_t kDefaultSendSize = 256 * 1024;
  static constexpr size_t kHeaderSize = 12;

 private:
  void OpenFragment();
  void CloseFragment(bool last);
  bool SendClosed();

  Socket& socket_;
  uint8_t context_;
  uint8_t control_;
  size_t fragmentData_;
  size_t sendSize_;
  // Whole PDUs waiting to be sent, then the open one: its header (lengths still zero) at
  // `openAt_` and `openData_` bytes after it.
  std::vector<uint8_t>& out_;
  bool open_ = false;
  bool sentAny_ = false;
  size_t openAt_ = 0;
  size_t openData_ = 0;
};
