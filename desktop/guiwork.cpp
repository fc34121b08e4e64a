// The bookkeeping of RunBesideEventLoop: the innermost wait and the works left running.
#include "guiwork.h"

#include <condition_variable>
#include <mutex>

namespace {

std::mutex abandonedMutex;
std::condition_variable abandonedEnded;
int abandonedRunning = 0;

}  // namespace

namespace guiwork {

Waits& CurrentWaits() {
  static Waits waits;
  return waits;
}

void AbandonedWorkStarted() {
  const std::lock_guard lock(abandonedMutex);
  ++abandonedRunning;
}

void AbandonedWorkEnded() {
  const std::lock_guard lock(abandonedMutex);
  if (--abandonedRunning == 0) abandonedEnded.notify_all();
}

}  // namespace guiwork

bool CancelWorkBesideEventLoop() {
  guiwork::Waits& waits = guiwork::CurrentWaits();
  if (waits.innermost == nullptr || !waits.stoppable || waits.cancelled) return false;
  waits.cancelled = true;
  waits.innermost->quit();
  return true;
}

bool WaitingBesideEventLoop() {
  return guiwork::CurrentWaits().innermost != nullptr;
}

void WaitForAbandonedWork() {
  std::unique_lock lock(abandonedMutex);
  abandonedEnded.wait(lock, [] { return abandonedRunning == 0; });
}
