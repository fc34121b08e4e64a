// Fuzz target: C-FIND response identifiers from hostile bytes, read into result records of every
// level, as ReadFindRSP does with what a peer sends.
#include <cstddef>
#include <cstdint>

#include "bufdata.h"
#include "dcmobj.h"
#include "query.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BufData buffer;
  buffer.stream.assign(data, data + size);
  DcmObj identifier;
  buffer.ReadDataSet(identifier);
  const StudyInfo study = StudyFromIdentifier(identifier);
  const SeriesInfo series = SeriesFromIdentifier(identifier);
  const ImageInfo image = ImageFromIdentifier(identifier);
  // The study level's cuts must hold whatever arrived.
  if (study.accessionNumber.size() > 16 || study.patientName.size() > 64 ||
      study.studyId.size() > 16) {
    __builtin_trap();
  }
  return static_cast<int>(series.seriesNumber.size() + image.rows) & 0;
}
