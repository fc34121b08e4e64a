// The device's dialog following a change of source: on SANE's test backend for the main path, on
// a fake device for sources whose page areas differ.
#include "deviceoptionsdialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>

#include "fakeoptiondevice.h"
#include "sanesession.h"
#include "sanetestbackend.h"
#include "scannertesthelpers.h"

namespace {

bool OkEnabled(const DeviceOptionsDialog& dialog) {
  return dialog.Buttons->button(QDialogButtonBox::Ok)->isEnabled();
}

TEST(DeviceOptionsDialog, AChosenSourceIsSetOnTheTestBackendAndItsOptionsAreReadAgain) {
  SaneTestBackend backend;
  SaneLibrary sane;
  SaneDevice handle;
  ASSERT_EQ(SaneDevice::Open("test:0", handle), SANE_STATUS_GOOD);
  SaneOptionProvider device(handle.Handle());
  DeviceMainOptions options;
  ASSERT_TRUE(ReadMainOptions(device, options).Ok());
  DeviceOptionsDialog dialog(device, options, QStringLiteral("test:0"));
  dialog.LeftBox->setValue(15);
  dialog.RightBox->setValue(150);

  dialog.SourceBox->setCurrentText(QStringLiteral("Automatic Document Feeder"));
  DeviceMainOptions onDevice;
  ASSERT_TRUE(ReadMainOptions(device, onDevice).Ok());
  EXPECT_EQ(onDevice.source.value, "Automatic Document Feeder");
  EXPECT_EQ(dialog.LeftBox->value(), 15);
  EXPECT_EQ(dialog.RightBox->value(), 150);
  EXPECT_EQ(dialog.RightBox->maximum(), 200);
  EXPECT_TRUE(dialog.RightBox->isEnabled());
  EXPECT_TRUE(dialog.ProblemLabel->isHidden());
  EXPECT_TRUE(OkEnabled(dialog));

  // As a hand scanner the backend reloads its options and has no page area: the next change of
  // source shows that.
  ASSERT_EQ(SetTestOption(handle.Handle(), "hand-scanner", 1), SANE_STATUS_GOOD);
  dialog.SourceBox->setCurrentText(QStringLiteral("Flatbed"));
  for (QDoubleSpinBox* box : {dialog.LeftBox, dialog.TopBox, dialog.RightBox, dialog.BottomBox}) {
    EXPECT_FALSE(box->isEnabled()) << box->objectName().toStdString();
  }
  EXPECT_FALSE(dialog.Chosen().right.available);
  EXPECT_TRUE(OkEnabled(dialog));
  EXPECT_EQ(dialog.Chosen().source.value, "Flatbed");
}

TEST(DeviceOptionsDialog, TheBoxesFollowTheLimitsOfEachSourceAndARefusalIsShown) {
  FakeOptionDevice device(
      {
          {"Flatbed", 216, 297, {"Color", "Gray"}},
          {"ADF", 210, 356, {"Gray"}},
          {"Transparency", 200, 250, {"Color"}, true, SANE_STATUS_COVER_OPEN},
      },
      FakeOptionDevice::OutOfRange::Clamp);
  DeviceMainOptions options;
  ASSERT_TRUE(ReadMainOptions(device, options).Ok());
  DeviceOptionsDialog dialog(device, options, QStringLiteral("fake"));
  EXPECT_EQ(dialog.RightBox->maximum(), 216);
  dialog.LeftBox->setValue(212);
  dialog.RightBox->setValue(216);
  dialog.BottomBox->setValue(297);

  // The feeder is narrower: both edges meet at its limit and the empty area cannot be confirmed.
  dialog.SourceBox->setCurrentText(QStringLiteral("ADF"));
  EXPECT_EQ(dialog.RightBox->maximum(), 210);
  EXPECT_EQ(dialog.BottomBox->maximum(), 356);
  EXPECT_EQ(dialog.LeftBox->value(), 210);
  EXPECT_EQ(dialog.RightBox->value(), 210);
  EXPECT_EQ(dialog.BottomBox->value(), 297);
  EXPECT_EQ(dialog.ModeBox->count(), 1);
  EXPECT_FALSE(OkEnabled(dialog));
  dialog.LeftBox->setValue(20);
  EXPECT_TRUE(OkEnabled(dialog));

  // The lid is open: the device stays on the feeder and the dialog says why.
  dialog.SourceBox->setCurrentText(QStringLiteral("Transparency"));
  EXPECT_EQ(device.SourceName(), "ADF");
  EXPECT_EQ(dialog.SourceBox->currentText(), "ADF");
  EXPECT_FALSE(dialog.ProblemLabel->isHidden());
  EXPECT_EQ(dialog.ProblemLabel->text(),
            "The scanner did not take the source \"Transparency\" (code A0040008).");
  EXPECT_EQ(dialog.RightBox->value(), 210);

  // Back on the flatbed the limits grow again and what was entered stays.
  dialog.SourceBox->setCurrentText(QStringLiteral("Flatbed"));
  EXPECT_TRUE(dialog.ProblemLabel->isHidden());
  EXPECT_EQ(dialog.RightBox->maximum(), 216);
  const DeviceMainOptions chosen = dialog.Chosen();
  EXPECT_EQ(chosen.source.value, "Flatbed");
  EXPECT_EQ(chosen.left.value, 20);
  EXPECT_EQ(chosen.right.value, 210);
  EXPECT_EQ(chosen.right.maximum, 216);
  EXPECT_EQ(chosen.mode.choices, (std::vector<std::string>{"Color", "Gray"}));
  EXPECT_EQ(chosen.mode.value, "Gray");
}

TEST(DeviceOptionsDialog, OptionsThatCannotBeReadAgainLeaveTheLimitsAndSaySo) {
  FakeOptionDevice device({{"Flatbed", 216, 297, {"Gray"}}, {"ADF", 210, 356, {"Gray"}}},
                          FakeOptionDevice::OutOfRange::Clamp);
  DeviceMainOptions options;
  ASSERT_TRUE(ReadMainOptions(device, options).Ok());
  DeviceOptionsDialog dialog(device, options, QStringLiteral("fake"));
  device.readAnswer = SANE_STATUS_IO_ERROR;
  dialog.SourceBox->setCurrentText(QStringLiteral("ADF"));
  EXPECT_EQ(device.SourceName(), "ADF");
  EXPECT_EQ(dialog.Chosen().source.value, "ADF");
  EXPECT_EQ(dialog.RightBox->maximum(), 216);
  EXPECT_EQ(dialog.ProblemLabel->text(),
            "The scanner's options could not be read after the change of source (code A0030009); "
            "the page area is checked again when the scan starts.");
  EXPECT_TRUE(OkEnabled(dialog));
}

}  // namespace
