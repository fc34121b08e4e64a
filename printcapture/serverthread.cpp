// Receiving print jobs. A job is streamed into a hidden part file in the work folder while it
// arrives, so memory stays small whatever its size, and gets its final name once it is complete.
#include "serverthread.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>
#include <utility>

#include "appfolders.h"
#include "log.h"
#include "pdfconversion.h"
#include "printqueue.h"

namespace {

// The document name shapes the PDF file name; a very long title must not make it too long for
// the file system.
constexpr size_t kMaxDocumentName = 200;

bool Debugging() {
  return LogLevel.load() > 1;
}

void Signal(int handle) {
  const char byte = 1;
  while (write(handle, &byte, 1) < 0 && errno == EINTR) {
  }
}

void ClosePipe(int (&handles)[2]) {
  for (int& handle : handles) {
    if (handle >= 0) close(handle);
    handle = -1;
  }
}

std::filesystem::path NewPartFile(const std::filesystem::path& workFolder) {
  static std::atomic<unsigned> sequence{0};
  return workFolder /
         (".job-" + std::to_string(getpid()) + "-" + std::to_string(++sequence) + ".part");
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

// A job on its way into the work folder.
class PartFile {
 public:
  explicit PartFile(const std::filesystem::path& workFolder) : path_(NewPartFile(workFolder)) {
    // A job is the user's alone, whatever the umask; a name already taken is never written.
    const int handle =
        open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivateFileMode);
    if (handle >= 0) file_ = fdopen(handle, "wb");
    if (!file_) {
      error_ = ErrorText(errno);
      if (handle >= 0) close(handle);
    }
  }
  ~PartFile() {
    if (file_) std::fclose(file_);
    Discard();
  }
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  // Once writing failed, the rest of the job is read but not written: the sender can finish
  // and the failure is reported with the job's name.
  void Write(const char* bytes, size_t count) {
    if (!file_) return;
    if (std::fwrite(bytes, 1, count, file_) != count) Fail(errno);
  }
  // Hands what is buffered to the file system, so that the disk's free space counts it.
  void Flush() {
    if (file_ && std::fflush(file_) != 0) Fail(errno);
  }
  // Completes the file; false (with the cause in Error) when any write failed.
  bool Finish() {
    if (file_) {
      if (std::fflush(file_) != 0) Fail(errno);
      if (file_ && std::fclose(file_) != 0 && error_.empty()) error_ = ErrorText(errno);
      file_ = nullptr;
    }
    return error_.empty();
  }
  // Gives the complete file its name; false with the cause in Error.
  bool MoveTo(const std::filesystem::path& target) {
    if (!error_.empty()) return false;
    std::error_code error;
    std::filesystem::rename(path_, target, error);
    if (error) {
      error_ = error.message();
      return false;
    }
    moved_ = true;
    return true;
  }
  void Discard() {
    if (moved_) return;
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }
  const std::string& Error() const { return error_; }

 private:
  void Fail(int error) {
    if (error_.empty()) error_ = ErrorText(error ? error : EIO);
    std::fclose(file_);
    file_ = nullptr;
  }

  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  std::string error_;
  bool moved_ = false;
};

std::string Mebibytes(uint64_t bytes) {
  if (bytes < (uint64_t{1} << 20)) return std::to_string(bytes) + " bytes";
  return std::to_string(bytes >> 20) + " MiB";
}

// Free space on the work folder's disk is looked at again after every this much of a job.
constexpr uint64_t kFreeSpaceCheckBytes = uint64_t{1} << 20;

// How much the work folder holds and how much its disk has free for this user.
struct FolderSpace {
  uint64_t used = 0;
  uint64_t free = 0;
  // Bytes of the job being read that were already on the disk when `free` was measured.
  uint64_t jobBytesInFree = 0;
};

FolderSpace MeasureSpace(const std::filesystem::path& folder) {
  FolderSpace space;
  std::error_code error;
  for (auto entry = std::filesystem::recursive_directory_iterator(
           folder, std::filesystem::directory_options::skip_permission_denied, error);
       !error && entry != std::filesystem::recursive_directory_iterator(); entry.increment(error)) {
    std::error_code sizeError;
    if (!entry->is_regular_file(sizeError)) continue;
    const uintmax_t size = entry->file_size(sizeError);
    if (!sizeError) space.used += size;
  }
  space.free = UINT64_MAX;
  struct statvfs disk {};
  if (statvfs(folder.c_str(), &disk) == 0) {
    space.free = static_cast<uint64_t>(disk.f_bavail) * static_cast<uint64_t>(disk.f_frsize);
  }
  return space;
}

// Why a job that needs `bytes` more may not be kept (the log line and the user's message);
// empty texts when it may.
struct SpaceRefusal {
  std::string logLine;
  std::string message;
  bool refused() const { return !logLine.empty(); }
};

SpaceRefusal CheckSpace(const std::filesystem::path& folder, const CaptureLimits& limits,
                        const FolderSpace& space, uint64_t bytes) {
  SpaceRefusal refusal;
  const std::string where = folder.string();
  if (space.used + bytes > limits.workFolderQuota) {
    refusal.logLine = "ERROR, SendThread::Execute, job refused: the work folder " + where +
                      " holds " + Mebibytes(space.used) + ", its quota is " +
                      Mebibytes(limits.workFolderQuota);
    refusal.message = "A print job was refused: the work folder " + where + " is full (" +
                      Mebibytes(limits.workFolderQuota) +
                      "). Send or remove the captured jobs, then print again.";
  } else if (space.free < limits.minimumFreeSpace ||
             space.free - limits.minimumFreeSpace < bytes - space.jobBytesInFree) {
    refusal.logLine = "ERROR, SendThread::Execute, job refused: " + Mebibytes(space.free) +
                      " free on the disk of " + where + ", " + Mebibytes(limits.minimumFreeSpace) +
                      " must stay free";
    refusal.message = "A print job was refused: less than " + Mebibytes(limits.minimumFreeSpace) +
                      " is free on the disk of the work folder " + where +
                      ". Make room, then print again.";
  }
  return refusal;
}

}  // namespace

void CaptureContext::Report(const std::string& message) {
  std::lock_guard lock(reportsMutex_);
  for (auto& [text, count] : reports_) {
    if (text == message) {
      ++count;
      return;
    }
  }
  reports_.emplace_back(message, 1);
}

std::vector<std::string> CaptureContext::TakeReports() {
  std::lock_guard lock(reportsMutex_);
  std::vector<std::string> taken;
  for (const auto& [text, count] : reports_) {
    taken.push_back(count == 1 ? text : text + " (" + std::to_string(count) + " times)");
  }
  reports_.clear();
  return taken;
}

void SendThread::Execute() {
  Socket socket;
  socket.AdoptHandle(handle_);
  // The connection closes in order when the job is read, so the sender sees it delivered.
  const linger graceful{0, 0};
  setsockopt(handle_, SOL_SOCKET, SO_LINGER, &graceful, sizeof graceful);

  std::string documentName =
      TrimDocumentName(SanitizeDocumentName(JobDocumentName(context_.printerName)));
  if (documentName.size() > kMaxDocumentName) documentName.resize(kMaxDocumentName);

  const CaptureLimits& limits = context_.limits;
  // A full work folder or disk refuses the job before it is read: the sender sees the failure
  // and keeps the job, and the user is told.
  FolderSpace space = MeasureSpace(context_.workFolder);
  SpaceRefusal refusal = CheckSpace(context_.workFolder, limits, space, 0);
  if (refusal.refused()) {
    WriteLog(refusal.logLine);
    context_.Report(refusal.message);
    return;
  }

  PartFile part(context_.workFolder);
  std::string head;
  uint64_t size = 0;
  uint64_t nextSpaceCheck = kFreeSpaceCheckBytes;
  bool cutOff = false;
  char block[1024];
  while (true) {
    pollfd waits[2] = {{socket.Socketfd, POLLIN, 0}, {context_.stopReadingHandle, POLLIN, 0}};
    const int ready = poll(waits, 2, static_cast<int>(limits.idleLimit.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready > 0 && (waits[1].revents & POLLIN)) {
      WriteLog("WARNING, SendThread::Execute, capture closing, the job ends after " +
               std::to_string(size) + " bytes");
      break;
    }
    if (ready == 0) {
      WriteLog("ERROR, Socket::ReadBinary, Timed out");
      break;
    }
    const long count = socket.ReadBinary(block, sizeof block);
    if (count < 0) break;
    if (size + static_cast<uint64_t>(count) > limits.maxJobBytes) {
      cutOff = true;
      break;
    }
    if (size + static_cast<uint64_t>(count) >= nextSpaceCheck) {
      part.Flush();
      space.free = MeasureSpace(context_.workFolder).free;
      space.jobBytesInFree = size;
      nextSpaceCheck += kFreeSpaceCheckBytes;
    }
    refusal = CheckSpace(context_.workFolder, limits, space, size + static_cast<uint64_t>(count));
    if (refusal.refused()) break;
    if (head.size() < 4) head.append(block, std::min<size_t>(4 - head.size(), count));
    part.Write(block, static_cast<size_t>(count));
    size += static_cast<uint64_t>(count);
  }
  socket.Close();
  part.Finish();

  if (cutOff) {
    const std::string message = "ERROR, SendThread::Execute, job larger than " +
                                std::to_string(limits.maxJobBytes) + " bytes cut off, not saved";
    WriteLog(message);
    context_.Report(message);
    return;
  }
  if (refusal.refused()) {
    WriteLog(refusal.logLine + "; the job was cut off after " + std::to_string(size) +
             " bytes, not saved");
    context_.Report(refusal.message);
    return;
  }
  // A connection that brought nothing is no job: no file, no number.
  if (size == 0) {
    if (Debugging()) WriteLog("INFO, SendThread::Execute, empty job, nothing saved");
    return;
  }

  const int number = context_.counter.Next();
  const std::string timeOfDay = TimeOfDayText(std::time(nullptr));
  const std::string sizeText = std::to_string(size);
  const std::filesystem::path& folder = context_.workFolder;

  // Keeps the raw job under `name`; false (logged and reported) when it could not be written.
  auto keep = [&](const std::filesystem::path& name) {
    if (part.MoveTo(name)) return true;
    const std::string message = "ERROR, SendThread::Execute, can't save FileName=" + name.string() +
                                ", size=" + sizeText + ": " + part.Error();
    WriteLog(message);
    context_.Report(message);
    return false;
  };
  auto conversionFailed = [&](const std::string& kind, const std::filesystem::path& pdf,
                              const std::string& cause, const std::filesystem::path& raw) {
    const std::string message = "ERROR, SendThread::Execute, converting " + kind +
                                " to FileName=" + pdf.string() + " failed: " + cause +
                                "; the job is kept in " + raw.string();
    WriteLog(message);
    context_.Report(message);
  };

  switch (KindOfJob(head)) {
    case JobKind::PostScript: {
      const std::filesystem::path name = folder / RawJobFileName(timeOfDay, number, ".ps");
      if (Debugging()) {
        WriteLog("INFO, SendThread::Execute, saving PS FileName=" + name.string() +
                 ", size=" + sizeText);
      }
      if (!keep(name)) break;
      const std::filesystem::path pdf = folder / PdfJobFileName(documentName, timeOfDay, number);
      std::string cause;
      if (ConvertPostScriptToPdf(name, pdf, cause, context_.stopReadingHandle)) {
        context_.items.AppendFromThread(pdf.string());
      } else {
        conversionFailed("PS", pdf, cause, name);
      }
      break;
    }
    case JobKind::Xps: {
      const std::filesystem::path pdf = folder / PdfJobFileName(documentName, timeOfDay, number);
      if (Debugging()) {
        WriteLog("INFO, SendThread::Execute, saving XPS FileName=" + pdf.string() +
                 ", size=" + sizeText);
      }
      if (!part.Error().empty()) {
        keep(pdf);
        break;
      }
      std::string cause;
      if (PrintRawToPrinter(part.path(), pdf, cause, context_.stopReadingHandle)) {
        context_.items.AppendFromThread(pdf.string());
      } else {
        // The raw job is kept so that nothing printed is lost.
        const std::filesystem::path raw = folder / RawJobFileName(timeOfDay, number, ".xps");
        if (keep(raw)) conversionFailed("XPS", pdf, cause, raw);
      }
      break;
    }
    case JobKind::Pdf: {
      const std::filesystem::path pdf = folder / PdfJobFileName(documentName, timeOfDay, number);
      if (Debugging()) {
        WriteLog("INFO, SendThread::Execute, saving PDF FileName=" + pdf.string() +
                 ", size=" + sizeText);
      }
      if (keep(pdf)) context_.items.AppendFromThread(pdf.string());
      break;
    }
    case JobKind::Unknown: {
      const std::filesystem::path name = folder / RawJobFileName(timeOfDay, number, ".tmp");
      if (Debugging()) {
        WriteLog("INFO, SendThread::Execute, saving Unknown FileName=" + name.string() +
                 ", size=" + sizeText);
      }
      keep(name);
      break;
    }
  }
}

ServerThread::ServerThread(std::filesystem::path workFolder, ItemList& items, JobCounter& counter,
                           CaptureLimits limits, std::string printerName)
    : context_(std::move(workFolder), items, counter, limits, std::move(printerName)) {}

ServerThread::~ServerThread() {
  Stop();
}

bool ServerThread::Start(const std::string& port) {
  Stop();
  listener_.LastResult = 0;
  if (pipe2(stopListening_, O_CLOEXEC) != 0 || pipe2(stopReading_, O_CLOEXEC) != 0 ||
      !listener_.Listen(port, ListenScope::LoopbackOnly)) {
    listenError_ = listener_.LastResult;
    WriteLog("ERROR: Couldn't initialize port: " + port);
    listener_.Close();
    ClosePipe(stopListening_);
    ClosePipe(stopReading_);
    return false;
  }
  // Connections beyond the receivers wait in the listen queue; a deeper one than the socket's
  // default keeps a burst of jobs (or another user's flood, closed one by one) from being
  // turned back to retry later.
  listen(listener_.ListenedSocketfd, SOMAXCONN);
  // A connection reset between poll and accept must not leave the listener waiting in accept.
  const int flags = fcntl(listener_.ListenedSocketfd, F_GETFL);
  fcntl(listener_.ListenedSocketfd, F_SETFL, flags | O_NONBLOCK);
  spareDescriptor_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
  context_.stopReadingHandle = stopReading_[0];
  stopping_ = false;
  WriteLog("Initialize port: " + port);
  thread_ = std::thread([this] { Execute(); });
  return true;
}

void ServerThread::Execute() {
  while (WaitForFreeReceiver()) {
    pollfd waits[2] = {{listener_.ListenedSocketfd, POLLIN, 0}, {stopListening_[0], POLLIN, 0}};
    const int ready = poll(waits, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (waits[1].revents & POLLIN)) break;
    const int handle = accept4(listener_.ListenedSocketfd, nullptr, nullptr, SOCK_CLOEXEC);
    if (handle < 0) {
      // A connection that went away before it was taken is no failure of the listener.
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED) {
        continue;
      }
      if (!PauseAfterAcceptFailure(errno)) break;
      continue;
    }
    if (!SenderMayPrint(handle)) {
      close(handle);
      continue;
    }
    StartReceiver(handle);
    JoinFinishedReceivers();
  }
  listener_.Close();
}

bool ServerThread::WaitForFreeReceiver() {
  std::unique_lock lock(activeMutex_);
  activeChanged_.wait(lock, [this] { return stopping_ || active_ < context_.limits.maxReceivers; });
  return !stopping_;
}

bool ServerThread::PauseAfterAcceptFailure(int error) {
  // Out of descriptors the log file could not be opened either: the spare one makes room for
  // the line and is taken back at once.
  if (spareDescriptor_ >= 0) close(spareDescriptor_);
  const std::chrono::milliseconds pause = context_.limits.acceptRetryPause;
  WriteLog("ERROR, ServerThread::Execute, accept failed: " + ErrorText(error) + " (errno " +
           std::to_string(error) + "), trying again in " + std::to_string(pause.count()) + " ms");
  spareDescriptor_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pollfd stop{stopListening_[0], POLLIN, 0};
  int ready;
  do {
    ready = poll(&stop, 1, static_cast<int>(pause.count()));
  } while (ready < 0 && errno == EINTR);
  return ready == 0;
}

bool ServerThread::SenderMayPrint(int handle) {
  std::string why;
  const std::optional<uid_t> user = LoopbackPeerUser(handle, why);
  if (user && context_.printingUsers.Allows(*user)) return true;
  // A sender that wrote its job and closed at once (a small job, a sender that does not wait for
  // the listener) leaves no owner to look up. Refusing it would lose the job without a word to
  // anyone, so it is taken; who sent it stays unknown, which the log says.
  if (!user && why == kSenderGone) {
    WriteLog("WARNING, ServerThread::Execute, the sender at " + PeerAddressText(handle) +
             " closed its end before it could be identified; its job is taken");
    return true;
  }
  const std::string sender = user
                                 ? "of user " + UserName(*user) + " (" + std::to_string(*user) + ")"
                                 : "of an unknown user (" + why + ")";
  WriteLog("WARNING, ServerThread::Execute, refused the connection from " +
           PeerAddressText(handle) + " " + sender + ": only " + context_.printingUsers.Describe() +
           " may print here");
  // Other users' refused connections are theirs to worry about; a listener that can identify
  // nobody turns this user's jobs away too, which the user must hear about.
  if (!user) {
    context_.Report("A print job was refused: its sender could not be identified (" + why + ")");
  }
  return false;
}

void ServerThread::StartReceiver(int handle) {
  auto receiver = std::make_unique<Receiver>();
  Receiver* self = receiver.get();
  {
    std::lock_guard lock(activeMutex_);
    ++active_;
  }
  try {
    receiver->thread = std::thread([this, self, handle] {
      SendThread(context_, handle).Execute();
      self->finished = true;
      std::lock_guard lock(activeMutex_);
      --active_;
      activeChanged_.notify_all();
    });
  } catch (const std::system_error& error) {
    close(handle);
    {
      std::lock_guard lock(activeMutex_);
      --active_;
    }
    const std::string message =
        std::string("ERROR, ServerThread::Execute, can't start a receiving thread: ") +
        error.what();
    WriteLog(message);
    context_.Report(message);
    return;
  }
  receivers_.push_back(std::move(receiver));
}

void ServerThread::JoinFinishedReceivers() {
  for (auto it = receivers_.begin(); it != receivers_.end();) {
    if ((*it)->finished) {
      (*it)->thread.join();
      it = receivers_.erase(it);
    } else {
      ++it;
    }
  }
}

void ServerThread::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(activeMutex_);
    stopping_ = true;
  }
  activeChanged_.notify_all();
  Signal(stopListening_[1]);
  thread_.join();
  // No receiver starts any more; running jobs get the grace to finish, then stop reading and
  // converting.
  {
    std::unique_lock lock(activeMutex_);
    activeChanged_.wait_for(lock, context_.limits.stopGrace, [this] { return active_ == 0; });
  }
  Signal(stopReading_[1]);
  for (auto& receiver : receivers_) receiver->thread.join();
  receivers_.clear();
  context_.stopReadingHandle = -1;
  ClosePipe(stopListening_);
  ClosePipe(stopReading_);
  if (spareDescriptor_ >= 0) close(spareDescriptor_);
  spareDescriptor_ = -1;
}
