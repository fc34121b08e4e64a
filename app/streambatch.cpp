// A batch converted one item at a time, each object handed on as soon as it is made.
#include "streambatch.h"

#include <exception>

#include "batch.h"
#include "log.h"

StreamedBatch ConvertItemsOneByOne(const std::vector<std::string>& items, const ObjectSink& sink,
                                   const ItemProgress& progress, std::stop_token stop,
                                   BatchReport* report) {
  StreamedBatch batch;
  if (report != nullptr) *report = BatchReport(items);
  auto addMessage = [&batch](const std::string& line) {
    batch.message += (batch.message.empty() ? "" : "\n") + line;
  };
  auto noObject = [&](size_t i, const std::string& reason) {
    batch.skipped.push_back(i);
    if (report != nullptr) report->NoObject(i, reason);
    if (progress) progress(i + 1, items.size());
  };
  for (size_t i = 0; i < items.size(); ++i) {
    // A cancelled batch converts nothing more; the items not reached stay waiting.
    if (stop.stop_requested()) {
      batch.cancelled = true;
      if (report != nullptr) report->MarkCancelled();
      return batch;
    }
    const Converter converter = ConverterFor(items[i]);
    if (converter == nullptr) {
      WriteLog("INFO, ConvertItems, skipped (unknown kind): " + items[i]);
      noObject(i, kUnknownKindReason);
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
    if (!converted) {
      if (error.empty()) {
        // A document without any text gives no object and no message.
        WriteLog("INFO, ConvertItems, skipped (no text): " + items[i]);
        noObject(i, kNoTextReason);
        continue;
      }
      // The user is sent to the log for the details, so the log says which file failed and why;
      // every other item still goes on.
      WriteLog("ERROR, ConvertItems, " + error);
      const std::string reason = ShortReason(error, items[i]);
      if (report != nullptr) report->SetCause(ItemName(items[i]) + ": " + reason);
      addMessage(error);
      noObject(i, reason);
      continue;
    }
    if (report != nullptr) {
      for (const std::unique_ptr<DcmObj>& object : objects) report->ObjectMade(i, *object);
    }
    bool handed = true;
    for (std::unique_ptr<DcmObj>& object : objects) {
      if (!handed) break;
      handed = sink(*object, i, error);
      object.reset();
    }
    if (!handed) {
      WriteLog("ERROR, ConvertItems, " + error);
      if (report != nullptr) report->SetCause(error);
      addMessage(error);
      return batch;
    }
    batch.handed.push_back(i);
    if (progress) progress(i + 1, items.size());
  }
  batch.complete = batch.skipped.empty();
  return batch;
}
