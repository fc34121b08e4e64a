// Fuzz target: the A-ASSOCIATE-AC reader on the bytes after the PDU type.
#include <cstddef>
#include <cstdint>

#include "pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Through the connection-facing reader: the 32-bit length is checked against its cap and
  // the body taken from the buffer; a body that runs short ends on the unconnected socket.
  Buffer link(ByteOrder::BigEndian, ByteOrder::BigEndian);
  link.AppendIncoming(data, size);
  AAssociateAC accept;
  if (accept.ReadDynamic(link) != ReadStatus::Refused) {
    for (PresentationContextAccept& item : accept.PresContextAccepts) item.Size();
    accept.UserInfo.Size();
  }
  return 0;
}
