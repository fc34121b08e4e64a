// The device's own dialog: the user prepares a scan by choosing the source, the mode and the
// page area among what the open device offers.
#pragma once

#include <QDialog>

#include "deviceoptions.h"

class QComboBox;
class QDialogButtonBox;
class QDoubleSpinBox;

class DeviceOptionsDialog : public QDialog {
  Q_OBJECT

 public:
  DeviceOptionsDialog(const DeviceMainOptions& options, const QString& deviceName,
                      QWidget* parent = nullptr);

  // The options as the dialog shows them now.
  DeviceMainOptions Chosen() const;

  QComboBox* SourceBox;
  QComboBox* ModeBox;
  QDoubleSpinBox* LeftBox;
  QDoubleSpinBox* TopBox;
  QDoubleSpinBox* RightBox;
  QDoubleSpinBox* BottomBox;
  QDialogButtonBox* Buttons;  // "OK" and "Cancel"

 private:
  // OK only for an area with a positive width and height.
  void CheckArea();

  DeviceMainOptions options_;
};
