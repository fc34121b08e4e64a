// The strip of item tiles and the preview.
#include "stripandpreview.h"

#include <QFileInfo>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <thread>
#include <tuple>

#include "dialogprovider.h"
#include "sourcefile.h"
#include "stripview.h"

StripAndPreview::StripAndPreview(QWidget* panel, ItemList& items, DialogProvider& dialogs)
    : panel_(panel), items_(items), dialogs_(dialogs) {
  // One decoder a core, up to four; the GUI thread only places the tiles.
  const int decoders = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
  previewPool_.setMaxThreadCount(1);
  tileLoader_ = std::make_unique<TileLoader>(
      thumbnails_, decoders,
      [this](const TileLoader::Job& job, const QImage& tile) { TileDrawn(job, tile); });

  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  Image2 = new PreviewView(panel);
  Image2->setMinimumSize(160, 120);
  Image2->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  ScrollBox1 = new QScrollArea(panel);
  ScrollBox1->setObjectName("ScrollBox1");
  ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The strip keeps its height: one row of tiles above the scroll bar, whatever the window does.
  ScrollBox1->setFixedHeight(
      std::max(kDesignedHeight, kTileSize + ScrollBox1->horizontalScrollBar()->sizeHint().height() +
                                    2 * ScrollBox1->frameWidth()));
  Image1 = new ItemStripView;
  ScrollBox1->setWidget(Image1);
  ScrollBox1->setWidgetResizable(false);
  ScrollBox1->setFocusProxy(Image1);
  column->addWidget(Image2, 1);
  column->addWidget(ScrollBox1);
  // Scrolled while tiles are still being drawn: the ones now in view go first.
  scrolled_ = QObject::connect(ScrollBox1->horizontalScrollBar(), &QScrollBar::valueChanged,
                               ScrollBox1, [this] {
                                 if (!waiting_.empty()) tileLoader_->Request(WaitingTileJobs());
                               });
}

StripAndPreview::~StripAndPreview() {
  // The scroll box goes later, with the window's children, and may still scroll as it goes.
  QObject::disconnect(scrolled_);
  previewPool_.clear();
  previewPool_.waitForDone();
}

void StripAndPreview::Refresh() {
  // A redraw asked for while one runs (the timer, a click) is done once the running one ends.
  if (refreshing_) {
    refreshAgain_ = true;
    return;
  }
  refreshing_ = true;
  do {
    refreshAgain_ = false;
    const std::vector<std::string> paths = items_.Snapshot();
    for (const std::string& path : paths) {
      if (KindOfItem(path) == ItemKind::Unknown) {
        //: %1 is a file's extension, such as .ODT.
        dialogs_.ShowMessage(
            panel_->window(),
            tr("ERROR, can't process %1").arg(QString::fromStdString(UpperExtension(path))));
      }
    }
    std::vector<QImage> tiles(paths.size());
    waiting_.clear();
    for (size_t i = 0; i < paths.size(); ++i) {
      const auto waiting = waiting_.find(paths[i]);
      if (waiting != waiting_.end()) {
        waiting->second.indexes.push_back(i);
        continue;
      }
      const FileStamp stamp = StampOf(paths[i]);
      tiles[i] = thumbnails_.Find(paths[i], stamp);
      if (!tiles[i].isNull()) continue;
      waiting_.emplace(paths[i], WaitingTile{stamp, {i}});
    }
    Image1->SetTiles(std::move(tiles));
    tileLoader_->Request(WaitingTileJobs());
  } while (refreshAgain_);
  refreshing_ = false;
}

void StripAndPreview::StopDrawing() {
  tileLoader_->Cancel();
}

std::vector<TileLoader::Job> StripAndPreview::WaitingTileJobs() const {
  const int left = ScrollBox1->horizontalScrollBar()->value();
  const size_t firstInView = static_cast<size_t>(std::max(left, 0) / kTileSize);
  const size_t lastInView =
      static_cast<size_t>(std::max(left + ScrollBox1->viewport()->width() - 1, 0) / kTileSize);
  struct Place {
    bool outOfView;
    size_t index;
    const std::string* path;
    const FileStamp* stamp;
  };
  std::vector<Place> places;
  places.reserve(waiting_.size());
  for (const auto& [path, waiting] : waiting_) {
    const bool inView =
        std::any_of(waiting.indexes.begin(), waiting.indexes.end(),
                    [&](size_t index) { return index >= firstInView && index <= lastInView; });
    places.push_back({!inView, waiting.indexes.front(), &path, &waiting.stamp});
  }
  std::sort(places.begin(), places.end(), [](const Place& a, const Place& b) {
    return std::tie(a.outOfView, a.index) < std::tie(b.outOfView, b.index);
  });
  std::vector<TileLoader::Job> jobs;
  jobs.reserve(places.size());
  for (const Place& place : places) jobs.push_back({*place.path, *place.stamp});
  return jobs;
}

void StripAndPreview::TileDrawn(const TileLoader::Job& job, const QImage& tile) {
  // A tile for an item since removed, or for a file since changed, only went into the cache.
  const auto waiting = waiting_.find(job.path);
  if (waiting == waiting_.end() || !(waiting->second.stamp == job.stamp)) return;
  for (size_t index : waiting->second.indexes) Image1->SetTile(index, tile);
  waiting_.erase(waiting);
}

void StripAndPreview::ShowItem(size_t index) {
  ScrollBox1->ensureVisible(TileLeft(index) + kTileSize / 2, kTileSize / 2, kTileSize / 2, 0);
  const std::optional<std::string> path = items_.At(index);
  if (!path) return;
  // A picture is shown; any other item is named, so the preview never shows a stale picture.
  if (KindOfItem(*path) == ItemKind::Image) {
    ShowPreview(*path);
  } else {
    ++previewRequest_;
    previewPending_ = false;
    Image2->ShowNote(QFileInfo(QString::fromStdString(*path)).fileName());
  }
}

void StripAndPreview::ShowPreview(const std::string& path) {
  // A photo of many megapixels takes a few hundred milliseconds to decode even at reduced scale:
  // it is decoded beside the window, and only the last one asked for is shown (arrow keys held
  // down ask for many).
  const unsigned request = ++previewRequest_;
  previewPending_ = true;
  previewPool_.start([this, request, path = QString::fromStdString(path), size = Image2->size()] {
    if (request != previewRequest_) return;
    QSize full;
    const QImage picture = DecodePictureForPreview(path, size, &full);
    QMetaObject::invokeMethod(
        Image2,
        [this, request, path, picture, full] {
          if (request != previewRequest_) return;
          previewPending_ = false;
          if (picture.isNull()) {
            Image2->ShowNote(
                tr("This picture cannot be decoded:\n%1").arg(QFileInfo(path).fileName()));
          } else {
            Image2->ShowFitted(picture, full);
          }
        },
        Qt::QueuedConnection);
  });
}

void StripAndPreview::ClearPreview() {
  // A decode still running for the preview is not shown any more.
  ++previewRequest_;
  previewPending_ = false;
  Image2->ClearToWhite();
}
