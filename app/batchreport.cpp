// What became of each item of one batch, and the sentences the user is shown about them.
#include "batchreport.h"

#include <system_error>
#include <utility>

namespace {

// A list of names stays readable in a message box: the first ten, then how many more.
constexpr size_t kNamesShown = 10;

std::string NameList(const std::vector<std::string>& names) {
  std::string text;
  for (size_t i = 0; i < names.size() && i < kNamesShown; ++i) {
    if (i > 0) text += ", ";
    text += names[i];
  }
  if (names.size() > kNamesShown) {
    text += " and " + std::to_string(names.size() - kNamesShown) + " more";
  }
  return text;
}

}  // namespace

BatchReport::BatchReport(std::vector<std::string> items)
    : items_(std::move(items)), states_(items_.size()) {}

void BatchReport::NoObject(size_t item, std::string reason) {
  ItemState& state = states_.at(item);
  state.noObject = true;
  state.reason = std::move(reason);
}

void BatchReport::ObjectMade(size_t item, const DcmObj& dataSet) {
  ++states_.at(item).made;
  itemOfInstance_[dataSet.GetString(0x0008, 0x0018)] = item;
}

void BatchReport::ObjectDone(const DcmObj& dataSet, bool delivered, const std::string& reason) {
  const auto found = itemOfInstance_.find(dataSet.GetString(0x0008, 0x0018));
  if (found == itemOfInstance_.end()) return;
  ItemState& state = states_[found->second];
  if (delivered) {
    ++state.delivered;
  } else {
    state.failed = true;
    if (state.reason.empty()) state.reason = reason;
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

void BatchReport::SetCause(const std::string& cause) {
  if (cause_.empty()) cause_ = cause;
}

bool BatchReport::Complete() const {
  return !cancelled_ && Count(ItemFate::Delivered) == items_.size();
}

std::string BatchReport::NotDeliveredText(std::string_view verb) const {
  std::vector<std::string> names;
  for (size_t i = 0; i < items_.size(); ++i) {
    const ItemFate fate = Fate(i);
    // Once the batch is over, an item still waiting was never reached: a failure stopped it.
    const bool notReached = fate == ItemFate::Waiting && !cancelled_;
    if (fate != ItemFate::NoObject && fate != ItemFate::Failed && !notReached) continue;
    std::string name = ItemName(items_[i]);
    if (!states_[i].reason.empty()) {
      name += " (" + states_[i].reason + ")";
    } else if (notReached) {
      name += " (not reached)";
    }
    names.push_back(std::move(name));
  }
  if (names.empty()) return {};
  return std::to_string(names.size()) + " of " + std::to_string(items_.size()) +
         " items were not " + std::string(verb) + ": " + NameList(names);
}

std::string BatchReport::CancelledText(std::string_view action, std::string_view verb) const {
  std::vector<std::string> names;
  for (size_t item : DeliveredItems()) names.push_back(ItemName(items_[item]));
  std::string text = std::string(action) + " cancelled: " + std::to_string(names.size()) + " of " +
                     std::to_string(items_.size()) + " items were " + std::string(verb);
  if (!names.empty()) text += ": " + NameList(names);
  return text + "; the other " + std::to_string(items_.size() - names.size()) +
         " stay in the list.";
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
