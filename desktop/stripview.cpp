// The strip of item tiles and the preview.
#include "stripview.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "thumbnails.h"

ItemStripView::ItemStripView(QWidget* parent) : QWidget(parent) {
  setObjectName("Image1");
  setAccessibleName("Items");
  setFixedSize(0, kTileSize);
}

void ItemStripView::SetTiles(std::vector<QImage> tiles) {
  tiles_ = std::move(tiles);
  setFixedSize(static_cast<int>(tiles_.size()) * kTileSize, kTileSize);
  update();
}

void ItemStripView::SetTile(size_t index, const QImage& tile) {
  if (index >= tiles_.size()) return;
  tiles_[index] = tile;
  update(QRect(static_cast<int>(index) * kTileSize, 0, kTileSize, kTileSize));
}

void ItemStripView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), Qt::white);
  // Only the tiles in view: a long strip in its scroll box shows three or four.
  const int first = std::max(event->rect().left() / kTileSize, 0);
  const int last = std::min(event->rect().right() / kTileSize, static_cast<int>(tiles_.size()) - 1);
  for (int i = first; i <= last; ++i) {
    const QImage& tile = tiles_[static_cast<size_t>(i)];
    if (tile.isNull()) {
      painter.fillRect(QRect(i * kTileSize + 2, 2, kTileSize - 4, kTileSize - 4),
                       QColor(0xE4, 0xE4, 0xE4));
    } else {
      painter.drawImage(QPoint(i * kTileSize, 0), tile);
    }
  }
}

void ItemStripView::mousePressEvent(QMouseEvent* event) {
  emit MouseDown(event->button(), event->position().toPoint().x());
}

PreviewView::PreviewView(QWidget* parent) : QWidget(parent) {
  setObjectName("Image2");
  setAccessibleName("Preview");
}

void PreviewView::ClearToWhite() {
  canvas_ = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  canvas_.fill(Qt::white);
  pictureRect_ = QRect();
  update();
}

void PreviewView::ShowPicture(const QImage& picture, const QRect& target) {
  ClearToWhite();
  QPainter painter(&canvas_);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, picture);
  pictureRect_ = target;
}

void PreviewView::ShowNote(const QString& text) {
  ClearToWhite();
  QPainter painter(&canvas_);
  painter.setPen(Qt::black);
  painter.drawText(canvas_.rect(), Qt::AlignCenter | Qt::TextWordWrap, text);
}

void PreviewView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (canvas_.isNull()) {
    painter.fillRect(rect(), palette().button());
    return;
  }
  painter.drawImage(QPoint(0, 0), canvas_);
}

void PreviewView::resizeEvent(QResizeEvent*) {
  if (!canvas_.isNull() && canvas_.size() != size()) ClearToWhite();
}
