// The scanner configuration dialog.
#include "configform.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "scansettings.h"

TConfigFrm::TConfigFrm(QWidget* parent)
    : QDialog(parent),
      ComboBox1(new QComboBox(this)),
      ComboBox2(new QComboBox(this)),
      Button1(new QPushButton(tr("OK"), this)),
      Button2(new QPushButton(tr("Cancel"), this)) {
  setWindowTitle(tr("Scanner Configuration"));
  setObjectName(QStringLiteral("TConfigFrm"));
  ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
  ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
  Button1->setObjectName(QStringLiteral("Button1"));
  Button2->setObjectName(QStringLiteral("Button2"));
  // The settings take the English names, whatever the box shows.
  ComboBox1->addItem(tr("Color"), QStringLiteral("Color"));
  ComboBox1->addItem(tr("GrayScale"), QStringLiteral("GrayScale"));
  ComboBox2->addItems(
      {QStringLiteral("100"), QStringLiteral("150"), QStringLiteral("200"), QStringLiteral("300")});

  auto* fields = new QFormLayout;
  fields->addRow(tr("Colour:"), ComboBox1);
  fields->addRow(tr("Resolution (dpi):"), ComboBox2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(buttons);

  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &TConfigFrm::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
  FormCreate();
}

void TConfigFrm::FormCreate() {
  ComboBox1->setCurrentIndex(0);
  ComboBox2->setCurrentIndex(0);
}

void TConfigFrm::Button1Click() {
  ApplyScanConfiguration(ComboBox1->currentData().toString().toStdString(),
                         ComboBox2->currentText().toStdString());
  accept();
}
