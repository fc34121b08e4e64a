// Fuzz target: C-FIND response identifiers from hostile bytes, read into result records of every
// level, decoded by their character set, as ReadFindRSP does with what a peer sends.
#include <cstddef>
#include <cstdint>

#include "bufdata.h"
#include "charset.h"
#include "dcmobj.h"
#include "query.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BufData buffer;
  buffer.stream.assign(data, data + size);
  DcmObj identifier;
  buffer.ReadDataSet(identifier);
  DecodeDataSetToUtf8(identifier);
  const StudyInfo study = StudyFromIdentifier(identifier);
  const SeriesInfo series = SeriesFromIdentifier(identifier);
  const ImageInfo image = ImageFromIdentifier(identifier);
  // The study level's cuts must hold whatever arrived, and every text is UTF-8 by then.
  if (Utf8Length(study.accessionNumber) > 16 || Utf8Length(study.patientName) > 64 ||
      Utf8Length(study.studyId) > 16 || !IsValidUtf8(study.patientName) ||
      !IsValidUtf8(series.seriesDescription)) {
    __builtin_trap();
  }
  return static_cast<int>(series.seriesNumber.size() + image.rows) & 0;
}
