// The patient and study form: eight labelled fields in two columns. A batch takes its patient and
// study from them and a search filters by them; while a search result is chosen they show its
// values greyed out, and what was typed comes back when none is chosen any more.
#pragma once

#include <QCoreApplication>
#include <QDate>
#include <QString>
#include <memory>
#include <string>

#include "batch.h"
#include "search.h"
#include "studyinfo.h"

class QComboBox;
class QDateEdit;
class QGridLayout;
class QLabel;
class QLineEdit;
class QWidget;

class PatientForm {
  Q_DECLARE_TR_FUNCTIONS(PatientForm)

 public:
  // Makes the labels and fields in `panel`, laid out in Grid() (which the panel's layout takes).
  explicit PatientForm(QWidget* panel);
  ~PatientForm();
  PatientForm(const PatientForm&) = delete;
  PatientForm& operator=(const PatientForm&) = delete;

  QGridLayout* Grid() const { return grid_; }
  // Makes each label the buddy of its field and names the field by the label's text, so a screen
  // reader names a field as the window shows it; called once the captions are set.
  void NameFieldsByLabels();
  // Empty texts, the first sex and modality, the birth date "unknown" and today's study date.
  void Clear();

  // What the fields hold, as a batch takes it.
  BatchForm BatchFields() const;
  // What the fields hold, as a search filters by it: while a result's values are shown, what was
  // typed.
  SearchForm SearchFields() const;
  // Shows the chosen result's values greyed out, or gives the typed fields back when `chosen` is
  // null.
  void ShowResult(const StudyInfo* chosen);

  // The fields and their labels, named as the window has always named them.
  QLabel* PatientNameLbl;
  QLineEdit* Edit2;  // Patient Name
  QLabel* PatientIDLbl;
  QLineEdit* Edit1;  // Patient ID
  QLabel* PatientSexLbl;
  QComboBox* ComboBox1;  // Patient Sex
  QLabel* PatientBDLbl;
  QDateEdit* DateTimePicker1;  // Patient BD / From
  QLabel* ModalityLbl;
  QComboBox* ComboBox2;  // Modality
  QLabel* AccessionNumberLbl;
  QLineEdit* Edit5;  // Accession Number
  QLabel* StudyDescriptionLbl;
  QLineEdit* Edit6;  // Study Description
  QLabel* StudyDateLbl;
  QDateEdit* DateTimePicker2;  // Study Date / To

 private:
  // What the fields held as typed while a chosen result's values are shown in them.
  struct TypedFields {
    QString patientName;
    QString patientId;
    int sexIndex = 0;
    QDate birthDate;
    QString accessionNumber;
    QString studyDescription;
    QDate studyDate;
  };

  // The "Patient BD / From" picker as a date, empty while it shows "unknown".
  std::string BirthDateText() const;

  QGridLayout* grid_;
  std::unique_ptr<TypedFields> typedFields_;
};
