// The main window's handlers: they take what the controls hold, hand it to the parts and to the
// application logic, and show what comes back.
#include "mainform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "batchpatient.h"
#include "dialogprovider.h"
#include "guiwork.h"
#include "log.h"
#include "messagewording.h"
#include "outboxindicator.h"
#include "patientform.h"
#include "settings.h"
#include "setupform.h"
#include "stripandpreview.h"
#include "stripview.h"
#include "studysearch.h"
#include "uids.h"

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

TForm1::TForm1(AppFolders folders, DialogProvider& dialogs, CaptureHooks capture, QWidget* parent)
    : QWidget(parent),
      folders_(std::move(folders)),
      dialogs_(dialogs),
      capture_(std::move(capture)) {
  BuildControls();
  FormCreate();
  setupForm_ =
      std::make_unique<TSetupFrm>(folders_.settingsFile.string(), setupcfg, dialogs_, this);
  // The rest of the start runs once the window is shown and the event loop turns.
  QTimer::singleShot(0, this, &TForm1::DeferredStart);
}

TForm1::~TForm1() {
  // The batch ends first; the preview's decoding and the strip's tiles end with their part.
  batch_.reset();
  FormClose();
  // Searches the user stopped may still wait for their peer; none may outlive the window.
  WaitForAbandonedWork();
}

void TForm1::DeferredStart() {
  if (startedUp_) return;
  startedUp_ = true;
  CreateAppFolders(folders_);
  strip_->ClearPreview();
  SetLogTarget(DailyLogFile(folders_), "pageloft", "");
  if (outboxIndicator_->Start(setupcfg, folders_.workFolder)) {
    connect(OutboxBtn, &QPushButton::clicked, this, &TForm1::OutboxBtnClick);
  }
  if (capture_.start) {
    // Installing the printer may wait for the administrator's password for minutes: the window
    // takes input meanwhile, and Esc stops waiting (the capture then starts without its answer).
    ShowWaiting(tr("Installing the printer"));
    const std::optional<std::string> message = RunStoppableBesideEventLoop(
        [start = capture_.start, port = setupcfg.PrinterPort, work = folders_.workFolder,
         items = &items_] { return start(port, work, *items); });
    ShowWaiting({});
    if (message && !message->empty()) dialogs_.ShowMessage(this, Q(*message));
  }
}

bool TForm1::StripComplete() const {
  return strip_->Complete();
}

bool TForm1::PreviewPending() const {
  return strip_->PreviewPending();
}

bool TForm1::BatchRunning() const {
  return batch_ && batch_->Running();
}

const std::vector<StudyInfo>& TForm1::SearchResults() const {
  return searches_->Results();
}

ThumbnailCache& TForm1::Thumbnails() {
  return strip_->Thumbnails();
}

Outbox* TForm1::OutboxOfWindow() {
  return outboxIndicator_->OutboxOfWindow();
}

OutboxSender* TForm1::Sender() {
  return outboxIndicator_->Sender();
}

QString TForm1::FolderTitle() {
  return tr("Please select a folder with DICOM objects:");
}

QString TForm1::OpenFilter() {
  //: The file dialog's kinds of files; keep the patterns in brackets and the ";;" between kinds.
  return tr(
      "Images (*.jpg *.bmp *png);;Text (*.doc *.docx *.rtf *.txt *.html);;PDF (*.pdf);;Video "
      "(*.mp4)");
}

// ---- Search ----------------------------------------------------------------------------------

void TForm1::ShowChosenResult() {
  const StudyInfo* chosen = searches_->Chosen();
  form_->ShowResult(chosen);
  if (chosen == nullptr) {
    BatchForLbl->hide();
    return;
  }
  BatchForLbl->setText(Worded(BatchForText(*chosen)));
  BatchForLbl->show();
}

void TForm1::SearchPACSBtnClick() {
  if (busy_) return;
  const SearchForm form = form_->SearchFields();
  if (SearchHasNoFilters(form) &&
      !dialogs_.Confirm(this, tr("WARNING"), tr("Have no filters\nSearch can take very long"))) {
    return;
  }
  RunSearch([&] { return searches_->SearchPacs(form, setupcfg); });
}

void TForm1::SearchWLBtnClick() {
  if (busy_) return;
  const SearchForm form = form_->SearchFields();
  RunSearch([&] { return searches_->SearchWorklist(form, setupcfg); });
}

void TForm1::RunSearch(const std::function<QString()>& search) {
  searches_->Clear();
  ShowChosenResult();
  SetBusy(true);
  ShowWaiting(tr("Searching"));
  const QString message = search();
  ShowWaiting({});
  SetBusy(false);
  FillResultGrid();
  if (!message.isEmpty()) dialogs_.ShowMessage(this, message);
}

void TForm1::ShowWaiting(const QString& what) {
  if (what.isEmpty()) {
    if (!BatchRunning()) ProgressBar1->hide();
    return;
  }
  ProgressBar1->setRange(0, 0);
  //: The progress bar while the window waits for something: %1 says for what.
  ProgressBar1->setFormat(tr("%1 (Esc stops)").arg(what));
  ProgressBar1->show();
}

bool TForm1::CancelWaiting() {
  // A search that is let go also cancels its C-FIND, so the server stops working for nobody.
  searches_->Stop();
  return CancelWorkBesideEventLoop();
}

void TForm1::keyPressEvent(QKeyEvent* event) {
  // One Escape for whatever runs: a Send or Save stops after its object in flight, a search,
  // echo test or printer installation is no longer waited for.
  if (event->key() == Qt::Key_Escape) {
    if (BatchRunning()) {
      CancelBtnClick();
      event->accept();
      return;
    }
    if (CancelWaiting()) {
      event->accept();
      return;
    }
  }
  QWidget::keyPressEvent(event);
}

void TForm1::FillResultGrid() {
  searches_->Fill();
  ShowChosenResult();
}

void TForm1::ClearBtnClick() {
  // Back to typed fields, which Clear then empties.
  searches_->Clear();
  ShowChosenResult();
  form_->Clear();
  CurrentStudy = StudyInfo{};
  items_.Clear();
  strip_->ClearPreview();
  RefreshItemStrip();
}

// ---- Buttons ---------------------------------------------------------------------------------

void TForm1::SetupBtnClick() {
  setupForm_->exec();
  outboxIndicator_->SettingsChanged(setupcfg);
}

void TForm1::OutboxBtnClick() {
  outboxIndicator_->OpenDialog(this);
}

void TForm1::AboutBtnClick() {
  //: The About box: the program's name and version, then what it is.
  dialogs_.ShowMessage(
      this, tr("VELLORAN V%1\nDICOM Converter").arg(Q(FileVersionText("/proc/self/exe"))));
}

void TForm1::EndBtnClick() {
  close();
}

void TForm1::ScanBtnClick() {
  if (!scanAction_) {
    dialogs_.ShowMessage(this, tr("ERROR, this copy of the program has no scanner support"));
    return;
  }
  scanAction_();
  RefreshItemStrip();
}

// ---- Item list -------------------------------------------------------------------------------

void TForm1::AddImageBtnClick() {
  const QString path = dialogs_.OpenFile(this, OpenFilter());
  if (path.isEmpty()) return;
  if (!items_.AppendUnique(path.toStdString())) {
    dialogs_.ShowMessage(this, tr("ERROR, already in the list"));
    return;
  }
  RefreshItemStrip();
}

void TForm1::AddFolderBtnClick() {
  SendBtn->setEnabled(false);
  EndBtn->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  lastFolder_.clear();
  lastFolder_ = dialogs_.BrowseForFolder(this, FolderTitle()).toStdString();
  if (!lastFolder_.empty()) AddFolderFiles(Q(lastFolder_));
  RefreshItemStrip();
  QApplication::restoreOverrideCursor();
  SendBtn->setEnabled(!busy_);
  EndBtn->setEnabled(true);
}

void TForm1::AddFolderFiles(const QString& folder) {
  // Ordinary files only: no hidden files, no sub-folders; in name order.
  const QFileInfoList files =
      QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
  for (const QFileInfo& file : files) {
    const std::string path = file.absoluteFilePath().toStdString();
    if (KindOfItem(path) != ItemKind::Unknown) items_.Append(path);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
}

void TForm1::AddDroppedPaths(const QStringList& paths) {
  QStringList duplicates;
  for (const QString& path : paths) {
    const QFileInfo info(path);
    if (info.isDir()) {
      AddFolderFiles(info.absoluteFilePath());
    } else if (info.isFile() && !items_.AppendUnique(info.absoluteFilePath().toStdString())) {
      duplicates << info.fileName();
    }
  }
  RefreshItemStrip();
  if (!duplicates.isEmpty()) {
    //: %1 names the files.
    dialogs_.ShowMessage(this, tr("ERROR, already in the list: %1").arg(duplicates.join(", ")));
  }
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (!busy_ && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  event->acceptProposedAction();
  AddDroppedPaths(paths);
}

void TForm1::RefreshItemStrip() {
  strip_->Refresh();
}

void TForm1::Image1MouseDown(Qt::MouseButton button, int x) {
  if (x < 0 || busy_) return;
  const size_t index = static_cast<size_t>(x) / kTileSize;
  if (button == Qt::RightButton) {
    AskToRemove(index);
    return;
  }
  const std::optional<std::string> path = items_.At(index);
  if (!path) return;
  switch (KindOfItem(*path)) {
    case ItemKind::Image:
      strip_->ShowPreview(*path);
      break;
    case ItemKind::Pdf:
      dialogs_.OpenDocument(Q(*path));
      break;
    default:
      break;
  }
}

void TForm1::AskToRemove(size_t index) {
  if (busy_ || index >= items_.Size()) return;
  if (dialogs_.Confirm(this, tr("WARNING"), tr("Delete this image?"))) {
    items_.RemoveAt(index);
    RefreshItemStrip();
  }
}

void TForm1::StripCurrentChanged(size_t index) {
  strip_->ShowItem(index);
}

void TForm1::StripDeleteRequested(size_t index) {
  AskToRemove(index);
  if (index < items_.Size()) StripCurrentChanged(Image1->Current());
}

void TForm1::Timer1Timer() {
  if (items_.TakeNewItemFlag()) RefreshItemStrip();
  if (capture_.messages) {
    for (const std::string& message : capture_.messages()) dialogs_.ShowMessage(this, Q(message));
  }
}

// ---- Send and save ---------------------------------------------------------------------------

bool TForm1::PrepareFromWindow() {
  if (busy_) return false;
  // The empty row below the results chooses the typed fields, as the window shows them.
  const StudyInfo* chosen = searches_->Chosen();
  UserMessage message;
  const BatchForm form = form_->BatchFields();
  const size_t itemCount = items_.Size();
  // The batch stamp may wait a moment for another program of this user: the window paints on.
  const bool prepared =
      RunBesideEventLoop([&] { return PrepareBatch(form, chosen, itemCount, setupcfg, message); });
  if (!prepared) {
    dialogs_.ShowMessage(this, Worded(message));
    return false;
  }
  return true;
}

void TForm1::SendBtnClick() {
  if (PrepareFromWindow()) StartBatch(BatchRunner::Mode::Send, {});
}

void TForm1::SaveToFolderBtnClick() {
  if (!PrepareFromWindow()) return;
  lastFolder_ = dialogs_.BrowseForFolder(this, FolderTitle()).toStdString();
  if (lastFolder_.empty()) return;
  StartBatch(BatchRunner::Mode::Save, lastFolder_);
}

void TForm1::StartBatch(BatchRunner::Mode mode, const std::string& folder) {
  SetBusy(true);
  batch_->Start(mode, items_.Snapshot(), folder, setupcfg, outboxIndicator_->OutboxOfWindow(),
                outboxIndicator_->Sender(),
                [this](const BatchRunner::Result& result) { FinishBatch(result); });
}

void TForm1::CancelBtnClick() {
  batch_->Cancel();
}

void TForm1::FinishBatch(const BatchRunner::Result& result) {
  SetBusy(false);
  if (!result.doneItems.empty()) {
    items_.RemoveIndexes(result.doneItems);
    strip_->ClearPreview();
    RefreshItemStrip();
  }
  if (!result.message.Empty()) dialogs_.ShowMessage(this, Worded(result.message));
  if (closeWhenDone_) close();
}

void TForm1::SetBusy(bool busy) {
  busy_ = busy;
  for (QPushButton* button : {SendBtn, SaveToFolderBtn, ClearBtn, AddImageBtn, AddFolderBtn,
                              ScanBtn, SetupBtn, SearchPACSBtn, SearchWLBtn}) {
    button->setEnabled(!busy);
  }
}

// ---- Closing ---------------------------------------------------------------------------------

void TForm1::closeEvent(QCloseEvent* event) {
  // A search or test the window waits for is let go; it ends on its own.
  CancelWaiting();
  if (BatchRunning()) {
    if (!closeWhenDone_ &&
        dialogs_.Confirm(
            this, tr("WARNING"),
            tr("A batch is still running.\nClose the program when it has finished?"))) {
      closeWhenDone_ = true;
      ProgressBar1->setFormat(tr("Finishing, then closing"));
    }
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

void TForm1::FormClose() {
  if (closed_) return;
  closed_ = true;
  Timer1->stop();
  outboxIndicator_->Stop();
  // The capture threads append to the item list: they end before it goes.
  if (capture_.stop) capture_.stop();
  strip_->StopDrawing();
  items_.Clear();
  ReleaseLogTarget();
}
