// Fuzz target: dumps of whatever the decoder makes of hostile bytes, as a file and as a bare data
// set in each encoding, the way message tracing dumps what a peer sent.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bufdata.h"
#include "charset.h"
#include "dcmobj.h"
#include "dicomfile.h"
#include "dump.h"

namespace {

void DumpAll(const DcmObj& dataSet) {
  std::vector<std::string> lines;
  dataSet.Dump(lines, 0);
  // The log and the terminal get UTF-8 only, whatever character set the bytes claim.
  for (const std::string& line : DumpLinesUtf8(dataSet)) {
    if (!IsValidUtf8(line)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    BufData buffer;
    buffer.stream.assign(data, data + size);
    DicomFile file;
    std::string error;
    ParseDicomFile(buffer, file, error);
    // What was decoded before a failure is dumped too, as the dump verb does.
    DumpAll(file.meta);
    DumpAll(file.dataSet);
  }
  static const char* const kSyntaxes[] = {kImplicitVRLittleEndian, kExplicitVRLittleEndian,
                                          kExplicitVRBigEndian};
  for (const char* syntax : kSyntaxes) {
    DcmObj dataSet;
    dataSet.SetTransferSyntax(syntax);
    BufData buffer(dataSet.bigEndian);
    buffer.stream.assign(data, data + size);
    buffer.ReadDataSet(dataSet);
    DumpAll(dataSet);
  }
  return 0;
}
