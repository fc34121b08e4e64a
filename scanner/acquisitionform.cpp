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
      Button3(new QPushButton(tr("Scan"), this)),
      Button5(new QPushButton(tr("Configuration"), this)),
      Button2(new QPushButton(tr("Save"), this)),
      Button1(new QPushButton(tr("Close"), this)),
      CancelButton(new QPushButton(tr("Cancel"), this)),
      items_(items),
      workFolder_(workFolder),
      dialogs_(std::make_shared<ScannerDialogs>()),
      clock_([] { return std::chrono::system_clock::now(); }),
      openDevice_(&SaneDevice::Open) {
  //: The scanner window's title.
  setWindowTitle(tr("Acquisition Form"));
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
  // The lister and the opener post their results to this window: they end before the window
  // goes. A device opened for a window already gone is closed with the result left unread.
  if (lister_.joinable()) lister_.join();
  if (opener_.joinable()) opener_.join();
}

void TAcquisitionForm::SetDialogs(std::shared_ptr<ScannerDialogs> provider) {
  dialogs_ = provider ? std::move(provider) : std::make_shared<ScannerDialogs>();
}

void TAcquisitionForm::SetClock(std::function<std::chrono::system_clock::time_point()> clock) {
  clock_ = std::move(clock);
}

void TAcquisitionForm::SetDeviceOpener(DeviceOpener opener) {
  openDevice_ = opener ? std::move(opener) : DeviceOpener(&SaneDevice::Open);
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

void TAcquisitionForm::ShowFailure(const ScanResult& result) {
  //: %1 is the failure's code, eight hexadecimal digits.
  ShowMessage(
      tr("ERROR, acquiring image: %1").arg(QString::fromStdString(FormatScanCode(result.Code()))));
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
  if (Opening()) {
    // A device still opening for an earlier opening of the window is let go, and the scanners
    // are listed once it is closed, so that SANE is never asked for both at once.
    openingWanted_ = false;
    SetOpeningStatus(false);
    ComboBox1->setPlaceholderText(tr("Looking for scanners..."));
    UpdateButtons();
    return;
  }
  if (!sane_) sane_ = std::make_unique<SaneLibrary>();
  if (sane_->Status() != SANE_STATUS_GOOD) {
    FinishListing(
        ScanResult::Failure(ScanStep::ListDevices, static_cast<uint32_t>(sane_->Status())), {});
    return;
  }
  UpdateButtons();
  ComboBox1->setPlaceholderText(tr("Looking for scanners..."));
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
    ShowFailure(result);
  } else if (deviceList_.empty()) {
    ShowMessage(tr("No Scanner Found"));
  }
  emit DevicesListed();
}

void TAcquisitionForm::Button3Click() {
  if (ScanRunning() || Listing() || Opening() || deviceList_.empty()) return;
  const int index = ComboBox1->currentIndex();
  if (index < 0 || static_cast<size_t>(index) >= deviceList_.size()) return;
  const std::string name = DeviceListField(deviceList_[static_cast<size_t>(index)], 1);

  // The device's dialog and the transfer need SANE after the opener's hold on it has ended.
  if (!sane_) sane_ = std::make_unique<SaneLibrary>();
  openingWanted_ = true;
  SetOpeningStatus(true);
  // sane_open on a network scanner that does not answer waits for its time-out, and a USB
  // scanner may take seconds to wake: the device is opened and its options read beside the
  // window, with a hold on the library of its own so that a window closed meanwhile does not
  // end SANE under the open device.
  opener_ = std::thread([this, name, open = openDevice_] {
    auto outcome = std::make_shared<OpenOutcome>();
    try {
      outcome->library = std::make_unique<SaneLibrary>();
      SANE_Status status = outcome->library->Status();
      if (status == SANE_STATUS_GOOD) status = open(name, outcome->device);
      if (status != SANE_STATUS_GOOD) {
        outcome->result = ScanResult::Failure(ScanStep::OpenDevice, static_cast<uint32_t>(status));
      } else {
        SaneOptionProvider deviceOptions(outcome->device.Handle());
        outcome->result = ReadMainOptions(deviceOptions, outcome->options);
      }
    } catch (const std::exception& error) {
      outcome->exceptionText = error.what();
    }
    QMetaObject::invokeMethod(
        this, [this, outcome] { FinishOpening(outcome); }, Qt::QueuedConnection);
  });
  UpdateButtons();
}

void TAcquisitionForm::FinishOpening(const std::shared_ptr<OpenOutcome>& outcome) {
  if (opener_.joinable()) opener_.join();
  const bool wanted = openingWanted_;
  openingWanted_ = false;
  SetOpeningStatus(false);
  if (!wanted) {
    // Let go by Cancel or by closing the window: the device is closed while the opener's hold on
    // SANE still keeps the library up, and a listing asked for meanwhile starts now.
    outcome->device.Close();
    if (listingWanted_) FormActivate();
    return;
  }
  if (!outcome->exceptionText.empty()) {
    ShowMessage(QString::fromStdString(outcome->exceptionText));
    return;
  }
  if (!outcome->result.Ok()) {
    ShowFailure(outcome->result);
    return;
  }
  RunScan(std::move(outcome->device), outcome->options);
}

void TAcquisitionForm::SetOpeningStatus(bool opening) {
  ProgressBar1->setFormat(opening ? tr("Opening scanner...") : QStringLiteral("%p%"));
  if (opening) ProgressBar1->setValue(0);
  UpdateButtons();
}

void TAcquisitionForm::RunScan(SaneDevice device, const DeviceMainOptions& options) {
  SaneOptionProvider deviceOptions(device.Handle());
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
    ShowFailure(outcome.result);
  }
  if (outcome.pages > 0) {
    ShowPreview(outcome.feeder ? outcome.lastSavedPage : ScanBitmapPath(workFolder_).string());
  }
  if (!outcome.saveError.empty()) ShowMessage(QString::fromStdString(outcome.saveError));
  emit ScanFinished();
}

void TAcquisitionForm::CancelButtonClick() {
  if (canceller_) canceller_->Cancel();
  // An opening let go closes its device when the open ends; Scan waits until then.
  if (Opening() && openingWanted_) {
    openingWanted_ = false;
    SetOpeningStatus(false);
  }
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
  const bool waitingForList = (Listing() || Opening()) && listingWanted_;
  const bool waitingForDevice = Opening() && openingWanted_;
  Button3->setEnabled(!scanning && !Listing() && !Opening());
  Button5->setEnabled(!scanning && !waitingForDevice);
  Button2->setEnabled(!scanning);
  ComboBox1->setEnabled(!scanning && !waitingForList && !Opening());
  CancelButton->setEnabled(scanning || waitingForList || waitingForDevice);
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
  openingWanted_ = false;
  SetOpeningStatus(false);
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
