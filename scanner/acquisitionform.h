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

  bool ScanRunning() const { return worker_.joinable(); }
  // One entry per scanner: "name;vendor model;type".
  const std::vector<std::string>& DeviceList() const { return deviceList_; }

  // Every time the window becomes active (except on return from its own dialogs and message
  // boxes): clears the preview and lists the scanners anew.
  void FormActivate();
  void Button3Click();  // Scan
  void Button5Click();  // Configuration
  void Button2Click();  // Save
  void Button1Click();  // Close
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

 protected:
  bool event(QEvent* event) override;
  // Every way of closing ends like Close: a running scan is cancelled, scan.bmp deleted, SANE
  // released.
  void done(int result) override;

 private:
  struct ScanOutcome {
    ScanResult result;
    int pages = 0;
    bool feeder = false;
    std::string lastSavedPage;  // in a feeder scan, the page saved last
    std::string saveError;      // a feeder page that could not be saved
    std::string exceptionText;  // an error thrown on the transfer thread
  };

  int RunOwnDialog(QDialog& dialog);
  void ShowMessage(const QString& text);
  void FinishScan(unsigned generation, const ScanOutcome& outcome);
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

  // Activation that only means one of our own dialogs or message boxes closed is not a new visit.
  int ownDialogDepth_ = 0;
  bool skipNextActivation_ = false;
};
