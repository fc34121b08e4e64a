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
  // The innermost wait of the GUI thread; CancelWorkBesideEventLoop ends it when it may stop.
  QEventLoop* innermost = nullptr;
  bool stoppable = false;
  bool cancelled = false;
};
Waits& CurrentWaits();

// Counts a thread that runs on after its wait was cancelled; the last one to end wakes
// WaitForAbandonedWork.
void AbandonedWorkStarted();
void AbandonedWorkEnded();

}  // namespace guiwork

template <typename Work>
using WorkResult = std::conditional_t<std::is_void_v<std::invoke_result_t<Work&>>, bool,
                                      std::invoke_result_t<Work&>>;

namespace guiwork {

// Runs `work` on its own thread while the GUI thread's events go on; nullopt when a stoppable
// wait was stopped (the work then runs on to its end on its own).
template <typename Work>
std::optional<WorkResult<Work>> Run(Work work, bool stoppable) {
  using Result = std::invoke_result_t<Work&>;
  struct Shared {
    explicit Shared(Work&& w) : work(std::move(w)) {}
    Work work;
    std::optional<WorkResult<Work>> result;
  };
  auto shared = std::make_shared<Shared>(std::move(work));
  QEventLoop loop;
  QPointer<QEventLoop> waiting(&loop);
  Waits& waits = CurrentWaits();
  const Waits outer = waits;
  waits = Waits{&loop, stoppable, false};
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
  waits = outer;
  if (cancelled) {
    AbandonedWorkStarted();
    std::thread([joined = std::move(thread)]() mutable {
      joined.join();
      AbandonedWorkEnded();
    }).detach();
    return std::nullopt;
  }
  thread.join();
  return std::move(shared->result);
}

}  // namespace guiwork

// Runs `work` on another thread and keeps processing the window's events, the user's input
// included, until it is done; then returns its result. The caller disables what must not be
// pressed meanwhile. Used for work whose handler reads as one sequence of steps.
template <typename Work>
std::invoke_result_t<Work&> RunBesideEventLoop(Work work) {
  [[maybe_unused]] auto result = guiwork::Run(std::move(work), false);
  if constexpr (!std::is_void_v<std::invoke_result_t<Work&>>) return std::move(*result);
}

// The same for work the user may stop (searches, echo tests, the printer installation):
// CancelWorkBesideEventLoop ends the wait at once and the result is nullopt (a work without
// result gives true when it ran to its end). The work runs on to its end on its own thread, so it
// must own what it uses: capture by value.
template <typename Work>
std::optional<WorkResult<Work>> RunStoppableBesideEventLoop(Work work) {
  return guiwork::Run(std::move(work), true);
}

// Ends the innermost wait of RunStoppableBesideEventLoop (from a handler run inside it); false
// when none runs or the innermost wait may not be stopped.
bool CancelWorkBesideEventLoop();

// True while the GUI thread waits in either of them.
bool WaitingBesideEventLoop();

// Waits until the works whose waits were cancelled have ended (at the program's end, so that
// none outlives what it uses).
void WaitForAbandonedWork();
