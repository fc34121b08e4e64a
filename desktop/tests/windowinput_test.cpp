// The window as a person meets it: its size and how it grows, the strip from the keyboard, and
// input taken (and Esc or Cancel heard) while a search, an echo test or the printer installation
// waits for its peer.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "formfixture.h"
#include "guiwork.h"
#include "orthanc.h"
#include "setupform.h"
#include "stripview.h"
#include "testpictures.h"

namespace {

// A port that takes connections (the kernel completes them) and never says a word: an
// association request waits there for an answer until its time-out.
class SilentPeer {
 public:
  SilentPeer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(fd_, 8) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~SilentPeer() { ::close(fd_); }
  SilentPeer(const SilentPeer&) = delete;
  SilentPeer& operator=(const SilentPeer&) = delete;
  std::string Port() const { return std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class WindowInputTest : public FormTest {};

TEST_F(WindowInputTest, OpensAtTheDesignedSizeAndGrowsAroundAStripOfFixedHeight) {
  TForm1& form = Form();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(form.size(), QSize(893, 499));
  EXPECT_EQ(form.Panel3->width(), 350);
  EXPECT_EQ(form.Image2->size(), QSize(350, 379));
  EXPECT_EQ(form.ScrollBox1->height(), 120);
  // Every control lies inside the window and none covers another's place in its row.
  for (QPushButton* button : {form.AddImageBtn, form.AddFolderBtn, form.ScanBtn, form.AboutBtn,
                              form.SendBtn, form.SaveToFolderBtn, form.EndBtn}) {
    EXPECT_TRUE(form.rect().contains(QRect(button->mapTo(&form, QPoint(0, 0)), button->size())))
        << button->objectName().toStdString();
    EXPECT_GE(button->width(), 120);
  }
  EXPECT_LT(form.SendBtn->geometry().right(), form.SaveToFolderBtn->geometry().left());
  EXPECT_LT(form.AddImageBtn->geometry().bottom(), form.SendBtn->geometry().top());

  const QSize previewBefore = form.Image2->size();
  const QSize gridBefore = form.StringGrid1->size();
  form.resize(1600, 1000);
  ASSERT_TRUE(WaitFor([&form] { return form.Image2->height() > 379; }, std::chrono::seconds(10)));
  EXPECT_GT(form.Image2->width(), previewBefore.width());
  EXPECT_GT(form.StringGrid1->width(), gridBefore.width());
  EXPECT_GT(form.StringGrid1->height(), gridBefore.height());
  EXPECT_EQ(form.ScrollBox1->height(), 120);
  // The buttons keep their height; the rows stay under the grid.
  EXPECT_EQ(form.SendBtn->height(), 30);
  EXPECT_LT(form.StringGrid1->geometry().bottom(), form.AddImageBtn->geometry().top());

  // Smaller than the form needs is refused: the controls never overlap.
  form.resize(300, 200);
  QCoreApplication::processEvents();
  EXPECT_GE(form.width(), form.minimumSizeHint().width());
  EXPECT_GE(form.height(), form.minimumSizeHint().height());
}

TEST_F(WindowInputTest, ALargerDesktopFontGrowsTheWindowInsteadOfCuttingCaptions) {
  const QFont original = QApplication::font();
  QFont large = original;
  large.setPointSizeF(original.pointSizeF() * 1.6);
  QApplication::setFont(large);
  TForm1& form = Form();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  QApplication::setFont(original);
  EXPECT_GE(form.width(), 893);
  EXPECT_GE(form.height(), 499);
  for (QLabel* label : {form.AccessionNumberLbl, form.PatientBDLbl, form.StudyDescriptionLbl}) {
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
        << label->text().toStdString();
  }
  for (QPushButton* button : {form.SaveToFolderBtn, form.SearchPACSBtn}) {
    EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()))
        << button->text().toStdString();
  }
}

TEST_F(WindowInputTest, TheStripFollowsTheArrowKeysAndDeleteAsksAsTheRightClickDoes) {
  TForm1& form = Form();
  const std::string wide =
      Write("wide.png", testpictures::MakePng(400, 100, testpictures::PngKind::Rgb));
  const std::string pdf = Write("doc.pdf", "%PDF-1.4\n%%EOF\n");
  const std::string tall = Write("tall.bmp", testpictures::MakeBmp(100, 400, 24, false));
  for (const std::string& path : {wide, pdf, tall}) form.Items().Append(path);
  form.RefreshItemStrip();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  form.Image1->setFocus();

  QTest::keyClick(form.Image1, Qt::Key_Right);  // nothing current yet: the first tile
  EXPECT_EQ(form.Image1->Current(), 0u);
  EXPECT_EQ(ShownPreview(form), QRect(0, (379 - 87) / 2, 350, 87));
  QTest::keyClick(form.Image1, Qt::Key_Right);  // the PDF is named, not left as a stale picture
  EXPECT_EQ(form.Image1->Current(), 1u);
  EXPECT_TRUE(ShownPreview(form).isEmpty());
  QTest::keyClick(form.Image1, Qt::Key_End);
  EXPECT_EQ(form.Image1->Current(), 2u);
  EXPECT_EQ(ShownPreview(form), QRect((350 - 94) / 2, 0, 94, 379));
  QTest::keyClick(form.Image1, Qt::Key_Right);  // past the end: stays
  EXPECT_EQ(form.Image1->Current(), 2u);
  QTest::keyClick(form.Image1, Qt::Key_Left);
  EXPECT_EQ(form.Image1->Current(), 1u);
  // Keys faster than the decoding: the picture asked for last is the one shown.
  QTest::keyClick(form.Image1, Qt::Key_Home);
  QTest::keyClick(form.Image1, Qt::Key_End);
  EXPECT_EQ(ShownPreview(form), QRect((350 - 94) / 2, 0, 94, 379));
  QTest::keyClick(form.Image1, Qt::Key_Left);
  QTest::keyClick(form.Image1, Qt::Key_Return);  // Enter opens the PDF as a click does
  EXPECT_EQ(dialogs_.opened, QStringList{QString::fromStdString(pdf)});

  dialogs_.confirmAnswers = {false, true};
  QTest::keyClick(form.Image1, Qt::Key_Delete);
  EXPECT_EQ(dialogs_.confirmations.last(), "WARNING: Delete this image?");
  EXPECT_EQ(form.Items().Size(), 3u);
  QTest::keyClick(form.Image1, Qt::Key_Delete);
  EXPECT_EQ(form.Items().Snapshot(), (std::vector<std::string>{wide, tall}));
  // The tile that took the removed one's place is current and shown.
  EXPECT_EQ(form.Image1->Current(), 1u);
  EXPECT_EQ(ShownPreview(form), QRect((350 - 94) / 2, 0, 94, 379));
  QTest::keyClick(form.Image1, Qt::Key_Delete);
  dialogs_.confirmAnswers = {true};
  QTest::keyClick(form.Image1, Qt::Key_Delete);
  dialogs_.confirmAnswers = {true};
  QTest::keyClick(form.Image1, Qt::Key_Delete);
  EXPECT_EQ(form.Items().Size(), 0u);
  QTest::keyClick(form.Image1, Qt::Key_Delete);  // an empty strip: nothing is asked
  QTest::keyClick(form.Image1, Qt::Key_Right);
  EXPECT_EQ(form.Image1->Current(), ItemStripView::kNoTile);

  // The preview keeps its picture, fitted anew, when the window grows.
  form.Items().Append(wide);
  form.RefreshItemStrip();
  QTest::keyClick(form.Image1, Qt::Key_Home);
  form.resize(1200, 800);
  ASSERT_TRUE(WaitFor([&form] { return form.Image2->width() > 350; }, std::chrono::seconds(10)));
  EXPECT_EQ(ShownPreview(form).width(), form.Image2->width());
}

TEST_F(WindowInputTest, SearchesTakeInputAndStopOnEscapeWithoutWaitingForThePeer) {
  SilentPeer silent;
  TForm1& form =
      Form("[velloran]\nworklistPort=" + silent.Port() + "\nremotePort=" + silent.Port() + "\n");
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  for (QPushButton* search : {form.SearchWLBtn, form.SearchPACSBtn}) {
    form.Edit1->setText("P1");  // a filter, so the PACS search asks nothing first
    form.Edit6->clear();
    bool typedWhileSearching = false;
    bool buttonsLocked = false;
    QTimer::singleShot(300, &form, [&] {
      buttonsLocked = !form.SendBtn->isEnabled() && !search->isEnabled();
      QTest::keyClicks(form.Edit6, "typed");
      typedWhileSearching = form.Edit6->text() == "typed";
      QTest::keyClick(form.Edit6, Qt::Key_Escape);
    });
    const auto started = std::chrono::steady_clock::now();
    search->click();
    // Stopped, not timed out: the peer never answered, and the search waits up to 30 seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_TRUE(typedWhileSearching);
    EXPECT_TRUE(buttonsLocked);
    EXPECT_TRUE(form.SearchResults().empty());
    EXPECT_TRUE(search->isEnabled());
    EXPECT_TRUE(form.SendBtn->isEnabled());
    EXPECT_TRUE(dialogs_.messages.isEmpty()) << dialogs_.messages.join("|").toStdString();
    EXPECT_FALSE(form.CancelWaiting());  // nothing runs any more
  }
}

TEST_F(WindowInputTest, ThePacsSearchOverDicomWebFindsTheStudyAndStopsOnEscape) {
  if (!testsupport::OrthancPacs::DicomWebAvailable()) GTEST_SKIP() << "no Orthanc DICOMweb";
  testsupport::TempDir work;
  testsupport::OrthancPacs::Options options;
  options.dicomWeb = true;
  testsupport::OrthancPacs pacs(work, options);
  ASSERT_TRUE(pacs.Running()) << testsupport::ReadFile(work.path() / "orthanc.log");
  TForm1& form = Form("[velloran]\nremoteAET=ORTHANC\nremotePort=" + pacs.Port() + "\n");
  form.Edit2->setText("WEB^WANDA");
  form.Edit1->setText("WEB-1");
  form.Items().Append(Write("p.pdf",
                            "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
                            "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
                            "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]>>endobj\n"
                            "trailer<</Root 1 0 R>>\n%%EOF\n"));
  form.SendBtnClick();
  ASSERT_TRUE(WaitFor([&form] { return !form.BatchRunning(); }));
  ASSERT_EQ(dialogs_.messages.last(), "Images sent OK");

  SilentPeer silent;
  setupcfg.remoteProtocol = "DICOMweb";
  const struct {
    std::string url;
    bool stopWithEscape;
    size_t found;
  } cases[] = {
      {pacs.WebUrl(), false, 1},
      {"http://127.0.0.1:" + silent.Port() + "/dicom-web", true, 0},
  };
  for (const auto& search : cases) {
    setupcfg.webURL = search.url;
    dialogs_.messages.clear();
    if (search.stopWithEscape) {
      QTimer::singleShot(300, &form, [&form] { QTest::keyClick(form.Edit1, Qt::Key_Escape); });
    }
    form.Edit1->setText("WEB-1");
    const auto started = std::chrono::steady_clock::now();
    form.SearchPACSBtnClick();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)) << search.url;
    ASSERT_EQ(form.SearchResults().size(), search.found) << search.url;
    if (search.found > 0) EXPECT_EQ(form.SearchResults()[0].patientName, "WEB^WANDA");
    EXPECT_TRUE(dialogs_.messages.isEmpty()) << dialogs_.messages.join("|").toStdString();
  }
}

TEST_F(WindowInputTest, AWaitThatMayNotStopTakesInputButNotEscape) {
  QLineEdit field;
  field.show();
  bool stopped = true;
  bool typed = false;
  QTimer::singleShot(100, &field, [&] {
    stopped = CancelWorkBesideEventLoop();
    QTest::keyClicks(&field, "x");
    typed = field.text() == "x";
  });
  const int result = RunBesideEventLoop([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return 7;
  });
  EXPECT_EQ(result, 7);
  EXPECT_FALSE(stopped);
  EXPECT_TRUE(typed);
  EXPECT_FALSE(WaitingBesideEventLoop());
}

TEST_F(WindowInputTest, AnEchoTestStopsOnCancelAndTheDialogStaysOpen) {
  SilentPeer silent;
  TForm1& form = Form();
  TSetupFrm& setup = form.SetupForm();
  setup.show();
  setup.Edit5->setText("SILENT");
  setup.Edit3->setText(QString::fromStdString(silent.Port()));
  bool okLocked = false;
  QTimer::singleShot(300, &setup, [&] {
    okLocked = !setup.BitBtn1->isEnabled() && setup.BitBtn2->isEnabled();
    setup.BitBtn2->click();
  });
  const auto started = std::chrono::steady_clock::now();
  setup.Button1Click();
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
  EXPECT_TRUE(okLocked);
  EXPECT_TRUE(setup.isVisible());
  EXPECT_TRUE(setup.BitBtn1->isEnabled());
  EXPECT_TRUE(dialogs_.messages.isEmpty());
  // Without a test running, Cancel closes the dialog as before.
  setup.BitBtn2->click();
  EXPECT_FALSE(setup.isVisible());
}

TEST_F(WindowInputTest, ThePrinterInstallationWaitsBesideTheWindow) {
  std::mutex mutex;
  std::condition_variable released;
  bool answered = false;
  std::atomic<bool> started{false};
  CaptureHooks hooks;
  // An installation that waits for a password until the test answers.
  hooks.start = [&](const std::string&, const std::filesystem::path&, ItemList&) {
    started = true;
    std::unique_lock lock(mutex);
    released.wait(lock, [&] { return answered; });
    return std::string("ERROR, AdminShell, Status=126");
  };
  auto form = std::make_unique<TForm1>(ResolveAppFolders(app_.path()), dialogs_, hooks);
  bool typed = false;
  QTimer::singleShot(300, form.get(), [&] {
    QTest::keyClicks(form->Edit2, "DOE^JANE");
    typed = form->Edit2->text() == "DOE^JANE";
    // The person answers the password question.
    const std::lock_guard lock(mutex);
    answered = true;
    released.notify_all();
  });
  form->DeferredStart();
  EXPECT_TRUE(started);
  EXPECT_TRUE(typed);
  EXPECT_EQ(dialogs_.messages, QStringList{"ERROR, AdminShell, Status=126"});

  // Stopped waiting with Esc: the window goes on, the installation ends on its own.
  answered = false;
  started = false;
  dialogs_.messages.clear();
  auto second = std::make_unique<TForm1>(ResolveAppFolders(app_.path()), dialogs_, hooks);
  // Esc only once the installation has begun: on a loaded machine its thread may start late.
  QTimer pressEscOnceStarted;
  QObject::connect(&pressEscOnceStarted, &QTimer::timeout, second.get(), [&] {
    if (started) {
      pressEscOnceStarted.stop();
      QTest::keyClick(second->Edit2, Qt::Key_Escape);
    }
  });
  pressEscOnceStarted.start(50);
  second->DeferredStart();
  EXPECT_TRUE(started);
  EXPECT_TRUE(dialogs_.messages.isEmpty());
  {
    const std::lock_guard lock(mutex);
    answered = true;
    released.notify_all();
  }
  second.reset();  // waits for the installation it let go
  form.reset();
}

}  // namespace
