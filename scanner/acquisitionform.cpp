// The scanner window: device list, the device's dialog, the transfer thread, preview and Save.
#include "acquisitionform.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <exception>

#include "appfolders.h"
#include "configform.h"
#include "convertimage.h"
#include "devicelist.h"
#include "deviceoptions.h"
#include "deviceoptionsdialog.h"
#include "itemlist.h"
#include "previewfit.h"
#include "scanfiles.h"
#include "scannerdialogs.h"
#include "scansettings.h"

TAcquisitionForm::TAcquisitionForm(ItemList& items, const std::filesystem::path& workFolder,
                                   QWidget* parent)
    : QDialog(parent),
      Image2(new QLabel(this)),
      ComboBox1(new QComboBox(this)),
      ProgressBar1(new QProgressBar(this)),
      Button3(new QPushButton(QStringLiteral("Scan"), this)),
      Button5(new QPushButton(QStringLiteral("Configuration"), this)),
      Button2(new QPushButton(QStringLiteral("Save"), this)),
      Button1(new QPushButton(QStringLiteral("Close"), this)),
      CancelButton(new QPushButton(QStringLiteral("Cancel"), this)),
      items_(items),
      workFolder_(workFolder),
      dialogs_(std::make_shared<ScannerDialogs>()),
      clock_([] { return std::chrono::system_clock::now(); }) {
  setWindowTitle(QStringLiteral("Acquisition Form"));
  setObjectName(QStringLiteral("TAcquisitionForm"));
  Image2->setObjectName(QStringLiteral("Image2"));
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  Button3->setObjectName(QStringLiteral("Button3"));
  Button5->setObjectName(QStringLiteral("Button5"));
  Button2->setObjectName(QStringLiteral("Button2"));
  Button1->setObjectName(QStringLiteral("Button1"));
  CancelButton->setObjectName(QStringLiteral("CancelButton"));

  Image2->setFixedSize(kPreviewWidth, kPreviewHeight);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  CancelButton->setEnabled(false);
  Button3->setAutoDefault(false);
  Button1->setAutoDefault(false);

  auto* controls = new QHBoxLayout;
  controls->addWidget(ComboBox1, 1);
  controls->addWidget(Button3);
  controls->addWidget(CancelButton);
  controls->addWidget(Button5);
  controls->addWidget(Button2);
  controls->addWidget(Button1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Image2);
  layout->addWidget(ProgressBar1);
  layout->addLayout(controls);

  connect(Button3, &QPushButton::clicked, this, &TAcquisitionForm::Button3Click);
  connect(Button5, &QPushButton::clicked, this, &TAcquisitionForm::Button5Click);
  connect(Button2, &QPushButton::clicked, this, &TAcquisitionForm::Button2Click);
  connect(Button1, &QPushButton::clicked, this, &TAcquisitionForm::Button1Click);
  connect(CancelButton, &QPushButton::clicked, this, &TAcquisitionForm::CancelButtonClick);
  connect(this, &TAcquisitionForm::ProgressReported, ProgressBar1, &QProgressBar::setValue);
  ClearPreview();
}

TAcquisitionForm::~TAcquisitionForm() {
  StopScan();
}

void TAcquisitionForm::SetDialogs(std::shared_ptr<ScannerDialogs> provider) {
  dialogs_ = provider ? std::move(provider) : std::make_shared<ScannerDialogs>();
}

void TAcquisitionForm::SetClock(std::function<std::chrono::system_clock::time_point()> clock) {
  clock_ = std::move(clock);
}

bool TAcquisitionForm::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    if (skipNextActivation_) {
      skipNextActivation_ = false;
    } else if (ownDialogDepth_ == 0) {
      FormActivate();
    }
  } else if (event->type() == QEvent::WindowDeactivate && ownDialogDepth_ == 0) {
    skipNextActivation_ = false;
  }
  return QDialog::event(event);
}

int TAcquisitionForm::RunOwnDialog(QDialog& dialog) {
  ++ownDialogDepth_;
  const int result = dialogs_->Run(dialog);
  --ownDialogDepth_;
  skipNextActivation_ = true;
  return result;
}

void TAcquisitionForm::ShowMessage(const QString& text) {
  ++ownDialogDepth_;
  dialogs_->Message(this, text);
  --ownDialogDepth_;
  skipNextActivation_ = true;
}

void TAcquisitionForm::FormActivate() {
  // A running transfer owns SANE; the list is read again after it.
  if (ScanRunning()) return;
  ClearPreview();
  deviceList_.clear();
  if (!sane_) sane_ = std::make_unique<SaneLibrary>();
  ScanResult result;
  if (sane_->Status() != SANE_STATUS_GOOD) {
    result = ScanResult::Failure(ScanStep::ListDevices, static_cast<uint32_t>(sane_->Status()));
  } else {
    result = EnumerateScanDevices(deviceList_);
  }
  ComboBox1->clear();
  for (const std::string& entry : deviceList_) {
    ComboBox1->addItem(QString::fromStdString(DeviceListField(entry, 2)));
  }
  if (!deviceList_.empty()) ComboBox1->setCurrentIndex(0);
  if (!result.Ok()) {
    ShowMessage(QString::fromStdString(AcquisitionErrorMessage(result)));
  } else if (deviceList_.empty()) {
    ShowMessage(QStringLiteral("No Scanner Found"));
  }
}

void TAcquisitionForm::Button3Click() {
  if (ScanRunning() || deviceList_.empty()) return;
  const int index = ComboBox1->currentIndex();
  if (index < 0 || static_cast<size_t>(index) >= deviceList_.size()) return;
  const std::string name = DeviceListField(deviceList_[static_cast<size_t>(index)], 1);

  SaneDevice device;
  if (const SANE_Status status = SaneDevice::Open(name, device); status != SANE_STATUS_GOOD) {
    ShowMessage(QString::fromStdString(AcquisitionErrorMessage(
        ScanResult::Failure(ScanStep::OpenDevice, static_cast<uint32_t>(status)))));
    return;
  }
  SaneOptionProvider deviceOptions(device.Handle());
  DeviceMainOptions options;
  if (const ScanResult result = ReadMainOptions(deviceOptions, options); !result.Ok()) {
    ShowMessage(QString::fromStdString(AcquisitionErrorMessage(result)));
    return;
  }
  // The dialog sets a newly chosen source on the device at once, to show that source's limits.
  DeviceOptionsDialog dialog(deviceOptions, options, ComboBox1->currentText(), this);
  // A cancelled device dialog ends the scan quietly: nothing was asked of the scanner yet.
  if (RunOwnDialog(dialog) != QDialog::Accepted) return;

  ScanRequest request{dialog.Chosen(), ScanIntent, ScanResolution};
  const bool feeder =
      request.options.source.available && IsFeederSource(request.options.source.value);
  // A work folder removed while the program runs comes back closed to other users.
  std::string ignored;
  MakePrivateFolder(workFolder_, ignored);

  device_ = std::move(device);
  canceller_ = std::make_unique<ScanCanceller>(device_.Handle());
  const unsigned generation = ++scanGeneration_;
  SetScanning(true);
  ProgressBar1->setValue(0);
  worker_ = std::thread([this, request, feeder, generation, handle = device_.Handle(),
                         canceller = canceller_.get(), clock = clock_, workFolder = workFolder_] {
    ScanOutcome outcome;
    outcome.feeder = feeder;
    try {
      double resolution = request.resolution;
      outcome.result = ApplyScanRequest(handle, request, resolution);
      if (outcome.result.Ok()) {
        const AcquisitionRequest acquisition{ScanBitmapPath(workFolder), feeder, resolution};
        // A feeder's pages are saved one by one as they arrive, each as its own item.
        PageCallback savePage;
        if (feeder) {
          savePage = [&](const ScannedPage&) {
            const SavedPage saved = SaveScannedPage(workFolder, clock(), items_);
            if (!saved.saved) {
              outcome.saveError = saved.error;
              return false;
            }
            outcome.lastSavedPage = saved.path;
            return true;
          };
        }
        outcome.result = AcquirePages(
            handle, acquisition, *canceller,
            [this](int percent) { emit ProgressReported(percent); }, savePage, outcome.pages);
      }
    } catch (const std::exception& error) {
      sane_cancel(handle);
      outcome.exceptionText = error.what();
    }
    QMetaObject::invokeMethod(
        this, [this, generation, outcome] { FinishScan(generation, outcome); },
        Qt::QueuedConnection);
  });
}

void TAcquisitionForm::FinishScan(unsigned generation, const ScanOutcome& outcome) {
  // A scan stopped by closing the window has been cleaned up already.
  if (generation != scanGeneration_ || !worker_.joinable()) return;
  worker_.join();
  canceller_.reset();
  device_.Close();
  SetScanning(false);

  if (!outcome.exceptionText.empty()) {
    ShowMessage(QString::fromStdString(outcome.exceptionText));
  } else if (outcome.result.Cancelled()) {
    ProgressBar1->setValue(0);
  } else if (!outcome.result.Ok()) {
    ShowMessage(QString::fromStdString(AcquisitionErrorMessage(outcome.result)));
  }
  if (outcome.pages > 0) {
    ShowPreview(outcome.feeder ? outcome.lastSavedPage : ScanBitmapPath(workFolder_).string());
  }
  if (!outcome.saveError.empty()) ShowMessage(QString::fromStdString(outcome.saveError));
  emit ScanFinished();
}

void TAcquisitionForm::CancelButtonClick() {
  if (canceller_) canceller_->Cancel();
}

void TAcquisitionForm::StopScan() {
  if (!worker_.joinable()) return;
  canceller_->Cancel();
  worker_.join();
  ++scanGeneration_;
  canceller_.reset();
  device_.Close();
  SetScanning(false);
}

void TAcquisitionForm::SetScanning(bool scanning) {
  Button3->setEnabled(!scanning);
  Button5->setEnabled(!scanning);
  Button2->setEnabled(!scanning);
  ComboBox1->setEnabled(!scanning);
  CancelButton->setEnabled(scanning);
}

void TAcquisitionForm::Button5Click() {
  TConfigFrm form(this);
  RunOwnDialog(form);
}

void TAcquisitionForm::Button2Click() {
  if (ScanRunning()) return;
  const SavedPage saved = SaveScannedPage(workFolder_, clock_(), items_);
  if (!saved.error.empty()) ShowMessage(QString::fromStdString(saved.error));
}

void TAcquisitionForm::Button1Click() {
  reject();
}

void TAcquisitionForm::done(int result) {
  StopScan();
  DeleteScanBitmap(workFolder_);
  FormClose();
  QDialog::done(result);
}

void TAcquisitionForm::FormClose() {
  device_.Close();
  deviceList_.clear();
  ComboBox1->clear();
  sane_.reset();
}

void TAcquisitionForm::ClearPreview() {
  QPixmap blank(kPreviewWidth, kPreviewHeight);
  blank.fill(palette().color(QPalette::Window));
  Image2->setPixmap(blank);
}

void TAcquisitionForm::ShowPreview(const std::string& path) {
  RgbBitmap bitmap;
  std::string error;
  if (!DecodePictureFile(path, bitmap, error)) {
    ShowMessage(QString::fromStdString(error));
    return;
  }
  const QImage page(bitmap.rgb.data(), static_cast<int>(bitmap.width),
                    static_cast<int>(bitmap.height), static_cast<qsizetype>(bitmap.width) * 3,
                    QImage::Format_RGB888);
  const PreviewRect rect = FitPreview(kPreviewWidth, kPreviewHeight, static_cast<int>(bitmap.width),
                                      static_cast<int>(bitmap.height));
  QPixmap preview(kPreviewWidth, kPreviewHeight);
  preview.fill(palette().color(QPalette::Window));
  {
    QPainter painter(&preview);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(rect.left, rect.top, rect.width, rect.height), page);
  }
  Image2->setPixmap(preview);
}
