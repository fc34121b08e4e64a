// Picture encoding on worker threads: each worker takes the oldest picture nobody has started.
#include "pictureencoders.h"

#include <exception>
#include <utility>

PictureEncoders::PictureEncoders(unsigned workers) {
  if (workers == 0) workers = 1;
  threads_.reserve(workers);
  for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { Work(); });
}

PictureEncoders::~PictureEncoders() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  jobAdded_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void PictureEncoders::Add(std::string path) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(Job{.path = std::move(path)});
  }
  jobAdded_.notify_one();
}

size_t PictureEncoders::Queued() const {
  std::lock_guard lock(mutex_);
  return jobs_.size();
}

size_t PictureEncoders::Started() const {
  std::lock_guard lock(mutex_);
  size_t started = 0;
  for (const Job& job : jobs_) started += job.started ? 1 : 0;
  return started;
}

bool PictureEncoders::TakeOldest(EncodedPicture& picture, std::string& error) {
  std::unique_lock lock(mutex_);
  if (jobs_.empty()) {
    error = "internal error: no picture queued";
    return false;
  }
  jobDone_.wait(lock, [this] { return jobs_.front().done; });
  Job job = std::move(jobs_.front());
  jobs_.pop_front();
  picture = std::move(job.picture);
  error = std::move(job.error);
  return job.ok;
}

void PictureEncoders::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    Job* job = nullptr;
    jobAdded_.wait(lock, [&] {
      if (stopping_) return true;
      for (Job& candidate : jobs_) {
        if (!candidate.started) {
          job = &candidate;
          return true;
        }
      }
      return false;
    });
    if (stopping_) return;
    job->started = true;
    // Only the taker removes jobs, and only finished ones, so `job` stays valid meanwhile.
    const std::string path = job->path;
    lock.unlock();
    EncodedPicture picture;
    std::string error;
    bool ok = false;
    try {
      ok = EncodePictureFile(path, picture, error);
    } catch (const std::exception& exception) {
      // An exception must not end the worker (and the program); the batch reports the picture.
      error = "Cannot convert picture \"" + path + "\": " + exception.what();
    }
    lock.lock();
    job->picture = std::move(picture);
    job->error = std::move(error);
    job->ok = ok;
    job->done = true;
    jobDone_.notify_all();
  }
}
