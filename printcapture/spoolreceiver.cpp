// Moving filed jobs from the spool into the work folder. A job leaves the spool only once its
// copy in the work folder is complete and on the disk, so a crash between the two steps can
// leave it in both places but never in neither.
#include "spoolreceiver.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "appfolders.h"
#include "descriptor.h"
#include "log.h"
#include "peeruser.h"
#include "printerplaces.h"

namespace {

std::string ErrorText() {
  return std::strerror(errno);
}

struct SpooledJob {
  std::string name;
  timespec modified{};
  uid_t owner = 0;
};

}  // namespace

SpoolReceiver::SpoolReceiver(std::filesystem::path userFolder, std::filesystem::path workFolder,
                             ItemList& items, std::chrono::milliseconds pause)
    : userFolder_(std::move(userFolder)),
      workFolder_(std::move(workFolder)),
      items_(items),
      pause_(pause) {}

SpoolReceiver::~SpoolReceiver() {
  Stop();
}

std::filesystem::path SpoolReceiver::Move(int spool, int work, const std::string& name,
                                          std::string& cause) {
  // The same disk: the job is linked into the work folder and keeps its bytes where they are.
  std::string taken = LinkUnderFreeName(spool, name, work, name);
  if (taken.empty() && errno == EXDEV) {
    const std::string part = ".spool-" + name + ".part";
    const Descriptor source(openat(spool, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    const Descriptor copy(openat(work, part.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                 kPrivateFileMode));
    if (!source.valid() || !copy.valid() || !CopyAll(source.get(), copy.get()) ||
        fsync(copy.get()) != 0) {
      cause = ErrorText();
      if (copy.valid()) unlinkat(work, part.c_str(), 0);
      return {};
    }
    taken = LinkUnderFreeName(work, part, work, name);
    unlinkat(work, part.c_str(), 0);
  }
  if (taken.empty()) {
    cause = ErrorText();
    return {};
  }
  fsync(work);
  if (unlinkat(spool, name.c_str(), 0) != 0) {
    // Kept in the spool as well, it would come again at the next look.
    cause = "it cannot be removed from the spool: " + ErrorText();
    unlinkat(work, taken.c_str(), 0);
    return {};
  }
  return workFolder_ / taken;
}

size_t SpoolReceiver::TakeJobs() {
  const std::lock_guard lock(takeMutex_);
  const Descriptor spool(
      open(userFolder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  // No folder yet: the printer application makes it with the user's first job.
  if (!spool.valid()) return 0;
  std::vector<SpooledJob> jobs;
  {
    DIR* listing = fdopendir(dup(spool.get()));
    if (!listing) return 0;
    while (const dirent* entry = readdir(listing)) {
      // Hidden names are jobs still being written.
      if (entry->d_name[0] == '.') continue;
      struct stat status {};
      if (fstatat(spool.get(), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
          !S_ISREG(status.st_mode)) {
        continue;
      }
      jobs.push_back({entry->d_name, status.st_mtim, status.st_uid});
    }
    closedir(listing);
  }
  if (jobs.empty()) return 0;
  std::sort(jobs.begin(), jobs.end(), [](const SpooledJob& a, const SpooledJob& b) {
    if (a.modified.tv_sec != b.modified.tv_sec) return a.modified.tv_sec < b.modified.tv_sec;
    if (a.modified.tv_nsec != b.modified.tv_nsec) return a.modified.tv_nsec < b.modified.tv_nsec;
    return a.name < b.name;
  });
  const Descriptor work(open(workFolder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!work.valid()) {
    Report(workFolder_.string(), "ERROR, SpoolReceiver::TakeJobs, the work folder " +
                                     workFolder_.string() + " cannot be opened: " + ErrorText() +
                                     "; the printed jobs wait in " + userFolder_.string());
    return 0;
  }
  size_t taken = 0;
  for (const SpooledJob& job : jobs) {
    std::string cause;
    const std::filesystem::path path = Move(spool.get(), work.get(), job.name, cause);
    if (path.empty()) {
      Report(job.name, "ERROR, SpoolReceiver::TakeJobs, the printed job " + job.name +
                           " cannot be taken into the work folder " + workFolder_.string() + ": " +
                           cause + "; it waits in " + userFolder_.string());
      continue;
    }
    if (LogLevel.load() > 1) {
      WriteLog("INFO, SpoolReceiver::TakeJobs, job printed by " + UserName(job.owner) +
               " taken from " + (userFolder_ / job.name).string() +
               " into FileName=" + path.string());
    }
    items_.AppendFromThread(path.string());
    ++taken;
  }
  return taken;
}

void SpoolReceiver::Report(const std::string& subject, const std::string& message) {
  // The job is tried again at every look; the log and the user hear of it once.
  const std::lock_guard lock(reportsMutex_);
  if (!reported_.insert(subject).second) return;
  WriteLog(message);
  reports_.push_back(message);
}

std::vector<std::string> SpoolReceiver::TakeReports() {
  const std::lock_guard lock(reportsMutex_);
  return std::exchange(reports_, {});
}

void SpoolReceiver::Start() {
  Stop();
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) return;
  thread_ = std::thread([this] {
    while (true) {
      pollfd stop{stopPipe_[0], POLLIN, 0};
      const int ready = poll(&stop, 1, static_cast<int>(pause_.count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready != 0) break;
      TakeJobs();
    }
  });
}

void SpoolReceiver::Stop() {
  if (thread_.joinable()) {
    const char byte = 1;
    while (write(stopPipe_[1], &byte, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  for (int& handle : stopPipe_) {
    if (handle >= 0) close(handle);
    handle = -1;
  }
}
