// The thread that delivers the outbox in the background, retrying with a growing pause while the
// PACS does not answer, and what the window's outbox indicator says.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "outbox.h"
#include "outboxdelivery.h"
#include "usermessage.h"

struct OutboxStatus {
  size_t waiting = 0;  // for the PACS of the settings
  // Waiting for another PACS they were queued for, each: "3 waiting for RESEARCH at 10.0.0.9:104".
  std::vector<ArchiveCount> waitingElsewhere;
  // Objects that had waited and were stored by the last delivery, by the PACS's name: the window
  // tells the user ("3 waiting objects were stored on PACSAET"). Cleared a little later.
  std::vector<ArchiveCount> storedAfterWaiting;
  size_t failed = 0;
  size_t stored = 0;  // stored on the PACS, its commitment still awaited
  bool delivering = false;
  // When the next delivery starts; unset when none is planned (nothing waits or awaits
  // commitment).
  std::optional<std::chrono::system_clock::time_point> nextTry;
  std::string cause;  // why objects still wait after the last delivery
};

// "3 waiting · next try 14:05 · PACS did not answer", with "· 1 failed" when objects failed,
// "2 awaiting commitment" for objects stored whose commitment the PACS has not reported and
// "4 waiting for RESEARCH at 10.0.0.9:104" for objects queued for another PACS; led for a while
// by the news "3 waiting objects were stored on PACSAET" when objects that had waited arrived.
// Empty when there is nothing to say.
UserMessage OutboxIndicatorMessage(const OutboxStatus& status);
// The same in English.
std::string OutboxIndicatorText(const OutboxStatus& status);

// "3 waiting objects were stored on PACSAET", one part per PACS.
UserMessage StoredAfterWaitingMessage(const std::vector<ArchiveCount>& stored);

// Whether anything waits for a delivery: objects for any PACS, or awaiting commitment.
bool AnythingToDeliver(const OutboxStatus& status);

// The pause after `rounds` deliveries in a row that left objects waiting: 10 s, doubling up to
// 10 minutes.
std::chrono::seconds RetryDelay(int rounds);

class OutboxSender {
 public:
  // The PACS for the next delivery, read anew each time (the settings may have changed); false,
  // with the problem, when the settings name no usable PACS.
  using TargetSource = std::function<bool(PacsTarget& target, std::string& problem)>;
  // Called on the sender's thread whenever the status changed.
  using StatusChanged = std::function<void(const OutboxStatus& status)>;

  // `workFolder`, when given, is the program's own work folder: a file in it that objects were
  // made from is deleted once they have all been delivered (by this thread or by a Send).
  OutboxSender(Outbox& outbox, TargetSource target, StatusChanged changed = {},
               std::filesystem::path workFolder = {});
  ~OutboxSender();
  OutboxSender(const OutboxSender&) = delete;
  OutboxSender& operator=(const OutboxSender&) = delete;

  // Starts the thread; what waits from an earlier run is delivered at once.
  void Start();
  // Ends a running delivery between objects and the thread.
  void Stop();
  // Delivers now, whatever pause was planned ("Retry now", objects just queued).
  void DeliverNow();
  // Takes in a delivery made by someone else (a Send that waited for its objects), so the pause
  // before the next try follows it.
  void NoteDelivery(const DeliveryReport& report);

  // Counts the outbox anew (objects removed or queued elsewhere) and reports the status.
  void Recount();

  OutboxStatus Status() const;

  // The PACS the next delivery goes to, as the settings now name it; false, with the problem,
  // when they name no usable one.
  bool CurrentTarget(PacsTarget& target, std::string& problem) const;

 private:
  void Run();
  void Settle(const DeliveryReport& report);  // with mutex_ held
  void Count();                               // with mutex_ held

  Outbox& outbox_;
  TargetSource target_;
  StatusChanged changed_;
  std::filesystem::path workFolder_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool wakeRequested_ = false;
  std::atomic<bool> stop_{false};
  int rounds_ = 0;  // deliveries in a row that left objects waiting
  std::chrono::steady_clock::time_point storedAfterWaitingAt_;
  OutboxStatus status_;
  std::thread thread_;
};
