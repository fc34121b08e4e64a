// The item strip while its tiles are drawn on the pool: the strip shows at once, every tile lands
// where its item is, and removing items, clearing the list, changing a file or closing the window
// while tiles are being drawn leaves the strip right and the program standing.
#include <QBuffer>
#include <QImage>
#include <thread>

#include "formfixture.h"
#include "stripview.h"
#include "thumbnails.h"

namespace {

// A photo of one colour, large enough to be decoded at a reduced scale and to keep the pool busy
// for a moment.
std::string SolidJpeg(const QColor& colour, int width = 2400, int height = 1800) {
  QImage picture(width, height, QImage::Format_RGB32);
  picture.fill(colour);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "JPG", 90);
  return bytes.toStdString();
}

QColor ColourNumber(int i) {
  return QColor::fromHsv((i * 47) % 360, 255, 220);
}

// The colour of a picture tile below its labels.
QColor PictureColour(const QImage& tile) {
  return tile.pixelColor(80, 88);
}

bool Near(const QColor& a, const QColor& b) {
  return std::abs(a.red() - b.red()) < 12 && std::abs(a.green() - b.green()) < 12 &&
         std::abs(a.blue() - b.blue()) < 12;
}

class ItemStripTest : public FormTest {
 protected:
  // Waits for the strip, then checks it tile by tile against the item list.
  void ExpectStripShowsTheList(TForm1& form) {
    ASSERT_TRUE(WaitFor([&form] { return form.StripComplete(); }));
    const std::vector<std::string> items = form.Items().Snapshot();
    ASSERT_EQ(form.Image1->TileCount(), items.size());
    for (size_t i = 0; i < items.size(); ++i) {
      EXPECT_EQ(form.Image1->Tile(i), DrawTile(items[i])) << "tile " << i << ": " << items[i];
    }
  }
};

TEST_F(ItemStripTest, EveryTileLandsWhereItsItemIsWhateverOrderThePoolFinishesIn) {
  TForm1& form = Form();
  std::vector<std::string> photos;
  for (int i = 0; i < 8; ++i) {
    // Alternating sizes, so the pool's threads finish out of order.
    photos.push_back(
        Write("photo" + std::to_string(i) + ".jpg",
              SolidJpeg(ColourNumber(i), i % 2 == 0 ? 3200 : 400, i % 2 == 0 ? 2400 : 300)));
  }
  const std::string pdf = Write("report.pdf", "%PDF-1.4\n%%EOF\n");
  const std::string broken = Write("broken.jpg", "\xFF\xD8\xFF not a picture");
  for (const std::string& photo : photos) form.Items().Append(photo);
  form.Items().Append(pdf);
  form.Items().Append(broken);
  form.Items().Append(photos[2]);  // the same file twice

  form.RefreshItemStrip();
  // On screen at once, the tiles still to come left blank.
  EXPECT_EQ(form.Image1->TileCount(), 11u);
  EXPECT_FALSE(form.StripComplete());
  ExpectStripShowsTheList(form);
  for (int i = 0; i < 8; ++i) {
    EXPECT_TRUE(Near(PictureColour(form.Image1->Tile(i)), ColourNumber(i)))
        << i << ": " << PictureColour(form.Image1->Tile(i)).name().toStdString();
  }
  // The "cannot be decoded" tile keeps its frame.
  EXPECT_EQ(form.Image1->Tile(9).pixelColor(0, 40), QColor(Qt::black));

  // A second draw comes from the cache, complete at once.
  form.RefreshItemStrip();
  EXPECT_TRUE(form.StripComplete());
  EXPECT_EQ(form.Image1->Tile(0).constBits(),
            form.Thumbnails().Find(photos[0], StampOf(photos[0])).constBits());
}

TEST_F(ItemStripTest, RemovingClearingAndChangingFilesWhileTilesAreDrawnKeepsTheStripRight) {
  TForm1& form = Form();
  std::vector<std::string> photos;
  for (int i = 0; i < 10; ++i) {
    photos.push_back(Write("photo" + std::to_string(i) + ".jpg", SolidJpeg(ColourNumber(i))));
    form.Items().Append(photos.back());
  }
  form.RefreshItemStrip();
  // Right click on the second tile, while the tiles are still being drawn: every later tile moves
  // one place to the left, and tiles drawn for the old places must not land there.
  dialogs_.confirmAnswers = {true};
  form.Image1MouseDown(Qt::RightButton, 96 + 5);
  EXPECT_EQ(form.Items().Size(), 9u);
  // A file rewritten with another picture while its old tile may be on the pool.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  testsupport::WriteFile(photos[5], SolidJpeg(ColourNumber(20), 800, 600));
  form.RefreshItemStrip();
  ExpectStripShowsTheList(form);
  EXPECT_TRUE(Near(PictureColour(form.Image1->Tile(4)), ColourNumber(20)));

  // Clear while a new batch of tiles is on the pool: the strip stays empty when they finish.
  for (int i = 0; i < 6; ++i) {
    form.Items().Append(
        Write("more" + std::to_string(i) + ".jpg", SolidJpeg(ColourNumber(30 + i))));
  }
  form.RefreshItemStrip();
  EXPECT_FALSE(form.StripComplete());
  form.ClearBtnClick();
  EXPECT_EQ(form.Image1->TileCount(), 0u);
  EXPECT_TRUE(form.StripComplete());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  QCoreApplication::processEvents();
  EXPECT_EQ(form.Image1->TileCount(), 0u);

  // An item a thread appends while tiles are drawn joins on the timer, in its place.
  form.Items().Append(photos[0]);
  form.Items().Append(Write("late.jpg", SolidJpeg(ColourNumber(40))));
  form.RefreshItemStrip();
  std::thread printer([&] { form.Items().AppendFromThread(photos[9]); });
  printer.join();
  form.Timer1Timer();
  ExpectStripShowsTheList(form);
  EXPECT_EQ(form.Image1->TileCount(), 3u);
}

TEST_F(ItemStripTest, ClosingOrDestroyingTheWindowWhileTilesAreDrawnNeitherCrashesNorHangs) {
  std::vector<std::string> photos;
  for (int i = 0; i < 12; ++i) {
    photos.push_back(Write("photo" + std::to_string(i) + ".jpg", SolidJpeg(ColourNumber(i))));
  }
  // Closed as the window manager closes it, then destroyed with tiles still on their way.
  TForm1& form = Form();
  form.show();
  for (const std::string& photo : photos) form.Items().Append(photo);
  form.RefreshItemStrip();
  EXPECT_TRUE(form.close());
  EXPECT_FALSE(form.isVisible());
  form_.reset();
  QCoreApplication::processEvents();

  // Destroyed without closing, right after the strip was asked for.
  form_ = std::make_unique<TForm1>(ResolveAppFolders(app_.path()), dialogs_);
  for (const std::string& photo : photos) form_->Items().Append(photo);
  form_->RefreshItemStrip();
  form_.reset();
  QCoreApplication::processEvents();
}

}  // namespace
