// Fuzz target: Part 10 files and bare data sets in each encoding are read, dumped and written
// again; what was written must read back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bufdata.h"
#include "dcmobj.h"
#include "dicomfile.h"

namespace {

// Writes the data set; when that succeeds and the input was complete, reading the bytes and writing
// them again must give the same bytes, since everything read is held in a form that is written
// back as it was. (A value cut short is written with the zeros that stand in for its missing
// bytes, and may read differently the second time.)
void DumpAndRewrite(DcmObj& dataSet, bool complete) {
  std::vector<std::string> lines;
  dataSet.Dump(lines);
  BufData first(false);
  if (!first.WriteDataSet(dataSet) || !complete) return;
  DcmObj again;
  again.SetTransferSyntax(dataSet.transferSyntax);
  again.explicitVR = dataSet.explicitVR;
  BufData reader(again.bigEndian);
  reader.stream = first.stream;
  if (!reader.ReadDataSet(again) || reader.shortReads != 0) __builtin_trap();
  BufData second(false);
  if (!second.WriteDataSet(again) || second.stream != first.stream) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    BufData buffer(false);
    buffer.stream.assign(data, data + size);
    DicomFile file;
    std::string error;
    ParseDicomFile(buffer, file, error);
    std::vector<std::string> lines;
    file.meta.Dump(lines);
    DumpAndRewrite(file.dataSet, buffer.shortReads == 0);
  }
  for (const char* syntax :
       {kImplicitVRLittleEndian, kExplicitVRLittleEndian, kExplicitVRBigEndian}) {
    DcmObj dataSet;
    dataSet.SetTransferSyntax(syntax);
    BufData buffer(dataSet.bigEndian);
    buffer.stream.assign(data, data + size);
    if (buffer.ReadDataSet(dataSet)) DumpAndRewrite(dataSet, buffer.shortReads == 0);
  }
  return 0;
}
