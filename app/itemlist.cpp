// The batch being assembled, guarded for the capture threads.
#include "itemlist.h"

#include <algorithm>

#include "sourcefile.h"
#include "wording.h"

namespace {

struct ExtensionKind {
  const char* extension;
  ItemKind kind;
};

// The ten extensions a batch converts.
constexpr ExtensionKind kKinds[] = {
    {".JPG", ItemKind::Image},    {".BMP", ItemKind::Image},     {".PNG", ItemKind::Image},
    {".DOC", ItemKind::Document}, {".DOCX", ItemKind::Document}, {".RTF", ItemKind::Document},
    {".TXT", ItemKind::Document}, {".HTML", ItemKind::Document}, {".PDF", ItemKind::Pdf},
    {".MP4", ItemKind::Video},
};

}  // namespace

ItemKind KindOfItem(const std::string& path) {
  const std::string extension = UpperExtension(path);
  for (const ExtensionKind& entry : kKinds) {
    if (extension == entry.extension) return entry.kind;
  }
  return ItemKind::Unknown;
}

const char* TileLabelOf(ItemKind kind) {
  switch (kind) {
    case ItemKind::Image:
      return WORDING("ItemStrip", "IMG");
    case ItemKind::Document:
      return WORDING("ItemStrip", "TEXT");
    case ItemKind::Pdf:
      return WORDING("ItemStrip", "PDF");
    case ItemKind::Video:
      return WORDING("ItemStrip", "Video");
    case ItemKind::Unknown:
      break;
  }
  return "";
}

void ItemList::Append(const std::string& path) {
  std::lock_guard lock(mutex_);
  paths_.push_back(path);
}

bool ItemList::AppendUnique(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (std::find(paths_.begin(), paths_.end(), path) != paths_.end()) return false;
  paths_.push_back(path);
  return true;
}

void ItemList::AppendFromThread(const std::string& path) {
  Append(path);
  newItem_ = true;
}

bool ItemList::RemoveAt(size_t index) {
  std::lock_guard lock(mutex_);
  if (index >= paths_.size()) return false;
  paths_.erase(paths_.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

void ItemList::Clear() {
  std::lock_guard lock(mutex_);
  paths_.clear();
}

void ItemList::RemoveFirst(size_t count) {
  std::lock_guard lock(mutex_);
  paths_.erase(paths_.begin(),
               paths_.begin() + static_cast<std::ptrdiff_t>(std::min(count, paths_.size())));
}

void ItemList::RemoveIndexes(std::vector<size_t> indexes) {
  std::sort(indexes.begin(), indexes.end());
  indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
  std::lock_guard lock(mutex_);
  // From the back, so the indexes still to remove keep their places.
  for (auto index = indexes.rbegin(); index != indexes.rend(); ++index) {
    if (*index < paths_.size()) paths_.erase(paths_.begin() + static_cast<std::ptrdiff_t>(*index));
  }
}

std::vector<std::string> ItemList::Snapshot() const {
  std::lock_guard lock(mutex_);
  return paths_;
}

std::optional<std::string> ItemList::At(size_t index) const {
  std::lock_guard lock(mutex_);
  if (index >= paths_.size()) return std::nullopt;
  return paths_[index];
}

size_t ItemList::Size() const {
  std::lock_guard lock(mutex_);
  return paths_.size();
}
