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
  // The lister posts its result to this window: it ends before the window goes.
  if (lister_.joinable()) lister_.join();
}

void TAcquisitionForm::SetDialogs(std::shared_ptr<ScannerDialogs> provider) {
  dialogs_ = provider ? std::move(provider) : std::make_shared<ScannerDialogs>();
}

void TAcquisitionForm::SetClock(std::function<std::chrono::system_clock::time_point()> clock) {
  clock_ = std::move(clock);
}

bool TAcquisitionForm::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && listOnActivation_ && ownDialogDepth_ == 0) {
    listOnActivation_ = false;
    FormActivate();
  }
  return QDialog::event(event);
}

void TAcquisitionForm::showEvent(QShowEvent* event) {
  listOnActivation_ = true;
  QDialog::showEvent(event);
}

int TAcquisitionForm::RunOwnDialog(QDialog& dialog) {
  ++ownDialogDepth_;
  const int result = dialogs_->Run(dialog);
  --ownDialogDepth_;
  return result;
}

void TAcquisitionForm::ShowMessage(const QString& text) {
  ++ownDialogDepth_;
  dialogs_->Message(this, text);
  --ownDialogDepth_;
}

void TAcquisitionForm::FormActivate() {
  // A running transfer owns SANE; the list is read again after it. A listing still running from
  // an earlier opening is shown when it ends.
  if (ScanRunning()) return;
  listingWanted_ = true;
  if (Listing()) return;
  if (!sane_) sane_ = std::make_unique<SaneLibrary>();
  if (sane_->Status() != SANE_STATUS_GOOD) {
    FinishListing(
        ScanResult::Failure(ScanStep::ListDevices, static_cast<uint32_t>(sane_->Status())), {});
    return;
  }
  UpdateButtons();
  ComboBox1->setPlaceholderText(QStringLiteral("Looking for scanners..."));
  // sane_get_devices asks every backend, the network ones too, and takes seconds even when no
  // scanner is attached: it runs beside the window, with its own hold on the library so that a
  // window closed meanwhile does not end SANE under it.
  lister_ = std::thread([this] {
    SaneLibrary library;
    std::vector<std::string> devices;
    const ScanResult result = EnumerateScanDevices(devices);
    QMetaObject::invokeMethod(
        this, [this, result, devices] { FinishListing(result, devices); }, Qt::QueuedConnection);
  });
  UpdateButtons();
}

void TAcquisitionForm::FinishListing(const ScanResult& result,
                                     const std::vector<std::string>& devices) {
  if (lister_.joinable()) lister_.join();
  ComboBox1->setPlaceholderText({});
  const bool wanted = listingWanted_;
  listingWanted_ = false;
  UpdateButtons();
  if (!wanted) {
    emit DevicesListed();
    return;
  }
  // The scanner chosen before stays chosen when it is still listed.
  const int chosen = ComboBox1->currentIndex();
  const std::string chosenName = chosen >= 0 && static_cast<size_t>(chosen) < deviceList_.size()
                                     ? DeviceListField(deviceList_[static_cast<size_t>(chosen)], 1)
                                     : std::string();
  deviceList_ = devices;
  ComboBox1->clear();
  int select = 0;
  for (size_t i = 0; i < deviceList_.size(); ++i) {
    ComboBox1->addItem(QString::fromStdString(DeviceListField(deviceList_[i], 2)));
    if (!chosenName.empty() && DeviceListField(deviceList_[i], 1) == chosenName) {
      select = static_cast<int>(i);
    }
  }
  if (!deviceList_.empty()) ComboBox1->setCurrentIndex(select);
  UpdateButtons();
  if (!result.Ok()) {
    ShowMessage(QString::fromStdString(AcquisitionErrorMessage(result)));
  } else if (deviceList_.empty()) {
    ShowMessage(QStringLiteral("No Scanner Found"));
  }
  emit DevicesListed();
}

void TAcquisitionForm::Button3Click() {
  if (ScanRunning() || Listing() || deviceList_.empty()) return;
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
  // A listing let go keeps the scanners listed before; Scan waits until SANE is free again.
  if (Listing() && listingWanted_) {
    listingWanted_ = false;
    ComboBox1->setPlaceholderText({});
    UpdateButtons();
    emit DevicesListed();
  }
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
  scanning_ = scanning;
  UpdateButtons();
}

void TAcquisitionForm::UpdateButtons() {
  const bool scanning = scanning_;
  const bool waitingForList = Listing() && listingWanted_;
  Button3->setEnabled(!scanning && !Listing());
  Button5->setEnabled(!scanning);
  Button2->setEnabled(!scanning);
  ComboBox1->setEnabled(!scanning && !waitingForList);
  CancelButton->setEnabled(scanning || waitingForList);
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
  // The box keeps its scanners, so the one chosen is chosen again at the next opening; the page
  // scanned is gone with scan.bmp.
  listingWanted_ = false;
  ComboBox1->setPlaceholderText({});
  ClearPreview();
  UpdateButtons();
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
