// A batch converted one item at a time, each object handed on as soon as it is made.
#include "streambatch.h"

#include <exception>

#include "batch.h"
#include "log.h"

StreamedBatch ConvertItemsOneByOne(const std::vector<std::string>& items, const ObjectSink& sink,
                                   const ItemProgress& progress) {
  StreamedBatch batch;
  for (size_t i = 0; i < items.size(); ++i) {
    const Converter converter = ConverterFor(items[i]);
    if (converter == nullptr) {
      batch.skipped.push_back(i);
      if (progress) progress(i + 1, items.size());
      continue;
    }
    DataSetList objects;
    std::string error;
    bool converted = false;
    // A converter that runs out of memory (or meets any other exception) fails this item with a
    // message; it never ends the program, and the objects already handed on are kept.
    try {
      converted = converter(items[i], objects, error);
    } catch (const std::exception& failure) {
      error = "Cannot convert \"" + items[i] + "\": " + failure.what();
    }
    if (!converted && error.empty()) {
      // A document without any text gives no object and no message; the batch goes on.
      batch.skipped.push_back(i);
      if (progress) progress(i + 1, items.size());
      continue;
    }
    for (std::unique_ptr<DcmObj>& object : objects) {
      if (!converted) break;
      converted = sink(*object, i, error);
      object.reset();
    }
    if (!converted) {
      WriteLog("ERROR, ConvertItems, " + error);
      batch.message = error;
      return batch;
    }
    batch.handed.push_back(i);
    if (progress) progress(i + 1, items.size());
  }
  batch.complete = true;
  return batch;
}
