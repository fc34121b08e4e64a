// The strip of item tiles (Image1) and the large preview above it (Image2).
#pragma once

#include <QImage>
#include <QWidget>
#include <vector>

// Tile i occupies x from i × 96 to i × 96 + 96; the widget is as wide as its tiles.
class ItemStripView : public QWidget {
  Q_OBJECT

 public:
  explicit ItemStripView(QWidget* parent = nullptr);
  // A null tile is one still being drawn: the strip shows a grey square there until SetTile.
  void SetTiles(std::vector<QImage> tiles);
  void SetTile(size_t index, const QImage& tile);
  const QImage& Tile(size_t index) const { return tiles_.at(index); }
  size_t TileCount() const { return tiles_.size(); }

 signals:
  void MouseDown(Qt::MouseButton button, int x);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  std::vector<QImage> tiles_;
};

// A canvas the size of the widget: cleared to white, or a picture drawn into a rectangle.
class PreviewView : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewView(QWidget* parent = nullptr);
  void ClearToWhite();
  void ShowPicture(const QImage& picture, const QRect& target);
  void ShowNote(const QString& text);
  // Where the last picture was drawn (empty after a clear).
  QRect PictureRect() const { return pictureRect_; }
  const QImage& Canvas() const { return canvas_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QImage canvas_;
  QRect pictureRect_;
};
