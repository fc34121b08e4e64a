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
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
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
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <tuple>

#include "batchpatient.h"
#include "batchreport.h"
#include "dialogprovider.h"
#include "guiwork.h"
#include "inifile.h"
#include "log.h"
#include "outboxform.h"
#include "previewfit.h"
#include "savestream.h"
#include "searchweb.h"
#include "send.h"
#include "sendoutbox.h"
#include "sendweb.h"
#include "settings.h"
#include "setupform.h"
#include "sourcefile.h"
#include "stripview.h"
#include "uids.h"
#include "webpacs.h"

namespace {

constexpr const char* kCaptionSection = "MainForm";
// The progress bar's width between Save To Folder and End; while a batch runs, Cancel takes part
// of it, so the row keeps its width and nothing else moves.
constexpr int kProgressWidth = 123;
constexpr int kCancelWidth = 60;
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
  // Through the outbox: the items whose objects are in it (they leave the list), those whose
  // objects the PACS stored, and what the delivery did.
  bool throughOutbox = false;
  std::vector<size_t> queuedItems;
  DeliveryReport delivery;
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
  previewPool_.setMaxThreadCount(1);
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
  previewPool_.clear();
  previewPool_.waitForDone();
  if (batchThread_.joinable()) batchThread_.join();
  FormClose();
  // Searches the user stopped may still wait for their peer; none may outlive the window.
  WaitForAbandonedWork();
}

void TForm1::BuildControls() {
  setObjectName("Form1");
  setWindowTitle("VELLORAN");
  // Tahoma where it is installed, Liberation Sans or DejaVu Sans where not, at the desktop's own
  // font size: a larger system font grows the controls, and the layouts make room for them.
  QFont font = QApplication::font();
  font.setFamilies({"Tahoma", "Liberation Sans", "Arial", "DejaVu Sans"});
  setFont(font);
  setAcceptDrops(true);

  // Two panels side by side: the preview and its strip on the left, the form, the grid and the
  // buttons on the right. Both grow with the window in the proportions of the designed size.
  auto* columns = new QHBoxLayout(this);
  columns->setContentsMargins(0, 0, 0, 0);
  columns->setSpacing(0);
  Panel3 = new QWidget(this);
  Panel3->setObjectName("Panel3");
  Panel2 = new QWidget(this);
  Panel2->setObjectName("Panel2");
  columns->addWidget(Panel3, kDesignedLeftWidth);
  columns->addWidget(Panel2, kDesignedWidth - kDesignedLeftWidth);

  auto* left = new QVBoxLayout(Panel3);
  left->setContentsMargins(0, 0, 0, 0);
  left->setSpacing(0);
  Image2 = new PreviewView(Panel3);
  Image2->setMinimumSize(160, 120);
  Image2->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  ScrollBox1 = new QScrollArea(Panel3);
  ScrollBox1->setObjectName("ScrollBox1");
  ScrollBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // The strip keeps its height: one row of tiles above the scroll bar, whatever the window does.
  ScrollBox1->setFixedHeight(std::max(
      kDesignedStripHeight, kTileSize + ScrollBox1->horizontalScrollBar()->sizeHint().height() +
                                2 * ScrollBox1->frameWidth()));
  Image1 = new ItemStripView;
  ScrollBox1->setWidget(Image1);
  ScrollBox1->setWidgetResizable(false);
  ScrollBox1->setFocusProxy(Image1);
  left->addWidget(Image2, 1);
  left->addWidget(ScrollBox1);
  connect(Image1, &ItemStripView::MouseDown, this, &TForm1::Image1MouseDown);
  connect(Image1, &ItemStripView::CurrentChanged, this, &TForm1::StripCurrentChanged);
  connect(Image1, &ItemStripView::DeleteRequested, this, &TForm1::StripDeleteRequested);
  connect(Image1, &ItemStripView::OpenRequested, this,
          [this](size_t index) { Image1MouseDown(Qt::LeftButton, TileLeft(index)); });
  // Scrolled while tiles are still being drawn: the ones now in view go first.
  connect(ScrollBox1->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] {
    if (!stripWaiting_.empty()) tileLoader_->Request(WaitingTileJobs());
  });

  Panel1 = new QWidget(Panel2);
  Panel1->setObjectName("Panel1");
  auto label = [this](const char* name, const char* caption) {
    auto* created = new QLabel(QString::fromUtf8(caption), Panel1);
    created->setObjectName(name);
    return created;
  };
  auto edit = [this](const char* name) {
    auto* created = new QLineEdit(Panel1);
    created->setObjectName(name);
    return created;
  };
  auto combo = [this](const char* name, const QStringList& items) {
    auto* created = new QComboBox(Panel1);
    created->setObjectName(name);
    created->addItems(items);
    return created;
  };
  auto picker = [this](const char* name) {
    auto* created = new QDateEdit(Panel1);
    created->setObjectName(name);
    created->setCalendarPopup(true);
    // Dates read as the result grid shows them: month first where the locale says so.
    created->setDisplayFormat(DicomDateToDisplay("20001231").rfind("12/", 0) == 0 ? "MM/dd/yyyy"
                                                                                  : "dd/MM/yyyy");
    return created;
  };
  PatientNameLbl = label("PatientNameLbl", "Patient Name");
  Edit2 = edit("Edit2");
  PatientIDLbl = label("PatientIDLbl", "Patient ID");
  Edit1 = edit("Edit1");
  PatientSexLbl = label("PatientSexLbl", "Patient Sex");
  ComboBox1 = combo("ComboBox1", {"Male", "Female", "Other"});
  PatientBDLbl = label("PatientBDLbl", "Patient BD / From");
  DateTimePicker1 = picker("DateTimePicker1");
  ModalityLbl = label("ModalityLbl", "Modality");
  ComboBox2 =
      combo("ComboBox2", {"ALL", "CT", "MR", "CR", "US", "MG", "DX", "XA", "OT", "ES", "XC"});
  ComboBox2->setEditable(true);
  ComboBox2->setInsertPolicy(QComboBox::NoInsert);
  AccessionNumberLbl = label("AccessionNumberLbl", "Accession Number");
  Edit5 = edit("Edit5");
  StudyDescriptionLbl = label("StudyDescriptionLbl", "Study Description");
  Edit6 = edit("Edit6");
  StudyDateLbl = label("StudyDateLbl", "Study Date / To");
  DateTimePicker2 = picker("DateTimePicker2");

  // The form: two columns of label and field, four rows; the fields widen with the window.
  auto* form = new QGridLayout;
  form->setContentsMargins(20, 20, 6, 0);
  form->setHorizontalSpacing(4);
  form->setVerticalSpacing(7);
  const std::pair<QLabel*, QWidget*> leftColumn[] = {{PatientNameLbl, Edit2},
                                                     {PatientIDLbl, Edit1},
                                                     {PatientSexLbl, ComboBox1},
                                                     {PatientBDLbl, DateTimePicker1}};
  const std::pair<QLabel*, QWidget*> rightColumn[] = {{ModalityLbl, ComboBox2},
                                                      {AccessionNumberLbl, Edit5},
                                                      {StudyDescriptionLbl, Edit6},
                                                      {StudyDateLbl, DateTimePicker2}};
  for (int row = 0; row < 4; ++row) {
    form->addWidget(leftColumn[row].first, row, 0);
    form->addWidget(leftColumn[row].second, row, 1);
    form->addWidget(rightColumn[row].first, row, 3);
    form->addWidget(rightColumn[row].second, row, 4);
    for (QWidget* field : {leftColumn[row].second, rightColumn[row].second}) {
      field->setMinimumWidth(130);
      field->setMaximumWidth(320);
    }
  }
  form->setColumnMinimumWidth(0, 86);
  form->setColumnMinimumWidth(2, 20);
  form->setColumnMinimumWidth(3, 96);
  form->setColumnStretch(1, 1);
  form->setColumnStretch(4, 1);
  form->setColumnStretch(5, 1);

  auto button = [](QWidget* parent, const char* name, const char* caption, int w, int h) {
    auto* created = new QPushButton(QString::fromUtf8(caption), parent);
    created->setObjectName(name);
    created->setMinimumSize(w, h);
    created->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    return created;
  };
  SearchPACSBtn = button(Panel1, "SearchPACSBtn", "Search PACS", 90, 25);
  SearchWLBtn = button(Panel1, "SearchWLBtn", "Search WL", 90, 25);
  ClearBtn = button(Panel1, "ClearBtn", "Clear", 90, 25);
  SetupBtn = button(Panel1, "SetupBtn", "Setup", 90, 25);
  auto* searchRow = new QHBoxLayout;
  searchRow->setContentsMargins(20, 0, 20, 0);
  for (QPushButton* searchButton : {SearchPACSBtn, SearchWLBtn, ClearBtn, SetupBtn}) {
    searchRow->addStretch(1);
    searchRow->addWidget(searchButton);
  }
  searchRow->addStretch(1);
  auto* panel1Layout = new QVBoxLayout(Panel1);
  panel1Layout->setContentsMargins(0, 0, 0, 6);
  panel1Layout->setSpacing(6);
  panel1Layout->addLayout(form);
  panel1Layout->addLayout(searchRow);

  StringGrid1 = new QTableWidget(1, 7, Panel2);
  StringGrid1->setObjectName("StringGrid1");
  StringGrid1->setAccessibleName("Results");
  StringGrid1->setMinimumSize(200, 60);
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->verticalHeader()->setVisible(false);
  StringGrid1->verticalHeader()->setDefaultSectionSize(20);
  // The name and the description take what the window gives beyond the designed widths.
  StringGrid1->horizontalHeader()->setMinimumSectionSize(24);
  for (int column : {0, 4}) {
    StringGrid1->horizontalHeader()->setSectionResizeMode(column, QHeaderView::Stretch);
  }
  StringGrid1->setShowGrid(true);

  AddImageBtn = button(Panel2, "AddImageBtn", "Add File", 120, 30);
  AddFolderBtn = button(Panel2, "AddFolderBtn", "Add Folder", 120, 30);
  ScanBtn = button(Panel2, "ScanBtn", "Scan", 120, 30);
  AboutBtn = button(Panel2, "AboutBtn", "About", 120, 30);
  SendBtn = button(Panel2, "SendBtn", "Send", 120, 30);
  SaveToFolderBtn = button(Panel2, "SaveToFolderBtn", "Save To Folder", 120, 30);
  EndBtn = button(Panel2, "EndBtn", "End", 120, 30);
  ProgressBar1 = new QProgressBar(Panel2);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setAccessibleName("Progress");
  ProgressBar1->setMinimumWidth(kProgressWidth);
  ProgressBar1->setTextVisible(true);
  // Hidden between batches without giving its place to End.
  QSizePolicy keepPlace = ProgressBar1->sizePolicy();
  keepPlace.setRetainSizeWhenHidden(true);
  ProgressBar1->setSizePolicy(keepPlace);
  ProgressBar1->hide();
  // The outbox indicator: a line under the button rows, shown while objects wait.
  OutboxBtn = button(Panel2, "OutboxBtn", "", 120, 22);
  OutboxBtn->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  OutboxBtn->setFlat(true);
  OutboxBtn->setStyleSheet("text-align: left");
  OutboxBtn->setAccessibleName("Outbox");
  OutboxBtn->hide();

  // Two rows of buttons under the grid. Each is a row of its own, so that controls that belong
  // beside Send (a batch's Cancel, say) or a line above the rows fit in without moving the rest.
  ButtonRow1 = new QHBoxLayout;
  ButtonRow1->setSpacing(6);
  for (QPushButton* rowButton : {AddImageBtn, AddFolderBtn, ScanBtn, AboutBtn}) {
    ButtonRow1->addWidget(rowButton);
  }
  ButtonRow1->addStretch(1);
  ButtonRow2 = new QHBoxLayout;
  ButtonRow2->setSpacing(6);
  ButtonRow2->addWidget(SendBtn);
  ButtonRow2->addWidget(SaveToFolderBtn);
  ButtonRow2->addWidget(ProgressBar1);
  ButtonRow2->addWidget(EndBtn);
  ButtonRow2->addStretch(1);

  Panel2Layout = new QVBoxLayout(Panel2);
  Panel2Layout->setContentsMargins(6, 0, 5, 11);
  Panel2Layout->setSpacing(6);
  Panel2Layout->addWidget(Panel1);
  Panel2Layout->addWidget(StringGrid1, 1);
  Panel2Layout->addSpacing(6);
  Panel2Layout->addLayout(ButtonRow1);
  Panel2Layout->addLayout(ButtonRow2);
  Panel2Layout->addWidget(OutboxBtn);

  // The designed size, or larger where the desktop's font asks for more room.
  resize(QSize(kDesignedWidth, kDesignedHeight).expandedTo(minimumSizeHint()));
  // The controls take their places now, before the window is first shown (a hidden panel gets
  // no resize event that would lay it out): parents first, as findChildren lists them.
  layout()->activate();
  for (QWidget* child : findChildren<QWidget*>()) {
    if (child->layout() != nullptr) child->layout()->activate();
  }

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
  setTabOrder(SetupBtn, StringGrid1);
  setTabOrder(StringGrid1, AddImageBtn);
  setTabOrder(AddImageBtn, AddFolderBtn);
  setTabOrder(AddFolderBtn, ScanBtn);
  setTabOrder(ScanBtn, AboutBtn);
  setTabOrder(AboutBtn, SendBtn);
  setTabOrder(SendBtn, SaveToFolderBtn);
  setTabOrder(SaveToFolderBtn, EndBtn);
  setTabOrder(EndBtn, Image1);

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

  // Cancel sits beside Save To Folder while a batch runs; the line naming the batch's patient
  // sits right above Send.
  CancelBtn = new QPushButton("Cancel", Panel2);
  CancelBtn->setObjectName("CancelBtn");
  CancelBtn->setFixedSize(kCancelWidth, 30);
  CancelBtn->hide();
  connect(CancelBtn, &QPushButton::clicked, this, &TForm1::CancelBtnClick);
  ButtonRow2->insertWidget(2, CancelBtn);

  BatchForLbl = new QLabel(Panel2);
  BatchForLbl->setObjectName("BatchForLbl");
  BatchForLbl->hide();
  Panel2Layout->insertWidget(4, BatchForLbl);
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
  }
  StringGrid1->setHorizontalHeaderLabels(headers);
  // The designed widths, or the header's own where the desktop's font needs more to show it.
  const QFontMetrics header(StringGrid1->horizontalHeader()->font());
  for (size_t column = 0; column < std::size(kGridColumns); ++column) {
    StringGrid1->setColumnWidth(
        static_cast<int>(column),
        std::max(kGridColumns[column].width,
                 header.horizontalAdvance(headers[static_cast<int>(column)]) + 10));
  }

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
  ClearPreview();
  SetLogTarget(DailyLogFile(folders_), "pageloft", "");
  StartOutbox();
  if (capture_.start) {
    // Installing the printer may wait for the administrator's password for minutes: the window
    // takes input meanwhile, and Esc stops waiting (the capture then starts without its answer).
    ShowWaiting("Installing the printer");
    const std::optional<std::string> message = RunStoppableBesideEventLoop(
        [start = capture_.start, port = setupcfg.PrinterPort, work = folders_.workFolder,
         items = &items_] { return start(port, work, *items); });
    ShowWaiting({});
    if (message && !message->empty()) dialogs_.ShowMessage(this, Q(*message));
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
  if (busy_) return;
  const SearchForm form = SearchFields();
  if (SearchHasNoFilters(form) &&
      !dialogs_.Confirm(this, "WARNING", "Have no filters\nSearch can take very long")) {
    return;
  }
  // The search captures what it reads by value: a stopped search runs on after the handler
  // returns.
  RunSearch(
      [form, settings = setupcfg](std::vector<StudyInfo>& found, std::string& stopCause,
                                  std::stop_token stop) {
        return SearchPACSBySettings(settings, form, found, stop, &stopCause);
      },
      PacsName(setupcfg));
}

void TForm1::SearchWLBtnClick() {
  if (busy_) return;
  RunSearch(
      [form = SearchFields(), node = WorklistNode(setupcfg)](
          std::vector<StudyInfo>& found, std::string& stopCause, std::stop_token stop) {
        return SearchWorklist(node, form, found, stop, &stopCause);
      },
      setupcfg.worklistAET);
}

void TForm1::RunSearch(
    std::function<SearchOutcome(std::vector<StudyInfo>&, std::string&, std::stop_token)> search,
    const std::string& calledAet) {
  ResetGrid();
  results_.clear();
  ShowChosenResult();
  SetBusy(true);
  ShowWaiting("Searching");
  // The search owns what it reads: when the user stops it, the wait ends at once, and the stop
  // token makes a C-FIND send its cancel; the search then reads to the final response and releases
  // on its own thread while the window goes on.
  searchStop_ = std::stop_source();
  struct Found {
    SearchOutcome outcome = SearchOutcome::NotConnected;
    std::vector<StudyInfo> studies;
    std::string stopCause;
  };
  std::optional<Found> found =
      RunStoppableBesideEventLoop([search = std::move(search), stop = searchStop_.get_token()] {
        Found result;
        result.outcome = search(result.studies, result.stopCause, stop);
        return result;
      });
  ShowWaiting({});
  SetBusy(false);
  if (!found) {
    // Stopped by the user, who knows it: the grid stays empty.
    FillResultGrid();
    return;
  }
  results_ = std::move(found->studies);
  FillResultGrid();
  if (found->outcome == SearchOutcome::NotConnected) {
    dialogs_.ShowMessage(this, "ERROR, couldn't connect to " + Q(calledAet));
  } else if (found->outcome == SearchOutcome::Interrupted) {
    // The rows read before the failure are shown, and the user is told the list is not whole.
    const std::string& cause = found->stopCause;
    dialogs_.ShowMessage(
        this, Q(SearchStoppedMessage(cause.empty() ? "the server stopped answering" : cause,
                                     results_.size())));
  }
}

void TForm1::ShowWaiting(const QString& what) {
  if (what.isEmpty()) {
    if (!BatchRunning()) ProgressBar1->hide();
    return;
  }
  ProgressBar1->setRange(0, 0);
  ProgressBar1->setFormat(what + " (Esc stops)");
  ProgressBar1->show();
}

bool TForm1::CancelWaiting() {
  // A search that is let go also cancels its C-FIND, so the server stops working for nobody.
  searchStop_.request_stop();
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
  ClearPreview();
  RefreshItemStrip();
}

// ---- Buttons ---------------------------------------------------------------------------------

void TForm1::SetupBtnClick() {
  setupForm_->exec();
  {
    std::lock_guard lock(senderSettingsMutex_);
    senderSettings_ = setupcfg;
  }
  // A PACS just set right gets what waits at once.
  if (sender_) sender_->DeliverNow();
}

void TForm1::OutboxBtnClick() {
  if (!outbox_ || !sender_) return;
  TOutboxFrm dialog(*outbox_, *sender_, dialogs_, this);
  dialog.exec();
}

void TForm1::StartOutbox() {
  auto outbox = std::make_unique<Outbox>(Outbox::DefaultFolder());
  std::string error;
  if (!outbox->Open(error)) {
    // Send stores directly then, as it did before there was an outbox.
    WriteLog("ERROR, the outbox cannot be used: " + error);
    return;
  }
  outbox_ = std::move(outbox);
  {
    std::lock_guard lock(senderSettingsMutex_);
    senderSettings_ = setupcfg;
  }
  sender_ = std::make_unique<OutboxSender>(
      *outbox_,
      [this](PacsTarget& target, std::string& problem) {
        std::lock_guard lock(senderSettingsMutex_);
        return PacsTargetFromSettings(senderSettings_, target, problem);
      },
      [this](const OutboxStatus& status) {
        QMetaObject::invokeMethod(
            this, [this, status] { ShowOutboxStatus(status); }, Qt::QueuedConnection);
      },
      folders_.workFolder);
  connect(OutboxBtn, &QPushButton::clicked, this, &TForm1::OutboxBtnClick);
  sender_->Start();
}

void TForm1::ShowOutboxStatus(const OutboxStatus& status) {
  const std::string text = OutboxIndicatorText(status);
  OutboxBtn->setText(Q(text));
  OutboxBtn->setAccessibleDescription(Q(text));
  OutboxBtn->setVisible(!text.empty());
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
    AskToRemove(index);
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

void TForm1::AskToRemove(size_t index) {
  if (busy_ || index >= items_.Size()) return;
  if (dialogs_.Confirm(this, "WARNING", "Delete this image?")) {
    items_.RemoveAt(index);
    RefreshItemStrip();
  }
}

void TForm1::StripCurrentChanged(size_t index) {
  ScrollBox1->ensureVisible(TileLeft(index) + kTileSize / 2, kTileSize / 2, kTileSize / 2, 0);
  const std::optional<std::string> path = items_.At(index);
  if (!path) return;
  // A picture is shown; any other item is named, so the preview never shows a stale picture.
  if (KindOfItem(*path) == ItemKind::Image) {
    ShowPreview(*path);
  } else {
    ++previewRequest_;
    previewPending_ = false;
    Image2->ShowNote(QFileInfo(Q(*path)).fileName());
  }
}

void TForm1::StripDeleteRequested(size_t index) {
  AskToRemove(index);
  if (index < items_.Size()) StripCurrentChanged(Image1->Current());
}

void TForm1::ShowPreview(const std::string& path) {
  // A photo of many megapixels takes a few hundred milliseconds to decode even at reduced scale:
  // it is decoded beside the window, and only the last one asked for is shown (arrow keys held
  // down ask for many).
  const unsigned request = ++previewRequest_;
  previewPending_ = true;
  previewPool_.start([this, request, path = Q(path), size = Image2->size()] {
    if (request != previewRequest_) return;
    QSize full;
    const QImage picture = DecodePictureForPreview(path, size, &full);
    QMetaObject::invokeMethod(
        this,
        [this, request, path, picture, full] {
          if (request != previewRequest_) return;
          previewPending_ = false;
          if (picture.isNull()) {
            Image2->ShowNote("This picture cannot be decoded:\n" + QFileInfo(path).fileName());
          } else {
            Image2->ShowFitted(picture, full);
          }
        },
        Qt::QueuedConnection);
  });
}

void TForm1::ClearPreview() {
  // A decode still running for the preview is not shown any more.
  ++previewRequest_;
  previewPending_ = false;
  Image2->ClearToWhite();
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
  ProgressBar1->setMinimumWidth(kProgressWidth - kCancelWidth - ButtonRow2->spacing());
  batchStop_ = std::stop_source();
  const std::stop_token stop = batchStop_.get_token();
  auto outcome = std::make_shared<BatchOutcome>();
  outcome->mode = mode;
  outcome->items = items_.Snapshot();
  const SetupConfig settings = setupcfg;
  PacsTarget target;
  std::string targetProblem;
  const bool targetUsable = PacsTargetFromSettings(setupcfg, target, targetProblem);
  outcome->throughOutbox = mode == BatchMode::Send && setupcfg.keepUnsentInOutbox && outbox_;
  Outbox* outbox = outbox_.get();
  // Conversion and sending run beside the window; progress and the end come back as queued calls.
  batchThread_ = std::thread(
      [this, outcome, settings, folder, stop, target, targetUsable, targetProblem, outbox] {
        // A little below the window, so a batch that keeps every core busy never starves it.
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 5);
        auto showProgress = [this](size_t done, size_t total, const QString& what) {
          QMetaObject::invokeMethod(
              this,
              [this, done, total, what] {
                ProgressBar1->setRange(0, static_cast<int>(total));
                ProgressBar1->setValue(static_cast<int>(done));
                ProgressBar1->setFormat(what.arg(done).arg(total));
              },
              Qt::QueuedConnection);
        };
        if (outcome->throughOutbox) {
          OutboxSendProgress progress;
          progress.queued = [&](size_t done, size_t total) {
            showProgress(done, total, "Queued %1 of %2");
          };
          progress.delivered = [&](const DeliveredObject&, size_t index, size_t total) {
            showProgress(index + 1, total, "%1 of %2");
          };
          // The outbox delivers by the settings' protocol, DICOM or DICOMweb. Settings that name no
          // usable PACS still let the objects into the outbox: they go once the settings are put
          // right.
          OutboxSendResult result = SendPreparedThroughOutbox(
              outcome->items, *outbox, target,
              targetUsable ? OutboxSendMode::QueueAndDeliver : OutboxSendMode::QueueOnly, progress,
              stop, &outcome->report);
          outcome->success = result.success && targetUsable;
          outcome->message = targetUsable ? result.message : targetProblem + "\n" + result.message;
          outcome->queuedItems = std::move(result.queuedItems);
          outcome->delivery = std::move(result.delivery);
        } else if (outcome->mode == BatchMode::Send) {
          const SendProgress progress = [&](const DcmObj&, size_t index, size_t total, bool) {
            showProgress(index + 1, total, "%1 of %2");
          };
          outcome->success = SendPreparedBatchToPacs(outcome->items, settings, outcome->message,
                                                     progress, stop, &outcome->report);
        } else {
          // One object at a time, so a long batch needs no more memory than its largest object.
          outcome->success = SaveItemsToFolder(outcome->items, folder, outcome->written,
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
  ProgressBar1->setMinimumWidth(kProgressWidth);
  SetBusy(false);
  // Only the items whose objects were stored (or written, or are safely in the outbox) leave the
  // list; everything else stays, named in the message. The files the program made itself (scans,
  // print jobs) are deleted only once their objects are on the PACS: an object that waits in the
  // outbox keeps its work file until the sender delivers it.
  std::vector<size_t> done;
  if (outcome.throughOutbox) {
    done = outcome.queuedItems;
    if (sender_) sender_->NoteDelivery(outcome.delivery);
  } else if (outcome.mode == BatchMode::Send) {
    done = FinishDeliveredItems(outcome.report, folders_.workFolder);
  } else {
    done = outcome.report.DeliveredItems();
  }
  if (!done.empty()) {
    items_.RemoveIndexes(done);
    ClearPreview();
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
  // A search or test the window waits for is let go; it ends on its own.
  CancelWaiting();
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
  if (sender_) sender_->Stop();
  // The capture threads append to the item list: they end before it goes.
  if (capture_.stop) capture_.stop();
  tileLoader_->Cancel();
  items_.Clear();
  ReleaseLogTarget();
}
