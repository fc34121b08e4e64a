// TAcquisitionForm: the "Acquisition Form" window that scans pages into the item list.
#pragma once

#include <QDialog>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "acquisition.h"
#include "deviceoptions.h"
#include "sanesession.h"
#include "scanstatus.h"

class ScannerDialogs;
class ItemList;

// The preview's size in pixels.
inline constexpr int kPreviewWidth = 640;
inline constexpr int kPreviewHeight = 604;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

// The main window's "Scan" button runs this dialog with exec() and redraws its item strip
// afterwards: every page saved here has been appended to `items` by then. Scanned pages pass
// through `workFolder`/scan.bmp and are saved there as yymmddhhnnss.jpg.
class TAcquisitionForm : public QDialog {
  Q_OBJECT

 public:
  TAcquisitionForm(ItemList& items, const std::filesystem::path& workFolder,
                   QWidget* parent = nullptr);
  ~TAcquisitionForm() override;

  // Who shows the message boxes and runs the device's and the configuration dialog (tests answer
  // them); the clock that names saved pages.
  void SetDialogs(std::shared_ptr<ScannerDialogs> provider);
  void SetClock(std::function<std::chrono::system_clock::time_point()> clock);
  // How Scan opens the chosen device (SaneDevice::Open unless replaced). It runs on a thread of
  // its own, so tests can make an open as slow as an unanswering network scanner.
  using DeviceOpener = std::function<SANE_Status(const std::string& name, SaneDevice& device)>;
  void SetDeviceOpener(DeviceOpener opener);

  bool ScanRunning() const { return worker_.joinable(); }
  // True while the scanners are being listed (on a thread of their own: SANE may take seconds).
  bool Listing() const { return lister_.joinable(); }
  // True while Scan opens the chosen device and reads its options (on a thread of their own: a
  // network scanner may not answer for a long time, a USB one takes seconds to wake).
  bool Opening() const { return opener_.joinable(); }
  // One entry per scanner: "name;vendor model;type".
  const std::vector<std::string>& DeviceList() const { return deviceList_; }

  // When the window is opened (its first activation after being shown): lists the scanners anew
  // beside the event loop; DevicesListed follows. The scanner chosen before stays chosen when it
  // is still there, and the preview stays until the window closes. Activations after that (back
  // from another window or a dialog) change nothing.
  void FormActivate();
  void Button3Click();  // Scan
  void Button5Click();  // Configuration
  void Button2Click();  // Save
  void Button1Click();  // Close
  // Stops a running scan; lets go of a listing or an opening the window waits for.
  void CancelButtonClick();

  QLabel* Image2;              // the preview, 640 x 604
  QComboBox* ComboBox1;        // the scanners, field 2 of each entry
  QProgressBar* ProgressBar1;  // 0-100
  QPushButton* Button3;        // "Scan"
  QPushButton* Button5;        // "Configuration"
  QPushButton* Button2;        // "Save"
  QPushButton* Button1;        // "Close"
  QPushButton* CancelButton;   // "Cancel": stops a running scan

 signals:
  // Percent of the page received; emitted on the transfer thread, delivered queued.
  void ProgressReported(int percent);
  // A scan has ended and its result is shown.
  void ScanFinished();
  // The scanners were listed (or listing them failed, or was cancelled) and the box shows them.
  void DevicesListed();

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // Every way of closing ends like Close: a running scan is cancelled, scan.bmp deleted, SANE
  // released.
  void done(int result) override;

 private:
  // What the opening thread hands to the window. The device is closed before the hold on SANE
  // ends (members go in reverse order), whichever thread lets go of the outcome last.
  struct OpenOutcome {
    std::unique_ptr<SaneLibrary> library;
    SaneDevice device;
    ScanResult result;
    DeviceMainOptions options;
    std::string exceptionText;  // an error thrown on the opening thread
  };
  struct ScanOutcome {
    ScanResult result;
    int pages = 0;
    bool feeder = false;
    std::string lastSavedPage;  // in a feeder scan, the page saved last
    std::string saveError;      // a feeder page that could not be saved
    std::string exceptionText;  // an error thrown on the transfer thread
  };

  int RunOwnDialog(QDialog& dialog);
  // "ERROR, acquiring image: " and the failure's code.
  void ShowFailure(const ScanResult& result);
  void ShowMessage(const QString& text);
  void FinishScan(unsigned generation, const ScanOutcome& outcome);
  void FinishListing(const ScanResult& result, const std::vector<std::string>& devices);
  void FinishOpening(const std::shared_ptr<OpenOutcome>& outcome);
  void RunScan(SaneDevice device, const DeviceMainOptions& options);
  void SetOpeningStatus(bool opening);
  void UpdateButtons();
  void StopScan();
  void SetScanning(bool scanning);
  void ClearPreview();
  void ShowPreview(const std::string& path);
  void FormClose();

  ItemList& items_;
  std::filesystem::path workFolder_;
  std::shared_ptr<ScannerDialogs> dialogs_;
  std::function<std::chrono::system_clock::time_point()> clock_;

  std::unique_ptr<SaneLibrary> sane_;
  std::vector<std::string> deviceList_;
  SaneDevice device_;
  std::unique_ptr<ScanCanceller> canceller_;
  std::thread worker_;
  unsigned scanGeneration_ = 0;
  // The thread that lists the scanners; its result is shown only while listingWanted_ holds
  // (Cancel and closing the window let it go).
  std::thread lister_;
  bool listingWanted_ = false;
  // The thread that opens the device for Scan; the opened device goes on to the device's dialog
  // only while openingWanted_ holds (Cancel and closing the window let it go, and it is closed).
  std::thread opener_;
  bool openingWanted_ = false;
  DeviceOpener openDevice_;
  bool listOnActivation_ = true;
  bool scanning_ = false;

  // Activation that only means one of our own dialogs or message boxes closed is not an opening.
  int ownDialogDepth_ = 0;
};
