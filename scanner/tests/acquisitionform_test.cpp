// TAcquisitionForm driven on the offscreen platform against SANE's test backend, with its message
// boxes and dialogs answered by the test.
#include "acquisitionform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "configform.h"
#include "deviceoptionsdialog.h"
#include "itemlist.h"
#include "sanetestbackend.h"
#include "scanfiles.h"
#include "scannerdialogs.h"
#include "scannertesthelpers.h"
#include "scansettings.h"
#include "testsupport.h"

namespace {

// Records message boxes and answers dialogs with a function the test sets.
class AnsweringDialogs : public ScannerDialogs {
 public:
  void Message(QWidget*, const QString& text) override { messages.push_back(text.toStdString()); }
  int Run(QDialog& dialog) override {
    dialogTitles.push_back(dialog.windowTitle().toStdString());
    return answer ? answer(dialog) : QDialog::Rejected;
  }

  std::vector<std::string> messages;
  std::vector<std::string> dialogTitles;
  std::function<int(QDialog&)> answer;
};

// Confirms the device's dialog, first choosing `source` when given.
std::function<int(QDialog&)> ConfirmDeviceDialog(const QString& source = {}) {
  return [source](QDialog& dialog) {
    auto* device = dynamic_cast<DeviceOptionsDialog*>(&dialog);
    if (device == nullptr) return int(QDialog::Rejected);
    if (!source.isEmpty()) device->SourceBox->setCurrentText(source);
    device->Buttons->button(QDialogButtonBox::Ok)->click();
    return dialog.result();
  };
}

// A device open that waits until the test lets it go on, as a network scanner that does not
// answer does; then it opens the device, or fails with `failure`. The gate opens by itself when
// it goes, so a failed assertion cannot leave the window's opener waiting forever.
class SlowOpen {
 public:
  ~SlowOpen() { Release(); }

  TAcquisitionForm::DeviceOpener Opener(SANE_Status failure = SANE_STATUS_GOOD) {
    return [state = state_, failure](const std::string& name, SaneDevice& device) {
      state->waiting = true;
      while (!state->released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return failure != SANE_STATUS_GOOD ? failure : SaneDevice::Open(name, device);
    };
  }
  bool Waiting() const { return state_->waiting; }
  void Release() { state_->released = true; }

 private:
  struct State {
    std::atomic<bool> waiting{false};
    std::atomic<bool> released{false};
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

class AcquisitionFormTest : public testing::Test {
 protected:
  void SetUp() override { ResetScanSettings(); }
  void TearDown() override { ResetScanSettings(); }

  // A form on the given backend whose clock stays in one second.
  std::unique_ptr<TAcquisitionForm> MakeForm() {
    auto form = std::make_unique<TAcquisitionForm>(items_, work_.path());
    form->SetDialogs(dialogs_);
    form->SetClock([] { return std::chrono::system_clock::from_time_t(1800000000); });
    return form;
  }

  // Lists the scanners as an opening of the window does, and waits for the list.
  static void ListDevices(TAcquisitionForm& form) {
    QSignalSpy listed(&form, &TAcquisitionForm::DevicesListed);
    form.FormActivate();
    if (listed.isEmpty()) {
      ASSERT_TRUE(listed.wait(60000));
    }
  }

  // Clicks Scan and waits until the device is open and its dialog has been answered.
  static void ClickScan(TAcquisitionForm& form) {
    form.Button3->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.Opening(); }, 60000));
  }

  // Clicks Scan and waits for the scan to end.
  static void ScanAndWait(TAcquisitionForm& form) {
    QSignalSpy finished(&form, &TAcquisitionForm::ScanFinished);
    ClickScan(form);
    if (form.ScanRunning()) {
      ASSERT_TRUE(finished.wait(60000));
    }
  }

  static QColor PreviewPixel(const TAcquisitionForm& form, int x, int y) {
    return form.Image2->pixmap().toImage().pixelColor(x, y);
  }

  testsupport::TempDir work_;
  ItemList items_;
  std::shared_ptr<AnsweringDialogs> dialogs_ = std::make_shared<AnsweringDialogs>();
};

TEST_F(AcquisitionFormTest, ActivationListsTheScannersBySecondField) {
  SaneTestBackend backend;
  auto form = MakeForm();
  EXPECT_EQ(form->windowTitle(), "Acquisition Form");
  QSignalSpy listed(form.get(), &TAcquisitionForm::DevicesListed);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  ASSERT_TRUE(listed.wait(60000));
  ASSERT_EQ(form->ComboBox1->count(), 2);
  EXPECT_EQ(form->ComboBox1->itemText(0), "Noname frontend-tester");
  EXPECT_EQ(form->ComboBox1->currentIndex(), 0);
  EXPECT_EQ(form->DeviceList().at(1), "test:1;Noname frontend-tester;virtual device");
  EXPECT_TRUE(dialogs_->messages.empty());

  // Back from another window: the chosen scanner and the preview stay, nothing is listed anew.
  form->ComboBox1->setCurrentIndex(1);
  QPixmap page(kPreviewWidth, kPreviewHeight);
  page.fill(Qt::red);
  form->Image2->setPixmap(page);
  QWidget other;
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QTest::qWait(100);
  EXPECT_EQ(listed.count(), 1);
  EXPECT_EQ(form->ComboBox1->currentIndex(), 1);
  EXPECT_EQ(PreviewPixel(*form, 320, 302), QColor(Qt::red));

  // Opened again: the list is read beside the window (the box waits, Scan too) and the scanner
  // chosen before is chosen again.
  form->Button1->click();
  form->FormActivate();
  EXPECT_TRUE(form->Listing());
  EXPECT_FALSE(form->Button3->isEnabled());
  EXPECT_TRUE(form->CancelButton->isEnabled());
  ASSERT_TRUE(listed.wait(60000));
  EXPECT_FALSE(form->Listing());
  EXPECT_TRUE(form->Button3->isEnabled());
  EXPECT_FALSE(form->CancelButton->isEnabled());
  EXPECT_EQ(form->ComboBox1->currentIndex(), 1);
}

TEST_F(AcquisitionFormTest, NoScannerFoundOnEveryListingAndScanDoesNothing) {
  SaneTestBackend backend(SaneTestBackend::Scanners::None);
  auto form = MakeForm();
  ListDevices(*form);
  EXPECT_EQ(dialogs_->messages, std::vector<std::string>{"No Scanner Found"});
  EXPECT_EQ(form->ComboBox1->count(), 0);
  form->Button3->click();
  EXPECT_TRUE(dialogs_->dialogTitles.empty());
  ListDevices(*form);
  EXPECT_EQ(dialogs_->messages.size(), 2u);
}

TEST_F(AcquisitionFormTest, ScanPreviewSaveAndClose) {
  SaneTestBackend backend;
  auto form = MakeForm();
  ListDevices(*form);
  dialogs_->answer = ConfirmDeviceDialog();
  QSignalSpy progress(form.get(), &TAcquisitionForm::ProgressReported);
  const QColor background = PreviewPixel(*form, 320, 302);

  ScanAndWait(*form);
  ASSERT_TRUE(dialogs_->messages.empty()) << dialogs_->messages.front();
  EXPECT_EQ(dialogs_->dialogTitles, std::vector<std::string>{"Noname frontend-tester"});
  EXPECT_EQ(form->ProgressBar1->value(), 100);
  ASSERT_GE(progress.count(), 2);
  EXPECT_EQ(progress.last().at(0).toInt(), 100);
  // Grey at 100 dpi before the configuration was ever confirmed.
  const BmpHeader header = ParseBmpHeader(ReadFileBytes(ScanBitmapPath(work_.path())));
  EXPECT_EQ(header.bitsPerPixel, 8);
  EXPECT_EQ(header.width, 314);
  EXPECT_EQ(header.height, 393);
  // The 314 x 393 page is drawn from x = 79 to 561.
  EXPECT_NE(PreviewPixel(*form, 320, 302), background);
  EXPECT_EQ(PreviewPixel(*form, 70, 302), background);
  EXPECT_EQ(PreviewPixel(*form, 570, 302), background);

  form->Button2->click();
  ASSERT_EQ(items_.Size(), 1u);
  const std::string first = *items_.At(0);
  EXPECT_EQ(std::filesystem::path(first).parent_path(), work_.path());
  EXPECT_EQ(std::filesystem::path(first).extension(), ".jpg");
  EXPECT_FALSE(std::filesystem::exists(ScanBitmapPath(work_.path())));
  form->Button2->click();  // nothing left to save
  EXPECT_EQ(items_.Size(), 1u);

  // A second page within the same second gets a name of its own.
  ScanAndWait(*form);
  form->Button2->click();
  ASSERT_EQ(items_.Size(), 2u);
  EXPECT_NE(*items_.At(1), first);
  EXPECT_TRUE(std::filesystem::exists(*items_.At(1)));
  EXPECT_TRUE(std::filesystem::exists(first));

  // A page scanned but not saved is discarded by Close.
  ScanAndWait(*form);
  ASSERT_TRUE(std::filesystem::exists(ScanBitmapPath(work_.path())));
  form->show();
  form->Button1->click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(form->result(), QDialog::Rejected);
  EXPECT_FALSE(std::filesystem::exists(ScanBitmapPath(work_.path())));
  EXPECT_EQ(items_.Size(), 2u);
}

TEST_F(AcquisitionFormTest, CancelledDeviceDialogEndsTheScanQuietly) {
  SaneTestBackend backend;
  auto form = MakeForm();
  ListDevices(*form);
  dialogs_->answer = [](QDialog& dialog) {
    auto* device = dynamic_cast<DeviceOptionsDialog*>(&dialog);
    if (device != nullptr) device->Buttons->button(QDialogButtonBox::Cancel)->click();
    return dialog.result();
  };
  QSignalSpy progress(form.get(), &TAcquisitionForm::ProgressReported);
  ClickScan(*form);
  EXPECT_EQ(dialogs_->dialogTitles.size(), 1u);
  EXPECT_FALSE(form->ScanRunning());
  EXPECT_TRUE(dialogs_->messages.empty());
  EXPECT_EQ(progress.count(), 0);
  EXPECT_FALSE(std::filesystem::exists(ScanBitmapPath(work_.path())));
  EXPECT_TRUE(form->Button3->isEnabled());
}

TEST_F(AcquisitionFormTest, ASlowDeviceOpensBesideTheWindow) {
  SaneTestBackend backend;
  auto form = MakeForm();
  ListDevices(*form);
  SlowOpen slow;
  form->SetDeviceOpener(slow.Opener());
  dialogs_->answer = ConfirmDeviceDialog();
  QSignalSpy finished(form.get(), &TAcquisitionForm::ScanFinished);

  form->Button3->click();
  EXPECT_TRUE(form->Opening());
  EXPECT_FALSE(form->Button3->isEnabled());
  EXPECT_FALSE(form->ComboBox1->isEnabled());
  EXPECT_FALSE(form->Button5->isEnabled());
  EXPECT_TRUE(form->CancelButton->isEnabled());
  EXPECT_EQ(form->ProgressBar1->format(), "Opening scanner...");
  // The window goes on handling events while the device does not answer.
  bool timerFired = false;
  QTimer::singleShot(0, form.get(), [&] { timerFired = true; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return timerFired && slow.Waiting(); }, 60000));
  QTest::qWait(50);
  EXPECT_TRUE(form->Opening());
  EXPECT_TRUE(dialogs_->dialogTitles.empty());

  // Once the device answers, its dialog opens on the window's thread and the scan runs.
  slow.Release();
  ASSERT_TRUE(finished.wait(60000));
  EXPECT_EQ(dialogs_->dialogTitles, std::vector<std::string>{"Noname frontend-tester"});
  ASSERT_TRUE(dialogs_->messages.empty()) << dialogs_->messages.front();
  EXPECT_TRUE(std::filesystem::exists(ScanBitmapPath(work_.path())));
  EXPECT_EQ(form->ProgressBar1->format(), "%p%");
  EXPECT_EQ(form->ProgressBar1->value(), 100);
  EXPECT_TRUE(form->Button3->isEnabled());
  EXPECT_TRUE(form->ComboBox1->isEnabled());
  EXPECT_FALSE(form->CancelButton->isEnabled());
}

TEST_F(AcquisitionFormTest, ADeviceThatCannotBeOpenedShowsTheCode) {
  SaneTestBackend backend;
  auto form = MakeForm();
  ListDevices(*form);
  SlowOpen slow;
  slow.Release();
  form->SetDeviceOpener(slow.Opener(SANE_STATUS_DEVICE_BUSY));
  dialogs_->answer = ConfirmDeviceDialog();
  ClickScan(*form);
  EXPECT_EQ(dialogs_->messages, std::vector<std::string>{"ERROR, acquiring image: A0020003"});
  EXPECT_TRUE(dialogs_->dialogTitles.empty());
  EXPECT_FALSE(form->ScanRunning());
  EXPECT_TRUE(form->Button3->isEnabled());
  EXPECT_EQ(form->ProgressBar1->format(), "%p%");
}

// Cancel and every way of closing the window let go of a device that is still opening: the
// window does not wait for it, and the device is closed once the open ends.
TEST_F(AcquisitionFormTest, ADeviceLetGoWhileOpeningIsClosed) {
  enum class Way { Cancel, Close, CloseAndOpenAgain, CloseAndDestroy };
  const struct {
    const char* name;
    Way way;
  } cases[] = {
      {"Cancel", Way::Cancel},
      {"Close", Way::Close},
      {"Close, then open the window again", Way::CloseAndOpenAgain},
      {"Close, then destroy the window", Way::CloseAndDestroy},
  };
  SaneTestBackend backend;
  // Keeps SANE up between the window's holds, so that the test backend remembers which of its
  // devices are open: it refuses to open one twice.
  SaneLibrary library;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dialogs_->messages.clear();
    dialogs_->dialogTitles.clear();
    dialogs_->answer = ConfirmDeviceDialog();
    auto form = MakeForm();
    SlowOpen slow;
    form->SetDeviceOpener(slow.Opener());
    QSignalSpy listed(form.get(), &TAcquisitionForm::DevicesListed);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed.count() == 1; }, 60000));
    form->Button3->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return slow.Waiting(); }, 60000));

    if (c.way == Way::Cancel) {
      form->CancelButton->click();
      EXPECT_TRUE(form->isVisible());
      EXPECT_FALSE(form->CancelButton->isEnabled());
      EXPECT_FALSE(form->Button3->isEnabled());  // until the device is closed
    } else {
      form->Button1->click();
      EXPECT_FALSE(form->isVisible());
    }
    EXPECT_EQ(form->ProgressBar1->format(), "%p%");
    EXPECT_TRUE(form->Opening());  // the window did not wait for the device
    if (c.way == Way::CloseAndOpenAgain) {
      form->FormActivate();
      EXPECT_FALSE(form->Listing());  // SANE is asked once the device is closed
      EXPECT_TRUE(form->CancelButton->isEnabled());
    }

    slow.Release();
    if (c.way == Way::CloseAndDestroy) {
      form.reset();
    } else {
      ASSERT_TRUE(QTest::qWaitFor([&] { return !form->Opening(); }, 60000));
      if (c.way == Way::CloseAndOpenAgain) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return listed.count() == 2; }, 60000));
        EXPECT_EQ(form->ComboBox1->count(), 2);
      }
      EXPECT_TRUE(form->Button3->isEnabled());
    }
    EXPECT_TRUE(dialogs_->dialogTitles.empty());
    EXPECT_TRUE(dialogs_->messages.empty());
    SaneDevice again;
    EXPECT_EQ(SaneDevice::Open("test:0", again), SANE_STATUS_GOOD);
  }
}

TEST_F(AcquisitionFormTest, ConfigurationChoosesTheNextScansModeAndResolution) {
  SaneTestBackend backend;
  auto form = MakeForm();
  ListDevices(*form);
  dialogs_->answer = [](QDialog& dialog) {
    auto* config = dynamic_cast<TConfigFrm*>(&dialog);
    if (config == nullptr) return int(QDialog::Rejected);
    config->ComboBox1->setCurrentText("Color");
    config->ComboBox2->setCurrentText("300");
    config->Button1->click();
    return dialog.result();
  };
  form->Button5->click();
  EXPECT_EQ(dialogs_->dialogTitles, std::vector<std::string>{"Scanner Configuration"});
  EXPECT_EQ(ScanIntent, kScanIntentColor);
  EXPECT_EQ(ScanResolution, 300);

  dialogs_->answer = ConfirmDeviceDialog();
  ScanAndWait(*form);
  ASSERT_TRUE(dialogs_->messages.empty()) << dialogs_->messages.front();
  const BmpHeader header = ParseBmpHeader(ReadFileBytes(ScanBitmapPath(work_.path())));
  EXPECT_EQ(header.bitsPerPixel, 24);
  EXPECT_EQ(header.width, 944);
  EXPECT_EQ(header.height, 1181);
}

TEST_F(AcquisitionFormTest, FeederScanAddsEveryPage) {
  SaneTestBackend backend;
  auto form = MakeForm();
  ListDevices(*form);
  dialogs_->answer = ConfirmDeviceDialog("Automatic Document Feeder");
  const QColor background = PreviewPixel(*form, 320, 302);
  ScanAndWait(*form);
  ASSERT_TRUE(dialogs_->messages.empty()) << dialogs_->messages.front();
  const std::vector<std::string> paths = items_.Snapshot();
  ASSERT_EQ(paths.size(), 10u);
  EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()).size(), 10u);
  for (const std::string& path : paths) EXPECT_TRUE(std::filesystem::exists(path)) << path;
  EXPECT_FALSE(std::filesystem::exists(ScanBitmapPath(work_.path())));
  EXPECT_NE(PreviewPixel(*form, 320, 302), background);
}

TEST_F(AcquisitionFormTest, CancelStopsARunningScanAndTheWindowStaysUsable) {
  SaneTestBackend backend;
  // A page that fits the backend's pipe: its reader thread has sent everything and ended by the
  // time we cancel. (The backend kills a running reader thread asynchronously, which under the
  // sanitizers' allocator can leave a lock taken.)
  ScanIntent = kScanIntentGray;
  ScanResolution = 50;
  auto form = MakeForm();
  ListDevices(*form);
  dialogs_->answer = ConfirmDeviceDialog();
  // The transfer thread pauses at 2 percent until the test lets it go on.
  std::atomic<bool> paused{false};
  std::atomic<bool> goOn{false};
  QObject::connect(
      form.get(), &TAcquisitionForm::ProgressReported, form.get(),
      [&](int percent) {
        if (percent < 2 || goOn) return;
        paused = true;
        while (!goOn) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      },
      Qt::DirectConnection);
  QSignalSpy finished(form.get(), &TAcquisitionForm::ScanFinished);
  ClickScan(*form);
  ASSERT_TRUE(form->ScanRunning());
  EXPECT_TRUE(form->CancelButton->isEnabled());
  EXPECT_FALSE(form->Button3->isEnabled());
  // The window keeps handling events while the page arrives.
  ASSERT_TRUE(QTest::qWaitFor([&] { return form->ProgressBar1->value() >= 1 && paused; }, 60000));
  QTest::qWait(200);
  form->CancelButton->click();
  goOn = true;
  ASSERT_TRUE(finished.wait(60000));
  EXPECT_TRUE(dialogs_->messages.empty());
  EXPECT_EQ(form->ProgressBar1->value(), 0);
  EXPECT_FALSE(std::filesystem::exists(ScanBitmapPath(work_.path())));
  EXPECT_TRUE(form->Button3->isEnabled());
  EXPECT_FALSE(form->CancelButton->isEnabled());
  EXPECT_TRUE(items_.Empty());

  // Closing during a scan stops it as well.
  paused = false;
  goOn = false;
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !form->Listing(); }, 60000));
  ClickScan(*form);
  ASSERT_TRUE(form->ScanRunning());
  ASSERT_TRUE(QTest::qWaitFor([&] { return paused.load(); }, 60000));
  QTest::qWait(200);
  goOn = true;
  form->Button1->click();
  EXPECT_FALSE(form->ScanRunning());
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(std::filesystem::exists(ScanBitmapPath(work_.path())));
}

TEST_F(AcquisitionFormTest, TransferFailureShowsTheCodeAndKeepsThePreview) {
  SaneTestBackend backend(SaneTestBackend::Scanners::TestBackend,
                          "read-status-code \"SANE_STATUS_JAMMED\"");
  auto form = MakeForm();
  ListDevices(*form);
  dialogs_->answer = ConfirmDeviceDialog();
  const QImage before = form->Image2->pixmap().toImage();
  ScanAndWait(*form);
  EXPECT_EQ(dialogs_->messages, std::vector<std::string>{"ERROR, acquiring image: A0070006"});
  EXPECT_EQ(form->Image2->pixmap().toImage(), before);
  EXPECT_FALSE(std::filesystem::exists(ScanBitmapPath(work_.path())));
  form->Button2->click();
  EXPECT_TRUE(items_.Empty());
}

}  // namespace
