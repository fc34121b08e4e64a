// The outbox: objects on their way to the PACS, kept as Part 10 files with a crash-proof journal.
#include "outbox.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "appfolders.h"
#include "dicomfile.h"
#include "log.h"
#include "storefiles.h"
#include "syntaxes.h"
#include "uids.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kJournalName = "journal";
constexpr const char* kLockName = "lock";
// Records of the first version carry no envelope (see RecordLine).
constexpr const char* kFirstVersionRecord = "1";
constexpr const char* kRecordVersion = "2";
constexpr const char* kObjectSuffix = ".dcm";
constexpr const char* kPartSuffix = ".part";
// Files flushed at once when a group is committed; the threads wait on the disk, not a core.
constexpr size_t kFlushingThreads = 8;
// A file being written is handed to the disk in steps of this size.
constexpr off_t kWritebackStep = 8 << 20;

constexpr const char* kStateNames[] = {"waiting", "failed", "stored", "gone"};

// A descriptor that closes itself.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

}  // namespace

// The journal as this process last read it. Reading the whole journal on every call made a batch
// cost the square of its length; now its records are replayed once and each call reads only what
// was appended since. The journal's descriptor stays open, and while it is open no replacement of
// the journal (Open rewrites it, in this process or another) can be given the same inode: another
// inode under the journal's name therefore says for certain that it must be read anew.
struct JournalView {
  explicit JournalView(fs::path outboxFolder) : folder(std::move(outboxFolder)) {}
  // Records whose flush was left for later reach the disk at the latest when the outbox closes.
  ~JournalView() {
    if (unflushed && file.ok()) {
      ::fsync(file.get());
      SyncPath(folder);
    }
  }
  JournalView(const JournalView&) = delete;
  JournalView& operator=(const JournalView&) = delete;

  fs::path folder;
  std::mutex mutex;  // the threads of this process take turns; the folder lock orders processes
  Descriptor lockFile;
  const pid_t pid = ::getpid();  // names this process's files being written
  Descriptor file;               // the journal replayed, open for appending
  dev_t device = 0;              // its identity, taken when it was opened
  ino_t inode = 0;
  off_t replayed = 0;                // its bytes up to the end of the last whole line
  off_t size = 0;                    // its bytes when last looked at
  std::vector<OutboxEntry> order;    // every file recorded, gone ones too, first-queued first
  std::map<std::string, size_t> at;  // where each file is in `order`
  bool unflushed = false;            // records or deletions were left to be flushed later

  // A journal that was replaced was rewritten and flushed with everything this process wrote.
  void Forget() {
    unflushed = false;
    file.reset();
    replayed = 0;
    size = 0;
    order.clear();
    at.clear();
  }
};

namespace {

// The folder's lock, held for the life of the object: exclusive for changes, shared for reading.
// A killed process loses its lock with its descriptors, so a crash never leaves the folder locked.
// The lock file stays open between calls; the mutex keeps two threads from taking the one lock at
// once (a lock already held by the same descriptor would be granted again).
class FolderLock {
 public:
  FolderLock(JournalView& view, const fs::path& folder, bool exclusive)
      : view_(view), guard_(view.mutex) {
    if (!view_.lockFile.ok()) {
      view_.lockFile.reset(
          ::open((folder / kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    }
    if (view_.lockFile.ok()) {
      while (::flock(view_.lockFile.get(), exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderLock() {
    if (view_.lockFile.ok()) ::flock(view_.lockFile.get(), LOCK_UN);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  JournalView& view_;
  std::lock_guard<std::mutex> guard_;
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

uint32_t Checksum(std::string_view text) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (const char c : text) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 16777619u;
  }
  return hash;
}

// Journal fields may not hold the separators; a cause is plain words, so they become spaces.
std::string Field(const std::string& text) {
  std::string clean = text;
  for (char& c : clean) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return clean;
}

// A record is one line of tab-separated fields, then its checksum. The first version's records
// (8 or 9 fields: no envelope) are still read; every record written now is of the second.
//   1: version, state, attempts, file, SOP class, SOP instance, batch, cause[, source]
//   2: version, state, attempts, file, SOP class, SOP instance, batch, cause, source, patient's
//      name, patient ID, queued at, connections lost, commitment asked, destination kind,
//      calling AE, called AE, host, port, TLS, certificate, key, CA file, base URL, login kind
constexpr size_t kFirstVersionFields = 8;
constexpr size_t kSecondVersionFields = 25;
constexpr const char* kDestinationKindNames[] = {"", "dicom", "web"};

std::string RecordLine(const OutboxEntry& entry) {
  const OutboxDestination& to = entry.destination;
  const std::string fields[] = {kRecordVersion,
                                OutboxStateName(entry.state),
                                std::to_string(entry.attempts),
                                entry.file,
                                entry.sopClassUid,
                                entry.sopInstanceUid,
                                entry.batch,
                                entry.cause,
                                entry.source,
                                entry.patientName,
                                entry.patientId,
                                std::to_string(entry.queuedAt),
                                std::to_string(entry.lost),
                                entry.commit ? "1" : "0",
                                kDestinationKindNames[static_cast<size_t>(to.kind)],
                                to.callingAet,
                                to.calledAet,
                                to.host,
                                to.port,
                                to.tls ? "1" : "0",
                                to.certificateFile,
                                to.keyFile,
                                to.caFile,
                                to.baseUrl,
                                WebAuthName(to.auth)};
  static_assert(std::size(fields) == kSecondVersionFields);
  std::string line;
  for (const std::string& field : fields) line += (line.empty() ? "" : "\t") + Field(field);
  char sum[16];
  std::snprintf(sum, sizeof sum, "\t%08x\n", Checksum(line));
  return line + sum;
}

// A name the outbox itself could have given: no folder part, not hidden, ending in ".dcm".
bool IsObjectName(const std::string& name) {
  return name.size() > std::strlen(kObjectSuffix) && name.find('/') == std::string::npos &&
         name[0] != '.' && name.ends_with(kObjectSuffix);
}

// The envelope fields of a second-version record, from the patient's name on.
bool ParseEnvelope(const std::vector<std::string>& fields, OutboxEntry& entry) {
  entry.patientName = fields[9];
  entry.patientId = fields[10];
  entry.queuedAt = std::atoll(fields[11].c_str());
  entry.lost = std::atoi(fields[12].c_str());
  entry.commit = fields[13] == "1";
  const auto* kind =
      std::find(std::begin(kDestinationKindNames), std::end(kDestinationKindNames), fields[14]);
  if (kind == std::end(kDestinationKindNames)) return false;
  OutboxDestination& to = entry.destination;
  to.kind = static_cast<DestinationKind>(kind - std::begin(kDestinationKindNames));
  to.callingAet = fields[15];
  to.calledAet = fields[16];
  to.host = fields[17];
  to.port = fields[18];
  to.tls = fields[19] == "1";
  to.certificateFile = fields[20];
  to.keyFile = fields[21];
  to.caFile = fields[22];
  to.baseUrl = fields[23];
  return ParseWebAuth(fields[24], to.auth);
}

bool ParseRecord(std::string_view line, OutboxEntry& entry) {
  const size_t sumAt = line.rfind('\t');
  if (sumAt == std::string_view::npos || line.size() - sumAt != 9) return false;
  char expected[16];
  std::snprintf(expected, sizeof expected, "%08x", Checksum(line.substr(0, sumAt)));
  if (line.substr(sumAt + 1) != expected) return false;
  std::vector<std::string> fields;
  size_t start = 0;
  const std::string_view body = line.substr(0, sumAt);
  while (true) {
    const size_t tab = body.find('\t', start);
    fields.emplace_back(body.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  const bool first = fields[0] == kFirstVersionRecord && fields.size() >= kFirstVersionFields &&
                     fields.size() <= kFirstVersionFields + 1;
  const bool second = fields[0] == kRecordVersion && fields.size() == kSecondVersionFields;
  if (!first && !second) return false;
  const auto* state = std::find(std::begin(kStateNames), std::end(kStateNames), fields[1]);
  if (state == std::end(kStateNames)) return false;
  entry.state = static_cast<OutboxState>(state - std::begin(kStateNames));
  entry.attempts = std::atoi(fields[2].c_str());
  entry.file = fields[3];
  entry.sopClassUid = fields[4];
  entry.sopInstanceUid = fields[5];
  entry.batch = fields[6];
  entry.cause = fields[7];
  if (fields.size() > kFirstVersionFields) entry.source = fields[8];
  if (second && !ParseEnvelope(fields, entry)) return false;
  return IsObjectName(entry.file);
}

// Replays the whole lines of `text` onto the view: the last record of each file wins, in the
// place of its first. Lines cut short or damaged are skipped. Returns the bytes replayed, up to the
// end of the last whole line.
size_t ReplayLines(std::string_view text, JournalView& view) {
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) break;  // the last line was being written when it stopped
    OutboxEntry entry;
    if (ParseRecord(text.substr(start, end - start), entry)) {
      const auto found = view.at.find(entry.file);
      if (found == view.at.end()) {
        view.at.emplace(entry.file, view.order.size());
        view.order.push_back(std::move(entry));
      } else {
        view.order[found->second] = std::move(entry);
      }
    }
    start = end + 1;
  }
  return start;
}

// Brings the view up to the journal on disk: reads it whole when it was replaced (or first
// opened), otherwise only the bytes appended since the last look. Called with the folder locked,
// so nobody writes meanwhile.
void Refresh(JournalView& view, const fs::path& folder) {
  const fs::path path = folder / kJournalName;
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0) {
    view.Forget();  // no journal yet
    return;
  }
  // The held journal's identity was taken when it was opened; while it stays open it is the
  // journal exactly when the name still leads to the same inode.
  if (!view.file.ok() || view.device != named.st_dev || view.inode != named.st_ino ||
      named.st_size < view.size) {
    view.Forget();
    view.file.reset(::open(path.c_str(), O_RDWR | O_APPEND | O_CLOEXEC));
    struct stat held {};
    if (!view.file.ok() || ::fstat(view.file.get(), &held) != 0) {
      view.Forget();
      return;
    }
    view.device = held.st_dev;
    view.inode = held.st_ino;
    named = held;
  }
  if (named.st_size <= view.replayed) {
    view.size = named.st_size;
    return;
  }
  std::string text(static_cast<size_t>(named.st_size - view.replayed), '\0');
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t read = ::pread(view.file.get(), text.data() + got, text.size() - got,
                                 view.replayed + static_cast<off_t>(got));
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) break;
    got += static_cast<size_t>(read);
  }
  text.resize(got);
  view.size = view.replayed + static_cast<off_t>(got);
  view.replayed += static_cast<off_t>(ReplayLines(text, view));
}

// The entries of the view that have not gone, in the order they were first queued.
std::vector<OutboxEntry> LiveEntries(const JournalView& view) {
  std::vector<OutboxEntry> live;
  live.reserve(view.order.size());
  for (const OutboxEntry& entry : view.order) {
    if (entry.state != OutboxState::Gone) live.push_back(entry);
  }
  return live;
}

// The process that wrote "<name>.<pid>.part", or 0 when the name does not say.
pid_t WriterOf(const std::string& partName) {
  const std::string stem = partName.substr(0, partName.size() - std::strlen(kPartSuffix));
  const size_t dot = stem.rfind('.');
  if (dot == std::string::npos) return 0;
  return static_cast<pid_t>(std::atol(stem.c_str() + dot + 1));
}

bool Alive(pid_t pid) {
  return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// Flushes the contents of the files to disk, several at once: the file system then takes them into
// as few journal commits (and disk cache flushes) as it can, where one after the other each would
// wait for its own. The errno of each file's failure, 0 for those flushed.
std::vector<int> FlushFiles(const std::vector<fs::path>& paths) {
  std::vector<int> errors(paths.size(), 0);
  std::atomic<size_t> next = 0;
  auto flush = [&] {
    for (size_t i = next++; i < paths.size(); i = next++) {
      Descriptor fd(::open(paths[i].c_str(), O_RDONLY | O_CLOEXEC));
      if (!fd.ok() || ::fdatasync(fd.get()) != 0) errors[i] = errno != 0 ? errno : EIO;
    }
  };
  std::vector<std::thread> helpers;
  const size_t threads = std::min(paths.size(), kFlushingThreads);
  for (size_t i = 1; i < threads; ++i) helpers.emplace_back(flush);
  flush();
  for (std::thread& helper : helpers) helper.join();
  return errors;
}

// Why a write failed, in plain words: a full disk says so.
std::string WriteProblem(int error) {
  if (error == ENOSPC || error == EDQUOT) return "the disk is full";
  return std::strerror(error);
}

// Writes the whole journal anew beside the old one and puts it in its place. When that fails
// (`problem` says why), the old journal stays and no half-written copy is left to fill the disk.
bool RewriteJournal(const fs::path& folder, const std::vector<OutboxEntry>& entries,
                    std::string& problem) {
  const fs::path fresh = folder / (std::string(kJournalName) + ".new");
  std::error_code ignored;
  bool written = false;
  {
    Descriptor fd(::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (fd.ok()) {
      std::string lines;
      for (const OutboxEntry& entry : entries) lines += RecordLine(entry);
      written = WriteAll(fd.get(), lines.data(), lines.size()) && ::fsync(fd.get()) == 0;
    }
    if (!written) problem = WriteProblem(errno);
  }
  if (written) {
    std::error_code renamed;
    fs::rename(fresh, folder / kJournalName, renamed);
    if (!renamed) {
      SyncPath(folder);
      return true;
    }
    problem = renamed.message();
  }
  fs::remove(fresh, ignored);
  return false;
}

}  // namespace

const char* OutboxStateName(OutboxState state) {
  return kStateNames[static_cast<size_t>(state)];
}

OutboxObjectKind KindOf(const OutboxEntry& entry) {
  const std::string& uid = entry.sopClassUid;
  for (const char* video : {"1.2.840.10008.5.1.4.1.1.77.1.1.1", "1.2.840.10008.5.1.4.1.1.77.1.2.1",
                            "1.2.840.10008.5.1.4.1.1.77.1.4.1"}) {
    if (uid == video) return OutboxObjectKind::Video;
  }
  if (uid == kEncapsulatedPdfClass) return OutboxObjectKind::Pdf;
  if (uid.starts_with("1.2.840.10008.5.1.4.1.1.88.")) return OutboxObjectKind::Document;
  return IsImageStorageClass(uid) ? OutboxObjectKind::Image : OutboxObjectKind::Other;
}

std::string OutboxObjectName(const OutboxEntry& entry) {
  if (entry.source.empty()) return entry.sopInstanceUid;
  return fs::path(entry.source).filename().string();
}

bool SyncPath(const fs::path& path) {
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return fd.ok() && ::fsync(fd.get()) == 0;
}

OutboxDeliveryLock::OutboxDeliveryLock(const Outbox& outbox)
    : fd_(::open((outbox.Folder() / "deliver.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
  if (fd_ >= 0) {
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
}

OutboxDeliveryLock::~OutboxDeliveryLock() {
  if (fd_ >= 0) ::close(fd_);
}

Outbox::Outbox(fs::path folder)
    : folder_(std::move(folder)), journal_(std::make_shared<JournalView>(folder_)) {}

fs::path Outbox::DefaultFolder() {
  return PerUserDataFolder() / "outbox";
}

bool Outbox::Open(std::string& error) {
  std::error_code status;
  fs::create_directories(folder_, status);
  // The objects carry patients' data: only their owner may look into the folder.
  if (status || ::chmod(folder_.c_str(), 0700) != 0) {
    error = "cannot create the outbox folder " + folder_.string();
    WriteLog("ERROR, Outbox, " + error);
    return false;
  }
  FolderLock lock(*journal_, folder_, true);
  Refresh(*journal_, folder_);
  std::vector<OutboxEntry> entries = LiveEntries(*journal_);
  std::set<std::string> known;
  for (const OutboxEntry& entry : entries) known.insert(entry.file);
  std::set<std::string> present;
  std::vector<std::string> strays;
  for (const fs::directory_entry& item : fs::directory_iterator(folder_, status)) {
    const std::string name = item.path().filename().string();
    if (name.ends_with(kPartSuffix)) {
      // A writer killed half-way left this; one still running (another process) is let be.
      if (!Alive(WriterOf(name))) fs::remove(item.path(), status);
    } else if (IsObjectName(name) && item.is_regular_file(status)) {
      present.insert(name);
      if (known.count(name) == 0) strays.push_back(name);
    }
  }
  // A record whose file is missing: the file was deleted (delivered or removed) just before the
  // record saying so could be written.
  std::erase_if(entries, [&](const OutboxEntry& entry) { return present.count(entry.file) == 0; });
  // A file without a record: it was complete and renamed, but its record was not yet written.
  // It waits like any other; sending an object the PACS already has is harmless.
  std::sort(strays.begin(), strays.end());
  for (const std::string& name : strays) {
    OutboxEntry entry;
    entry.file = name;
    Part10Header header;
    std::string headerError;
    if (ReadPart10Header((folder_ / name).string(), header, headerError)) {
      entry.sopClassUid = header.sopClassUid;
      entry.sopInstanceUid = header.sopInstanceUid;
    } else {
      entry.state = OutboxState::Failed;
      entry.cause = headerError;
    }
    WriteLog("INFO, Outbox, taken in without a record: " + name);
    entries.push_back(std::move(entry));
  }
  std::string rewriteProblem;
  if (RewriteJournal(folder_, entries, rewriteProblem)) {
    // The next call reads the rewritten journal whole.
    journal_->Forget();
    return true;
  }
  // The journal stays as it was, and this process goes on from what it made of it: what waits
  // can still be listed and delivered, which is what frees the space.
  WriteLog("WARNING, Outbox, the journal in " + folder_.string() + " cannot be rewritten (" +
           rewriteProblem + "); it is kept as it is");
  JournalView& view = *journal_;
  view.order = std::move(entries);
  view.at.clear();
  for (size_t i = 0; i < view.order.size(); ++i) view.at.emplace(view.order[i].file, i);
  return true;
}

bool Outbox::Add(DcmObj& dataSet, const OutboxEnvelope& envelope, std::string& error,
                 OutboxEntry* added) {
  OutboxEntry entry;
  if (!Stage(dataSet, envelope, entry, error)) return false;
  std::vector<OutboxEntry> staged = {entry};
  if (!Commit(staged, error)) return false;
  if (added != nullptr) *added = entry;
  return true;
}

fs::path Outbox::PartPathOf(const OutboxEntry& entry) const {
  return folder_ / (entry.file + "." + std::to_string(journal_->pid) + std::string(kPartSuffix));
}

bool Outbox::Stage(DcmObj& dataSet, const OutboxEnvelope& envelope, OutboxEntry& staged,
                   std::string& error, const PieceSink& alsoTo) {
  OutboxEntry entry;
  entry.source = envelope.source;
  entry.batch = envelope.batch;
  entry.destination = envelope.destination;
  entry.commit = envelope.commit;
  entry.sopClassUid = dataSet.GetString(0x0008, 0x0016);
  entry.sopInstanceUid = dataSet.GetString(0x0008, 0x0018);
  entry.patientName = dataSet.GetString(0x0010, 0x0010);
  entry.patientId = dataSet.GetString(0x0010, 0x0020);
  entry.queuedAt = static_cast<int64_t>(std::time(nullptr));
  entry.file = entry.sopInstanceUid + kObjectSuffix;
  if (!IsObjectName(entry.file) || entry.sopClassUid.empty()) {
    error = "the object has no usable SOP Class or Instance UID";
    return false;
  }
  const fs::path part = PartPathOf(entry);
  bool written = false;
  // Why the writing stopped: the file system's error, or 0 when the object's data could not be
  // had (a source file cut short meanwhile: the log names it).
  int writeErrno = 0;
  {
    Descriptor fd(::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd.ok()) {
      writeErrno = errno;
    } else {
      off_t handedToDisk = 0;
      off_t size = 0;
      written = WritePart10Pieces(dataSet, 1 << 20, [&](const uint8_t* data, size_t length) {
        if (!WriteAll(fd.get(), reinterpret_cast<const char*>(data), length)) {
          writeErrno = errno;
          return false;
        }
        size += static_cast<off_t>(length);
        // A large object goes to the disk while it is written, so that flushing it in Commit
        // finds little left to do.
        if (size - handedToDisk >= kWritebackStep) {
          ::sync_file_range(fd.get(), handedToDisk, size - handedToDisk, SYNC_FILE_RANGE_WRITE);
          handedToDisk = size;
        }
        if (alsoTo) alsoTo(data, length);
        return true;
      });
      // The disk starts on the rest now.
      if (written) ::sync_file_range(fd.get(), handedToDisk, 0, SYNC_FILE_RANGE_WRITE);
    }
  }
  if (!written) {
    error = "cannot write " + entry.file + " into the outbox " + folder_.string() + ": " +
            (writeErrno != 0
                 ? WriteProblem(writeErrno)
                 : "its data could not be read" +
                       (envelope.source.empty() ? std::string() : " from " + envelope.source));
    std::error_code ignored;
    fs::remove(part, ignored);
    WriteLog("ERROR, Outbox, " + error);
    return false;
  }
  staged = std::move(entry);
  return true;
}

bool Outbox::Commit(std::vector<OutboxEntry>& staged, std::string& error) {
  // Each file's contents reach the disk before its name does: a crash never leaves a final name on
  // a file that is not whole.
  std::vector<OutboxEntry> flushed;
  std::error_code status;
  std::vector<fs::path> parts;
  for (const OutboxEntry& entry : staged) parts.push_back(PartPathOf(entry));
  const std::vector<int> flushErrors = FlushFiles(parts);
  for (size_t i = 0; i < staged.size(); ++i) {
    if (flushErrors[i] == 0) {
      flushed.push_back(std::move(staged[i]));
    } else {
      error = "cannot write " + staged[i].file + " into the outbox " + folder_.string() + ": " +
              WriteProblem(flushErrors[i]);
      fs::remove(parts[i], status);
    }
  }
  staged.clear();
  if (!flushed.empty()) {
    FolderLock lock(*journal_, folder_, true);
    Refresh(*journal_, folder_);
    // The records reach the disk before the names: a crash in between leaves records without
    // files, which opening drops (nobody was told those objects were queued), and never a file
    // without its record, which would have lost where it goes. One flush of the journal and one
    // of the folder serve all of them.
    std::string lines;
    for (const OutboxEntry& entry : flushed) lines += RecordLine(entry);
    if (!AppendLines(lines, Durability::Now)) {
      error = "cannot record " + std::to_string(flushed.size()) + " objects in the outbox " +
              folder_.string() + ": " + WriteProblem(errno);
      for (const OutboxEntry& entry : flushed) fs::remove(PartPathOf(entry), status);
      flushed.clear();
    }
    std::string unnamed;
    for (OutboxEntry& entry : flushed) {
      fs::rename(PartPathOf(entry), folder_ / entry.file, status);
      if (!status) {
        staged.push_back(std::move(entry));
        continue;
      }
      error = "cannot write " + entry.file + " into the outbox " + folder_.string() + ": " +
              status.message();
      fs::remove(PartPathOf(entry), status);
      entry.state = OutboxState::Gone;
      unnamed += RecordLine(entry);
    }
    if (!unnamed.empty()) AppendLines(unnamed, Durability::Later);
  }
  // The names reach the disk with the folder lock released, so that deliveries settle their
  // objects meanwhile rather than wait for the disk: each object is whole and recorded already.
  if (!staged.empty() && !SyncPath(folder_)) {
    error = "cannot record " + std::to_string(staged.size()) + " objects in the outbox " +
            folder_.string() + ": " + WriteProblem(errno);
    FolderLock lock(*journal_, folder_, true);
    Refresh(*journal_, folder_);
    std::string gone;
    for (OutboxEntry& entry : staged) {
      fs::remove(folder_ / entry.file, status);
      entry.state = OutboxState::Gone;
      gone += RecordLine(entry);
    }
    AppendLines(gone, Durability::Later);
    staged.clear();
  }
  if (!error.empty()) WriteLog("ERROR, Outbox, " + error);
  return error.empty();
}

std::vector<OutboxEntry> Outbox::Entries() const {
  FolderLock lock(*journal_, folder_, false);
  Refresh(*journal_, folder_);
  return LiveEntries(*journal_);
}

bool Outbox::Append(const OutboxEntry& entry, Durability durability) const {
  return AppendLines(RecordLine(entry), durability);
}

bool Outbox::AppendLines(std::string lines, Durability durability) const {
  JournalView& view = *journal_;
  if (!view.file.ok()) {
    view.Forget();
    view.file.reset(
        ::open((folder_ / kJournalName).c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    struct stat created {};
    if (view.file.ok() && ::fstat(view.file.get(), &created) == 0) {
      view.device = created.st_dev;
      view.inode = created.st_ino;
      view.size = created.st_size;  // anything already there is read by the next call
    }
  }
  // After a line cut short (a writer that died while writing it) the records start a line of
  // their own, or the first would be read as part of the damaged line and lost. The next call then
  // reads them back from the journal like the records of any other process.
  const bool afterCutLine = view.size > view.replayed;
  if (afterCutLine) lines.insert(lines.begin(), '\n');
  // One write: a crash leaves its lines whole or the last one cut short, and a cut line fails its
  // check.
  if (!view.file.ok()) return false;
  if (!WriteAll(view.file.get(), lines.data(), lines.size())) {
    // Part of the lines may be on the disk (it filled up): the next records must start a line of
    // their own, or the first of them would be read as part of the cut one and lost.
    const int writeError = errno;
    struct stat now {};
    if (::fstat(view.file.get(), &now) == 0) view.size = now.st_size;
    errno = writeError;
    return false;
  }
  if (!afterCutLine) {
    // The folder is locked and the view was brought up to the end just before: the lines went
    // right after what it replayed, so they are replayed here rather than read back.
    ReplayLines(lines, view);
    view.replayed += static_cast<off_t>(lines.size());
    view.size = view.replayed;
  }
  if (durability == Durability::Later) {
    view.unflushed = true;
    return true;
  }
  // Flushing the journal also makes every record appended before durable.
  return ::fsync(view.file.get()) == 0;
}

template <typename Change>
bool Outbox::Update(const std::string& file, Change change, Durability durability) {
  FolderLock lock(*journal_, folder_, true);
  Refresh(*journal_, folder_);
  const auto found = journal_->at.find(file);
  if (found == journal_->at.end()) return false;
  OutboxEntry entry = journal_->order[found->second];
  if (entry.state == OutboxState::Gone) return false;
  change(entry);
  return Append(entry, durability);
}

bool Outbox::Leave(const std::string& file, Durability durability) {
  return Update(
      file,
      [&](OutboxEntry& entry) {
        // The file goes first: a crash before the record is written leaves a record without a
        // file, which opening drops, never a delivered object that is sent again and again.
        std::error_code ignored;
        fs::remove(folder_ / entry.file, ignored);
        if (durability == Durability::Now) SyncPath(folder_);
        entry.state = OutboxState::Gone;
        entry.cause.clear();
      },
      durability);
}

bool Outbox::MarkDelivered(const std::string& file) {
  return Leave(file, Durability::Later);
}

bool Outbox::MarkStored(const std::string& file, const std::string& cause) {
  return Update(
      file,
      [&](OutboxEntry& entry) {
        entry.state = OutboxState::Stored;
        entry.cause = cause;
      },
      Durability::Later);
}

bool Outbox::NoteLost(const std::string& file, const std::string& cause) {
  return Update(
      file,
      [&](OutboxEntry& entry) {
        entry.cause = cause;
        ++entry.attempts;
        ++entry.lost;
      },
      Durability::Later);
}

size_t Outbox::Readdress(const std::vector<std::string>& files,
                         const OutboxDestination& destination, bool commit) {
  size_t count = 0;
  for (const std::string& file : files) {
    const bool changed = Update(
        file,
        [&](OutboxEntry& entry) {
          entry.destination = destination;
          entry.commit = commit;
          if (entry.state == OutboxState::Failed) {
            entry.state = OutboxState::Waiting;
            entry.attempts = 0;
            entry.lost = 0;
          }
        },
        Durability::Later);
    if (changed) ++count;
  }
  // Where an object goes must not change back after a power cut.
  Flush();
  return count;
}

void Outbox::Flush() {
  FolderLock lock(*journal_, folder_, true);
  JournalView& view = *journal_;
  if (!view.unflushed || !view.file.ok()) return;
  ::fsync(view.file.get());
  SyncPath(folder_);
  view.unflushed = false;
}

bool Outbox::MarkFailed(const std::string& file, const std::string& cause) {
  return Update(
      file,
      [&](OutboxEntry& entry) {
        entry.state = OutboxState::Failed;
        entry.cause = cause;
        ++entry.attempts;
      },
      Durability::Later);
}

bool Outbox::NoteAttempt(const std::string& file, const std::string& cause) {
  return Update(
      file,
      [&](OutboxEntry& entry) {
        entry.cause = cause;
        ++entry.attempts;
      },
      Durability::Later);
}

size_t Outbox::Retry(const std::vector<std::string>& sopInstanceUids) {
  size_t count = 0;
  for (const OutboxEntry& entry : Entries()) {
    if (entry.state != OutboxState::Failed) continue;
    if (!sopInstanceUids.empty() && std::find(sopInstanceUids.begin(), sopInstanceUids.end(),
                                              entry.sopInstanceUid) == sopInstanceUids.end()) {
      continue;
    }
    if (Update(entry.file, [](OutboxEntry& changed) {
          changed.state = OutboxState::Waiting;
          changed.attempts = 0;
        })) {
      ++count;
    }
  }
  return count;
}

size_t Outbox::Remove(const std::vector<std::string>& sopInstanceUids) {
  size_t count = 0;
  for (const OutboxEntry& entry : Entries()) {
    if (std::find(sopInstanceUids.begin(), sopInstanceUids.end(), entry.sopInstanceUid) ==
        sopInstanceUids.end()) {
      continue;
    }
    // The user's decision is flushed at once: a removed object must not come back.
    if (Leave(entry.file, Durability::Now)) {
      WriteLog("INFO, Outbox, removed " + entry.sopInstanceUid);
      ++count;
    }
  }
  return count;
}
