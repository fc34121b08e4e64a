// The strip of item tiles and the preview.
#include "stripview.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

#include "previewfit.h"
#include "thumbnails.h"

ItemStripView::ItemStripView(QWidget* parent) : QWidget(parent) {
  setObjectName("Image1");
  //: The strip of the list's files, for screen readers.
  setAccessibleName(tr("Items"));
  setFixedSize(0, kTileSize);
  setFocusPolicy(Qt::StrongFocus);
}

void ItemStripView::SetTiles(std::vector<QImage> tiles) {
  tiles_ = std::move(tiles);
  setFixedSize(static_cast<int>(tiles_.size()) * kTileSize, kTileSize);
  if (tiles_.empty()) {
    current_ = kNoTile;
  } else if (current_ != kNoTile) {
    current_ = std::min(current_, tiles_.size() - 1);
  }
  update();
}

void ItemStripView::SetCurrent(size_t index) {
  if (index >= tiles_.size()) return;
  if (current_ != kNoTile) update(TileRect(current_));
  current_ = index;
  update(TileRect(current_));
}

QRect ItemStripView::TileRect(size_t index) const {
  return QRect(static_cast<int>(index) * kTileSize, 0, kTileSize, kTileSize);
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
  // The current tile is framed while the strip has the focus, as a list marks its current row.
  if (hasFocus() && current_ < tiles_.size()) {
    QPen pen(palette().color(QPalette::Highlight));
    pen.setWidth(3);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(TileRect(current_).adjusted(1, 1, -2, -2));
  }
}

void ItemStripView::mousePressEvent(QMouseEvent* event) {
  const int x = event->position().toPoint().x();
  if (x >= 0) SetCurrent(static_cast<size_t>(x / kTileSize));
  setFocus(Qt::MouseFocusReason);
  emit MouseDown(event->button(), x);
}

void ItemStripView::keyPressEvent(QKeyEvent* event) {
  if (tiles_.empty()) {
    QWidget::keyPressEvent(event);
    return;
  }
  const size_t last = tiles_.size() - 1;
  const size_t current = current_ == kNoTile ? 0 : current_;
  size_t next = current;
  switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
      next = current_ == kNoTile ? 0 : (current > 0 ? current - 1 : 0);
      break;
    case Qt::Key_Right:
    case Qt::Key_Down:
      next = current_ == kNoTile ? 0 : std::min(current + 1, last);
      break;
    case Qt::Key_Home:
      next = 0;
      break;
    case Qt::Key_End:
      next = last;
      break;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
      if (current_ != kNoTile) emit DeleteRequested(current_);
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      if (current_ != kNoTile) emit OpenRequested(current_);
      return;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  if (next == current_) return;
  SetCurrent(next);
  emit CurrentChanged(next);
}

void ItemStripView::focusInEvent(QFocusEvent*) {
  if (current_ != kNoTile) update(TileRect(current_));
}

void ItemStripView::focusOutEvent(QFocusEvent*) {
  if (current_ != kNoTile) update(TileRect(current_));
}

PreviewView::PreviewView(QWidget* parent) : QWidget(parent) {
  setObjectName("Image2");
  setAccessibleName(tr("Preview"));
}

void PreviewView::ClearToWhite() {
  canvas_ = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
  canvas_.fill(Qt::white);
  pictureRect_ = QRect();
  picture_ = QImage();
  note_.clear();
  update();
}

void PreviewView::ShowFitted(const QImage& picture, const QSize& fullSize) {
  const PreviewRect fit = FitPreview(width(), height(), fullSize.width(), fullSize.height());
  ShowPicture(picture, QRect(fit.left, fit.top, fit.width, fit.height));
  picture_ = picture;
  pictureFullSize_ = fullSize;
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
  note_ = text;
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
  if (!canvas_.isNull() && canvas_.size() != size()) Redraw();
}

void PreviewView::Redraw() {
  if (!picture_.isNull()) {
    const QImage picture = picture_;
    const QSize full = pictureFullSize_;
    ShowFitted(picture, full);
  } else if (!note_.isEmpty()) {
    const QString note = note_;
    ShowNote(note);
  } else {
    ClearToWhite();
  }
}
