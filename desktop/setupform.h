// The settings dialog: three tabs of fields, a test of the PACS and of the worklist server.
#pragma once

#include <QDialog>
#include <string>

#include "settings.h"

class DialogProvider;
class DicomWebFields;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;

class TSetupFrm : public QDialog {
  Q_OBJECT

 public:
  // The size the dialog opens at when the desktop's font leaves room for it.
  static constexpr int kDesignedWidth = 446;
  static constexpr int kDesignedHeight = 289;

  // Loads the settings from `settingsPath` into `config` and the fields (created once at start;
  // the fields keep what they last held between showings).
  TSetupFrm(std::string settingsPath, SetupConfig& config, DialogProvider& dialogs,
            QWidget* parent = nullptr);

  void FormCreate();
  void BitBtn1Click();  // OK: saves and closes
  void BitBtn2Click();  // Cancel
  void Button1Click();  // Test of the PACS, by C-ECHO or by a DICOMweb search
  void Button2Click();  // Test of the worklist server

  QTabWidget* PageControl1;
  QWidget* TabSheet1;
  QWidget* TabSheet2;
  QWidget* TabSheet3;
  QLineEdit* Edit4;          // Local AET
  QLineEdit* Edit7;          // Inst. Name
  QComboBox* ComboBox1;      // Print capture: the printer application, or the raw queue
  QLineEdit* Edit10;         // Printer Port (the raw queue's)
  QCheckBox* CheckBox1;      // Debug logging
  QComboBox* ComboLanguage;  // the window's language: the desktop's, or one chosen
  QCheckBox* CheckBox2;      // Keep camera JPEGs as they are
  QLineEdit* Edit5;          // PACS AET
  QLineEdit* Edit2;          // PACS IP Address
  QLineEdit* Edit3;          // PACS Port
  QPushButton* Button1;
  DicomWebFields* WebFields;  // DICOM or DICOMweb, and the DICOMweb fields
  QCheckBox* CheckBox3;       // Keep unsent objects in the outbox
  QCheckBox* CheckBox4;       // Ask the PACS to commit stored objects (storage commitment)
  QLineEdit* Edit11;          // Commitment port: where the PACS calls back with its report
  QLineEdit* Edit6;           // WL AET
  QLineEdit* Edit8;           // WL IP Address
  QLineEdit* Edit9;           // WL Port
  QPushButton* Button2;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;
  // The rows of each tab (label in column 0, field in 1, a button beside a field in 2). A control
  // added below the rows goes in with AddBelow-like addWidget at rowCount(), then FinishTabs()
  // keeps the free room under the last row.
  QGridLayout* LocalRows;
  QGridLayout* PacsRows;
  QGridLayout* WorklistRows;
  void FinishTabs();

  // Esc and Cancel: stop a running test, otherwise close without saving.
  void reject() override;

 private:
  void TestNode(const QString& calledAet, const QString& host, const QString& port);
  void TestWebNode();
  void SetTesting(bool testing);
  // Commitment needs a DICOM PACS; the port matters only while commitment is asked for.
  void EnableCommitmentFields();

  std::string settingsPath_;
  SetupConfig& config_;
  DialogProvider& dialogs_;
  bool testing_ = false;
};
