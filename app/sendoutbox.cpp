// "Send" through the outbox.
#include "sendoutbox.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "conversioncontext.h"
#include "send.h"

namespace {

// Two deliveries one after the other as one: an object tried by both counts as the second left
// it.
DeliveryReport MergeDeliveries(DeliveryReport first, DeliveryReport second) {
  DeliveryReport merged;
  merged.pacsAnswered = first.pacsAnswered && second.pacsAnswered;
  std::map<std::string, size_t> at;
  for (DeliveryReport* part : {&first, &second}) {
    for (DeliveredObject& object : part->objects) {
      const auto found = at.find(object.entry.file);
      if (found != at.end()) {
        merged.objects[found->second] = std::move(object);
      } else {
        at.emplace(object.entry.file, merged.objects.size());
        merged.objects.push_back(std::move(object));
      }
    }
  }
  for (const DeliveredObject& object : merged.objects) {
    if (object.settled == OutboxState::Gone) ++merged.delivered;
    if (object.settled == OutboxState::Failed) ++merged.failed;
    if (object.settled == OutboxState::Waiting) {
      ++merged.waiting;
      if (merged.cause.empty()) merged.cause = object.outcome.cause;
    }
  }
  return merged;
}

}  // namespace

std::string OutboxWaitMessage(size_t waiting) {
  return "The PACS did not answer: " + std::to_string(waiting) + " object" +
         (waiting == 1 ? "" : "s") + " wait" + (waiting == 1 ? "s" : "") +
         " in the outbox and will be sent when it answers";
}

OutboxSendResult SendPreparedThroughOutbox(const std::vector<std::string>& items, Outbox& outbox,
                                           const PacsTarget& target, OutboxSendMode mode,
                                           const OutboxSendProgress& progress, std::stop_token stop,
                                           BatchReport* report) {
  OutboxSendResult result;
  BatchReport local;
  BatchReport& outcome = report != nullptr ? *report : local;
  // Which item each object of this batch came from, and how many objects each item gave.
  std::map<std::string, size_t> itemOfInstance;
  std::vector<size_t> objectsOfItem(items.size(), 0);
  const std::string batch = BatchUIDRoot;
  const bool streaming = mode == OutboxSendMode::QueueAndDeliver && !target.useWeb;
  // While Send waits for its batch nobody else delivers this outbox: an object is never sent by
  // two deliveries at once, nor settled behind the other's back.
  std::optional<OutboxDeliveryLock> lock;
  if (mode == OutboxSendMode::QueueAndDeliver) lock.emplace(outbox);
  // Over DICOM the objects go out while the batch is still being converted: a delivery thread
  // takes each object as soon as it is in the outbox, on one association per kind.
  // Once the user cancels, the object in flight is finished and no other is sent: the objects not
  // reached simply wait in the outbox for its own deliveries.
  std::mutex mutex;
  std::condition_variable_any arrived;
  std::deque<OutboxEntry> handedOver;
  bool converted = false;
  bool cutShort = false;  // the cancel left objects of the batch undelivered
  DeliveryReport streamed;
  std::thread deliverer;
  if (streaming) {
    deliverer = std::thread([&] {
      StreamingDelivery delivery(outbox, target.node, progress.delivered, items.size());
      while (true) {
        std::unique_lock guard(mutex);
        arrived.wait(guard, stop, [&] { return converted || !handedOver.empty(); });
        if (stop.stop_requested()) {
          // Objects handed over, or still to come from the item in hand, stay undelivered.
          cutShort = !handedOver.empty() || !converted;
          break;
        }
        if (handedOver.empty()) break;
        const OutboxEntry entry = std::move(handedOver.front());
        handedOver.pop_front();
        guard.unlock();
        delivery.Deliver(entry);
      }
      streamed = delivery.Finish();
    });
  }
  const StreamedBatch batchConverted = ConvertItemsOneByOne(
      items,
      [&](DcmObj& object, size_t item, std::string& error) {
        OutboxEntry added;
        if (!outbox.Add(object, batch, error, &added)) {
          outcome.ObjectDone(object, false);
          return false;
        }
        // Safely in the outbox: the item may leave the list whatever the PACS says later.
        outcome.ObjectDone(object, true);
        itemOfInstance[added.sopInstanceUid] = item;
        ++objectsOfItem[item];
        ++result.queuedObjects;
        if (streaming) {
          std::lock_guard guard(mutex);
          handedOver.push_back(std::move(added));
          arrived.notify_one();
        }
        return true;
      },
      progress.queued, stop, &outcome);
  if (streaming) {
    {
      std::lock_guard guard(mutex);
      converted = true;
    }
    arrived.notify_one();
    deliverer.join();
  }
  const StreamedBatch& streamedBatch = batchConverted;
  result.queuedItems = streamedBatch.handed;
  result.skippedItems = streamedBatch.skipped;
  std::vector<std::string> lines;
  // The items that gave no object, named with their reasons, close the message.
  auto finish = [&] {
    const std::string notSent = outcome.NotDeliveredText("sent");
    if (!notSent.empty()) lines.push_back(notSent);
    for (const std::string& line : lines) {
      result.message += (result.message.empty() ? "" : "\n") + line;
    }
    return result;
  };
  const bool allQueued = streamedBatch.complete;
  if (mode == OutboxSendMode::QueueOnly) {
    if (allQueued) {
      result.success = true;
      result.message = std::to_string(result.queuedObjects) + " objects queued in the outbox";
      return result;
    }
    if (streamedBatch.cancelled) {
      lines.push_back(outcome.CancelledText("Send", "put in the outbox"));
    } else {
      lines.push_back(kSendFailedMessage);
      if (!outcome.Cause().empty()) lines.push_back(outcome.Cause());
    }
    return finish();
  }
  // What waited from before, and what the stream could not settle, goes now, unless the PACS
  // has just not answered or the user cancelled the Send.
  bool cancelled = streamedBatch.cancelled || cutShort;
  result.delivery = std::move(streamed);
  if (result.delivery.pacsAnswered && !cancelled) {
    // A cancel during this last delivery ends it after the object in flight, too.
    std::atomic<bool> stopDelivery = false;
    const std::stop_callback onStop(stop, [&stopDelivery] { stopDelivery = true; });
    DeliveryReport rest =
        DeliverOutboxLocked(*lock, outbox, target, progress.delivered, &stopDelivery);
    result.delivery = MergeDeliveries(std::move(result.delivery), std::move(rest));
    cancelled = stopDelivery;
  }
  size_t delivered = 0;
  size_t waiting = 0;
  std::vector<std::string> refused;
  std::vector<size_t> deliveredOfItem(items.size(), 0);
  for (const DeliveredObject& object : result.delivery.objects) {
    if (object.entry.batch != batch) continue;
    if (object.settled == OutboxState::Gone) {
      ++delivered;
      const auto found = itemOfInstance.find(object.entry.sopInstanceUid);
      if (found != itemOfInstance.end()) ++deliveredOfItem[found->second];
    }
    if (object.settled == OutboxState::Waiting) ++waiting;
    if (object.settled == OutboxState::Failed) {
      refused.push_back(object.entry.sopInstanceUid + ": " + object.outcome.cause);
    }
  }
  for (size_t item : result.queuedItems) {
    if (deliveredOfItem[item] == objectsOfItem[item]) result.deliveredItems.push_back(item);
  }
  // Everything arrived: a cancel that came too late to hold anything back changes nothing.
  result.success = allQueued && delivered == result.queuedObjects;
  if (result.success) {
    result.message = kSentOkMessage;
    return result;
  }
  if (cancelled) {
    outcome.MarkCancelled();
    lines.push_back(outcome.CancelledText("Send", "put in the outbox"));
  } else if (!allQueued) {
    lines.push_back(kSendFailedMessage);
    if (!outcome.Cause().empty()) lines.push_back(outcome.Cause());
  }
  if (waiting > 0) {
    size_t inOutbox = 0;
    for (const OutboxEntry& entry : outbox.Entries()) {
      if (entry.state == OutboxState::Waiting) ++inOutbox;
    }
    lines.push_back(OutboxWaitMessage(inOutbox));
  }
  if (!refused.empty()) {
    if (allQueued || cancelled) lines.push_back(kSendFailedMessage);
    for (const std::string& line : refused) lines.push_back(line);
  }
  return finish();
}
