// The strip of item tiles and the preview.
#include "stripview.h"

#include <QMouseEvent>
#include <QPainter>

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

void ItemStripView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  for (size_t i = 0; i < tiles_.size(); ++i) {
    painter.drawImage(QPoint(static_cast<int>(i) * kTileSize, 0), tiles_[i]);
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
