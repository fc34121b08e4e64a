// What became of each item of one batch: which gave no object and why, which were stored or
// written, and the sentences the user is shown about them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "dcmobj.h"
#include "usermessage.h"

// Reasons an item gave no object.
inline const UserMessage kNoTextReason{UserMessageKind::NoText};
inline const UserMessage kUnknownKindReason{UserMessageKind::UnknownKind};

// What became of the items a message counts: sent (stored on the PACS), written into a folder, or
// put in the outbox.
enum class DoneAs { Sent, Written, Queued };

enum class ItemFate {
  Waiting,    // not converted, or its objects not yet stored or written (a cancelled batch)
  NoObject,   // no object was made from it; Reason() says why
  Delivered,  // every object made from it was stored or written
  Failed,     // an object made from it was not stored or written
};

class BatchReport {
 public:
  BatchReport() = default;
  explicit BatchReport(std::vector<std::string> items);

  const std::vector<std::string>& Items() const { return items_; }

  // Conversion: an item that gave no object, and an object made from an item.
  void NoObject(size_t item, UserMessage reason);
  void NoObject(size_t item, const std::string& reason) {
    NoObject(item, UserMessage::Text(reason));
  }
  void ObjectMade(size_t item, const DcmObj& dataSet);
  // Delivery of an object this batch made (found by its SOP Instance UID); others are ignored.
  // A failed one may give its item's reason, when the item has none yet.
  void ObjectDone(const DcmObj& dataSet, bool delivered, const UserMessage& reason = {});

  // The file name of the item an object was made from; empty for an object of another batch.
  std::string NameOf(const DcmObj& dataSet) const;

  ItemFate Fate(size_t item) const;
  const UserMessage& Reason(size_t item) const { return states_.at(item).reason; }
  // Items whose every object was stored or written, in list order.
  std::vector<size_t> DeliveredItems() const;
  size_t Count(ItemFate fate) const;

  // The first cause of a failure, in words a receptionist can act on; later ones are ignored.
  void SetCause(UserMessage cause);
  void SetCause(const std::string& cause) { SetCause(UserMessage::Text(cause)); }
  const UserMessage& Cause() const { return cause_; }

  void MarkCancelled() { cancelled_ = true; }
  bool Cancelled() const { return cancelled_; }

  // True when every item was delivered and the batch ran to its end.
  bool Complete() const;

  // "2 of 7 items were not sent: empty.txt (no text), notes.odt (unknown kind)", naming the
  // items that gave no object or whose object failed, and those a batch that stopped on a failure
  // never reached ("not reached") ("written" for a Save, "sent" otherwise); empty when there are
  // none. Long lists name the first ten and count the rest.
  UserMessage NotDelivered(DoneAs done) const;
  // "Send cancelled: 3 of 200 items were stored: a.jpg, b.jpg, c.jpg; the other 197 stay in the
  // list.", or "Save cancelled: ... were written ..." or "... were put in the outbox ...".
  UserMessage Cancelled(DoneAs done) const;

 private:
  struct ItemState {
    UserMessage reason;
    size_t made = 0;
    size_t delivered = 0;
    bool failed = false;
    bool noObject = false;
  };
  std::vector<std::string> items_;
  std::vector<ItemState> states_;
  std::map<std::string, size_t> itemOfInstance_;
  UserMessage cause_;
  bool cancelled_ = false;
};

// A converter's error cut to its reason for a list of file names: the part after the quoted or
// plain path when the message names it, the whole message otherwise.
std::string ShortReason(const std::string& error, const std::string& path);

// The file name of a path, as lists show it.
std::string ItemName(const std::string& path);

// True when `path` lies in `folder` or beneath it, comparing the real folders (links and ".."
// resolved), never the texts.
bool IsInFolder(const std::filesystem::path& path, const std::filesystem::path& folder);

// After a Send: deletes the files of delivered items that lie in the work folder (those the
// program made itself: scans, print jobs) and returns the delivered items' indexes, which leave
// the list. Items that were not delivered, and their files, stay.
std::vector<size_t> FinishDeliveredItems(const BatchReport& report,
                                         const std::filesystem::path& workFolder);

// Deletes the files of the items at `indexes` that lie in the work folder; the others are left.
void RemoveWorkFiles(const std::vector<std::string>& items, const std::vector<size_t>& indexes,
                     const std::filesystem::path& workFolder);
