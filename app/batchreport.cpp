// What became of each item of one batch, and the sentences the user is shown about them.
#include "batchreport.h"

#include <system_error>
#include <utility>

namespace {

// A list of names stays readable in a message box: the first ten, then how many more.
constexpr size_t kNamesShown = 10;

UserMessage NameList(std::vector<UserMessage> names) {
  const size_t more = names.size() > kNamesShown ? names.size() - kNamesShown : 0;
  names.resize(names.size() - more);
  UserMessage shown(UserMessageKind::Names, std::move(names));
  if (more == 0) return shown;
  return UserMessage(UserMessageKind::NamesAndMore,
                     {std::move(shown), UserMessage::Number(static_cast<long long>(more))});
}

UserMessage CountOf(size_t count) {
  return UserMessage::Number(static_cast<long long>(count));
}

}  // namespace

BatchReport::BatchReport(std::vector<std::string> items)
    : items_(std::move(items)), states_(items_.size()) {}

void BatchReport::NoObject(size_t item, UserMessage reason) {
  ItemState& state = states_.at(item);
  state.noObject = true;
  state.reason = std::move(reason);
}

void BatchReport::ObjectMade(size_t item, const DcmObj& dataSet) {
  ++states_.at(item).made;
  itemOfInstance_[dataSet.GetString(0x0008, 0x0018)] = item;
}

void BatchReport::ObjectDone(const DcmObj& dataSet, bool delivered, const UserMessage& reason) {
  const auto found = itemOfInstance_.find(dataSet.GetString(0x0008, 0x0018));
  if (found == itemOfInstance_.end()) return;
  ItemState& state = states_[found->second];
  if (delivered) {
    ++state.delivered;
  } else {
    state.failed = true;
    if (state.reason.Empty()) state.reason = reason;
  }
}

std::string BatchReport::NameOf(const DcmObj& dataSet) const {
  const auto found = itemOfInstance_.find(dataSet.GetString(0x0008, 0x0018));
  return found == itemOfInstance_.end() ? std::string() : ItemName(items_[found->second]);
}

ItemFate BatchReport::Fate(size_t item) const {
  const ItemState& state = states_.at(item);
  if (state.noObject) return ItemFate::NoObject;
  if (state.failed) return ItemFate::Failed;
  if (state.made > 0 && state.delivered == state.made) return ItemFate::Delivered;
  return ItemFate::Waiting;
}

std::vector<size_t> BatchReport::DeliveredItems() const {
  std::vector<size_t> delivered;
  for (size_t i = 0; i < states_.size(); ++i) {
    if (Fate(i) == ItemFate::Delivered) delivered.push_back(i);
  }
  return delivered;
}

size_t BatchReport::Count(ItemFate fate) const {
  size_t count = 0;
  for (size_t i = 0; i < states_.size(); ++i) count += Fate(i) == fate ? 1 : 0;
  return count;
}

void BatchReport::SetCause(UserMessage cause) {
  if (cause_.Empty()) cause_ = std::move(cause);
}

bool BatchReport::Complete() const {
  return !cancelled_ && Count(ItemFate::Delivered) == items_.size();
}

UserMessage BatchReport::NotDelivered(DoneAs done) const {
  std::vector<UserMessage> names;
  for (size_t i = 0; i < items_.size(); ++i) {
    const ItemFate fate = Fate(i);
    // Once the batch is over, an item still waiting was never reached: a failure stopped it.
    const bool notReached = fate == ItemFate::Waiting && !cancelled_;
    if (fate != ItemFate::NoObject && fate != ItemFate::Failed && !notReached) continue;
    UserMessage name = UserMessage::Text(ItemName(items_[i]));
    if (!states_[i].reason.Empty()) {
      name = UserMessage(UserMessageKind::NamedReason, {std::move(name), states_[i].reason});
    } else if (notReached) {
      name = UserMessage(UserMessageKind::NamedReason,
                         {std::move(name), UserMessage(UserMessageKind::NotReached)});
    }
    names.push_back(std::move(name));
  }
  if (names.empty()) return {};
  const size_t count = names.size();
  return UserMessage(
      done == DoneAs::Written ? UserMessageKind::ItemsNotWritten : UserMessageKind::ItemsNotSent,
      {CountOf(count), CountOf(items_.size()), NameList(std::move(names))});
}

UserMessage BatchReport::Cancelled(DoneAs done) const {
  std::vector<UserMessage> names;
  for (size_t item : DeliveredItems()) names.push_back(UserMessage::Text(ItemName(items_[item])));
  const size_t count = names.size();
  const size_t other = items_.size() - count;
  struct Kinds {
    UserMessageKind named;
    UserMessageKind none;
  };
  const Kinds kinds =
      done == DoneAs::Written
          ? Kinds{UserMessageKind::SaveCancelledWritten, UserMessageKind::SaveCancelledWrittenNone}
      : done == DoneAs::Queued
          ? Kinds{UserMessageKind::SendCancelledQueued, UserMessageKind::SendCancelledQueuedNone}
          : Kinds{UserMessageKind::SendCancelledStored, UserMessageKind::SendCancelledStoredNone};
  if (names.empty())
    return UserMessage(kinds.none, {CountOf(0), CountOf(items_.size()), CountOf(other)});
  return UserMessage(kinds.named, {CountOf(count), CountOf(items_.size()),
                                   NameList(std::move(names)), CountOf(other)});
}

std::string ShortReason(const std::string& error, const std::string& path) {
  for (const std::string& named : {"\"" + path + "\": ", path + ": "}) {
    const size_t at = error.find(named);
    if (at != std::string::npos && at + named.size() < error.size()) {
      return error.substr(at + named.size());
    }
  }
  return error;
}

std::string ItemName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

bool IsInFolder(const std::filesystem::path& path, const std::filesystem::path& folder) {
  std::error_code error;
  const std::filesystem::path realFolder = std::filesystem::weakly_canonical(folder, error);
  if (error || realFolder.empty()) return false;
  const std::filesystem::path realPath = std::filesystem::weakly_canonical(path, error);
  if (error) return false;
  // Component by component: "/app/work" is not a folder of "/app/work2/x.pdf" nor of
  // "/home/work/x.pdf".
  auto inPath = realPath.begin();
  for (const std::filesystem::path& part : realFolder) {
    if (part.empty()) continue;  // the trailing separator of "/app/work/"
    if (inPath == realPath.end() || *inPath != part) return false;
    ++inPath;
  }
  return inPath != realPath.end() && !inPath->empty();
}

std::vector<size_t> FinishDeliveredItems(const BatchReport& report,
                                         const std::filesystem::path& workFolder) {
  const std::vector<size_t> delivered = report.DeliveredItems();
  RemoveWorkFiles(report.Items(), delivered, workFolder);
  return delivered;
}

void RemoveWorkFiles(const std::vector<std::string>& items, const std::vector<size_t>& indexes,
                     const std::filesystem::path& workFolder) {
  for (size_t item : indexes) {
    if (item >= items.size()) continue;
    std::error_code ignored;
    if (IsInFolder(items[item], workFolder)) std::filesystem::remove(items[item], ignored);
  }
}
