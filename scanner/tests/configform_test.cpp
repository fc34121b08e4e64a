// TConfigFrm: opens on "Color" and "100" whatever is set; OK stores the choice, Cancel does not.
#include "configform.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include "scansettings.h"

namespace {

TEST(ConfigForm, OpensOnColorAnd100AndOkStoresTheChoice) {
  ResetScanSettings();
  TConfigFrm form;
  EXPECT_EQ(form.windowTitle(), "Scanner Configuration");
  EXPECT_EQ(form.ComboBox1->currentText(), "Color");
  EXPECT_EQ(form.ComboBox2->currentText(), "100");
  EXPECT_EQ(form.ComboBox2->count(), 4);
  // The settings stay grey at 100 until the dialog is confirmed.
  EXPECT_EQ(ScanIntent, kScanIntentGray);

  form.ComboBox1->setCurrentText("GrayScale");
  form.ComboBox2->setCurrentText("300");
  form.Button1->click();
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(ScanIntent, kScanIntentGray);
  EXPECT_EQ(ScanResolution, 300);

  TConfigFrm again;
  EXPECT_EQ(again.ComboBox1->currentText(), "Color");
  EXPECT_EQ(again.ComboBox2->currentText(), "100");
  again.ComboBox2->setCurrentText("150");
  again.Button1->click();
  EXPECT_EQ(ScanIntent, kScanIntentColor);
  EXPECT_EQ(ScanResolution, 150);
  ResetScanSettings();
}

TEST(ConfigForm, CancelChangesNothing) {
  ResetScanSettings();
  TConfigFrm form;
  form.ComboBox2->setCurrentText("300");
  form.Button2->click();
  EXPECT_EQ(form.result(), QDialog::Rejected);
  EXPECT_EQ(ScanIntent, kScanIntentGray);
  EXPECT_EQ(ScanResolution, 100);
}

}  // namespace
