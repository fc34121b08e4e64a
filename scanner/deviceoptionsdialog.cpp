// The dialog of a device's main options.
#include "deviceoptionsdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QComboBox* ChoiceBox(const ChoiceSetting& setting, const QString& name, QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  for (const std::string& choice : setting.choices) box->addItem(QString::fromStdString(choice));
  box->setCurrentText(QString::fromStdString(setting.value));
  box->setEnabled(setting.available);
  return box;
}

QDoubleSpinBox* LengthBox(const LengthSetting& setting, const QString& name, QWidget* parent) {
  auto* box = new QDoubleSpinBox(parent);
  box->setObjectName(name);
  box->setDecimals(setting.unit == "px" ? 0 : 1);
  box->setRange(setting.minimum, setting.maximum);
  box->setValue(setting.value);
  if (!setting.unit.empty())
    box->setSuffix(QStringLiteral(" ") + QString::fromStdString(setting.unit));
  box->setEnabled(setting.available);
  return box;
}

}  // namespace

DeviceOptionsDialog::DeviceOptionsDialog(const DeviceMainOptions& options,
                                         const QString& deviceName, QWidget* parent)
    : QDialog(parent),
      SourceBox(ChoiceBox(options.source, QStringLiteral("SourceBox"), this)),
      ModeBox(ChoiceBox(options.mode, QStringLiteral("ModeBox"), this)),
      LeftBox(LengthBox(options.left, QStringLiteral("LeftBox"), this)),
      TopBox(LengthBox(options.top, QStringLiteral("TopBox"), this)),
      RightBox(LengthBox(options.right, QStringLiteral("RightBox"), this)),
      BottomBox(LengthBox(options.bottom, QStringLiteral("BottomBox"), this)),
      Buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)),
      options_(options) {
  setWindowTitle(deviceName);
  setObjectName(QStringLiteral("DeviceOptionsDialog"));
  Buttons->setObjectName(QStringLiteral("Buttons"));

  auto* fields = new QFormLayout;
  fields->addRow(QStringLiteral("Source:"), SourceBox);
  fields->addRow(QStringLiteral("Mode:"), ModeBox);
  fields->addRow(QStringLiteral("Left:"), LeftBox);
  fields->addRow(QStringLiteral("Top:"), TopBox);
  fields->addRow(QStringLiteral("Right:"), RightBox);
  fields->addRow(QStringLiteral("Bottom:"), BottomBox);
  auto* note =
      new QLabel(QStringLiteral("Colour and resolution follow the scanner configuration."), this);
  note->setWordWrap(true);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(note);
  layout->addWidget(Buttons);

  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  for (QDoubleSpinBox* box : {LeftBox, TopBox, RightBox, BottomBox}) {
    connect(box, &QDoubleSpinBox::valueChanged, this, &DeviceOptionsDialog::CheckArea);
  }
  CheckArea();
}

DeviceMainOptions DeviceOptionsDialog::Chosen() const {
  DeviceMainOptions chosen = options_;
  chosen.source.value = SourceBox->currentText().toStdString();
  chosen.mode.value = ModeBox->currentText().toStdString();
  chosen.left.value = LeftBox->value();
  chosen.top.value = TopBox->value();
  chosen.right.value = RightBox->value();
  chosen.bottom.value = BottomBox->value();
  return chosen;
}

void DeviceOptionsDialog::CheckArea() {
  const bool widthOk =
      !options_.left.available || !options_.right.available || RightBox->value() > LeftBox->value();
  const bool heightOk =
      !options_.top.available || !options_.bottom.available || BottomBox->value() > TopBox->value();
  Buttons->button(QDialogButtonBox::Ok)->setEnabled(widthOk && heightOk);
}
