// A batch converted one item at a time, each object handed on as soon as it is made.
#include "streambatch.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <thread>

#include "batch.h"
#include "convertimage.h"
#include "itemlist.h"
#include "log.h"
#include "pictureencoders.h"

namespace {

// Pictures, where a batch's time goes, are decoded and encoded on one worker thread per core while
// the item in hand is written or delivered, and handed on in list order. Each worker takes one
// picture at a time and one more waits its turn, so at most one picture per worker (its decoded
// picture and encoder state, or the stream it made) and the one in hand are in memory at once,
// whatever the batch's length and the pictures' size.
class PicturesAhead {
 public:
  explicit PicturesAhead(const std::vector<std::string>& items) : items_(items) {
    const unsigned cores = std::thread::hardware_concurrency();
    workers_ = cores == 0 ? 1 : cores;
    if (workers_ < 2) return;
    ahead_.resize(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
      ahead_[i] = KindOfItem(items[i]) == ItemKind::Image;
      pictures_ += ahead_[i] ? 1 : 0;
    }
    if (pictures_ > 0) encoders_.emplace(workers_);
  }
  ~PicturesAhead() {
    if (encoders_) {
      WriteLog("INFO, ConvertItems, " + std::to_string(pictures_) + " pictures encoded on " +
               std::to_string(workers_) + " threads, at most " + std::to_string(mostInFlight_) +
               " in memory at once");
    }
  }
  PicturesAhead(const PicturesAhead&) = delete;
  PicturesAhead& operator=(const PicturesAhead&) = delete;

  // Queues `item` and the pictures after it to be encoded ahead, then converts `item`: a picture
  // encoded ahead by taking its stream, anything else with `converter` here.
  bool Convert(size_t item, Converter converter, DataSetList& objects, std::string& error) {
    if (!encoders_) return converter(items_[item], objects, error);
    queuedUpTo_ = std::max(queuedUpTo_, item);
    while (queuedUpTo_ < items_.size() && encoders_->Queued() < workers_ + (ahead_[item] ? 1 : 0)) {
      if (ahead_[queuedUpTo_]) encoders_->Add(items_[queuedUpTo_]);
      ++queuedUpTo_;
    }
    if (!ahead_[item]) return converter(items_[item], objects, error);
    EncodedPicture picture;
    const bool encoded = encoders_->TakeOldest(picture, error);
    // The picture taken and those the workers have started: what this batch holds now.
    mostInFlight_ = std::max(mostInFlight_, encoders_->Started() + 1);
    if (!encoded) return false;
    AppendImageObject(std::move(picture), objects);
    return true;
  }

 private:
  const std::vector<std::string>& items_;
  unsigned workers_ = 1;
  std::vector<bool> ahead_;  // the items encoded ahead on the workers
  size_t pictures_ = 0;
  std::optional<PictureEncoders> encoders_;
  size_t queuedUpTo_ = 0;    // items before this one have been queued when they are encoded ahead
  size_t mostInFlight_ = 0;  // the most pictures in memory at once
};

}  // namespace

StreamedBatch ConvertItemsOneByOne(const std::vector<std::string>& items, const ObjectSink& sink,
                                   const ItemProgress& progress, std::stop_token stop,
                                   BatchReport* report) {
  StreamedBatch batch;
  if (report != nullptr) *report = BatchReport(items);
  auto addMessage = [&batch](const std::string& line) {
    batch.message += (batch.message.empty() ? "" : "\n") + line;
  };
  auto noObject = [&](size_t i, const UserMessage& reason) {
    batch.skipped.push_back(i);
    if (report != nullptr) report->NoObject(i, reason);
    if (progress) progress(i + 1, items.size());
  };
  PicturesAhead pictures(items);
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
      converted = pictures.Convert(i, converter, objects, error);
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
      if (report != nullptr) {
        report->SetCause(
            UserMessage(UserMessageKind::NamedCause,
                        {UserMessage::Text(ItemName(items[i])), UserMessage::Text(reason)}));
      }
      addMessage(error);
      noObject(i, UserMessage::Text(reason));
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
