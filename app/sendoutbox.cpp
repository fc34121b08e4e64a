// "Send" through the outbox.
#include "sendoutbox.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "conversioncontext.h"
#include "dicomfile.h"
#include "send.h"

namespace {

// Puts the objects of a Send into the outbox in groups and, over DICOM, delivers them. The
// conversion stages each object (its file written, not yet flushed to disk); one thread commits
// whatever was staged since its last turn, with one flush of the folder and one of the journal for
// the whole group (its files flushed all at once), and hands the group to a second thread that
// delivers it on the association it holds. Converting, flushing and delivering thus overlap: the
// next group is committed while the last one is delivered, the disk's flushes are shared by as many
// objects as were made meanwhile, and an object counts as queued, is shown as queued and is
// delivered only once its group is committed. Once the user cancels, what was staged is still
// committed but nothing more is delivered after the object in flight: the rest waits in the
// outbox for its own deliveries.
// A large object (a video) is written into the outbox while it is sent, rather than written,
// flushed and then read again to be sent: the delivery writes it and hands each piece to the PACS
// as it goes, and sends the last piece once the object is committed, so the PACS never holds an
// object the outbox does not. See OutboxPipeline::WriteWhileSending.
// Objects whose DICOM file is at least this long are written while they are sent.
constexpr uint64_t kWrittenWhileSent = 16 << 20;

class OutboxPipeline {
 public:
  // A large object on its way from the conversion, which waits, to the outbox and the PACS.
  struct LargeObject {
    DcmObj& object;
    const OutboxEnvelope envelope;
    bool done = false;  // written and committed, or failed
    bool committed = false;
    OutboxEntry entry;
    std::string error;
  };

  struct Committed {
    OutboxEntry entry;
    size_t item = 0;
    // Until it is committed: the large object this place is kept for (its entry comes then).
    LargeObject* large = nullptr;
  };

  enum class Written { Committed, Failed, NotDelivering };

  OutboxPipeline(Outbox& outbox, const PacsTarget& target, bool deliver,
                 const OutboxSendProgress& progress, size_t items, std::stop_token stop)
      : outbox_(outbox),
        target_(target),
        progress_(Serialized(progress)),
        items_(items),
        stop_(std::move(stop)),
        committer_([this] { Commit(); }) {
    if (deliver) {
      delivering_ = true;
      deliverer_ = std::thread([this] { Deliver(); });
    }
  }
  ~OutboxPipeline() { Finish(); }
  OutboxPipeline(const OutboxPipeline&) = delete;
  OutboxPipeline& operator=(const OutboxPipeline&) = delete;

  // From the conversion: an object staged for `item`. It is committed (or its file deleted) in
  // any case; false, with the reason, once a commit failed: the conversion stops there, as it
  // would when an object cannot be written.
  bool Staged(OutboxEntry entry, size_t item, std::string& error) {
    std::lock_guard guard(mutex_);
    staged_.push_back({std::move(entry), item});
    ++stagedCount_;
    toCommit_.notify_one();
    error = error_;
    return error_.empty();
  }

  // From the conversion: a large object for `item`, written into the outbox by the delivery while
  // it is sent, after every object staged before it. Returns once the object is committed
  // (`entry`) or could not be (Failed, with the reason); NotDelivering, with nothing done, when no
  // delivery runs (any more): the caller stages it.
  Written WriteWhileSending(DcmObj& object, size_t item, const OutboxEnvelope& envelope,
                            OutboxEntry& entry, std::string& error) {
    LargeObject large{object, envelope};
    std::unique_lock guard(mutex_);
    if (!delivering_) return Written::NotDelivering;
    if (!error_.empty()) {
      error = error_;
      return Written::Failed;
    }
    staged_.push_back({OutboxEntry{}, item, &large});
    ++stagedCount_;
    toCommit_.notify_one();
    largeDone_.wait(guard, [&] { return large.done; });
    if (!large.committed) {
      error = large.error;
      return Written::Failed;
    }
    entry = large.entry;
    return Written::Committed;
  }

  // From the conversion: `done` items converted; shown once what they gave is committed.
  void ItemsDone(size_t done) {
    std::lock_guard guard(mutex_);
    milestones_.push_back({done, stagedCount_});
  }

  // Commits what is left, ends the delivery and waits for both threads.
  void Finish() {
    {
      std::lock_guard guard(mutex_);
      converted_ = true;
    }
    toCommit_.notify_one();
    if (committer_.joinable()) committer_.join();
    if (deliverer_.joinable()) deliverer_.join();
  }

  // After Finish: the objects in the outbox, in the order they were staged, the first commit
  // failure, what the delivery did and whether the cancel left committed objects undelivered.
  const std::vector<Committed>& CommittedObjects() const { return committed_; }
  const std::string& Error() const { return error_; }
  DeliveryReport& Delivery() { return delivery_; }
  bool CutShort() const { return cutShort_; }

 private:
  struct Milestone {
    size_t done;    // items converted
    size_t staged;  // objects staged by then
  };

  // The two threads report progress each on its own; the caller's callbacks are called one at a
  // time all the same.
  OutboxSendProgress Serialized(const OutboxSendProgress& progress) {
    OutboxSendProgress serialized;
    if (progress.queued) {
      serialized.queued = [this, queued = progress.queued](size_t done, size_t total) {
        std::lock_guard guard(progressMutex_);
        queued(done, total);
      };
    }
    if (progress.delivered) {
      serialized.delivered = [this, delivered = progress.delivered](const DeliveredObject& object,
                                                                    size_t index, size_t total) {
        std::lock_guard guard(progressMutex_);
        delivered(object, index, total);
      };
    }
    return serialized;
  }

  void Commit() {
    while (true) {
      std::vector<Committed> group;
      size_t groupEnd = 0;
      {
        std::unique_lock guard(mutex_);
        toCommit_.wait(guard, [&] { return converted_ || !staged_.empty(); });
        if (staged_.empty()) break;
        group.swap(staged_);
        groupEnd = stagedCount_;
      }
      std::vector<OutboxEntry> entries;
      for (const Committed& object : group) {
        if (object.large == nullptr) entries.push_back(object.entry);
      }
      std::string error;
      const bool committed = entries.empty() || outbox_.Commit(entries, error);
      std::vector<Committed> unsent;  // large objects nobody delivers any more
      {
        std::lock_guard guard(mutex_);
        if (!committed && error_.empty()) error_ = error;
        // Commit keeps the order and leaves out only what it could not put in.
        size_t next = 0;
        for (Committed& object : group) {
          if (object.large != nullptr) {
            // It takes its place in the delivery's order; the delivery writes it.
            if (delivering_) {
              committed_.push_back(std::move(object));
            } else {
              unsent.push_back(std::move(object));
            }
          } else if (next < entries.size() && entries[next].file == object.entry.file) {
            committed_.push_back(std::move(object));
            ++next;
          }
        }
      }
      toDeliver_.notify_one();
      for (Committed& object : unsent) WriteLarge(*object.large, object.item, kNotInPlace, {});
      ShowQueued(groupEnd);
    }
    ShowQueued(SIZE_MAX);
    {
      std::lock_guard guard(mutex_);
      allCommitted_ = true;
    }
    toDeliver_.notify_one();
  }

  void Deliver() {
    StreamingDelivery delivery(outbox_, target_, progress_.delivered, items_);
    std::vector<Committed> unsent;  // large objects to write without sending, after a cancel
    while (true) {
      Committed object;
      size_t place = 0;
      {
        std::unique_lock guard(mutex_);
        toDeliver_.wait(guard, [&] { return allCommitted_ || next_ < committed_.size(); });
        if (next_ == committed_.size()) {
          delivering_ = false;
          break;
        }
        if (stop_.stop_requested()) {
          cutShort_ = true;
          // From now on the committer writes the large objects itself; those already here are
          // written below. Nothing more is sent.
          delivering_ = false;
          for (size_t i = next_; i < committed_.size(); ++i) {
            if (committed_[i].large != nullptr) unsent.push_back(committed_[i]);
          }
          break;
        }
        place = next_++;
        object = committed_[place];
      }
      if (object.large == nullptr) {
        delivery.Deliver(object.entry);
        continue;
      }
      const DcmObj& large = object.large->object;
      delivery.DeliverWhileWriting(
          large.GetString(0x0008, 0x0016), large.GetString(0x0008, 0x0018), large.transferSyntax,
          [&](const PieceSink& alsoSend, OutboxEntry& written) {
            return WriteLarge(*object.large, object.item, place, alsoSend, &written);
          });
    }
    for (const Committed& object : unsent) WriteLarge(*object.large, object.item, kInPlace, {});
    delivery_ = delivery.Finish();
  }

  // Where the place of a large object in `committed_` is: its index, already there (found by its
  // pointer), or not yet there.
  static constexpr size_t kInPlace = SIZE_MAX - 1;
  static constexpr size_t kNotInPlace = SIZE_MAX;

  // Writes a large object into the outbox and commits it, handing its pieces to `alsoSend` when
  // given; then fills in its place in `committed_` (taking one when it has none) or, when it could
  // not be put in, gives its place up, and lets the conversion go on. True when it is committed.
  bool WriteLarge(LargeObject& large, size_t item, size_t place, const PieceSink& alsoSend,
                  OutboxEntry* written = nullptr) {
    OutboxEntry entry;
    std::string error;
    bool committed = outbox_.Stage(large.object, large.envelope, entry, error, alsoSend);
    if (committed) {
      std::vector<OutboxEntry> one = {entry};
      committed = outbox_.Commit(one, error);
    }
    if (written != nullptr) *written = entry;
    {
      std::lock_guard guard(mutex_);
      if (place == kInPlace) {
        for (size_t i = 0; i < committed_.size(); ++i) {
          if (committed_[i].large == &large) place = i;
        }
      }
      if (place < committed_.size()) {
        if (committed) {
          committed_[place].entry = entry;
          committed_[place].large = nullptr;
        } else {
          committed_.erase(committed_.begin() + static_cast<std::ptrdiff_t>(place));
          if (next_ > place) --next_;
        }
      } else if (committed) {
        committed_.push_back({entry, item});
      }
      large.done = true;
      large.committed = committed;
      large.entry = entry;
      large.error = error;
    }
    // The conversion goes on, and `large` goes with it.
    largeDone_.notify_all();
    return committed;
  }

  // Shows the last milestone whose objects are all committed (`committed` staged objects are).
  void ShowQueued(size_t committed) {
    size_t done = 0;
    {
      std::lock_guard guard(mutex_);
      while (shown_ < milestones_.size() && milestones_[shown_].staged <= committed) {
        done = milestones_[shown_].done;
        ++shown_;
      }
    }
    if (done > 0 && progress_.queued) progress_.queued(done, items_);
  }

  Outbox& outbox_;
  const PacsTarget& target_;
  std::mutex progressMutex_;
  const OutboxSendProgress progress_;
  const size_t items_;
  const std::stop_token stop_;
  std::mutex mutex_;
  std::condition_variable toCommit_;   // something was staged, or the conversion ended
  std::condition_variable toDeliver_;  // something was committed, or everything was
  std::condition_variable largeDone_;  // a large object was committed, or could not be
  std::vector<Committed> staged_;      // staged, not yet committed
  size_t stagedCount_ = 0;
  bool converted_ = false;
  std::vector<Milestone> milestones_;
  size_t shown_ = 0;                  // milestones shown
  std::vector<Committed> committed_;  // grows only; read by the deliverer under the mutex
  bool allCommitted_ = false;
  bool delivering_ = false;  // a delivery takes the committed objects
  size_t next_ = 0;          // the first committed object it has not taken
  std::string error_;
  DeliveryReport delivery_;
  bool cutShort_ = false;
  std::thread committer_;  // the threads come last: they start once everything above is ready
  std::thread deliverer_;
};

}  // namespace

UserMessage OutboxWaitMessage(size_t waiting, const std::string& cause) {
  const UserMessage count = UserMessage::Number(static_cast<long long>(waiting));
  if (cause.empty() || cause == kPacsDidNotAnswer) {
    return UserMessage(UserMessageKind::OutboxWaiting, {count});
  }
  return UserMessage(UserMessageKind::OutboxWaitingBecause, {count, UserMessage::Text(cause)});
}

UserMessage CommitmentWaitMessage(size_t stored, const std::string& cause) {
  const UserMessage count = UserMessage::Number(static_cast<long long>(stored));
  if (cause.empty()) return UserMessage(UserMessageKind::CommitmentWaiting, {count});
  return UserMessage(UserMessageKind::CommitmentWaitingBecause, {count, UserMessage::Text(cause)});
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
  // Each object carries where it goes: a later delivery sends it there and nowhere else.
  OutboxEnvelope envelope{batch, {}, DestinationOf(target), target.commit};
  const bool streaming = mode == OutboxSendMode::QueueAndDeliver && !target.useWeb;
  // While Send waits for its batch nobody else delivers this outbox: an object is never sent by
  // two deliveries at once, nor settled behind the other's back.
  std::optional<OutboxDeliveryLock> lock;
  if (mode == OutboxSendMode::QueueAndDeliver) lock.emplace(outbox);
  // Over DICOM the objects go out while the batch is still being converted.
  OutboxPipeline pipeline(outbox, target, streaming, progress, items.size(), stop);
  // Every object staged, with its item, for the report once the thread is done.
  std::vector<std::pair<std::string, size_t>> staged;
  const StreamedBatch batchConverted = ConvertItemsOneByOne(
      items,
      [&](DcmObj& object, size_t item, std::string& error) {
        OutboxEntry entry;
        envelope.source = items[item];
        // The item's reason is the end of the message: "the disk is full".
        auto notWritten = [&] {
          const size_t said = error.rfind(": ");
          outcome.ObjectDone(
              object, false,
              UserMessage::Text(said == std::string::npos ? error : error.substr(said + 2)));
          return false;
        };
        if (streaming && Part10Size(object) >= kWrittenWhileSent) {
          switch (pipeline.WriteWhileSending(object, item, envelope, entry, error)) {
            case OutboxPipeline::Written::Committed:
              staged.emplace_back(entry.sopInstanceUid, item);
              ++objectsOfItem[item];
              return true;
            case OutboxPipeline::Written::Failed:
              return notWritten();
            case OutboxPipeline::Written::NotDelivering:
              break;
          }
        }
        if (!outbox.Stage(object, envelope, entry, error)) return notWritten();
        staged.emplace_back(entry.sopInstanceUid, item);
        ++objectsOfItem[item];
        return pipeline.Staged(std::move(entry), item, error);
      },
      [&](size_t done, size_t) { pipeline.ItemsDone(done); }, stop, &outcome);
  pipeline.Finish();
  // Safely in the outbox: an item whose every object is may leave the list whatever the PACS says
  // later.
  std::vector<size_t> committedOfItem(items.size(), 0);
  for (const OutboxPipeline::Committed& object : pipeline.CommittedObjects()) {
    itemOfInstance[object.entry.sopInstanceUid] = object.item;
    ++committedOfItem[object.item];
  }
  for (const auto& [sopInstanceUid, item] : staged) {
    DcmObj done;
    done.AddString(0x0008, 0x0018, sopInstanceUid);
    outcome.ObjectDone(done, itemOfInstance.count(sopInstanceUid) > 0);
  }
  result.queuedObjects = pipeline.CommittedObjects().size();
  if (!pipeline.Error().empty()) outcome.SetCause(pipeline.Error());
  const bool cutShort = pipeline.CutShort();
  DeliveryReport streamed = std::move(pipeline.Delivery());
  const StreamedBatch& streamedBatch = batchConverted;
  for (size_t item : streamedBatch.handed) {
    if (committedOfItem[item] == objectsOfItem[item]) result.queuedItems.push_back(item);
  }
  result.skippedItems = streamedBatch.skipped;
  std::vector<UserMessage> lines;
  // The items that gave no object, named with their reasons, close the message.
  auto finish = [&] {
    lines.push_back(outcome.NotDelivered(DoneAs::Sent));
    result.message = UserMessage::Lines(std::move(lines));
    return result;
  };
  const bool allQueued = streamedBatch.complete && pipeline.Error().empty();
  if (mode == OutboxSendMode::QueueOnly) {
    if (allQueued) {
      result.success = true;
      result.message =
          UserMessage(UserMessageKind::ObjectsQueued,
                      {UserMessage::Number(static_cast<long long>(result.queuedObjects))});
      return result;
    }
    if (streamedBatch.cancelled) {
      lines.push_back(outcome.Cancelled(DoneAs::Queued));
    } else {
      lines.push_back(kSendFailedMessage);
      lines.push_back(outcome.Cause());
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
  std::string waitCause;
  size_t awaitingCommitment = 0;
  std::string commitmentCause;
  std::vector<UserMessage> refused;
  std::vector<size_t> deliveredOfItem(items.size(), 0);
  for (const DeliveredObject& object : result.delivery.objects) {
    if (object.entry.batch != batch) continue;
    if (object.settled == OutboxState::Gone) {
      ++delivered;
      const auto found = itemOfInstance.find(object.entry.sopInstanceUid);
      if (found != itemOfInstance.end()) ++deliveredOfItem[found->second];
    }
    if (object.settled == OutboxState::Waiting) {
      ++waiting;
      if (waitCause.empty()) waitCause = object.outcome.cause;
    }
    if (object.settled == OutboxState::Stored) {
      ++awaitingCommitment;
      // The commitment step gives the reason why none came; the store step none.
      if (commitmentCause.empty() && !object.outcome.IsStored()) {
        commitmentCause = object.outcome.cause;
      }
    }
    if (object.settled == OutboxState::Failed) {
      refused.push_back(UserMessage(UserMessageKind::NamedCause,
                                    {UserMessage::Text(OutboxObjectName(object.entry)),
                                     UserMessage::Text(object.outcome.cause)}));
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
    lines.push_back(outcome.Cancelled(DoneAs::Queued));
  } else if (!allQueued) {
    lines.push_back(kSendFailedMessage);
    lines.push_back(outcome.Cause());
  }
  if (waiting > 0) {
    // Everything that waits for this PACS goes when it answers, not only this batch.
    size_t inOutbox = 0;
    for (const OutboxEntry& entry : outbox.Entries()) {
      if (entry.state == OutboxState::Waiting && IsForTarget(entry, target)) ++inOutbox;
    }
    lines.push_back(OutboxWaitMessage(std::max(inOutbox, waiting),
                                      result.delivery.pacsAnswered ? waitCause : std::string()));
  }
  if (awaitingCommitment > 0) {
    lines.push_back(CommitmentWaitMessage(awaitingCommitment, commitmentCause));
  }
  if (!refused.empty()) {
    if (allQueued || cancelled) lines.push_back(kSendFailedMessage);
    for (UserMessage& line : refused) lines.push_back(std::move(line));
  }
  return finish();
}
