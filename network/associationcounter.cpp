// The association counter: one atomic value shared by every association of the process.
#include "associationcounter.h"

#include <atomic>

namespace {

// Several associations may run on different threads, so every step is one atomic update.
std::atomic<uint32_t> associationCounter{1};

// Takes the counter's value (first made odd when `odd` is set) and leaves it one higher.
uint32_t TakeCounter(bool odd) {
  uint32_t current = associationCounter.load();
  uint32_t taken;
  do {
    taken = (odd && current % 2 == 0) ? current + 1 : current;
  } while (!associationCounter.compare_exchange_weak(current, taken + 1));
  return taken;
}

}  // namespace

void ResetCounter() {
  associationCounter.store(1);
}
uint8_t NextContextID() {
  return static_cast<uint8_t>(TakeCounter(true));
}
uint8_t NextAcceptID() {
  return static_cast<uint8_t>(TakeCounter(false));
}
uint16_t NextMessageID() {
  return static_cast<uint16_t>(TakeCounter(true));
}
