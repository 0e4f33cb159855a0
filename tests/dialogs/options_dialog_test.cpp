#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "app/Korvex_ModbusRTU_MainChat.h"
#include "app/message_timer.h"
#include "dialogs/Korvex_ModbusRTU_SetUnit.h"
#include "dialogs/dialog_controls.h"
#include "storage/settings_files.h"
#include "support/korvex_fixture.h"
#include "dialog_test_support.h"

using namespace dialog_test;

namespace {

class OptionsDialogTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    StartWithDefaults();
    settingsPath_ = InDir(QStringLiteral("korvex.ini"));
    devicePath_ = InDir(QStringLiteral("Device-001.ini"));
  }

  // Opens the dialog from its menu handler; `use` works the dialog and clicks
  // a button.
  void OpenOptions(const std::function<void(TFormControl*)>& use) {
    modal_ = dialog_test::Working<TFormControl>(use);
    Form1->N6Click();
  }

  QString settingsPath_;
  QString devicePath_;
};

TEST_F(OptionsDialogTest, ShowsTheDefaultSettings) {
  OpenOptions([](TFormControl* f) {
    EXPECT_EQ(f->windowTitle(), QStringLiteral(u"Опции"));
    EXPECT_EQ(f->ComboBoxPort->currentText(), QStringLiteral("COM2"));
    EXPECT_EQ(f->SpinEditPediodWiev->value(), 10);
    EXPECT_EQ(f->SpinEditNetAddr->value(), 1);
    EXPECT_EQ(f->SpinEditCiklMeasurement->value(), 30);
    EXPECT_EQ(f->TrackBarBetweenCalibration->value(), 60);
    EXPECT_EQ(f->LabelBetweenCalibration->text(), QStringLiteral("60"));
    EXPECT_TRUE(f->TrackBarBetweenCalibration->isEnabled());
    EXPECT_EQ(f->TrackBarCalibration->value(), 3);
    EXPECT_EQ(f->TrackBarDrain->value(), 0);
    EXPECT_EQ(f->TrackBarMeasurement->value(), 3);
    EXPECT_EQ(f->LabelCalibration->text(), QStringLiteral("3"));
    EXPECT_EQ(f->LabelDrain->text(), QStringLiteral("0"));
    EXPECT_EQ(f->LabelMeasurement->text(), QStringLiteral("3"));
    EXPECT_FALSE(f->TrackBarCalibration->isEnabled());
    EXPECT_FALSE(f->TrackBarDrain->isEnabled());
    EXPECT_FALSE(f->TrackBarMeasurement->isEnabled());
    EXPECT_EQ(f->ButtonApply->text(), QStringLiteral(u"Применить"));
    EXPECT_EQ(f->ButtonCancel->text(), QStringLiteral(u"Отмена"));
    f->ButtonCancel->click();
  });
}

TEST_F(OptionsDialogTest, ControlsHaveTheirRangesAndTheListStartsWithTheEightComPorts) {
  TFormControl* f = FormControl;
  EXPECT_EQ(f->SpinEditPediodWiev->minimum(), 1);
  EXPECT_EQ(f->SpinEditPediodWiev->maximum(), 60);
  EXPECT_EQ(f->SpinEditPediodWiev->MaxTyped(), 2);
  EXPECT_EQ(f->SpinEditNetAddr->minimum(), 1);
  EXPECT_EQ(f->SpinEditNetAddr->maximum(), 247);
  EXPECT_EQ(f->SpinEditNetAddr->MaxTyped(), 2);
  EXPECT_EQ(f->SpinEditCiklMeasurement->minimum(), 20);
  EXPECT_EQ(f->SpinEditCiklMeasurement->maximum(), 999);
  EXPECT_EQ(f->SpinEditCiklMeasurement->MaxTyped(), 3);
  EXPECT_EQ(f->TrackBarBetweenCalibration->minimum(), 10);
  EXPECT_EQ(f->TrackBarBetweenCalibration->maximum(), 120);
  EXPECT_EQ(f->TrackBarBetweenCalibration->tickInterval(), 10);
  EXPECT_EQ(f->TrackBarCalibration->minimum(), 3);
  EXPECT_EQ(f->TrackBarCalibration->maximum(), 10);
  EXPECT_EQ(f->TrackBarDrain->minimum(), 0);
  EXPECT_EQ(f->TrackBarDrain->maximum(), 10);
  EXPECT_EQ(f->TrackBarMeasurement->minimum(), 3);
  EXPECT_EQ(f->TrackBarMeasurement->maximum(), 10);

  QStringList ports = TFormControl::PortList();
  ASSERT_GE(ports.size(), 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ports[i], QStringLiteral("COM%1").arg(i + 1));
  EXPECT_EQ(ports.removeDuplicates(), 0);
}

TEST_F(OptionsDialogTest, ApplyTakesTheValuesOverSavesBothFilesAndReopensThePort) {
  const int opensBefore = serial_.openCount;
  OpenOptions([](TFormControl* f) {
    f->ComboBoxPort->setEditText(QStringLiteral("COM12"));
    f->SpinEditPediodWiev->setValue(5);
    f->SpinEditNetAddr->setValue(12);
    f->SpinEditCiklMeasurement->setValue(45);
    f->TrackBarBetweenCalibration->setValue(90);
    EXPECT_EQ(f->LabelBetweenCalibration->text(), QStringLiteral("90"));
    f->ButtonApply->click();
  });

  EXPECT_EQ(ShortStringText(ProgramSettings.PortName), QStringLiteral("COM12"));
  EXPECT_EQ(+ProgramSettings.RefreshPeriod, 5);
  EXPECT_EQ(+ProgramSettings.NetAddress, 12);
  EXPECT_EQ(+DeviceRecord.DeviceAddress, 12);
  EXPECT_EQ(+DeviceRecord.CyclePeriod[0], 45);
  EXPECT_EQ(+DeviceRecord.CalibrationInterval[0], 90);
  EXPECT_EQ(+DeviceRecord.CalibrationTime[0], 3);
  EXPECT_EQ(+DeviceRecord.DrainTime[0], 0);
  EXPECT_EQ(+DeviceRecord.MeasurementTime[0], 3);

  const QByteArray settings = FileBytes(settingsPath_);
  ASSERT_EQ(settings.size(), 237);
  EXPECT_EQ(settings.at(0), 5);
  EXPECT_EQ(settings.mid(1, 5), QByteArray("COM12"));
  EXPECT_EQ(uint8_t(settings.at(62)), 12);
  EXPECT_EQ(ValueAt<int32_t>(settings, 63), 5);
  const QByteArray device = FileBytes(devicePath_);
  ASSERT_EQ(device.size(), 239);
  EXPECT_EQ(uint8_t(device.at(0)), 12);
  EXPECT_EQ(ValueAt<int32_t>(device, 34), 90);
  EXPECT_EQ(ValueAt<int32_t>(device, 66), 45);

  // One new port, on the typed name, serviced again.
  EXPECT_EQ(serial_.openCount, opensBefore + 1);
  EXPECT_EQ(serial_.opened.last(), QStringLiteral("COM12"));
  EXPECT_TRUE(Form1->Timer1->Enabled());
  EXPECT_TRUE(Form1->Timer2->Enabled());
  // The next request goes to the new address.
  Form1->SendRequest(0);
  ASSERT_FALSE(serial_.LastWrite().empty());
  EXPECT_EQ(serial_.LastWrite()[0], 12);
}

TEST_F(OptionsDialogTest, CancelAfterMovingTheBarChangesAndSavesNothing) {
  const QByteArray settingsBefore = FileBytes(settingsPath_);
  const QByteArray deviceBefore = FileBytes(devicePath_);
  const QDateTime settingsTime = FileTime(settingsPath_);
  const QDateTime deviceTime = FileTime(devicePath_);
  const int opensBefore = serial_.openCount;

  OpenOptions([](TFormControl* f) {
    f->TrackBarBetweenCalibration->setValue(110);
    f->ComboBoxPort->setEditText(QStringLiteral("COM5"));
    f->SpinEditNetAddr->setValue(99);
    f->ButtonCancel->click();
  });

  EXPECT_EQ(+DeviceRecord.CalibrationInterval[0], 60);
  EXPECT_EQ(+ProgramSettings.NetAddress, 1);
  EXPECT_EQ(ShortStringText(ProgramSettings.PortName), QStringLiteral("COM2"));
  EXPECT_EQ(serial_.openCount, opensBefore);
  EXPECT_EQ(FileBytes(settingsPath_), settingsBefore);
  EXPECT_EQ(FileBytes(devicePath_), deviceBefore);
  EXPECT_EQ(FileTime(settingsPath_), settingsTime);
  EXPECT_EQ(FileTime(devicePath_), deviceTime);

  // The next opening shows the stored value again.
  OpenOptions([](TFormControl* f) {
    EXPECT_EQ(f->TrackBarBetweenCalibration->value(), 60);
    EXPECT_EQ(f->LabelBetweenCalibration->text(), QStringLiteral("60"));
    EXPECT_EQ(f->ComboBoxPort->currentText(), QStringLiteral("COM2"));
    f->ButtonCancel->click();
  });
}

TEST_F(OptionsDialogTest, ApplyWithoutChangesStillReopensThePortAndRewritesBothFiles) {
  QFile::remove(settingsPath_);
  QFile::remove(devicePath_);
  const int opensBefore = serial_.openCount;
  OpenOptions([](TFormControl* f) { f->ButtonApply->click(); });
  EXPECT_EQ(serial_.openCount, opensBefore + 1);
  EXPECT_EQ(serial_.opened.last(), QStringLiteral("/dev/ttyS1"));
  EXPECT_EQ(FileBytes(settingsPath_).size(), 237);
  EXPECT_EQ(FileBytes(devicePath_).size(), 239);
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(OptionsDialogTest, LabelsShowStoredValuesThatTheBarsHadToClamp) {
  DeviceRecord.CalibrationTime[0] = 20;
  DeviceRecord.DrainTime[0] = 15;
  DeviceRecord.MeasurementTime[0] = 1;
  DeviceRecord.CalibrationInterval[0] = 200;
  OpenOptions([](TFormControl* f) {
    EXPECT_EQ(f->TrackBarCalibration->value(), 10);
    EXPECT_EQ(f->TrackBarDrain->value(), 10);
    EXPECT_EQ(f->TrackBarMeasurement->value(), 3);
    EXPECT_EQ(f->TrackBarBetweenCalibration->value(), 120);
    EXPECT_EQ(f->LabelCalibration->text(), QStringLiteral("20"));
    EXPECT_EQ(f->LabelDrain->text(), QStringLiteral("15"));
    EXPECT_EQ(f->LabelMeasurement->text(), QStringLiteral("1"));
    EXPECT_EQ(f->LabelBetweenCalibration->text(), QStringLiteral("200"));
    // Moving a bar shows its position.
    f->TrackBarBetweenCalibration->setValue(70);
    EXPECT_EQ(f->LabelBetweenCalibration->text(), QStringLiteral("70"));
    f->ButtonCancel->click();
  });
}

TEST_F(OptionsDialogTest, NumbersTypedOutsideTheirRangesAreBroughtIntoThem) {
  struct Case {
    QString refresh, address, cyclic;
    int32_t wantRefresh;
    uint8_t wantAddress;
    int32_t wantCyclic;
  };
  const Case cases[] = {
      {QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("5"), 1, 1, 20},
      {QStringLiteral("99"), QStringLiteral("-5"), QStringLiteral("-12"), 60, 1, 20},
      {QStringLiteral("1,5"), QStringLiteral("x"), QStringLiteral(""), 1, 1, 20},
      {QStringLiteral("7"), QStringLiteral("300"), QStringLiteral("999"), 7, 247, 999},
  };
  for (const Case& c : cases) {
    OpenOptions([&c](TFormControl* f) {
      // Text as it stands in the fields when Enter confirms before they are left.
      f->SpinEditPediodWiev->Editor()->setText(c.refresh);
      f->SpinEditNetAddr->Editor()->setText(c.address);
      f->SpinEditCiklMeasurement->Editor()->setText(c.cyclic);
      f->ButtonApply->click();
    });
    EXPECT_EQ(+ProgramSettings.RefreshPeriod, c.wantRefresh) << c.refresh.toStdString();
    EXPECT_EQ(+ProgramSettings.NetAddress, c.wantAddress) << c.address.toStdString();
    EXPECT_EQ(+DeviceRecord.DeviceAddress, c.wantAddress);
    EXPECT_EQ(+DeviceRecord.CyclePeriod[0], c.wantCyclic) << c.cyclic.toStdString();
  }
}

TEST_F(OptionsDialogTest, SpinEditsTakeOnlyNumberCharactersUpToTheirLimit) {
  OpenOptions([](TFormControl* f) {
    TSpinEdit* address = f->SpinEditNetAddr;
    address->setFocus();
    address->Editor()->selectAll();
    Type(address, QStringLiteral("1a2b3"));
    EXPECT_EQ(address->Editor()->text(), QStringLiteral("12"));
    // Above 99 only with the arrows.
    address->setValue(99);
    Key(address, Qt::Key_Up);
    EXPECT_EQ(address->Editor()->text(), QStringLiteral("100"));
    EXPECT_EQ(address->Value(), 100);

    TSpinEdit* cyclic = f->SpinEditCiklMeasurement;
    cyclic->Editor()->selectAll();
    Type(cyclic, QStringLiteral("1234"));
    EXPECT_EQ(cyclic->Editor()->text(), QStringLiteral("123"));
    f->ButtonApply->click();
  });
  EXPECT_EQ(+ProgramSettings.NetAddress, 100);
  EXPECT_EQ(+DeviceRecord.CyclePeriod[0], 123);
}

TEST_F(OptionsDialogTest, APortNameTooLongIsCutToThirtyCharacters) {
  const QString longName = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART-if00");
  OpenOptions([&](TFormControl* f) {
    f->ComboBoxPort->setEditText(longName);
    f->ButtonApply->click();
  });
  EXPECT_EQ(ShortStringText(ProgramSettings.PortName), longName.left(30));
  EXPECT_EQ(serial_.opened.last(), longName.left(30));
}

TEST_F(OptionsDialogTest, APortNameWithoutAWindows1251FormIsRefusedAndTheDialogStaysOpen) {
  const QByteArray settingsBefore = FileBytes(settingsPath_);
  const int opensBefore = serial_.openCount;
  int result = -1;
  OpenOptions([&](TFormControl* f) {
    f->SpinEditNetAddr->setValue(7);
    f->ComboBoxPort->setEditText(QStringLiteral(u"COM\u2460"));
    f->ButtonApply->click();
    EXPECT_TRUE(f->isVisible());
    const auto messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, QStringLiteral("Error"));
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral(u"COM\u2460")));
    f->ButtonCancel->click();
    result = f->result();
  });
  EXPECT_EQ(result, int(QDialog::Rejected));
  EXPECT_EQ(ShortStringText(ProgramSettings.PortName), QStringLiteral("COM2"));
  EXPECT_EQ(+ProgramSettings.NetAddress, 1);
  EXPECT_EQ(serial_.openCount, opensBefore);
  EXPECT_EQ(FileBytes(settingsPath_), settingsBefore);

  // Cyrillic has a Windows-1251 form and is stored as typed.
  OpenOptions([](TFormControl* f) {
    f->ComboBoxPort->setEditText(QStringLiteral(u"ПОРТ1"));
    f->ButtonApply->click();
  });
  EXPECT_EQ(ShortStringText(ProgramSettings.PortName), QStringLiteral(u"ПОРТ1"));
  EXPECT_EQ(FileBytes(settingsPath_).mid(1, 5), QByteArray("\xCF\xCE\xD0\xD2\x31"));
}

TEST_F(OptionsDialogTest, EnterConfirmsAndEscapeCancels) {
  OpenOptions([](TFormControl* f) {
    f->SpinEditNetAddr->setValue(33);
    f->ComboBoxPort->setFocus();
    Key(f->ComboBoxPort, Qt::Key_Escape);
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(+ProgramSettings.NetAddress, 1);

  OpenOptions([](TFormControl* f) {
    f->SpinEditNetAddr->setValue(33);
    f->ComboBoxPort->setFocus();
    Key(f->ComboBoxPort, Qt::Key_Return);
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(+ProgramSettings.NetAddress, 33);

  // Enter in a spin edit confirms the text as typed, brought into range.
  OpenOptions([](TFormControl* f) {
    TSpinEdit* refresh = f->SpinEditPediodWiev;
    refresh->setFocus();
    refresh->Editor()->selectAll();
    Type(refresh, QStringLiteral("75"));
    Key(refresh, Qt::Key_Return);
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(+ProgramSettings.RefreshPeriod, 60);
}

TEST_F(OptionsDialogTest, ThePollCycleKeepsRunningWhileTheDialogIsOpen) {
  OpenOptions([this](TFormControl* f) {
    EXPECT_TRUE(Form1->Timer1->Enabled());
    EXPECT_TRUE(Form1->Timer2->Enabled());
    const size_t written = serial_.writes.size();
    Tick();
    EXPECT_GT(serial_.writes.size(), written);
    f->ButtonCancel->click();
  });
}

}  // namespace
