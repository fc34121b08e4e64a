// The patient and study form.
#include "patientform.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <utility>

#include "batchpatient.h"
#include "windowlanguage.h"

namespace {

// The birth date picker's lowest date stands for "unknown": it shows that word and gives an empty
// date, so no birth date is sent or searched for until one is chosen.
const QDate kUnknownBirthDate(1800, 1, 1);

QString DateText(const QDate& date) {
  return date.toString("yyyyMMdd");
}

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

PatientForm::PatientForm(QWidget* panel) {
  auto label = [panel](const char* name, const QString& caption) {
    auto* created = new QLabel(caption, panel);
    created->setObjectName(name);
    return created;
  };
  auto edit = [panel](const char* name) {
    auto* created = new QLineEdit(panel);
    created->setObjectName(name);
    return created;
  };
  auto combo = [panel](const char* name, const QStringList& items) {
    auto* created = new QComboBox(panel);
    created->setObjectName(name);
    created->addItems(items);
    return created;
  };
  auto picker = [panel](const char* name) {
    auto* created = new QDateEdit(panel);
    created->setObjectName(name);
    created->setCalendarPopup(true);
    // Dates read as the result grid shows them, and the format is named where the field is typed
    // into (emptied, it shows it) and by its tooltip.
    created->setDisplayFormat(WindowDateFormat());
    const QString hint = WindowDateFormatHint();
    if (auto* typed = created->findChild<QLineEdit*>()) typed->setPlaceholderText(hint);
    created->setToolTip(hint);
    created->setAccessibleDescription(hint);
    return created;
  };
  PatientNameLbl = label("PatientNameLbl", tr("Patient Name"));
  Edit2 = edit("Edit2");
  PatientIDLbl = label("PatientIDLbl", tr("Patient ID"));
  Edit1 = edit("Edit1");
  PatientSexLbl = label("PatientSexLbl", tr("Patient Sex"));
  ComboBox1 = combo("ComboBox1", {tr("Male"), tr("Female"), tr("Other")});
  //: The birth date field, which is also the lower bound of a search's study dates.
  PatientBDLbl = label("PatientBDLbl", tr("Patient BD / From"));
  DateTimePicker1 = picker("DateTimePicker1");
  ModalityLbl = label("ModalityLbl", tr("Modality"));
  //: The modality box's first item: every modality (the others are DICOM's own codes).
  ComboBox2 =
      combo("ComboBox2", {tr("ALL"), "CT", "MR", "CR", "US", "MG", "DX", "XA", "OT", "ES", "XC"});
  ComboBox2->setEditable(true);
  ComboBox2->setInsertPolicy(QComboBox::NoInsert);
  AccessionNumberLbl = label("AccessionNumberLbl", tr("Accession Number"));
  Edit5 = edit("Edit5");
  StudyDescriptionLbl = label("StudyDescriptionLbl", tr("Study Description"));
  Edit6 = edit("Edit6");
  //: The study date field, which is also the upper bound of a search's study dates.
  StudyDateLbl = label("StudyDateLbl", tr("Study Date / To"));
  DateTimePicker2 = picker("DateTimePicker2");

  // Two columns of label and field, four rows; the fields widen with the window.
  grid_ = new QGridLayout;
  grid_->setContentsMargins(20, 20, 6, 0);
  grid_->setHorizontalSpacing(4);
  grid_->setVerticalSpacing(7);
  const std::pair<QLabel*, QWidget*> leftColumn[] = {{PatientNameLbl, Edit2},
                                                     {PatientIDLbl, Edit1},
                                                     {PatientSexLbl, ComboBox1},
                                                     {PatientBDLbl, DateTimePicker1}};
  const std::pair<QLabel*, QWidget*> rightColumn[] = {{ModalityLbl, ComboBox2},
                                                      {AccessionNumberLbl, Edit5},
                                                      {StudyDescriptionLbl, Edit6},
                                                      {StudyDateLbl, DateTimePicker2}};
  for (int row = 0; row < 4; ++row) {
    grid_->addWidget(leftColumn[row].first, row, 0);
    grid_->addWidget(leftColumn[row].second, row, 1);
    grid_->addWidget(rightColumn[row].first, row, 3);
    grid_->addWidget(rightColumn[row].second, row, 4);
    for (QWidget* field : {leftColumn[row].second, rightColumn[row].second}) {
      field->setMinimumWidth(130);
      field->setMaximumWidth(320);
    }
  }
  grid_->setColumnMinimumWidth(0, 86);
  grid_->setColumnMinimumWidth(2, 20);
  grid_->setColumnMinimumWidth(3, 96);
  grid_->setColumnStretch(1, 1);
  grid_->setColumnStretch(4, 1);
  grid_->setColumnStretch(5, 1);

  DateTimePicker1->setMinimumDate(kUnknownBirthDate);
  //: The birth date field while no birth date is known.
  DateTimePicker1->setSpecialValueText(tr("unknown"));
  DateTimePicker1->calendarWidget()->installEventFilter(new CalendarOpensAtToday(DateTimePicker1));
}

PatientForm::~PatientForm() = default;

void PatientForm::NameFieldsByLabels() {
  const std::pair<QLabel*, QWidget*> buddies[] = {
      {PatientNameLbl, Edit2},         {PatientIDLbl, Edit1},           {PatientSexLbl, ComboBox1},
      {PatientBDLbl, DateTimePicker1}, {ModalityLbl, ComboBox2},        {AccessionNumberLbl, Edit5},
      {StudyDescriptionLbl, Edit6},    {StudyDateLbl, DateTimePicker2},
  };
  for (const auto& [label, field] : buddies) {
    label->setBuddy(field);
    field->setAccessibleName(label->text());
  }
}

void PatientForm::Clear() {
  Edit1->clear();
  Edit2->clear();
  Edit5->clear();
  Edit6->clear();
  ComboBox1->setCurrentIndex(0);
  ComboBox2->setCurrentIndex(0);
  DateTimePicker1->setDate(kUnknownBirthDate);
  DateTimePicker2->setDate(QDate::currentDate());
}

BatchForm PatientForm::BatchFields() const {
  BatchForm form;
  form.patientName = Edit2->text().toStdString();
  form.patientId = Edit1->text().toStdString();
  form.sexIndex = ComboBox1->currentIndex();
  form.birthDate = BirthDateText();
  form.studyDescription = Edit6->text().toStdString();
  form.accessionNumber = Edit5->text().toStdString();
  form.studyDate = DateText(DateTimePicker2->date()).toStdString();
  form.modalityText = ComboBox2->currentText().toStdString();
  return form;
}

SearchForm PatientForm::SearchFields() const {
  SearchForm form;
  form.patientName = Edit2->text().toStdString();
  form.patientId = Edit1->text().toStdString();
  form.accessionNumber = Edit5->text().toStdString();
  form.studyDescription = Edit6->text().toStdString();
  form.fromDate = BirthDateText();
  form.toDate = DateText(DateTimePicker2->date()).toStdString();
  // While a result's values are shown, the search takes what was typed.
  if (typedFields_) {
    form.patientName = typedFields_->patientName.toStdString();
    form.patientId = typedFields_->patientId.toStdString();
    form.accessionNumber = typedFields_->accessionNumber.toStdString();
    form.studyDescription = typedFields_->studyDescription.toStdString();
    form.fromDate = typedFields_->birthDate == kUnknownBirthDate
                        ? std::string()
                        : DateText(typedFields_->birthDate).toStdString();
    form.toDate = DateText(typedFields_->studyDate).toStdString();
  }
  form.modality = ModalityFilter(ComboBox2->currentText().toStdString());
  return form;
}

std::string PatientForm::BirthDateText() const {
  if (DateTimePicker1->date() == kUnknownBirthDate) return {};
  return DateText(DateTimePicker1->date()).toStdString();
}

void PatientForm::ShowResult(const StudyInfo* chosen) {
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
  Edit2->setText(QString::fromStdString(fields.patientName));
  Edit1->setText(QString::fromStdString(fields.patientId));
  ComboBox1->setCurrentIndex(fields.sexIndex);
  const QDate birth = QDate::fromString(QString::fromStdString(fields.birthDate), "yyyyMMdd");
  DateTimePicker1->setDate(birth.isValid() ? birth : kUnknownBirthDate);
  Edit5->setText(QString::fromStdString(fields.accessionNumber));
  Edit6->setText(QString::fromStdString(fields.studyDescription));
  const QDate study = QDate::fromString(QString::fromStdString(fields.studyDate), "yyyyMMdd");
  if (study.isValid()) DateTimePicker2->setDate(study);
  for (QWidget* field : typed) field->setEnabled(false);
}
