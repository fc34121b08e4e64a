// Receiving print jobs. A job is streamed into a hidden part file in the work folder while it
// arrives, so memory stays small whatever its size, and gets its final name once it is complete.
#include "serverthread.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>
#include <utility>

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
    file_ = std::fopen(path_.c_str(), "wb");
    if (!file_) error_ = ErrorText(errno);
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

}  // namespace

void CaptureContext::Report(const std::string& message) {
  std::lock_guard lock(reportsMutex_);
  reports_.push_back(message);
}

std::vector<std::string> CaptureContext::TakeReports() {
  std::lock_guard lock(reportsMutex_);
  return std::exchange(reports_, {});
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

  PartFile part(context_.workFolder);
  const CaptureLimits& limits = context_.limits;
  std::string head;
  uint64_t size = 0;
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
      if (ConvertPostScriptToPdf(name, pdf, cause)) {
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
      if (PrintRawToPrinter(part.path(), pdf, cause)) {
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
  if (pipe2(stopListening_, O_CLOEXEC) != 0 || pipe2(stopReading_, O_CLOEXEC) != 0 ||
      !listener_.Listen(port, ListenScope::LoopbackOnly)) {
    WriteLog("ERROR: Couldn't initialize port: " + port);
    listener_.Close();
    ClosePipe(stopListening_);
    ClosePipe(stopReading_);
    return false;
  }
  context_.stopReadingHandle = stopReading_[0];
  WriteLog("Initialize port: " + port);
  thread_ = std::thread([this] { Execute(); });
  return true;
}

void ServerThread::Execute() {
  while (true) {
    pollfd waits[2] = {{listener_.ListenedSocketfd, POLLIN, 0}, {stopListening_[0], POLLIN, 0}};
    const int ready = poll(waits, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (waits[1].revents & POLLIN)) break;
    if (!listener_.Accept()) break;
    StartReceiver(listener_.ReleaseHandle());
    JoinFinishedReceivers();
  }
  listener_.Close();
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
  Signal(stopListening_[1]);
  thread_.join();
  // No receiver starts any more; running jobs get the grace to finish, then stop reading.
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
}
