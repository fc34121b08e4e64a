// Work that must not freeze the window: run on a thread of its own while events go on.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QPointer>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

// The work that RunBesideEventLoop waits for, and the count of works still running whose waits
// were cancelled (they end on their own, at the latest with their network time-out).
namespace guiwork {

struct Waits {
  // The innermost wait of the GUI thread; CancelWorkBesideEventLoop ends it.
  QEventLoop* innermost = nullptr;
  bool cancelled = false;
};
Waits& CurrentWaits();

// Counts a thread that runs on after its wait was cancelled; the last one to end wakes
// WaitForAbandonedWork.
void AbandonedWorkStarted();
void AbandonedWorkEnded();

}  // namespace guiwork

// Runs `work` on another thread and keeps processing the window's events, the user's input
// included, until it is done; then returns its result. The caller disables what must not be
// pressed meanwhile. CancelWorkBesideEventLoop ends the wait at once: the result is then nullopt
// (a work without result gives true when it ran to its end),
// and the work runs on to its end on its own thread, so it must own what it uses (capture by
// value). Used for the network operations (searches, echo tests) and the printer installation,
// whose handlers read as one sequence of steps.
template <typename Work>
auto RunBesideEventLoop(Work work)
    -> std::optional<std::conditional_t<std::is_void_v<std::invoke_result_t<Work&>>, bool,
                                        std::invoke_result_t<Work&>>> {
  using Result = std::invoke_result_t<Work&>;
  using Stored = std::conditional_t<std::is_void_v<Result>, bool, Result>;
  struct Shared {
    explicit Shared(Work&& w) : work(std::move(w)) {}
    Work work;
    std::optional<Stored> result;
  };
  auto shared = std::make_shared<Shared>(std::move(work));
  QEventLoop loop;
  QPointer<QEventLoop> waiting(&loop);
  guiwork::Waits& waits = guiwork::CurrentWaits();
  QEventLoop* const outer = waits.innermost;
  const bool outerCancelled = waits.cancelled;
  waits.innermost = &loop;
  waits.cancelled = false;
  auto done = std::make_shared<bool>(false);
  std::thread thread([shared, done, waiting] {
    if constexpr (std::is_void_v<Result>) {
      shared->work();
      shared->result = true;
    } else {
      shared->result = shared->work();
    }
    // Queued to the GUI thread: the loop, if still waiting, learns there that the work is done.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [done, waiting] {
          *done = true;
          if (waiting) waiting->quit();
        },
        Qt::QueuedConnection);
  });
  loop.exec();
  const bool cancelled = waits.cancelled && !*done;
  waits.innermost = outer;
  waits.cancelled = outerCancelled;
  if (cancelled) {
    guiwork::AbandonedWorkStarted();
    std::thread([joined = std::move(thread)]() mutable {
      joined.join();
      guiwork::AbandonedWorkEnded();
    }).detach();
    return std::nullopt;
  }
  thread.join();
  return std::move(shared->result);
}

// Ends the innermost RunBesideEventLoop wait (from a handler run inside it); false when none.
bool CancelWorkBesideEventLoop();

// True while the GUI thread waits in RunBesideEventLoop.
bool WaitingBesideEventLoop();

// Waits until the works whose waits were cancelled have ended (at the program's end, so that
// none outlives what it uses).
void WaitForAbandonedWork();
