// The device's own dialog: the user prepares a scan by choosing the source, the mode and the
// page area among what the open device offers.
#pragma once

#include <QDialog>

#include "deviceoptions.h"

class QComboBox;
class QDialogButtonBox;
class QDoubleSpinBox;
class QLabel;

class DeviceOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  // Without a device, choosing another source only changes what Chosen() returns.
  DeviceOptionsDialog(const DeviceMainOptions& options, const QString& deviceName,
                      QWidget* parent = nullptr);
  // With the open device, a source the user chooses is set on the device at once and the dialog
  // shows what that source offers: its modes and its page-area limits, with the area entered so
  // far kept within them. `device` must outlive the dialog.
  DeviceOptionsDialog(DeviceOptionProvider& device, const DeviceMainOptions& options,
                      const QString& deviceName, QWidget* parent = nullptr);

  // The options as the dialog shows them now.
  DeviceMainOptions Chosen() const;

  QComboBox* SourceBox;
  QComboBox* ModeBox;
  QDoubleSpinBox* LeftBox;
  QDoubleSpinBox* TopBox;
  QDoubleSpinBox* RightBox;
  QDoubleSpinBox* BottomBox;
  QLabel* ProblemLabel;       // a source the device refused; hidden when there is none
  QDialogButtonBox* Buttons;  // "OK" and "Cancel"

 private:
  // Fills the boxes from options_ without reacting to the changes made here.
  void ShowOptions();
  void SourceChosen();
  // OK only for an area with a positive width and height.
  void CheckArea();

  DeviceOptionProvider* device_ = nullptr;
  DeviceMainOptions options_;
};
