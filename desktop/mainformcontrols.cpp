// The main window's controls: made (most of them by the parts they belong to), laid out, named
// for screen readers and captioned from the ini's caption section, as a form file would hold them.
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <iterator>

#include "inifile.h"
#include "mainform.h"
#include "outboxindicator.h"
#include "patientform.h"
#include "stripandpreview.h"
#include "stripview.h"
#include "studysearch.h"

namespace {

constexpr const char* kCaptionSection = "MainForm";

}  // namespace

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

  strip_ = std::make_unique<StripAndPreview>(Panel3, items_, dialogs_);
  Image2 = strip_->Image2;
  ScrollBox1 = strip_->ScrollBox1;
  Image1 = strip_->Image1;
  connect(Image1, &ItemStripView::MouseDown, this, &TForm1::Image1MouseDown);
  connect(Image1, &ItemStripView::CurrentChanged, this, &TForm1::StripCurrentChanged);
  connect(Image1, &ItemStripView::DeleteRequested, this, &TForm1::StripDeleteRequested);
  connect(Image1, &ItemStripView::OpenRequested, this, [this](size_t index) {
    Image1MouseDown(Qt::LeftButton, StripAndPreview::TileLeft(index));
  });

  Panel1 = new QWidget(Panel2);
  Panel1->setObjectName("Panel1");
  form_ = std::make_unique<PatientForm>(Panel1);
  PatientNameLbl = form_->PatientNameLbl;
  Edit2 = form_->Edit2;
  PatientIDLbl = form_->PatientIDLbl;
  Edit1 = form_->Edit1;
  PatientSexLbl = form_->PatientSexLbl;
  ComboBox1 = form_->ComboBox1;
  PatientBDLbl = form_->PatientBDLbl;
  DateTimePicker1 = form_->DateTimePicker1;
  ModalityLbl = form_->ModalityLbl;
  ComboBox2 = form_->ComboBox2;
  AccessionNumberLbl = form_->AccessionNumberLbl;
  Edit5 = form_->Edit5;
  StudyDescriptionLbl = form_->StudyDescriptionLbl;
  Edit6 = form_->Edit6;
  StudyDateLbl = form_->StudyDateLbl;
  DateTimePicker2 = form_->DateTimePicker2;

  auto button = [](QWidget* parent, const char* name, const QString& caption, int w, int h) {
    auto* created = new QPushButton(caption, parent);
    created->setObjectName(name);
    created->setMinimumSize(w, h);
    created->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    return created;
  };
  //: Searches the PACS (the picture archive) for studies.
  SearchPACSBtn = button(Panel1, "SearchPACSBtn", tr("Search PACS"), 90, 25);
  //: Searches the worklist (the scheduled procedures) for patients.
  SearchWLBtn = button(Panel1, "SearchWLBtn", tr("Search WL"), 90, 25);
  ClearBtn = button(Panel1, "ClearBtn", tr("Clear"), 90, 25);
  //: Opens the settings dialog.
  SetupBtn = button(Panel1, "SetupBtn", tr("Setup"), 90, 25);
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
  panel1Layout->addLayout(form_->Grid());
  panel1Layout->addLayout(searchRow);

  searches_ = std::make_unique<StudySearch>(Panel2);
  StringGrid1 = searches_->StringGrid1;

  AddImageBtn = button(Panel2, "AddImageBtn", tr("Add File"), 120, 30);
  AddFolderBtn = button(Panel2, "AddFolderBtn", tr("Add Folder"), 120, 30);
  //: Opens the scanner window.
  ScanBtn = button(Panel2, "ScanBtn", tr("Scan"), 120, 30);
  AboutBtn = button(Panel2, "AboutBtn", tr("About"), 120, 30);
  //: Sends the list's files to the PACS.
  SendBtn = button(Panel2, "SendBtn", tr("Send"), 120, 30);
  SaveToFolderBtn = button(Panel2, "SaveToFolderBtn", tr("Save To Folder"), 120, 30);
  //: Ends the program.
  EndBtn = button(Panel2, "EndBtn", tr("End"), 120, 30);
  ProgressBar1 = new QProgressBar(Panel2);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setAccessibleName(tr("Progress"));
  ProgressBar1->setMinimumWidth(BatchRunner::kProgressWidth);
  ProgressBar1->setTextVisible(true);
  // Hidden between batches without giving its place to End.
  QSizePolicy keepPlace = ProgressBar1->sizePolicy();
  keepPlace.setRetainSizeWhenHidden(true);
  ProgressBar1->setSizePolicy(keepPlace);
  ProgressBar1->hide();
  // The outbox indicator: a line under the button rows, shown while objects wait.
  outboxIndicator_ = std::make_unique<OutboxIndicator>(Panel2, dialogs_);
  OutboxBtn = outboxIndicator_->OutboxBtn;

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

  QWidget* const tabOrder[] = {Edit2,    Edit1,    ComboBox1,       DateTimePicker1, ComboBox2,
                               Edit5,    Edit6,    DateTimePicker2, SearchPACSBtn,   SearchWLBtn,
                               ClearBtn, SetupBtn, StringGrid1,     AddImageBtn,     AddFolderBtn,
                               ScanBtn,  AboutBtn, SendBtn,         SaveToFolderBtn, EndBtn,
                               Image1};
  for (size_t i = 1; i < std::size(tabOrder); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

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

  // Cancel sits beside Save To Folder while a batch runs; the line naming the batch's patient
  // sits right above Send.
  batch_ = std::make_unique<BatchRunner>(Panel2, ButtonRow2, 2, ProgressBar1, folders_.workFolder);
  CancelBtn = batch_->CancelBtn;
  connect(CancelBtn, &QPushButton::clicked, this, &TForm1::CancelBtnClick);
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
  // A caption the ini's caption section sets wins, in every language; the others keep the
  // window's own (translated) one.
  auto caption = [&file](QWidget* control) {
    const std::string key = control->objectName().toStdString();
    auto* label = qobject_cast<QLabel*>(control);
    auto* button = qobject_cast<QPushButton*>(control);
    if (file.HasKey(kCaptionSection, key)) {
      const QString text = QString::fromStdString(file.ReadString(kCaptionSection, key, ""));
      if (label != nullptr) label->setText(text);
      if (button != nullptr) button->setText(text);
    }
    control->setAccessibleName(label != nullptr ? label->text() : button->text());
  };
  for (QWidget* control : std::initializer_list<QWidget*>{
           PatientIDLbl, PatientNameLbl, PatientBDLbl, AccessionNumberLbl, PatientSexLbl,
           StudyDescriptionLbl, StudyDateLbl, SearchPACSBtn, ClearBtn, SendBtn, EndBtn, SetupBtn,
           AddImageBtn, SearchWLBtn, AddFolderBtn, SaveToFolderBtn, AboutBtn}) {
    caption(control);
  }
  ScanBtn->setAccessibleName(ScanBtn->text());
  ModalityLbl->setAccessibleName(ModalityLbl->text());
  form_->NameFieldsByLabels();
  searches_->SetHeaders(file, kCaptionSection);
  form_->Clear();
  items_.Clear();
}
