// The main window.
#include "mainform.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QCalendarWidget>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <filesystem>
#include <tuple>

#include "batchpatient.h"
#include "batchreport.h"
#include "dialogprovider.h"
#include "guiwork.h"
#include "inifile.h"
#include "log.h"
#include "previewfit.h"
#include "searchweb.h"
#include "send.h"
#include "sendweb.h"
#include "settings.h"
#include "setupform.h"
#include "sourcefile.h"
#include "stripview.h"
#include "uids.h"

namespace {

constexpr const char* kCaptionSection = "MainForm";
constexpr const char* kFolderTitle = "Please select a folder with DICOM objects:";
constexpr const char* kOpenFilter =
    "Images (*.jpg *.bmp *png);;Text (*.doc *.docx *.rtf *.txt *.html);;PDF (*.pdf);;Video (*.mp4)";

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

QString DateText(const QDateEdit* picker) {
  return picker->date().toString("yyyyMMdd");
}

// A grid header, its "MainForm" key and its column width.
struct GridColumn {
  const char* key;
  const char* header;
  int width;
};
constexpr GridColumn kGridColumns[] = {
    {"StringGrid1Name", "Name", 120},
    {"StringGrid1ID", "ID", 60},
    {"StringGrid1Sex", "Sex", 30},
    {"StringGrid1BD", "Birth Date", 60},
    {"StringGrid1StudyDescription", "Study Description", 120},
    {"StringGrid1StudyDate", "Study Date", 60},
    {"StringGrid1AN", "Accession N.", 60},
};

}  // namespace

struct TForm1::BatchOutcome {
  BatchMode mode = BatchMode::Send;
  bool success = false;
  std::vector<std::string> items;
  std::vector<std::string> written;
  std::string message;
  BatchReport report;
};

// What the fields held as typed while a chosen result's values are shown in them.
struct TForm1::TypedFields {
  QString patientName;
  QString patientId;
  int sexIndex = 0;
  QDate birthDate;
  QString accessionNumber;
  QString studyDescription;
  QDate studyDate;
};

namespace {

// The birth date picker's lowest date stands for "unknown": it shows that word and gives an empty
// date, so no birth date is sent or searched for until one is chosen.
const QDate kUnknownBirthDate(1800, 1, 1);

// The calendar of a birth date still unknown opens at this month rather than at its lowest date.
class CalendarOpensAtToday : public QObject {
 public:
  explicit CalendarOpensAtToday(QDateEdit* picker) : QObject(picker), picker_(picker) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && picker_->date() == kUnknownBirthDate) {
      const QDate today = QDate::currentDate();
      picker_->calendarWidget()->setCurrentPage(today.year(), today.month());
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QDateEdit* picker_;
};

}  // namespace

TForm1::TForm1(AppFolders folders, DialogProvider& dialogs, CaptureHooks capture, QWidget* parent)
    : QWidget(parent),
      folders_(std::move(folders)),
      dialogs_(dialogs),
      capture_(std::move(capture)) {
  // One decoder a core, up to four; the GUI thread only places the tiles.
  const int decoders = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
  tileLoader_ = std::make_unique<TileLoader>(
      thumbnails_, decoders,
      [this](const TileLoader::Job& job, const QImage& tile) { TileDrawn(job, tile); });
  BuildControls();
  BuildBatchControls();
  FormCreate();
  setupForm_ =
      std::make_unique<TSetupFrm>(folders_.settingsFile.string(), setupcfg, dialogs_, this);
  // The rest of the start runs once the window is shown and the event loop turns.
  QTimer::singleShot(0, this, &TForm1::DeferredStart);
}

TForm1::~TForm1() {
  if (batchThread_.joinable()) batchThread_.join();
  FormClose();
}

void TForm1::BuildControls() {
  setObjectName("Form1");
  setWindowTitle("VELLORAN");
  setFixedSize(893, 499);
  // Tahoma 8 pt is 11 pixels; Liberation Sans and DejaVu Sans stand in where it is missing.
  QFont font;
  font.setFamilies({"Tahoma", "Liberation Sans", "Arial", "DejaVu Sans"});
  font.setPixelSize(11);
  setFont(font);
  setAcceptDrops(true);

  Panel3 = new QWidget(this);
  Panel3->setObjectName("Panel3");
  Panel3->setGeometry(0, 0, 350, 499);
  Image2 = new PreviewView(Panel3);
  Image2->setGeometry(0, 0, 350, 379);
  ScrollBox1 = new QScrollArea(Panel3);
  ScrollBox1->setObjectName("ScrollBox1");
  ScrollBox1->setGeometry(1, 379, 348, 120);
  ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Image1 = new ItemStripView;
  ScrollBox1->setWidget(Image1);
  ScrollBox1->setWidgetResizable(false);
  connect(Image1, &ItemStripView::MouseDown, this, &TForm1::Image1MouseDown);
  // Scrolled while tiles are still being drawn: the ones now in view go first.
  connect(ScrollBox1->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] {
    if (!stripWaiting_.empty()) tileLoader_->Request(WaitingTileJobs());
  });

  Panel2 = new QWidget(this);
  Panel2->setObjectName("Panel2");
  Panel2->setGeometry(350, 0, 543, 499);
  Panel1 = new QWidget(Panel2);
  Panel1->setObjectName("Panel1");
  Panel1->setGeometry(0, 0, 543, 174);

  auto label = [this](const char* name, const char* caption, int x, int y) {
    auto* created = new QLabel(QString::fromUtf8(caption), Panel1);
    created->setObjectName(name);
    created->setGeometry(x, y + 3, x < 100 ? 88 : 98, 16);
    return created;
  };
  auto edit = [this](const char* name, int x, int y) {
    auto* created = new QLineEdit(Panel1);
    created->setObjectName(name);
    created->setGeometry(x, y, 130, 21);
    return created;
  };
  auto combo = [this](const char* name, int x, int y, const QStringList& items) {
    auto* created = new QComboBox(Panel1);
    created->setObjectName(name);
    created->setGeometry(x, y, 130, 21);
    created->addItems(items);
    return created;
  };
  auto picker = [this](const char* name, int x, int y) {
    auto* created = new QDateEdit(Panel1);
    created->setObjectName(name);
    created->setGeometry(x, y, 130, 21);
    created->setCalendarPopup(true);
    // Dates read as the result grid shows them: month first where the locale says so.
    created->setDisplayFormat(DicomDateToDisplay("20001231").rfind("12/", 0) == 0 ? "MM/dd/yyyy"
                                                                                  : "dd/MM/yyyy");
    return created;
  };
  PatientNameLbl = label("PatientNameLbl", "Patient Name", 20, 20);
  Edit2 = edit("Edit2", 110, 20);
  PatientIDLbl = label("PatientIDLbl", "Patient ID", 20, 50);
  Edit1 = edit("Edit1", 110, 50);
  PatientSexLbl = label("PatientSexLbl", "Patient Sex", 20, 80);
  ComboBox1 = combo("ComboBox1", 110, 80, {"Male", "Female", "Other"});
  PatientBDLbl = label("PatientBDLbl", "Patient BD / From", 20, 110);
  DateTimePicker1 = picker("DateTimePicker1", 110, 110);
  ModalityLbl = label("ModalityLbl", "Modality", 270, 20);
  ComboBox2 = combo("ComboBox2", 370, 20,
                    {"ALL", "CT", "MR", "CR", "US", "MG", "DX", "XA", "OT", "ES", "XC"});
  ComboBox2->setEditable(true);
  ComboBox2->setInsertPolicy(QComboBox::NoInsert);
  AccessionNumberLbl = label("AccessionNumberLbl", "Accession Number", 270, 50);
  Edit5 = edit("Edit5", 370, 50);
  StudyDescriptionLbl = label("StudyDescriptionLbl", "Study Description", 270, 80);
  Edit6 = edit("Edit6", 370, 80);
  StudyDateLbl = label("StudyDateLbl", "Study Date / To", 270, 110);
  DateTimePicker2 = picker("DateTimePicker2", 370, 110);

  auto button = [](QWidget* parent, const char* name, const char* caption, int x, int y, int w,
                   int h) {
    auto* created = new QPushButton(QString::fromUtf8(caption), parent);
    created->setObjectName(name);
    created->setGeometry(x, y, w, h);
    return created;
  };
  SearchPACSBtn = button(Panel1, "SearchPACSBtn", "Search PACS", 48, 137, 90, 25);
  SearchWLBtn = button(Panel1, "SearchWLBtn", "Search WL", 165, 137, 90, 25);
  ClearBtn = button(Panel1, "ClearBtn", "Clear", 282, 137, 90, 25);
  SetupBtn = button(Panel1, "SetupBtn", "Setup", 403, 137, 90, 25);

  StringGrid1 = new QTableWidget(1, 7, Panel2);
  StringGrid1->setObjectName("StringGrid1");
  StringGrid1->setAccessibleName("Results");
  StringGrid1->setGeometry(6, 181, 532, 229);
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->verticalHeader()->setVisible(false);
  StringGrid1->verticalHeader()->setDefaultSectionSize(20);
  StringGrid1->setShowGrid(true);

  AddImageBtn = button(Panel2, "AddImageBtn", "Add File", 6, 422, 120, 30);
  AddFolderBtn = button(Panel2, "AddFolderBtn", "Add Folder", 132, 422, 120, 30);
  ScanBtn = button(Panel2, "ScanBtn", "Scan", 258, 422, 120, 30);
  AboutBtn = button(Panel2, "AboutBtn", "About", 384, 422, 120, 30);
  SendBtn = button(Panel2, "SendBtn", "Send", 6, 458, 120, 30);
  SaveToFolderBtn = button(Panel2, "SaveToFolderBtn", "Save To Folder", 132, 458, 120, 30);
  EndBtn = button(Panel2, "EndBtn", "End", 387, 458, 120, 30);
  ProgressBar1 = new QProgressBar(Panel2);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setAccessibleName("Progress");
  ProgressBar1->setGeometry(258, 462, 123, 22);
  ProgressBar1->setTextVisible(true);
  ProgressBar1->hide();

  setTabOrder(Edit2, Edit1);
  setTabOrder(Edit1, ComboBox1);
  setTabOrder(ComboBox1, DateTimePicker1);
  setTabOrder(DateTimePicker1, ComboBox2);
  setTabOrder(ComboBox2, Edit5);
  setTabOrder(Edit5, Edit6);
  setTabOrder(Edit6, DateTimePicker2);
  setTabOrder(DateTimePicker2, SearchPACSBtn);
  setTabOrder(SearchPACSBtn, SearchWLBtn);
  setTabOrder(SearchWLBtn, ClearBtn);
  setTabOrder(ClearBtn, SetupBtn);

  connect(SearchPACSBtn, &QPushButton::clicked, this, &TForm1::SearchPACSBtnClick);
  connect(SearchWLBtn, &QPushButton::clicked, this, &TForm1::SearchWLBtnClick);
  connect(ClearBtn, &QPushButton::clicked, this, &TForm1::ClearBtnClick);
  connect(SetupBtn, &QPushButton::clicked, this, &TForm1::SetupBtnClick);
  connect(AboutBtn, &QPushButton::clicked, this, &TForm1::AboutBtnClick);
  connect(EndBtn, &QPushButton::clicked, this, &TForm1::EndBtnClick);
  connect(AddImageBtn, &QPushButton::clicked, this, &TForm1::AddImageBtnClick);
  connect(AddFolderBtn, &QPushButton::clicked, this, &TForm1::AddFolderBtnClick);
  connect(ScanBtn, &QPushButton::clicked, this, &TForm1::ScanBtnClick);
  connect(SendBtn, &QPushButton::clicked, this, &TForm1::SendBtnClick);
  connect(SaveToFolderBtn, &QPushButton::clicked, this, &TForm1::SaveToFolderBtnClick);

  Timer1 = new QTimer(this);
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  Timer1->start();
}

void TForm1::BuildBatchControls() {
  DateTimePicker1->setMinimumDate(kUnknownBirthDate);
  DateTimePicker1->setSpecialValueText("unknown");
  DateTimePicker1->calendarWidget()->installEventFilter(new CalendarOpensAtToday(DateTimePicker1));

  CancelBtn = new QPushButton("Cancel", Panel2);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setGeometry(258, 458, 60, 30);
  CancelBtn->setShortcut(QKeySequence(Qt::Key_Escape));
  CancelBtn->hide();
  connect(CancelBtn, &QPushButton::clicked, this, &TForm1::CancelBtnClick);
  ProgressBar1->setGeometry(322, 462, 60, 22);

  BatchForLbl = new QLabel(Panel2);
  BatchForLbl->setObjectName("BatchForLbl");
  BatchForLbl->setGeometry(6, 410, 532, 12);
  BatchForLbl->hide();
  // Picking a row (or the empty row below the results) changes whose batch it is at once.
  connect(StringGrid1, &QTableWidget::currentCellChanged, this, [this] { ShowChosenResult(); });
}

void TForm1::FormCreate() {
  IniFile file(folders_.settingsFile.string());
  file.Load();
  auto caption = [&file](QWidget* control, const char* fallback) {
    const QString text =
        Q(file.ReadString(kCaptionSection, control->objectName().toStdString(), fallback));
    if (auto* label = qobject_cast<QLabel*>(control)) label->setText(text);
    if (auto* button = qobject_cast<QPushButton*>(control)) button->setText(text);
    control->setAccessibleName(text);
  };
  caption(PatientIDLbl, "Patient ID");
  caption(PatientNameLbl, "Patient Name");
  caption(PatientBDLbl, "Patient BD / From");
  caption(AccessionNumberLbl, "Accession Number");
  caption(PatientSexLbl, "Patient Sex");
  caption(StudyDescriptionLbl, "Study Description");
  caption(StudyDateLbl, "Study Date / To");
  caption(SearchPACSBtn, "Search PACS");
  caption(ClearBtn, "Clear");
  caption(SendBtn, "Send");
  caption(EndBtn, "End");
  caption(SetupBtn, "Setup");
  caption(AddImageBtn, "Add File");
  caption(SearchWLBtn, "Search WL");
  caption(AddFolderBtn, "Add Folder");
  caption(SaveToFolderBtn, "Save To Folder");
  caption(AboutBtn, "About");
  ScanBtn->setAccessibleName(ScanBtn->text());
  ModalityLbl->setAccessibleName(ModalityLbl->text());

  // Labels are the buddies of their fields, so a screen reader names a field by its label.
  const std::pair<QLabel*, QWidget*> buddies[] = {
      {PatientNameLbl, Edit2},         {PatientIDLbl, Edit1},           {PatientSexLbl, ComboBox1},
      {PatientBDLbl, DateTimePicker1}, {ModalityLbl, ComboBox2},        {AccessionNumberLbl, Edit5},
      {StudyDescriptionLbl, Edit6},    {StudyDateLbl, DateTimePicker2},
  };
  for (const auto& [label, field] : buddies) {
    label->setBuddy(field);
    field->setAccessibleName(label->text());
  }

  QStringList headers;
  for (size_t column = 0; column < std::size(kGridColumns); ++column) {
    headers << Q(
        file.ReadString(kCaptionSection, kGridColumns[column].key, kGridColumns[column].header));
    StringGrid1->setColumnWidth(static_cast<int>(column), kGridColumns[column].width);
  }
  StringGrid1->setHorizontalHeaderLabels(headers);

  DateTimePicker1->setDate(kUnknownBirthDate);
  DateTimePicker2->setDate(QDate::currentDate());
  ComboBox1->setCurrentIndex(0);
  ComboBox2->setCurrentIndex(0);
  items_.Clear();
}

void TForm1::DeferredStart() {
  if (startedUp_) return;
  startedUp_ = true;
  CreateAppFolders(folders_);
  Image2->ClearToWhite();
  SetLogTarget(DailyLogFile(folders_), "pageloft", "");
  if (capture_.start) {
    // Installing the printer may wait for the administrator's password: the window paints on.
    const std::string port = setupcfg.PrinterPort;
    const std::string message = RunBesideEventLoop(
        [this, &port] { return capture_.start(port, folders_.workFolder, items_); });
    if (!message.empty()) dialogs_.ShowMessage(this, Q(message));
  }
}

// ---- Search ----------------------------------------------------------------------------------

SearchForm TForm1::SearchFields() const {
  SearchForm form;
  form.patientName = Edit2->text().toStdString();
  form.patientId = Edit1->text().toStdString();
  form.accessionNumber = Edit5->text().toStdString();
  form.studyDescription = Edit6->text().toStdString();
  form.fromDate = BirthDateText();
  form.toDate = DateText(DateTimePicker2).toStdString();
  // While a result's values are shown, the search takes what was typed.
  if (typedFields_) {
    form.patientName = typedFields_->patientName.toStdString();
    form.patientId = typedFields_->patientId.toStdString();
    form.accessionNumber = typedFields_->accessionNumber.toStdString();
    form.studyDescription = typedFields_->studyDescription.toStdString();
    form.fromDate = typedFields_->birthDate == kUnknownBirthDate
                        ? std::string()
                        : typedFields_->birthDate.toString("yyyyMMdd").toStdString();
    form.toDate = typedFields_->studyDate.toString("yyyyMMdd").toStdString();
  }
  form.modality = ModalityFilter(ComboBox2->currentText().toStdString());
  return form;
}

std::string TForm1::BirthDateText() const {
  if (DateTimePicker1->date() == kUnknownBirthDate) return {};
  return DateText(DateTimePicker1).toStdString();
}

void TForm1::ShowChosenResult() {
  const StudyInfo* chosen = ChosenResultAt(results_, StringGrid1->currentRow());
  // Greyed out, not merely read-only, so that nobody types into a field the batch ignores.
  QWidget* const typed[] = {Edit1,     Edit2,           Edit5,          Edit6,
                            ComboBox1, DateTimePicker1, DateTimePicker2};
  if (chosen == nullptr) {
    if (!typedFields_) return;
    const TypedFields restored = *typedFields_;
    typedFields_.reset();
    Edit2->setText(restored.patientName);
    Edit1->setText(restored.patientId);
    ComboBox1->setCurrentIndex(restored.sexIndex);
    DateTimePicker1->setDate(restored.birthDate);
    Edit5->setText(restored.accessionNumber);
    Edit6->setText(restored.studyDescription);
    DateTimePicker2->setDate(restored.studyDate);
    for (QWidget* field : typed) field->setEnabled(true);
    BatchForLbl->hide();
    return;
  }
  if (!typedFields_) {
    typedFields_ = std::make_unique<TypedFields>(TypedFields{
        Edit2->text(), Edit1->text(), ComboBox1->currentIndex(), DateTimePicker1->date(),
        Edit5->text(), Edit6->text(), DateTimePicker2->date()});
  }
  // The batch takes the row's values, not the typed ones: the fields show them and cannot be
  // typed into, so what is on screen is what is sent.
  const PatientFields fields = FieldsOfResult(*chosen);
  Edit2->setText(Q(fields.patientName));
  Edit1->setText(Q(fields.patientId));
  ComboBox1->setCurrentIndex(fields.sexIndex);
  const QDate birth = QDate::fromString(Q(fields.birthDate), "yyyyMMdd");
  DateTimePicker1->setDate(birth.isValid() ? birth : kUnknownBirthDate);
  Edit5->setText(Q(fields.accessionNumber));
  Edit6->setText(Q(fields.studyDescription));
  const QDate study = QDate::fromString(Q(fields.studyDate), "yyyyMMdd");
  if (study.isValid()) DateTimePicker2->setDate(study);
  for (QWidget* field : typed) field->setEnabled(false);
  BatchForLbl->setText(Q(BatchForText(*chosen)));
  BatchForLbl->show();
}

void TForm1::ResetGrid() {
  StringGrid1->clearContents();
  StringGrid1->setRowCount(1);
}

void TForm1::SearchPACSBtnClick() {
  const SearchForm form = SearchFields();
  if (SearchHasNoFilters(form) &&
      !dialogs_.Confirm(this, "WARNING", "Have no filters\nSearch can take very long")) {
    return;
  }
  RunSearch(
      [&form](std::vector<StudyInfo>& found, std::string& stopCause) {
        return SearchPACSBySettings(setupcfg, form, found, {}, &stopCause);
      },
      PacsName(setupcfg));
}

void TForm1::SearchWLBtnClick() {
  const SearchForm form = SearchFields();
  RunSearch(
      [&form](std::vector<StudyInfo>& found, std::string& stopCause) {
        return SearchWorklist(WorklistNode(setupcfg), form, found, {}, &stopCause);
      },
      setupcfg.worklistAET);
}

void TForm1::RunSearch(
    const std::function<SearchOutcome(std::vector<StudyInfo>&, std::string&)>& search,
    const std::string& calledAet) {
  ResetGrid();
  results_.clear();
  ShowChosenResult();
  std::vector<StudyInfo> found;
  std::string stopCause;
  SetBusy(true);
  const SearchOutcome outcome = RunBesideEventLoop([&] { return search(found, stopCause); });
  SetBusy(false);
  results_ = std::move(found);
  FillResultGrid();
  if (outcome == SearchOutcome::NotConnected) {
    dialogs_.ShowMessage(this, "ERROR, couldn't connect to " + Q(calledAet));
  } else if (outcome == SearchOutcome::Interrupted) {
    // The rows read before the failure are shown, and the user is told the list is not whole.
    dialogs_.ShowMessage(
        this, Q(SearchStoppedMessage(stopCause.empty() ? "the server stopped answering" : stopCause,
                                     results_.size())));
  }
}

void TForm1::FillResultGrid() {
  ResetGrid();
  StringGrid1->setRowCount(static_cast<int>(results_.size()) + 1);
  for (size_t i = 0; i < results_.size(); ++i) {
    const StudyInfo& result = results_[i];
    const std::string cells[] = {
        result.patientName,      result.patientId,
        result.patientSex,       DicomDateToDisplay(result.patientBirthDate),
        result.studyDescription, DicomDateToDisplay(result.studyDate),
        result.accessionNumber};
    for (int column = 0; column < 7; ++column) {
      StringGrid1->setItem(static_cast<int>(i), column, new QTableWidgetItem(Q(cells[column])));
    }
  }
  // A fresh grid selects its first row, so the first match feeds the next batch.
  StringGrid1->selectRow(0);
  ShowChosenResult();
}

void TForm1::ClearBtnClick() {
  // Back to typed fields, which Clear then empties.
  results_.clear();
  ShowChosenResult();
  Edit1->clear();
  Edit2->clear();
  Edit5->clear();
  Edit6->clear();
  ResetGrid();
  results_.clear();
  ComboBox1->setCurrentIndex(0);
  ComboBox2->setCurrentIndex(0);
  DateTimePicker1->setDate(kUnknownBirthDate);
  DateTimePicker2->setDate(QDate::currentDate());
  CurrentStudy = StudyInfo{};
  items_.Clear();
  Image2->ClearToWhite();
  RefreshItemStrip();
}

// ---- Buttons ---------------------------------------------------------------------------------

void TForm1::SetupBtnClick() {
  setupForm_->exec();
}

void TForm1::AboutBtnClick() {
  dialogs_.ShowMessage(this,
                       "VELLORAN V" + Q(FileVersionText("/proc/self/exe")) + "\nDICOM Converter");
}

void TForm1::EndBtnClick() {
  close();
}

void TForm1::ScanBtnClick() {
  if (!scanAction_) {
    dialogs_.ShowMessage(this, "ERROR, this copy of the program has no scanner support");
    return;
  }
  scanAction_();
  RefreshItemStrip();
}

// ---- Item list -------------------------------------------------------------------------------

void TForm1::AddImageBtnClick() {
  const QString path = dialogs_.OpenFile(this, kOpenFilter);
  if (path.isEmpty()) return;
  if (!items_.AppendUnique(path.toStdString())) {
    dialogs_.ShowMessage(this, "ERROR, already in the list");
    return;
  }
  RefreshItemStrip();
}

void TForm1::AddFolderBtnClick() {
  SendBtn->setEnabled(false);
  EndBtn->setEnabled(false);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  lastFolder_.clear();
  lastFolder_ = dialogs_.BrowseForFolder(this, kFolderTitle).toStdString();
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
    dialogs_.ShowMessage(this, "ERROR, already in the list: " + duplicates.join(", "));
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
  // A redraw asked for while one runs (the timer, a click) is done once the running one ends.
  if (refreshing_) {
    refreshAgain_ = true;
    return;
  }
  refreshing_ = true;
  do {
    refreshAgain_ = false;
    const std::vector<std::string> paths = items_.Snapshot();
    for (const std::string& path : paths) {
      if (KindOfItem(path) == ItemKind::Unknown) {
        dialogs_.ShowMessage(this, "ERROR, can't process " + Q(UpperExtension(path)));
      }
    }
    std::vector<QImage> tiles(paths.size());
    stripWaiting_.clear();
    for (size_t i = 0; i < paths.size(); ++i) {
      const auto waiting = stripWaiting_.find(paths[i]);
      if (waiting != stripWaiting_.end()) {
        waiting->second.indexes.push_back(i);
        continue;
      }
      const FileStamp stamp = StampOf(paths[i]);
      tiles[i] = thumbnails_.Find(paths[i], stamp);
      if (!tiles[i].isNull()) continue;
      stripWaiting_.emplace(paths[i], WaitingTile{stamp, {i}});
    }
    Image1->SetTiles(std::move(tiles));
    tileLoader_->Request(WaitingTileJobs());
  } while (refreshAgain_);
  refreshing_ = false;
}

std::vector<TileLoader::Job> TForm1::WaitingTileJobs() const {
  const int left = ScrollBox1->horizontalScrollBar()->value();
  const size_t firstInView = static_cast<size_t>(std::max(left, 0) / kTileSize);
  const size_t lastInView =
      static_cast<size_t>(std::max(left + ScrollBox1->viewport()->width() - 1, 0) / kTileSize);
  struct Place {
    bool outOfView;
    size_t index;
    const std::string* path;
    const FileStamp* stamp;
  };
  std::vector<Place> places;
  places.reserve(stripWaiting_.size());
  for (const auto& [path, waiting] : stripWaiting_) {
    const bool inView =
        std::any_of(waiting.indexes.begin(), waiting.indexes.end(),
                    [&](size_t index) { return index >= firstInView && index <= lastInView; });
    places.push_back({!inView, waiting.indexes.front(), &path, &waiting.stamp});
  }
  std::sort(places.begin(), places.end(), [](const Place& a, const Place& b) {
    return std::tie(a.outOfView, a.index) < std::tie(b.outOfView, b.index);
  });
  std::vector<TileLoader::Job> jobs;
  jobs.reserve(places.size());
  for (const Place& place : places) jobs.push_back({*place.path, *place.stamp});
  return jobs;
}

void TForm1::TileDrawn(const TileLoader::Job& job, const QImage& tile) {
  // A tile for an item since removed, or for a file since changed, only went into the cache.
  const auto waiting = stripWaiting_.find(job.path);
  if (waiting == stripWaiting_.end() || !(waiting->second.stamp == job.stamp)) return;
  for (size_t index : waiting->second.indexes) Image1->SetTile(index, tile);
  stripWaiting_.erase(waiting);
}

void TForm1::Image1MouseDown(Qt::MouseButton button, int x) {
  if (x < 0 || busy_) return;
  const size_t index = static_cast<size_t>(x) / kTileSize;
  if (button == Qt::RightButton) {
    if (index >= items_.Size()) return;
    if (dialogs_.Confirm(this, "WARNING", "Delete this image?")) {
      items_.RemoveAt(index);
      RefreshItemStrip();
    }
    return;
  }
  const std::optional<std::string> path = items_.At(index);
  if (!path) return;
  switch (KindOfItem(*path)) {
    case ItemKind::Image:
      ShowPreview(*path);
      break;
    case ItemKind::Pdf:
      dialogs_.OpenDocument(Q(*path));
      break;
    default:
      break;
  }
}

void TForm1::ShowPreview(const std::string& path) {
  QSize full;
  const QImage picture = DecodePictureForPreview(Q(path), Image2->size(), &full);
  if (picture.isNull()) {
    Image2->ShowNote("This picture cannot be decoded:\n" + QFileInfo(Q(path)).fileName());
    return;
  }
  const PreviewRect fit =
      FitPreview(Image2->width(), Image2->height(), full.width(), full.height());
  Image2->ShowPicture(picture, QRect(fit.left, fit.top, fit.width, fit.height));
}

void TForm1::Timer1Timer() {
  if (items_.TakeNewItemFlag()) RefreshItemStrip();
  if (capture_.messages) {
    for (const std::string& message : capture_.messages()) dialogs_.ShowMessage(this, Q(message));
  }
}

// ---- Send and save ---------------------------------------------------------------------------

BatchForm TForm1::FormFields() const {
  BatchForm form;
  form.patientName = Edit2->text().toStdString();
  form.patientId = Edit1->text().toStdString();
  form.sexIndex = ComboBox1->currentIndex();
  form.birthDate = BirthDateText();
  form.studyDescription = Edit6->text().toStdString();
  form.accessionNumber = Edit5->text().toStdString();
  form.studyDate = DateText(DateTimePicker2).toStdString();
  form.modalityText = ComboBox2->currentText().toStdString();
  return form;
}

bool TForm1::ChosenResult(const StudyInfo*& chosen) {
  // The empty row below the results chooses the typed fields, as the window shows them.
  chosen = ChosenResultAt(results_, StringGrid1->currentRow());
  return true;
}

bool TForm1::PrepareFromWindow() {
  if (busy_) return false;
  const StudyInfo* chosen = nullptr;
  if (!ChosenResult(chosen)) return false;
  std::string message;
  const BatchForm form = FormFields();
  const size_t itemCount = items_.Size();
  // The batch stamp may wait a moment for another program of this user: the window paints on.
  const bool prepared =
      RunBesideEventLoop([&] { return PrepareBatch(form, chosen, itemCount, setupcfg, message); });
  if (!prepared) {
    dialogs_.ShowMessage(this, Q(message));
    return false;
  }
  return true;
}

void TForm1::SendBtnClick() {
  if (PrepareFromWindow()) StartBatch(BatchMode::Send, {});
}

void TForm1::SaveToFolderBtnClick() {
  if (!PrepareFromWindow()) return;
  lastFolder_ = dialogs_.BrowseForFolder(this, kFolderTitle).toStdString();
  if (lastFolder_.empty()) return;
  StartBatch(BatchMode::Save, lastFolder_);
}

void TForm1::StartBatch(BatchMode mode, const std::string& folder) {
  SetBusy(true);
  ProgressBar1->setRange(0, 0);
  ProgressBar1->setFormat("Converting");
  ProgressBar1->show();
  CancelBtn->setEnabled(true);
  CancelBtn->show();
  batchStop_ = std::stop_source();
  const std::stop_token stop = batchStop_.get_token();
  auto outcome = std::make_shared<BatchOutcome>();
  outcome->mode = mode;
  outcome->items = items_.Snapshot();
  const SetupConfig settings = setupcfg;
  // Conversion and sending run beside the window; progress and the end come back as queued calls.
  batchThread_ = std::thread([this, outcome, settings, folder, stop] {
    // A little below the window, so a batch that keeps every core busy never starves it.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 5);
    if (outcome->mode == BatchMode::Send) {
      const SendProgress progress = [this](const DcmObj&, size_t index, size_t total, bool) {
        QMetaObject::invokeMethod(
            this,
            [this, index, total] {
              ProgressBar1->setRange(0, static_cast<int>(total));
              ProgressBar1->setValue(static_cast<int>(index + 1));
              ProgressBar1->setFormat(QString("%1 of %2").arg(index + 1).arg(total));
            },
            Qt::QueuedConnection);
      };
      outcome->success = SendPreparedBatchToPacs(outcome->items, settings, outcome->message,
                                                 progress, stop, &outcome->report);
    } else {
      outcome->success = SavePreparedBatch(outcome->items, folder, outcome->written,
                                           outcome->message, stop, &outcome->report);
    }
    QMetaObject::invokeMethod(
        this, [this, outcome] { FinishBatch(*outcome); }, Qt::QueuedConnection);
  });
}

void TForm1::CancelBtnClick() {
  if (!BatchRunning()) return;
  batchStop_.request_stop();
  CancelBtn->setEnabled(false);
  ProgressBar1->setFormat("Cancelling");
}

void TForm1::FinishBatch(const BatchOutcome& outcome) {
  batchThread_.join();
  ProgressBar1->hide();
  CancelBtn->hide();
  SetBusy(false);
  // Only the items whose objects were stored (or written) leave the list; after a Send the files
  // the program made itself (scans, print jobs) go with them. Everything else stays, named in the
  // message.
  const std::vector<size_t> done = outcome.mode == BatchMode::Send
                                       ? FinishDeliveredItems(outcome.report, folders_.workFolder)
                                       : outcome.report.DeliveredItems();
  if (!done.empty()) {
    items_.RemoveIndexes(done);
    Image2->ClearToWhite();
    RefreshItemStrip();
  }
  if (!outcome.message.empty()) dialogs_.ShowMessage(this, Q(outcome.message));
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
  if (BatchRunning()) {
    if (!closeWhenDone_ &&
        dialogs_.Confirm(this, "WARNING",
                         "A batch is still running.\nClose the program when it has finished?")) {
      closeWhenDone_ = true;
      ProgressBar1->setFormat("Finishing, then closing");
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
  // The capture threads append to the item list: they end before it goes.
  if (capture_.stop) capture_.stop();
  tileLoader_->Cancel();
  items_.Clear();
  ReleaseLogTarget();
}
