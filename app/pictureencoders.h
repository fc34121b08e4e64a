// Pictures of a batch encoded on worker threads ahead of the batch, handed back in queue order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "convertimage.h"

class PictureEncoders {
 public:
  // Starts `workers` threads (at least one).
  explicit PictureEncoders(unsigned workers);
  // Drops the pictures not yet taken and waits for the ones being encoded.
  ~PictureEncoders();
  PictureEncoders(const PictureEncoders&) = delete;
  PictureEncoders& operator=(const PictureEncoders&) = delete;

  // Queues the picture at `path` for encoding.
  void Add(std::string path);
  // Pictures queued and not yet taken.
  size_t Queued() const;
  // Pictures a worker has started on (or finished) and nobody has taken yet.
  size_t Started() const;
  // Waits for the oldest queued picture and hands over its result: EncodePictureFile's.
  bool TakeOldest(EncodedPicture& picture, std::string& error);

 private:
  struct Job {
    std::string path;
    bool started = false;
    bool done = false;
    bool ok = false;
    EncodedPicture picture;
    std::string error;
  };

  void Work();

  mutable std::mutex mutex_;
  std::condition_variable jobAdded_;
  std::condition_variable jobDone_;
  std::deque<Job> jobs_;  // oldest first; a job stays until it is taken
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};
