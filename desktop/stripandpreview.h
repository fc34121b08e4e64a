// The window's left panel: the strip of item tiles in its scroll box, and the large preview above
// it. The strip shows at once, with the tiles not yet drawn left blank; they are drawn on a pool
// of threads, those in view first, and land in their places as they are done. The preview's
// picture is decoded beside the window, and only the one asked for last is shown.
#pragma once

#include <QCoreApplication>
#include <QThreadPool>
#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "itemlist.h"
#include "thumbnails.h"
#include "tileloader.h"

class DialogProvider;
class ItemStripView;
class PreviewView;
class QScrollArea;
class QWidget;

class StripAndPreview {
  Q_DECLARE_TR_FUNCTIONS(StripAndPreview)

 public:
  // The strip's height (one row of tiles above the scroll bar) at the designed size; it keeps it
  // whatever the window does, unless the desktop's scroll bar needs more.
  static constexpr int kDesignedHeight = 120;

  // Makes the preview and the strip in `panel`, showing `items`; `dialogs` tells of items of a
  // kind the program cannot process.
  StripAndPreview(QWidget* panel, ItemList& items, DialogProvider& dialogs);
  // Waits for the preview's decoding; tiles still being drawn are dropped.
  ~StripAndPreview();
  StripAndPreview(const StripAndPreview&) = delete;
  StripAndPreview& operator=(const StripAndPreview&) = delete;

  // Shows the strip at once: cached tiles drawn, the others blank until the pool has drawn them.
  void Refresh();
  // True when every tile of the strip is drawn.
  bool Complete() const { return waiting_.empty(); }
  // Drops the tiles not yet drawn (the window closes).
  void StopDrawing();

  // Shows the item's picture in the preview, or names an item that is no picture, and scrolls its
  // tile into view.
  void ShowItem(size_t index);
  // Decodes the picture beside the window and shows it, unless another is asked for meanwhile.
  void ShowPreview(const std::string& path);
  // A white preview; a picture still being decoded is not shown any more.
  void ClearPreview();
  // True while the picture asked for the preview is being decoded.
  bool PreviewPending() const { return previewPending_; }

  // Where tile `index` starts in the strip.
  static int TileLeft(size_t index) { return static_cast<int>(index) * kTileSize; }
  ThumbnailCache& Thumbnails() { return thumbnails_; }

  PreviewView* Image2;
  QScrollArea* ScrollBox1;
  ItemStripView* Image1;

 private:
  void TileDrawn(const TileLoader::Job& job, const QImage& tile);
  // The tiles still to draw: those in the scroll box's view first, then the others in item order.
  std::vector<TileLoader::Job> WaitingTileJobs() const;

  QWidget* panel_;
  QMetaObject::Connection scrolled_;
  ItemList& items_;
  DialogProvider& dialogs_;
  ThumbnailCache thumbnails_;
  // After the cache, which it fills.
  std::unique_ptr<TileLoader> tileLoader_;
  // The strip's tiles still being drawn: by path, the file's stamp and the tiles it fills.
  struct WaitingTile {
    FileStamp stamp;
    std::vector<size_t> indexes;
  };
  std::unordered_map<std::string, WaitingTile> waiting_;
  bool refreshing_ = false;
  bool refreshAgain_ = false;
  // The preview's decoding: one picture at a time, and only the last asked for is shown.
  QThreadPool previewPool_;
  std::atomic<unsigned> previewRequest_{0};
  bool previewPending_ = false;
};
