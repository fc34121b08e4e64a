// The dialog of a device's main options.
#include "deviceoptionsdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

QComboBox* ChoiceBox(const QString& name, QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  return box;
}

QDoubleSpinBox* LengthBox(const QString& name, QWidget* parent) {
  auto* box = new QDoubleSpinBox(parent);
  box->setObjectName(name);
  return box;
}

void ShowChoice(QComboBox* box, const ChoiceSetting& setting) {
  const QSignalBlocker quiet(box);
  box->clear();
  for (const std::string& choice : setting.choices) box->addItem(QString::fromStdString(choice));
  box->setCurrentText(QString::fromStdString(setting.value));
  box->setEnabled(setting.available);
}

void ShowLength(QDoubleSpinBox* box, const LengthSetting& setting) {
  const QSignalBlocker quiet(box);
  // The precision first: the box rounds its range and value to it.
  box->setDecimals(setting.unit == "px" ? 0 : 1);
  box->setRange(setting.minimum, setting.maximum);
  box->setValue(setting.value);
  box->setSuffix(setting.unit.empty() ? QString()
                                      : QStringLiteral(" ") + QString::fromStdString(setting.unit));
  box->setEnabled(setting.available);
}

QString SourceProblem(const ScanResult& result, const std::string& source) {
  const QString code = QString::fromStdString(FormatScanCode(result.Code()));
  if (result.step == ScanStep::SetOption) {
    return DeviceOptionsDialog::tr("The scanner did not take the source \"%1\" (code %2).")
        .arg(QString::fromStdString(source), code);
  }
  return DeviceOptionsDialog::tr(
             "The scanner's options could not be read after the change of source "
             "(code %1); the page area is checked again when the scan starts.")
      .arg(code);
}

}  // namespace

DeviceOptionsDialog::DeviceOptionsDialog(const DeviceMainOptions& options,
                                         const QString& deviceName, QWidget* parent)
    : QDialog(parent),
      SourceBox(ChoiceBox(QStringLiteral("SourceBox"), this)),
      ModeBox(ChoiceBox(QStringLiteral("ModeBox"), this)),
      LeftBox(LengthBox(QStringLiteral("LeftBox"), this)),
      TopBox(LengthBox(QStringLiteral("TopBox"), this)),
      RightBox(LengthBox(QStringLiteral("RightBox"), this)),
      BottomBox(LengthBox(QStringLiteral("BottomBox"), this)),
      ProblemLabel(new QLabel(this)),
      Buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)),
      options_(options) {
  setWindowTitle(deviceName);
  setObjectName(QStringLiteral("DeviceOptionsDialog"));
  ProblemLabel->setObjectName(QStringLiteral("ProblemLabel"));
  Buttons->setObjectName(QStringLiteral("Buttons"));

  auto* fields = new QFormLayout;
  fields->addRow(tr("Source:"), SourceBox);
  fields->addRow(tr("Mode:"), ModeBox);
  fields->addRow(tr("Left:"), LeftBox);
  fields->addRow(tr("Top:"), TopBox);
  fields->addRow(tr("Right:"), RightBox);
  fields->addRow(tr("Bottom:"), BottomBox);
  auto* note = new QLabel(tr("Colour and resolution follow the scanner configuration."), this);
  note->setWordWrap(true);
  ProblemLabel->setWordWrap(true);
  ProblemLabel->hide();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(note);
  layout->addWidget(ProblemLabel);
  layout->addWidget(Buttons);

  connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(SourceBox, &QComboBox::currentIndexChanged, this, &DeviceOptionsDialog::SourceChosen);
  for (QDoubleSpinBox* box : {LeftBox, TopBox, RightBox, BottomBox}) {
    connect(box, &QDoubleSpinBox::valueChanged, this, &DeviceOptionsDialog::CheckArea);
  }
  ShowOptions();
}

DeviceOptionsDialog::DeviceOptionsDialog(DeviceOptionProvider& device,
                                         const DeviceMainOptions& options,
                                         const QString& deviceName, QWidget* parent)
    : DeviceOptionsDialog(options, deviceName, parent) {
  device_ = &device;
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

void DeviceOptionsDialog::ShowOptions() {
  ShowChoice(SourceBox, options_.source);
  ShowChoice(ModeBox, options_.mode);
  ShowLength(LeftBox, options_.left);
  ShowLength(TopBox, options_.top);
  ShowLength(RightBox, options_.right);
  ShowLength(BottomBox, options_.bottom);
  CheckArea();
}

void DeviceOptionsDialog::SourceChosen() {
  if (device_ == nullptr) return;
  DeviceMainOptions shown = Chosen();
  const std::string source = shown.source.value;
  const ScanResult result = ChangeSource(*device_, source, shown);
  options_ = shown;
  ShowOptions();
  ProblemLabel->setText(result.Ok() ? QString() : SourceProblem(result, source));
  ProblemLabel->setVisible(!result.Ok());
}

void DeviceOptionsDialog::CheckArea() {
  const bool widthOk =
      !options_.left.available || !options_.right.available || RightBox->value() > LeftBox->value();
  const bool heightOk =
      !options_.top.available || !options_.bottom.available || BottomBox->value() > TopBox->value();
  Buttons->button(QDialogButtonBox::Ok)->setEnabled(widthOk && heightOk);
}
