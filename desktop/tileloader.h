// The strip's tiles drawn away from the GUI thread: a small pool of threads that lives as long
// as the window, takes the work in the order it was asked for and hands each tile back to the
// GUI thread.
#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "thumbnails.h"

class TileLoader {
 public:
  struct Job {
    std::string path;
    FileStamp stamp;  // as the file was when the tile was asked for
  };
  // Called on the GUI thread for each tile drawn, after it went into the cache.
  using Delivery = std::function<void(const Job& job, const QImage& tile)>;

  // Made on the GUI thread; `threads` workers at most (at least one).
  TileLoader(ThumbnailCache& cache, int threads, Delivery delivery);
  // Drops the waiting work and waits for the tiles being drawn; nothing is delivered after it.
  ~TileLoader();
  TileLoader(const TileLoader&) = delete;
  TileLoader& operator=(const TileLoader&) = delete;

  // Replaces the waiting work by `jobs`, drawn in this order. A tile being drawn for the same
  // file as it is now is not drawn a second time; it is delivered when done.
  void Request(std::vector<Job> jobs);
  // Drops the waiting work (the tiles being drawn are still delivered).
  void Cancel();

 private:
  void Work();

  ThumbnailCache& cache_;
  Delivery delivery_;
  // Deliveries run in the GUI thread through this object's event queue; destroying it drops
  // those not yet run.
  QObject receiver_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> waiting_;
  std::vector<Job> drawing_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};
