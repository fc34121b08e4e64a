// The main window: the patient/study form and its searches, the result grid, the item strip with
// its preview, and the buttons that add items, send, save, set up and end.
#pragma once

#include <QThreadPool>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "appfolders.h"
#include "batch.h"
#include "itemlist.h"
#include "outbox.h"
#include "outboxsender.h"
#include "search.h"
#include "studyinfo.h"
#include "thumbnails.h"
#include "tileloader.h"

class DialogProvider;
class ItemStripView;
class PreviewView;
class QComboBox;
class QDateEdit;
class QHBoxLayout;
class QVBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTableWidget;
class QTimer;
class TSetupFrm;

// The start-up and shut-down steps that the print capture hooks in (kept as functions so the
// window does not depend on how capture works).
struct CaptureHooks {
  // Runs at the end of the deferred start; returns a message for the user, or empty.
  std::function<std::string(const std::string& port, const std::filesystem::path& workFolder,
                            ItemList& items)>
      start;
  // Runs when the window closes, before the item list is freed.
  std::function<void()> stop;
  // Failures of captured jobs since the last call; the timer shows them.
  std::function<std::vector<std::string>()> messages;
};

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // The size the window opens at (when the desktop's font leaves room for it), and the width of
  // its left panel at that size.
  static constexpr int kDesignedWidth = 893;
  static constexpr int kDesignedHeight = 499;
  static constexpr int kDesignedLeftWidth = 350;
  static constexpr int kDesignedStripHeight = 120;

  TForm1(AppFolders folders, DialogProvider& dialogs, CaptureHooks capture = {},
         QWidget* parent = nullptr);
  ~TForm1() override;

  // Handlers, named after their controls.
  void FormCreate();
  void DeferredStart();
  void SearchPACSBtnClick();
  void SearchWLBtnClick();
  void ClearBtnClick();
  void SetupBtnClick();
  void AboutBtnClick();
  void EndBtnClick();
  void AddImageBtnClick();
  void AddFolderBtnClick();
  void ScanBtnClick();
  void SendBtnClick();
  void SaveToFolderBtnClick();
  void OutboxBtnClick();  // the outbox indicator: opens the outbox dialog
  // Cancel (and Escape) while a batch runs: the object in flight is finished, the rest stays.
  void CancelBtnClick();
  void Image1MouseDown(Qt::MouseButton button, int x);
  void Timer1Timer();
  // The strip's keyboard: the current tile moved (its picture goes to the preview), and Delete.
  void StripCurrentChanged(size_t index);
  void StripDeleteRequested(size_t index);
  // Stops the search, echo or printer installation the window waits for; false when none runs.
  bool CancelWaiting();

  // Shows the strip at once: cached tiles drawn, the others blank until the pool has drawn them.
  void RefreshItemStrip();
  // True when every tile of the strip is drawn.
  bool StripComplete() const { return stripWaiting_.empty(); }
  // True while the picture asked for the preview is being decoded.
  bool PreviewPending() const { return previewPending_; }
  void FillResultGrid();
  // Adds a folder's files of the ten kinds (no sub-folders, no hidden files), as Add Folder does.
  void AddFolderFiles(const QString& folder);
  // Adds dropped files and folders as Add File and Add Folder would.
  void AddDroppedPaths(const QStringList& paths);

  bool StartedUp() const { return startedUp_; }
  bool BatchRunning() const { return batchThread_.joinable(); }
  ItemList& Items() { return items_; }
  const std::vector<StudyInfo>& SearchResults() const { return results_; }
  TSetupFrm& SetupForm() { return *setupForm_; }
  ThumbnailCache& Thumbnails() { return thumbnails_; }
  const AppFolders& Folders() const { return folders_; }
  // The outbox and its sender once the window has started; null when the outbox folder cannot be
  // used (Send then stores directly).
  Outbox* OutboxOfWindow() { return outbox_.get(); }
  OutboxSender* Sender() { return sender_.get(); }
  // Replaces what the Scan button opens (the scanner window when the build has one).
  void SetScanAction(std::function<void()> action) { scanAction_ = std::move(action); }

  // Controls, named as the form has always named them.
  QWidget* Panel1;
  QWidget* Panel2;
  QWidget* Panel3;
  PreviewView* Image2;
  QScrollArea* ScrollBox1;
  ItemStripView* Image1;
  QLineEdit* Edit1;            // Patient ID
  QLineEdit* Edit2;            // Patient Name
  QLineEdit* Edit5;            // Accession Number
  QLineEdit* Edit6;            // Study Description
  QComboBox* ComboBox1;        // Patient Sex
  QComboBox* ComboBox2;        // Modality
  QDateEdit* DateTimePicker1;  // Patient BD / From
  QDateEdit* DateTimePicker2;  // Study Date / To
  QLabel* PatientIDLbl;
  QLabel* PatientNameLbl;
  QLabel* PatientBDLbl;
  QLabel* AccessionNumberLbl;
  QLabel* PatientSexLbl;
  QLabel* StudyDescriptionLbl;
  QLabel* StudyDateLbl;
  QLabel* ModalityLbl;
  QTableWidget* StringGrid1;
  QPushButton* SearchPACSBtn;
  QPushButton* SearchWLBtn;
  QPushButton* ClearBtn;
  QPushButton* SetupBtn;
  QPushButton* AddImageBtn;
  QPushButton* AddFolderBtn;
  QPushButton* ScanBtn;
  QPushButton* AboutBtn;
  QPushButton* SendBtn;
  QPushButton* SaveToFolderBtn;
  QPushButton* EndBtn;
  QProgressBar* ProgressBar1;
  QPushButton* OutboxBtn;  // "3 waiting · next try 14:05 · PACS did not answer"; hidden when empty
  QPushButton* CancelBtn;  // shown while a batch runs
  QLabel* BatchForLbl;     // whose batch it is, while a search result is chosen
  QTimer* Timer1;
  // The layouts of the right panel: the two button rows and the column that holds the form, the
  // grid and the rows.
  QVBoxLayout* Panel2Layout;
  QHBoxLayout* ButtonRow1;
  QHBoxLayout* ButtonRow2;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  enum class BatchMode { Send, Save };
  struct BatchOutcome;

  void BuildControls();
  // The controls that show whose batch it is and cancel it, placed next to Send.
  void BuildBatchControls();
  // Shows the chosen result's patient in the fields (greyed out) and above Send, or the typed
  // fields again when no result is chosen.
  void ShowChosenResult();
  // The typed fields kept while a result's values are shown, restored when none is chosen.
  struct TypedFields;
  std::unique_ptr<TypedFields> typedFields_;
  // The "Patient BD / From" picker as a date, empty while it shows "unknown".
  std::string BirthDateText() const;
  BatchForm FormFields() const;
  SearchForm SearchFields() const;
  // The result the next batch takes its patient from: null without results and while the empty
  // row below them is selected (the typed fields are then used, and shown).
  bool ChosenResult(const StudyInfo*& chosen);
  void ResetGrid();
  // The start both Send and Save To Folder share: the chosen result, PrepareBatch and its
  // message. False when the batch must not run.
  bool PrepareFromWindow();
  // Empties the grid, runs one search beside the event loop, and shows what it found.
  void RunSearch(
      std::function<SearchOutcome(std::vector<StudyInfo>&, std::string&, std::stop_token)> search,
      const std::string& calledAet);
  // Shows what the window waits for in the progress bar (empty: hides it).
  void ShowWaiting(const QString& what);
  void ShowPreview(const std::string& path);
  void ClearPreview();
  // Asks "Delete this image?" and removes the item when the answer is yes.
  void AskToRemove(size_t index);
  static int TileLeft(size_t index) { return static_cast<int>(index) * kTileSize; }
  void TileDrawn(const TileLoader::Job& job, const QImage& tile);
  // The tiles still to draw: those in the scroll box's view first, then the others in item order.
  std::vector<TileLoader::Job> WaitingTileJobs() const;
  void StartBatch(BatchMode mode, const std::string& folder);
  void FinishBatch(const BatchOutcome& outcome);
  void SetBusy(bool busy);
  // Opens the outbox and starts its sender; what waits from an earlier run goes at once.
  void StartOutbox();
  void ShowOutboxStatus(const OutboxStatus& status);
  void FormClose();

  AppFolders folders_;
  DialogProvider& dialogs_;
  CaptureHooks capture_;
  ItemList items_;
  std::vector<StudyInfo> results_;
  ThumbnailCache thumbnails_;
  // After the cache, which it fills, and before the strip goes with the window's children.
  std::unique_ptr<TileLoader> tileLoader_;
  // The strip's tiles still being drawn: by path, the file's stamp and the tiles it fills.
  struct WaitingTile {
    FileStamp stamp;
    std::vector<size_t> indexes;
  };
  std::unordered_map<std::string, WaitingTile> stripWaiting_;
  std::unique_ptr<TSetupFrm> setupForm_;
  std::function<void()> scanAction_;
  std::string lastFolder_;
  std::thread batchThread_;
  // The settings the sender reads for each delivery, copied on the GUI thread when they change.
  std::mutex senderSettingsMutex_;
  SetupConfig senderSettings_;
  std::unique_ptr<Outbox> outbox_;
  std::unique_ptr<OutboxSender> sender_;  // after the outbox, so it stops first
  std::stop_source batchStop_;
  // Stops the search the window waits for; a new one for each search.
  std::stop_source searchStop_;
  // The preview's decoding: one picture at a time, and only the last asked for is shown.
  QThreadPool previewPool_;
  std::atomic<unsigned> previewRequest_{0};
  bool previewPending_ = false;
  bool startedUp_ = false;
  bool busy_ = false;
  bool closeWhenDone_ = false;
  bool closed_ = false;
  bool refreshing_ = false;
  bool refreshAgain_ = false;
};
