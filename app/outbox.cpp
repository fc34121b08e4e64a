// The outbox: objects on their way to the PACS, kept as Part 10 files with a crash-proof journal.
#include "outbox.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "appfolders.h"
#include "dicomfile.h"
#include "log.h"
#include "storefiles.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kJournalName = "journal";
constexpr const char* kLockName = "lock";
constexpr const char* kRecordVersion = "1";
constexpr const char* kObjectSuffix = ".dcm";
constexpr const char* kPartSuffix = ".part";

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

 private:
  int fd_;
};

// The folder's lock, held for the life of the object: exclusive for changes, shared for reading.
// A killed process loses its lock with its descriptors, so a crash never leaves the folder locked.
class FolderLock {
 public:
  FolderLock(const fs::path& folder, bool exclusive)
      : fd_(::open((folder / kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (fd_.ok()) {
      while (::flock(fd_.get(), exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
      }
    }
  }

 private:
  Descriptor fd_;
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

std::string RecordLine(const OutboxEntry& entry) {
  std::string line = std::string(kRecordVersion) + '\t' + OutboxStateName(entry.state) + '\t' +
                     std::to_string(entry.attempts) + '\t' + Field(entry.file) + '\t' +
                     Field(entry.sopClassUid) + '\t' + Field(entry.sopInstanceUid) + '\t' +
                     Field(entry.batch) + '\t' + Field(entry.cause);
  // Added later: a record without a source keeps the shape older versions read.
  if (!entry.source.empty()) line += '\t' + Field(entry.source);
  char sum[16];
  std::snprintf(sum, sizeof sum, "\t%08x\n", Checksum(line));
  return line + sum;
}

// A name the outbox itself could have given: no folder part, not hidden, ending in ".dcm".
bool IsObjectName(const std::string& name) {
  return name.size() > std::strlen(kObjectSuffix) && name.find('/') == std::string::npos &&
         name[0] != '.' && name.ends_with(kObjectSuffix);
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
  if (fields.size() < 8 || fields.size() > 9 || fields[0] != kRecordVersion) return false;
  const auto* state = std::find(std::begin(kStateNames), std::end(kStateNames), fields[1]);
  if (state == std::end(kStateNames)) return false;
  entry.state = static_cast<OutboxState>(state - std::begin(kStateNames));
  entry.attempts = std::atoi(fields[2].c_str());
  entry.file = fields[3];
  entry.sopClassUid = fields[4];
  entry.sopInstanceUid = fields[5];
  entry.batch = fields[6];
  entry.cause = fields[7];
  if (fields.size() > 8) entry.source = fields[8];
  return IsObjectName(entry.file);
}

// The journal replayed: the last record of each file wins; a file whose last record says gone
// has no entry. Lines cut short or damaged are skipped.
std::vector<OutboxEntry> Replay(const fs::path& journal) {
  std::vector<OutboxEntry> order;
  std::map<std::string, size_t> at;
  std::FILE* file = std::fopen(journal.c_str(), "rb");
  if (file == nullptr) return order;
  std::string text;
  char chunk[1 << 16];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  std::fclose(file);
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // the last line was being written when it stopped
    OutboxEntry entry;
    if (ParseRecord(std::string_view(text).substr(start, end - start), entry)) {
      const auto found = at.find(entry.file);
      if (found == at.end()) {
        at.emplace(entry.file, order.size());
        order.push_back(std::move(entry));
      } else {
        order[found->second] = std::move(entry);
      }
    }
    start = end + 1;
  }
  std::erase_if(order, [](const OutboxEntry& entry) { return entry.state == OutboxState::Gone; });
  return order;
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

// Writes the whole journal anew beside the old one and puts it in its place.
bool RewriteJournal(const fs::path& folder, const std::vector<OutboxEntry>& entries) {
  const fs::path fresh = folder / (std::string(kJournalName) + ".new");
  {
    Descriptor fd(::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd.ok()) return false;
    for (const OutboxEntry& entry : entries) {
      const std::string line = RecordLine(entry);
      if (!WriteAll(fd.get(), line.data(), line.size())) return false;
    }
    if (::fsync(fd.get()) != 0) return false;
  }
  std::error_code error;
  fs::rename(fresh, folder / kJournalName, error);
  return !error && SyncPath(folder);
}

}  // namespace

const char* OutboxStateName(OutboxState state) {
  return kStateNames[static_cast<size_t>(state)];
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

Outbox::Outbox(fs::path folder) : folder_(std::move(folder)) {}

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
  FolderLock lock(folder_, true);
  std::vector<OutboxEntry> entries = Replay(folder_ / kJournalName);
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
  if (!RewriteJournal(folder_, entries)) {
    error = "cannot write the outbox journal in " + folder_.string();
    WriteLog("ERROR, Outbox, " + error);
    return false;
  }
  return true;
}

bool Outbox::Add(DcmObj& dataSet, const std::string& batch, std::string& error, OutboxEntry* added,
                 const std::string& source) {
  OutboxEntry entry;
  entry.source = source;
  entry.sopClassUid = dataSet.GetString(0x0008, 0x0016);
  entry.sopInstanceUid = dataSet.GetString(0x0008, 0x0018);
  entry.batch = batch;
  entry.file = entry.sopInstanceUid + kObjectSuffix;
  if (!IsObjectName(entry.file) || entry.sopClassUid.empty()) {
    error = "the object has no usable SOP Class or Instance UID";
    return false;
  }
  const fs::path part =
      folder_ / (entry.file + "." + std::to_string(::getpid()) + std::string(kPartSuffix));
  const fs::path final = folder_ / entry.file;
  bool written = false;
  {
    Descriptor fd(::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (fd.ok()) {
      written =
          WritePart10Pieces(dataSet, 1 << 20,
                            [&](const uint8_t* data, size_t size) {
                              return WriteAll(fd.get(), reinterpret_cast<const char*>(data), size);
                            }) &&
          ::fsync(fd.get()) == 0;
    }
  }
  std::error_code status;
  if (written) {
    FolderLock lock(folder_, true);
    fs::rename(part, final, status);
    written = !status && SyncPath(folder_) && Append(entry);
    if (!written) fs::remove(final, status);
  }
  if (!written) {
    fs::remove(part, status);
    error = "cannot write " + entry.file + " into the outbox " + folder_.string() + ": " +
            std::strerror(errno);
    WriteLog("ERROR, Outbox, " + error);
    return false;
  }
  if (added != nullptr) *added = entry;
  return true;
}

std::vector<OutboxEntry> Outbox::Entries() const {
  FolderLock lock(folder_, false);
  return Replay(folder_ / kJournalName);
}

bool Outbox::Append(const OutboxEntry& entry) const {
  Descriptor fd(
      ::open((folder_ / kJournalName).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  const std::string line = RecordLine(entry);
  // One write of one line: a crash leaves it whole or cut short, and a cut line fails its check.
  return fd.ok() && WriteAll(fd.get(), line.data(), line.size()) && ::fsync(fd.get()) == 0;
}

template <typename Change>
bool Outbox::Update(const std::string& file, Change change) {
  FolderLock lock(folder_, true);
  std::vector<OutboxEntry> entries = Replay(folder_ / kJournalName);
  auto found = std::find_if(entries.begin(), entries.end(),
                            [&](const OutboxEntry& entry) { return entry.file == file; });
  if (found == entries.end()) return false;
  change(*found);
  return Append(*found);
}

bool Outbox::MarkDelivered(const std::string& file) {
  return Update(file, [&](OutboxEntry& entry) {
    // The file goes first: a crash before the record is written leaves a record without a file,
    // which opening drops, never a delivered object that is sent again and again.
    std::error_code ignored;
    fs::remove(folder_ / entry.file, ignored);
    SyncPath(folder_);
    entry.state = OutboxState::Gone;
    entry.cause.clear();
  });
}

bool Outbox::MarkStored(const std::string& file, const std::string& cause) {
  return Update(file, [&](OutboxEntry& entry) {
    entry.state = OutboxState::Stored;
    entry.cause = cause;
  });
}

bool Outbox::MarkFailed(const std::string& file, const std::string& cause) {
  return Update(file, [&](OutboxEntry& entry) {
    entry.state = OutboxState::Failed;
    entry.cause = cause;
    ++entry.attempts;
  });
}

bool Outbox::NoteAttempt(const std::string& file, const std::string& cause) {
  return Update(file, [&](OutboxEntry& entry) {
    entry.cause = cause;
    ++entry.attempts;
  });
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
    if (MarkDelivered(entry.file)) {
      WriteLog("INFO, Outbox, removed " + entry.sopInstanceUid);
      ++count;
    }
  }
  return count;
}
