// The pool that draws the strip's tiles.
#include "tileloader.h"

#include <algorithm>

namespace {

bool SameFile(const TileLoader::Job& a, const TileLoader::Job& b) {
  return a.path == b.path && a.stamp == b.stamp;
}

}  // namespace

TileLoader::TileLoader(ThumbnailCache& cache, int threads, Delivery delivery)
    : cache_(cache), delivery_(std::move(delivery)) {
  for (int i = 0; i < std::max(threads, 1); ++i) workers_.emplace_back([this] { Work(); });
}

TileLoader::~TileLoader() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    waiting_.clear();
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void TileLoader::Request(std::vector<Job> jobs) {
  {
    std::lock_guard lock(mutex_);
    waiting_.clear();
    for (Job& job : jobs) {
      const bool drawing = std::any_of(drawing_.begin(), drawing_.end(),
                                       [&job](const Job& other) { return SameFile(job, other); });
      if (!drawing) waiting_.push_back(std::move(job));
    }
  }
  wake_.notify_all();
}

void TileLoader::Cancel() {
  std::lock_guard lock(mutex_);
  waiting_.clear();
}

void TileLoader::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
    if (stopping_) return;
    Job job = std::move(waiting_.front());
    waiting_.pop_front();
    drawing_.push_back(job);
    lock.unlock();

    const QImage tile = DrawTile(job.path);
    // Into the cache before it leaves the drawing list, and out of that list before it is
    // handed over: a redraw in between finds it in the cache, or in the list with its delivery
    // still to come, never in neither.
    cache_.Store(job.path, job.stamp, tile);
    lock.lock();
    drawing_.erase(std::find_if(drawing_.begin(), drawing_.end(),
                                [&job](const Job& other) { return SameFile(job, other); }));
    QMetaObject::invokeMethod(
        &receiver_, [this, job, tile] { delivery_(job, tile); }, Qt::QueuedConnection);
  }
}
