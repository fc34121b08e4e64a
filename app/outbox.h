// The outbox: objects on their way to the PACS, kept as Part 10 files with a journal that a crash
// or kill at any moment leaves consistent.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bufdata.h"
#include "dcmobj.h"
#include "outboxdestination.h"

// Where an object of the outbox stands. The journal writes these names; new states only append.
enum class OutboxState {
  Waiting,  // to be delivered (again)
  Failed,   // the PACS refused it with a failure status; kept until retried or removed
  // Stored on the PACS, which has not yet committed it (storage commitment). It is not sent
  // again; it leaves the outbox once committed, and fails when the PACS says it cannot commit it.
  Stored,
  Gone,  // delivered or removed; its file is deleted before this is recorded
};

const char* OutboxStateName(OutboxState state);

// One object of the outbox as the journal knows it.
struct OutboxEntry {
  std::string file;  // the file's name inside the outbox folder
  std::string sopClassUid;
  std::string sopInstanceUid;
  std::string batch;  // the batch it came from (its batch UID root); may be empty
  OutboxState state = OutboxState::Waiting;
  int attempts = 0;   // deliveries that ended without a status from the PACS, or with a failure
  std::string cause;  // why the last attempt did not deliver it, in plain words
  // The file it was made from, when the caller named one: a file the program made itself (a
  // scan, a print job) is deleted once every object made from it has been delivered.
  std::string source;
  // Whose it is, so that people can tell the objects apart: Patient's Name and Patient ID.
  std::string patientName;
  std::string patientId;
  int64_t queuedAt = 0;  // when it was queued, in seconds since 1970; 0 when not known
  // Its envelope: the PACS it goes to and whether that PACS is asked to commit it. A delivery
  // never sends it anywhere else; moving it to another PACS is an act of its own (Readdress).
  OutboxDestination destination;
  bool commit = false;
  // Deliveries that lost the connection while this object was on its way: an object that keeps
  // breaking the connection (too large, damaged) is failed after a few, so the others still go.
  int lost = 0;
};

// The name people know an object by, for every message about it: the name of the file it was
// made from ("report.pdf"), or its SOP Instance UID when it was made from none.
std::string OutboxObjectName(const OutboxEntry& entry);

// What kind of object it is, as people tell them apart: by its SOP class.
enum class OutboxObjectKind { Image, Document, Pdf, Video, Other };
OutboxObjectKind KindOf(const OutboxEntry& entry);

// What an object carries into the outbox besides its data.
struct OutboxEnvelope {
  std::string batch;   // the batch it came from (its batch UID root); may be empty
  std::string source;  // the file it was made from; may be empty
  OutboxDestination destination;
  bool commit = false;
};

// The journal as one process last read it (see outbox.cpp).
struct JournalView;

// The outbox folder with its journal. Objects are written beside their final name, flushed to
// disk, renamed, and only then recorded; a record is one appended line carrying its own checksum,
// so a line cut short by a crash is recognised and ignored. On opening, files without a record
// are taken in as waiting and records without a file are dropped, so the journal and the folder
// always agree. Every change holds an exclusive lock on the folder, so the window and
// velloran-cli may use the same outbox at the same time; each call sees what the others recorded
// (it reads what they appended to the journal since its last call).
class Outbox {
 public:
  explicit Outbox(std::filesystem::path folder);

  // The outbox of the user running the program: "outbox" in the per-user data folder.
  static std::filesystem::path DefaultFolder();

  // Creates the folder (readable by its owner only), reconciles the journal with the files and
  // rewrites the journal without its history. A journal that cannot be rewritten (a full disk) is
  // kept as it is, with a warning in the log: the outbox still lists and delivers what it holds,
  // which is what frees the space. False, with `error`, only when the folder cannot be created.
  bool Open(std::string& error);

  const std::filesystem::path& Folder() const { return folder_; }
  std::filesystem::path PathOf(const OutboxEntry& entry) const { return folder_ / entry.file; }

  // Writes the object as <SOP Instance UID>.dcm and records it as waiting, with its envelope.
  // When this returns true the object survives a crash; false, with `error`, when it could not be
  // written (nothing is left behind then). `added`, when given, receives the entry recorded.
  bool Add(DcmObj& dataSet, const OutboxEnvelope& envelope, std::string& error,
           OutboxEntry* added = nullptr);

  // Queuing a batch with one flush for several objects: Stage writes the object beside its final
  // name without waiting for the disk (it is not in the outbox yet, and a crash forgets it); Commit
  // then puts staged objects into the outbox together: their contents flushed, their names given
  // and the folder flushed once, their records appended and the journal flushed once. The entries
  // left in `staged` when Commit returns are queued and survive a crash; one that could not be
  // put in is taken out of `staged` with its file deleted, and Commit gives false with `error`.
  // `alsoTo`, when given, receives each piece of the file as it is written (for sending the object
  // meanwhile); what it answers does not stop the writing.
  bool Stage(DcmObj& dataSet, const OutboxEnvelope& envelope, OutboxEntry& staged,
             std::string& error, const PieceSink& alsoTo = {});
  bool Commit(std::vector<OutboxEntry>& staged, std::string& error);

  // Every object that has not gone, in the order they were first queued.
  std::vector<OutboxEntry> Entries() const;

  // The outcomes of deliveries below are written at once but reach the disk with the next flush
  // (the next object queued, or the outbox closing): a power cut before that loses only the
  // outcome, and the object is sent or tried once more, which is harmless.
  // Delivered: the file is deleted, then the object recorded as gone.
  bool MarkDelivered(const std::string& file);
  // Stored, its commitment still to come: kept, not sent again.
  bool MarkStored(const std::string& file, const std::string& cause);
  // The connection was lost while it was on its way: still waiting, the loss counted.
  bool NoteLost(const std::string& file, const std::string& cause);
  // Refused with a failure status: kept as failed with its cause.
  bool MarkFailed(const std::string& file, const std::string& cause);
  // An attempt that brought no decision (no answer, a broken connection): still waiting.
  bool NoteAttempt(const std::string& file, const std::string& cause);
  // Failed objects with these SOP Instance UIDs (all failed ones when empty) wait again; returns
  // how many.
  size_t Retry(const std::vector<std::string>& sopInstanceUids);
  // Deletes the objects with these SOP Instance UIDs from the outbox; returns how many.
  size_t Remove(const std::vector<std::string>& sopInstanceUids);
  // Gives these objects another destination and commitment wish, with one flush for all: an
  // object queued without one takes the PACS of the settings this way, and the user may send
  // objects meant for another PACS to the current one. A failed object waits again. Returns how
  // many were changed.
  size_t Readdress(const std::vector<std::string>& files, const OutboxDestination& destination,
                   bool commit);
  // Puts the outcomes recorded so far on the disk (one flush for a whole delivery round).
  void Flush();

 private:
  // Whether a record must be on the disk before the call returns, or may wait for the next flush.
  enum class Durability { Now, Later };
  // Appends the entry as it now stands; false when the journal cannot be written.
  bool Append(const OutboxEntry& entry, Durability durability = Durability::Now) const;
  bool AppendLines(std::string lines, Durability durability) const;
  // Finds the live entry for `file`, applies `change` and appends it.
  template <typename Change>
  bool Update(const std::string& file, Change change, Durability durability = Durability::Now);
  // Deletes the object's file, then records it as gone.
  bool Leave(const std::string& file, Durability durability);
  std::filesystem::path PartPathOf(const OutboxEntry& entry) const;

  std::filesystem::path folder_;
  std::shared_ptr<JournalView> journal_;  // shared by copies: they are the same outbox
};

// Held while a delivery runs, so that one process at a time delivers an outbox (another waits
// here). Released with the object, or by the system when the process dies.
class OutboxDeliveryLock {
 public:
  explicit OutboxDeliveryLock(const Outbox& outbox);
  ~OutboxDeliveryLock();
  OutboxDeliveryLock(const OutboxDeliveryLock&) = delete;
  OutboxDeliveryLock& operator=(const OutboxDeliveryLock&) = delete;

 private:
  int fd_ = -1;
};

// Flushes a written file or a folder's entries to disk; false when that fails.
bool SyncPath(const std::filesystem::path& path);
