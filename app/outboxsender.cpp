// The background delivery of the outbox with its pauses, and the indicator's text.
#include "outboxsender.h"

#include <algorithm>
#include <ctime>

#include "log.h"
#include "outboxworkfiles.h"

namespace {

constexpr std::chrono::seconds kFirstDelay{10};
constexpr std::chrono::seconds kLongestDelay{600};
// Objects queued by another process (velloran-cli) are noticed this often when nothing else
// wakes the thread.
constexpr std::chrono::seconds kIdleLook{30};
// How long the news that waiting objects were stored stays in the status.
constexpr std::chrono::seconds kNewsShown{20};

std::string ClockText(std::chrono::system_clock::time_point when) {
  const std::time_t time = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&time, &local);
  char text[8];
  std::strftime(text, sizeof text, "%H:%M", &local);
  return text;
}

}  // namespace

bool AnythingToDeliver(const OutboxStatus& status) {
  return status.waiting > 0 || status.stored > 0 || !status.waitingElsewhere.empty();
}

std::string OutboxIndicatorText(const OutboxStatus& status) {
  if (!AnythingToDeliver(status) && status.failed == 0) return {};
  std::string text;
  auto add = [&](const std::string& part) { text += (text.empty() ? "" : " \u00b7 ") + part; };
  if (status.waiting > 0) add(std::to_string(status.waiting) + " waiting");
  for (const ArchiveCount& elsewhere : status.waitingElsewhere) {
    add(std::to_string(elsewhere.objects) + " waiting for " + elsewhere.archive);
  }
  if (status.stored > 0) add(std::to_string(status.stored) + " awaiting commitment");
  if (AnythingToDeliver(status)) {
    if (status.delivering) {
      add("sending");
    } else if (status.nextTry) {
      add("next try " + ClockText(*status.nextTry));
    }
    if (!status.cause.empty()) add(status.cause);
  }
  if (status.failed > 0) add(std::to_string(status.failed) + " failed");
  return text;
}

std::string StoredAfterWaitingText(const std::vector<ArchiveCount>& stored) {
  std::string text;
  for (const ArchiveCount& archive : stored) {
    text += (text.empty() ? "" : "\n") + std::to_string(archive.objects) +
            (archive.objects == 1 ? " waiting object was" : " waiting objects were") +
            " stored on " + archive.archive;
  }
  return text;
}

std::chrono::seconds RetryDelay(int rounds) {
  std::chrono::seconds delay = kFirstDelay;
  for (int i = 1; i < rounds && delay < kLongestDelay; ++i) delay *= 2;
  return std::min(delay, kLongestDelay);
}

OutboxSender::OutboxSender(Outbox& outbox, TargetSource target, StatusChanged changed,
                           std::filesystem::path workFolder)
    : outbox_(outbox),
      target_(std::move(target)),
      changed_(std::move(changed)),
      workFolder_(std::move(workFolder)) {}

OutboxSender::~OutboxSender() {
  Stop();
}

void OutboxSender::Start() {
  if (thread_.joinable()) return;
  stop_ = false;
  {
    std::lock_guard lock(mutex_);
    wakeRequested_ = true;
  }
  thread_ = std::thread([this] { Run(); });
}

void OutboxSender::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void OutboxSender::DeliverNow() {
  {
    std::lock_guard lock(mutex_);
    wakeRequested_ = true;
    rounds_ = 0;
  }
  wake_.notify_all();
}

void OutboxSender::NoteDelivery(const DeliveryReport& report) {
  RemoveDeliveredWorkFiles(outbox_, report, workFolder_);
  OutboxStatus status;
  {
    std::lock_guard lock(mutex_);
    Settle(report);
    status = status_;
  }
  wake_.notify_all();
  if (changed_) changed_(status);
}

void OutboxSender::Recount() {
  OutboxStatus status;
  {
    std::lock_guard lock(mutex_);
    Count();
    status = status_;
  }
  if (changed_) changed_(status);
}

bool OutboxSender::CurrentTarget(PacsTarget& target, std::string& problem) const {
  if (!target_) return false;
  return target_(target, problem);
}

OutboxStatus OutboxSender::Status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

void OutboxSender::Count() {
  status_.waiting = 0;
  status_.waitingElsewhere.clear();
  status_.failed = 0;
  status_.stored = 0;
  const std::vector<OutboxEntry> entries = outbox_.Entries();
  PacsTarget current;
  std::string problem;
  // Settings that name no usable PACS: everything waits for them to be put right.
  const bool known = CurrentTarget(current, problem);
  if (known) status_.waitingElsewhere = WaitingElsewhere(entries, current);
  for (const OutboxEntry& entry : entries) {
    if (entry.state == OutboxState::Failed) ++status_.failed;
    if (entry.state == OutboxState::Stored) ++status_.stored;
    if (entry.state == OutboxState::Waiting && (!known || IsForTarget(entry, current))) {
      ++status_.waiting;
    }
  }
  if (!AnythingToDeliver(status_)) {
    status_.nextTry.reset();
    status_.cause.clear();
  }
}

void OutboxSender::Settle(const DeliveryReport& report) {
  if (report.waiting > 0 || report.stored > 0) {
    // Objects that did go show the PACS is back: the next try comes soon again.
    rounds_ = report.delivered > 0 ? 1 : rounds_ + 1;
    status_.nextTry = std::chrono::system_clock::now() + RetryDelay(rounds_);
    status_.cause = report.cause;
  } else {
    rounds_ = 0;
  }
  // The news for the user: objects that had to wait have now arrived.
  status_.storedAfterWaiting.clear();
  for (const DeliveredObject& object : report.objects) {
    if (object.settled != OutboxState::Gone || object.entry.attempts == 0) continue;
    const std::string archive = ArchiveName(object.entry.destination);
    auto found =
        std::find_if(status_.storedAfterWaiting.begin(), status_.storedAfterWaiting.end(),
                     [&](const ArchiveCount& counted) { return counted.archive == archive; });
    if (found == status_.storedAfterWaiting.end()) {
      status_.storedAfterWaiting.push_back({archive, 0});
      found = status_.storedAfterWaiting.end() - 1;
    }
    ++found->objects;
  }
  if (!status_.storedAfterWaiting.empty()) {
    storedAfterWaitingAt_ = std::chrono::steady_clock::now();
    WriteLog("INFO, Outbox, " + StoredAfterWaitingText(status_.storedAfterWaiting));
  }
  Count();
}

void OutboxSender::Run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    const auto due = status_.nextTry.value_or(std::chrono::system_clock::now() + kIdleLook);
    wake_.wait_until(lock, due, [&] {
      return stop_ || wakeRequested_ || std::chrono::system_clock::now() >= due;
    });
    if (stop_) break;
    const bool asked = wakeRequested_;
    wakeRequested_ = false;
    // The news of a delivery is shown for a while, then goes.
    if (!status_.storedAfterWaiting.empty() &&
        std::chrono::steady_clock::now() - storedAfterWaitingAt_ >= kNewsShown) {
      status_.storedAfterWaiting.clear();
    }
    Count();
    const bool dueNow = status_.nextTry && std::chrono::system_clock::now() >= *status_.nextTry;
    // Between planned tries the thread only looks whether something new arrived.
    if (!AnythingToDeliver(status_) || (!asked && status_.nextTry && !dueNow)) {
      if (changed_) {
        const OutboxStatus status = status_;
        lock.unlock();
        changed_(status);
        lock.lock();
      }
      continue;
    }
    status_.delivering = true;
    OutboxStatus status = status_;
    lock.unlock();
    if (changed_) changed_(status);
    DeliveryReport report;
    PacsTarget target;
    std::string problem;
    if (target_(target, problem)) {
      report = DeliverOutbox(outbox_, target, {}, &stop_);
      RemoveDeliveredWorkFiles(outbox_, report, workFolder_);
    } else {
      WriteLog("ERROR, Outbox, " + problem);
      report.waiting = status.waiting;
      report.stored = status.stored;
      report.cause = problem;
    }
    // Each try appends a record per object: the journal is written anew without its history
    // now and then, so a program running for weeks keeps it small.
    std::string compactError;
    if (report.objects.size() > 0) outbox_.Open(compactError);
    lock.lock();
    status_.delivering = false;
    Settle(report);
    status = status_;
    lock.unlock();
    if (changed_) changed_(status);
    lock.lock();
  }
}
