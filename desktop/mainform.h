// The main window: it makes its parts and wires them to its buttons. The parts are the patient
// form (patientform.h), the searches and their result grid (studysearch.h), the item strip with
// its preview (stripandpreview.h), the batch runner behind Send and Save To Folder
// (batchrunner.h) and the outbox indicator (outboxindicator.h); the window itself holds the
// buttons, the progress bar, the item list and the start and end of the program.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "appfolders.h"
#include "batchrunner.h"
#include "capturehooks.h"
#include "itemlist.h"
#include "outbox.h"
#include "outboxsender.h"
#include "studyinfo.h"
#include "thumbnails.h"

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
class OutboxIndicator;
class PatientForm;
class StripAndPreview;
class StudySearch;
class TSetupFrm;

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  // The size the window opens at (when the desktop's font leaves room for it), and the width of
  // its left panel at that size.
  static constexpr int kDesignedWidth = 893;
  static constexpr int kDesignedHeight = 499;
  static constexpr int kDesignedLeftWidth = 350;

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
  bool StripComplete() const;
  // True while the picture asked for the preview is being decoded.
  bool PreviewPending() const;
  void FillResultGrid();
  // Adds a folder's files of the ten kinds (no sub-folders, no hidden files), as Add Folder does.
  void AddFolderFiles(const QString& folder);
  // Adds dropped files and folders as Add File and Add Folder would.
  void AddDroppedPaths(const QStringList& paths);

  bool StartedUp() const { return startedUp_; }
  bool BatchRunning() const;
  ItemList& Items() { return items_; }
  const std::vector<StudyInfo>& SearchResults() const;
  TSetupFrm& SetupForm() { return *setupForm_; }
  ThumbnailCache& Thumbnails();
  const AppFolders& Folders() const { return folders_; }
  // The outbox and its sender once the window has started; null when the outbox folder cannot be
  // used (Send then stores directly).
  Outbox* OutboxOfWindow();
  OutboxSender* Sender();
  // Replaces what the Scan button opens (the scanner window when the build has one).
  void SetScanAction(std::function<void()> action) { scanAction_ = std::move(action); }

  // Controls, named as the form has always named them; most of them belong to the parts.
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
  void BuildControls();
  // The title of the folder dialogs, and the kinds of files Add File offers.
  static QString FolderTitle();
  static QString OpenFilter();
  // Shows the chosen result's patient in the fields (greyed out) and above Send, or the typed
  // fields again when no result is chosen.
  void ShowChosenResult();
  // The start both Send and Save To Folder share: the chosen result, PrepareBatch and its
  // message. False when the batch must not run.
  bool PrepareFromWindow();
  // Empties the grid, runs one search (which returns what the user is told) beside the event
  // loop, and shows what it found.
  void RunSearch(const std::function<QString()>& search);
  // Shows what the window waits for in the progress bar (empty: hides it).
  void ShowWaiting(const QString& what);
  // Asks "Delete this image?" and removes the item when the answer is yes.
  void AskToRemove(size_t index);
  void StartBatch(BatchRunner::Mode mode, const std::string& folder);
  void FinishBatch(const BatchRunner::Result& result);
  void SetBusy(bool busy);
  void FormClose();

  AppFolders folders_;
  DialogProvider& dialogs_;
  CaptureHooks capture_;
  ItemList items_;
  // The parts, made with the controls; they go before the window's children.
  std::unique_ptr<StripAndPreview> strip_;
  std::unique_ptr<TSetupFrm> setupForm_;
  std::unique_ptr<PatientForm> form_;
  std::unique_ptr<StudySearch> searches_;
  std::unique_ptr<OutboxIndicator> outboxIndicator_;
  std::unique_ptr<BatchRunner> batch_;
  std::function<void()> scanAction_;
  std::string lastFolder_;
  bool startedUp_ = false;
  bool busy_ = false;
  bool closeWhenDone_ = false;
  bool closed_ = false;
};
