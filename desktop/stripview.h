// The strip of item tiles (Image1) and the large preview above it (Image2).
#pragma once

#include <QImage>
#include <QWidget>
#include <vector>

// Tile i occupies x from i × 96 to i × 96 + 96; the widget is as wide as its tiles. It takes the
// keyboard focus: the arrow keys, Home and End move the current tile, Delete asks to remove it and
// Enter opens it as a click would.
class ItemStripView : public QWidget {
  Q_OBJECT

 public:
  explicit ItemStripView(QWidget* parent = nullptr);
  // A null tile is one still being drawn: the strip shows a grey square there until SetTile.
  void SetTiles(std::vector<QImage> tiles);
  void SetTile(size_t index, const QImage& tile);
  const QImage& Tile(size_t index) const { return tiles_.at(index); }
  size_t TileCount() const { return tiles_.size(); }
  // The tile the keyboard acts on; kNoTile when the strip is empty.
  static constexpr size_t kNoTile = static_cast<size_t>(-1);
  size_t Current() const { return current_; }
  void SetCurrent(size_t index);

 signals:
  void MouseDown(Qt::MouseButton button, int x);
  // The current tile was moved by the keyboard.
  void CurrentChanged(size_t index);
  void DeleteRequested(size_t index);
  void OpenRequested(size_t index);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  QRect TileRect(size_t index) const;

  std::vector<QImage> tiles_;
  size_t current_ = kNoTile;
};

// A canvas the size of the widget: cleared to white, or a picture drawn into a rectangle.
class PreviewView : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewView(QWidget* parent = nullptr);
  void ClearToWhite();
  void ShowPicture(const QImage& picture, const QRect& target);
  // The picture fitted into the view, keeping its proportions as a picture of `fullSize` would.
  void ShowFitted(const QImage& picture, const QSize& fullSize);
  void ShowNote(const QString& text);
  // The picture stays, drawn anew into the view's new size, when the view is resized.
  // Where the last picture was drawn (empty after a clear).
  QRect PictureRect() const { return pictureRect_; }
  const QImage& Canvas() const { return canvas_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Redraw();

  QImage canvas_;
  QRect pictureRect_;
  // What the canvas shows, to draw it again at another size: a picture (with the size of the
  // whole picture, which the fit is computed from) or a note.
  QImage picture_;
  QSize pictureFullSize_;
  QString note_;
};
