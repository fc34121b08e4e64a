// "Send" through the outbox.
#include "sendoutbox.h"

#include "conversioncontext.h"
#include "send.h"

std::string OutboxWaitMessage(size_t waiting) {
  return "The PACS did not answer: " + std::to_string(waiting) + " object" +
         (waiting == 1 ? "" : "s") + " wait" + (waiting == 1 ? "s" : "") +
         " in the outbox and will be sent when it answers";
}

OutboxSendResult SendPreparedThroughOutbox(const std::vector<std::string>& items, Outbox& outbox,
                                           const PacsTarget& target, OutboxSendMode mode,
                                           const OutboxSendProgress& progress) {
  OutboxSendResult result;
  const std::string batch = BatchUIDRoot;
  const StreamedBatch streamed = ConvertItemsOneByOne(
      items,
      [&](DcmObj& object, size_t, std::string& error) {
        if (!outbox.Add(object, batch, error)) return false;
        ++result.queuedObjects;
        return true;
      },
      progress.queued);
  result.queuedItems = streamed.handed;
  result.skippedItems = streamed.skipped;

  std::vector<std::string> lines;
  if (!streamed.complete) lines.push_back(streamed.message);
  if (mode == OutboxSendMode::QueueOnly) {
    if (streamed.complete) {
      result.success = true;
      result.message = std::to_string(result.queuedObjects) + " objects queued in the outbox";
      return result;
    }
    lines.push_back(kSendFailedMessage);
  } else {
    result.delivery = DeliverOutbox(outbox, target, progress.delivered);
    size_t delivered = 0;
    size_t waiting = 0;
    std::vector<std::string> refused;
    for (const DeliveredObject& object : result.delivery.objects) {
      if (object.entry.batch != batch) continue;
      if (object.settled == OutboxState::Gone) ++delivered;
      if (object.settled == OutboxState::Waiting) ++waiting;
      if (object.settled == OutboxState::Failed) {
        refused.push_back(object.entry.sopInstanceUid + ": " + object.outcome.cause);
      }
    }
    result.success = streamed.complete && delivered == result.queuedObjects;
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
    if (!refused.empty() || !streamed.complete) {
      lines.push_back(kSendFailedMessage);
      for (const std::string& line : refused) lines.push_back(line);
    }
  }
  for (const std::string& line : lines) {
    result.message += (result.message.empty() ? "" : "\n") + line;
  }
  return result;
}
