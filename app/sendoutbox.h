// "Send" through the outbox: the items become Part 10 files in the outbox one at a time, then the
// outbox is delivered while the user waits, and what did not go waits there for the PACS.
#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "batch.h"
#include "batchreport.h"
#include "outbox.h"
#include "outboxdelivery.h"
#include "streambatch.h"

// What Send says when `waiting` objects stay in the outbox: the PACS did not answer, or another
// `cause` kept them (an answer that did not confirm them).
UserMessage OutboxWaitMessage(size_t waiting, const std::string& cause = {});

// What Send says when the PACS stored `stored` objects of the batch but has not committed them
// (storage commitment), with the reason when one is known.
UserMessage CommitmentWaitMessage(size_t stored, const std::string& cause);

enum class OutboxSendMode {
  QueueOnly,        // return once the objects are safely in the outbox
  QueueAndDeliver,  // then deliver the outbox and wait for the answers
};

struct OutboxSendProgress {
  ItemProgress queued;         // after each item put into the outbox
  DeliveryProgress delivered;  // after each object delivered (or not)
};

struct OutboxSendResult {
  bool success = false;                // every item was queued and every object of the batch stored
  UserMessage message;                 // what the user is shown
  std::vector<size_t> queuedItems;     // items whose objects are in the outbox: they leave the list
  std::vector<size_t> skippedItems;    // items that gave no object: they stay in the list
  std::vector<size_t> deliveredItems;  // items whose every object the PACS stored in this Send
  size_t queuedObjects = 0;
  DeliveryReport delivery;  // empty for QueueOnly
};

// The part of Send after a successful PrepareBatch. Objects are numbered and named as
// SendPreparedBatch does and carry the batch UID root in the outbox. An item that gives no object
// (another kind, no text, a failed conversion) stays in the list and is named with its reason;
// the others go on. The message is "Images sent OK" when everything arrived; OutboxWaitMessage
// when the PACS did not answer; "ERROR Sending Images, please check Log file" with the first
// cause under it and one line per object the PACS refused (they stay in the outbox as failed);
// then "2 of 7 items were not sent: ..." naming the items that gave no object. Once `stop` is
// requested the item in hand is finished and queued, nothing more is converted, and what is in
// the outbox is left to the outbox's own deliveries. `report`, when given, tells what became of
// each item, an item counting as done once its objects are safely in the outbox.
OutboxSendResult SendPreparedThroughOutbox(const std::vector<std::string>& items, Outbox& outbox,
                                           const PacsTarget& target, OutboxSendMode mode,
                                           const OutboxSendProgress& progress = {},
                                           std::stop_token stop = {},
                                           BatchReport* report = nullptr);
