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

std::string OutboxWaitMessage(size_t waiting) {
  return "The PACS did not answer: " + std::to_string(waiting) + " object" +
         (waiting == 1 ? "" : "s") + " wait" + (waiting == 1 ? "s" : "") +
         " in the outbox and will be sent when it answers";
}

std::string CommitmentWaitMessage(size_t stored, const std::string& cause) {
  return "The PACS stored " + std::to_string(stored) + " object" + (stored == 1 ? "" : "s") +
         " but has not committed " + (stored == 1 ? "it yet: it stays" : "them yet: they stay") +
         " in the outbox until it does" + (cause.empty() ? "" : " (" + cause + ")");
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
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<OutboxEntry> handedOver;
  bool converted = false;
  DeliveryReport streamed;
  std::thread deliverer;
  if (streaming) {
    deliverer = std::thread([&] {
      StreamingDelivery delivery(outbox, target, progress.delivered, items.size());
      while (true) {
        std::unique_lock guard(mutex);
        arrived.wait(guard, [&] { return converted || !handedOver.empty(); });
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
        if (!outbox.Add(object, batch, error, &added, items[item])) {
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
  const bool allQueued = streamedBatch.complete && !streamedBatch.cancelled;
  if (streamedBatch.cancelled) {
    lines.push_back(outcome.CancelledText("Send", "put in the outbox"));
  } else if (!allQueued) {
    lines.push_back(kSendFailedMessage);
    if (!outcome.Cause().empty()) lines.push_back(outcome.Cause());
  }
  if (mode == OutboxSendMode::QueueOnly) {
    if (allQueued) {
      result.success = true;
      result.message = std::to_string(result.queuedObjects) + " objects queued in the outbox";
      return result;
    }
    return finish();
  } else {
    // What waited from before, and what the stream could not settle, goes now, unless the PACS
    // has just not answered or the user cancelled the Send.
    result.delivery = std::move(streamed);
    if (result.delivery.pacsAnswered && !streamedBatch.cancelled) {
      // A Cancel also ends the wait for a storage commitment report.
      std::atomic<bool> stopped{false};
      const std::stop_callback onStop(stop, [&stopped] { stopped = true; });
      DeliveryReport rest =
          DeliverOutboxLocked(*lock, outbox, target, progress.delivered, &stopped);
      result.delivery = MergeDeliveries(std::move(result.delivery), std::move(rest));
    }
    size_t delivered = 0;
    size_t waiting = 0;
    size_t awaitingCommitment = 0;
    std::string commitmentCause;
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
      if (object.settled == OutboxState::Stored) {
        ++awaitingCommitment;
        // The commitment step gives the reason why none came; the store step none.
        if (commitmentCause.empty() && !object.outcome.IsStored()) {
          commitmentCause = object.outcome.cause;
        }
      }
      if (object.settled == OutboxState::Failed) {
        refused.push_back(object.entry.sopInstanceUid + ": " + object.outcome.cause);
      }
    }
    for (size_t item : result.queuedItems) {
      if (deliveredOfItem[item] == objectsOfItem[item]) result.deliveredItems.push_back(item);
    }
    result.success = allQueued && delivered == result.queuedObjects;
    if (result.success) {
      result.message = kSentOkMessage;
      return result;
    }
    if (waiting > 0) {
      size_t inOutbox = 0;
      for (const OutboxEntry& entry : outbox.Entries()) {
        if (entry.state == OutboxState::Waiting) ++inOutbox;
      }
      lines.push_back(OutboxWaitMessage(inOutbox));
    }
    if (awaitingCommitment > 0) {
      lines.push_back(CommitmentWaitMessage(awaitingCommitment, commitmentCause));
    }
    if (!refused.empty()) {
      if (allQueued || streamedBatch.cancelled) lines.push_back(kSendFailedMessage);
      for (const std::string& line : refused) lines.push_back(line);
    }
  }
  return finish();
}
