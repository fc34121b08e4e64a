// Work that must not freeze the window: run on a thread of its own while events go on.
#pragma once

#include <QEventLoop>
#include <QMetaObject>
#include <thread>
#include <type_traits>
#include <utility>

// Runs `work` on another thread and keeps processing the window's events until it is done, then
// returns its result. Used for the short network operations (searches, echo tests) whose
// handlers read as one sequence of steps.
template <typename Work>
auto RunBesideEventLoop(Work&& work) -> std::invoke_result_t<Work&> {
  using Result = std::invoke_result_t<Work&>;
  QEventLoop loop;
  if constexpr (std::is_void_v<Result>) {
    std::thread thread([&] {
      work();
      QMetaObject::invokeMethod(
          &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread.join();
  } else {
    Result result{};
    std::thread thread([&] {
      result = work();
      QMetaObject::invokeMethod(
          &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread.join();
    return result;
  }
}
