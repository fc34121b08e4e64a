// Fuzz target: a stream of PDUs read as P-DATA-TF fragments and the gathered messages decoded.
#include <cstddef>
#include <cstdint>

#include "bufdata.h"
#include "dcmobj.h"
#include "pdu.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Buffer link(ByteOrder::BigEndian, ByteOrder::BigEndian);
  link.AppendIncoming(data, size);
  PDataTF pdata;
  // Small caps keep each run quick while exercising the refusals.
  pdata.MaxMessageLength = 1 << 20;
  for (int messages = 0; messages < 64; ++messages) {
    if (pdata.Length == 0) {
      uint8_t type = 0;
      if (!link.Read8(type) || type != 0x04) break;
    }
    if (!pdata.ReadDynamic(link)) break;
    if (!pdata.LastFragment) continue;
    BufData decoder(false);
    decoder.stream = pdata.VRBuffer.TakeIncoming();
    DcmObj message;
    decoder.ReadDataSet(message);
    // The next message may be of the other kind.
    pdata.MessageStarted = false;
  }
  return 0;
}
