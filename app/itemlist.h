// The batch being assembled: source file paths in order, shared by the window and the threads
// that capture print jobs or scanned pages.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// The kind of an item follows from its upper-cased extension (from the last dot).
enum class ItemKind { Image, Document, Pdf, Video, Unknown };

ItemKind KindOfItem(const std::string& path);

// The label a tile carries for its kind: "IMG", "TEXT", "PDF", "Video"; empty for Unknown. The
// window shows it translated (context "ItemStrip").
const char* TileLabelOf(ItemKind kind);

// An ordered list of paths; every operation is safe to call from any thread. Duplicates are
// allowed (only AppendUnique refuses them).
class ItemList {
 public:
  // Appends a path from the GUI thread, which redraws the strip itself.
  void Append(const std::string& path);
  // Appends unless an equal path (exact, case-sensitive) is present; false when refused.
  bool AppendUnique(const std::string& path);
  // Appends a path from another thread and raises the new-item flag, so the window's timer
  // redraws the strip.
  void AppendFromThread(const std::string& path);

  // Removes the item at `index`; false when there is none.
  bool RemoveAt(size_t index);
  void Clear();
  // Removes the first `count` items (those a batch took), keeping items appended since.
  void RemoveFirst(size_t count);
  // Removes the items at these indexes (those of a batch that were stored or written), keeping
  // every other item in its order; indexes past the end are ignored.
  void RemoveIndexes(std::vector<size_t> indexes);

  std::vector<std::string> Snapshot() const;
  std::optional<std::string> At(size_t index) const;
  size_t Size() const;
  bool Empty() const { return Size() == 0; }

  // Clears the new-item flag and returns what it was.
  bool TakeNewItemFlag() { return newItem_.exchange(false); }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> paths_;
  std::atomic<bool> newItem_{false};
};
