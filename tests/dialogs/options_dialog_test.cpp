#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include "platform/timer.h"
#include "dialogs/options_dialog.h"
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
    startWithDefaults();
    settingsPath_ = inDir(QStringLiteral("korvex.ini"));
    devicePath_ = inDir(QStringLiteral("Device-001.ini"));
  }

  // Opens the dialog from its menu handler; `use` works the dialog and clicks
  // a button.
  void openOptions(const std::function<void(OptionsDialog*)>& use) {
    modal_ = dialog_test::working<OptionsDialog>(use);
    window().onOptionsTriggered();
  }

  QString settingsPath_;
  QString devicePath_;
};

TEST_F(OptionsDialogTest, ShowsTheDefaultSettings) {
  openOptions([](OptionsDialog* f) {
    EXPECT_EQ(f->windowTitle(), QStringLiteral(u"Опции"));
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxPort")->currentText(), QStringLiteral("COM2"));
    EXPECT_EQ(control<SpinEdit>(f, "SpinEditPediodWiev")->value(), 10);
    EXPECT_EQ(control<SpinEdit>(f, "SpinEditNetAddr")->value(), 1);
    EXPECT_EQ(control<SpinEdit>(f, "SpinEditCiklMeasurement")->value(), 30);
    EXPECT_EQ(control<QSlider>(f, "TrackBarBetweenCalibration")->value(), 60);
    EXPECT_EQ(control<QLabel>(f, "LabelBetweenCalibration")->text(), QStringLiteral("60"));
    EXPECT_TRUE(control<QSlider>(f, "TrackBarBetweenCalibration")->isEnabled());
    EXPECT_EQ(control<QSlider>(f, "TrackBarCalibration")->value(), 3);
    EXPECT_EQ(control<QSlider>(f, "TrackBarDrain")->value(), 0);
    EXPECT_EQ(control<QSlider>(f, "TrackBarMeasurement")->value(), 3);
    EXPECT_EQ(control<QLabel>(f, "LabelCalibration")->text(), QStringLiteral("3"));
    EXPECT_EQ(control<QLabel>(f, "LabelDrain")->text(), QStringLiteral("0"));
    EXPECT_EQ(control<QLabel>(f, "LabelMeasurement")->text(), QStringLiteral("3"));
    EXPECT_FALSE(control<QSlider>(f, "TrackBarCalibration")->isEnabled());
    EXPECT_FALSE(control<QSlider>(f, "TrackBarDrain")->isEnabled());
    EXPECT_FALSE(control<QSlider>(f, "TrackBarMeasurement")->isEnabled());
    EXPECT_EQ(control<QPushButton>(f, "ButtonApply")->text(), QStringLiteral(u"Применить"));
    EXPECT_EQ(control<QPushButton>(f, "ButtonCancel")->text(), QStringLiteral(u"Отмена"));
    control<QPushButton>(f, "ButtonCancel")->click();
  });
}

TEST_F(OptionsDialogTest, ControlsHaveTheirRangesAndTheListStartsWithTheEightComPorts) {
  OptionsDialog* f = find<OptionsDialog>("FormControl");
  EXPECT_EQ(control<SpinEdit>(f, "SpinEditPediodWiev")->minimum(), 1);
  EXPECT_EQ(control<SpinEdit>(f, "SpinEditPediodWiev")->maximum(), 60);
  EXPECT_EQ(control<SpinEdit>(f, "SpinEditPediodWiev")->maxTyped(), 2);
  EXPECT_EQ(control<SpinEdit>(f, "SpinEditNetAddr")->minimum(), 1);
  EXPECT_EQ(control<SpinEdit>(f, "SpinEditNetAddr")->maximum(), 247);
  EXPECT_EQ(control<SpinEdit>(f, "SpinEditNetAddr")->maxTyped(), 2);
  EXPECT_EQ(control<SpinEdit>(f, "SpinEditCiklMeasurement")->minimum(), 20);
  EXPECT_EQ(control<SpinEdit>(f, "SpinEditCiklMeasurement")->maximum(), 999);
  EXPECT_EQ(control<SpinEdit>(f, "SpinEditCiklMeasurement")->maxTyped(), 3);
  EXPECT_EQ(control<QSlider>(f, "TrackBarBetweenCalibration")->minimum(), 10);
  EXPECT_EQ(control<QSlider>(f, "TrackBarBetweenCalibration")->maximum(), 120);
  EXPECT_EQ(control<QSlider>(f, "TrackBarBetweenCalibration")->tickInterval(), 10);
  EXPECT_EQ(control<QSlider>(f, "TrackBarCalibration")->minimum(), 3);
  EXPECT_EQ(control<QSlider>(f, "TrackBarCalibration")->maximum(), 10);
  EXPECT_EQ(control<QSlider>(f, "TrackBarDrain")->minimum(), 0);
  EXPECT_EQ(control<QSlider>(f, "TrackBarDrain")->maximum(), 10);
  EXPECT_EQ(control<QSlider>(f, "TrackBarMeasurement")->minimum(), 3);
  EXPECT_EQ(control<QSlider>(f, "TrackBarMeasurement")->maximum(), 10);

  QStringList ports = OptionsDialog::portList();
  ASSERT_GE(ports.size(), 8);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ports[i], QStringLiteral("COM%1").arg(i + 1));
  EXPECT_EQ(ports.last(), QStringLiteral("tcp://192.168.0.10:4001"));
  EXPECT_EQ(ports.removeDuplicates(), 0);
}

TEST_F(OptionsDialogTest, ApplyTakesTheValuesOverSavesBothFilesAndReopensThePort) {
  const int opensBefore = serial_.openCount;
  openOptions([](OptionsDialog* f) {
    control<QComboBox>(f, "ComboBoxPort")->setEditText(QStringLiteral("COM12"));
    control<SpinEdit>(f, "SpinEditPediodWiev")->setValue(5);
    control<SpinEdit>(f, "SpinEditNetAddr")->setValue(12);
    control<SpinEdit>(f, "SpinEditCiklMeasurement")->setValue(45);
    control<QSlider>(f, "TrackBarBetweenCalibration")->setValue(90);
    EXPECT_EQ(control<QLabel>(f, "LabelBetweenCalibration")->text(), QStringLiteral("90"));
    control<QPushButton>(f, "ButtonApply")->click();
  });

  EXPECT_EQ(shortStringText(programRecord().portName), QStringLiteral("COM12"));
  EXPECT_EQ(+programRecord().refreshPeriod, 5);
  EXPECT_EQ(+programRecord().netAddress, 12);
  EXPECT_EQ(+deviceRecord().deviceAddress, 12);
  EXPECT_EQ(+deviceRecord().cyclePeriod[0], 45);
  EXPECT_EQ(+deviceRecord().calibrationInterval[0], 90);
  EXPECT_EQ(+deviceRecord().calibrationTime[0], 3);
  EXPECT_EQ(+deviceRecord().drainTime[0], 0);
  EXPECT_EQ(+deviceRecord().measurementTime[0], 3);

  const QByteArray settings = fileBytes(settingsPath_);
  ASSERT_EQ(settings.size(), 237);
  EXPECT_EQ(settings.at(0), 5);
  EXPECT_EQ(settings.mid(1, 5), QByteArray("COM12"));
  EXPECT_EQ(uint8_t(settings.at(62)), 12);
  EXPECT_EQ(valueAt<int32_t>(settings, 63), 5);
  const QByteArray device = fileBytes(devicePath_);
  ASSERT_EQ(device.size(), 239);
  EXPECT_EQ(uint8_t(device.at(0)), 12);
  EXPECT_EQ(valueAt<int32_t>(device, 34), 90);
  EXPECT_EQ(valueAt<int32_t>(device, 66), 45);

  // One new port, on the typed name, serviced again.
  EXPECT_EQ(serial_.openCount, opensBefore + 1);
  EXPECT_EQ(serial_.opened.last(), QStringLiteral("COM12"));
  EXPECT_TRUE(pollTimer()->isEnabled());
  EXPECT_TRUE(session().link().isOpen());
  // The next request goes to the new address.
  tick();
  ASSERT_FALSE(serial_.lastWrite().empty());
  EXPECT_EQ(serial_.lastWrite()[0], 12);
}

TEST_F(OptionsDialogTest, CancelAfterMovingTheBarChangesAndSavesNothing) {
  const QByteArray settingsBefore = fileBytes(settingsPath_);
  const QByteArray deviceBefore = fileBytes(devicePath_);
  const QDateTime settingsTime = fileTime(settingsPath_);
  const QDateTime deviceTime = fileTime(devicePath_);
  const int opensBefore = serial_.openCount;

  openOptions([](OptionsDialog* f) {
    control<QSlider>(f, "TrackBarBetweenCalibration")->setValue(110);
    control<QComboBox>(f, "ComboBoxPort")->setEditText(QStringLiteral("COM5"));
    control<SpinEdit>(f, "SpinEditNetAddr")->setValue(99);
    control<QPushButton>(f, "ButtonCancel")->click();
  });

  EXPECT_EQ(+deviceRecord().calibrationInterval[0], 60);
  EXPECT_EQ(+programRecord().netAddress, 1);
  EXPECT_EQ(shortStringText(programRecord().portName), QStringLiteral("COM2"));
  EXPECT_EQ(serial_.openCount, opensBefore);
  EXPECT_EQ(fileBytes(settingsPath_), settingsBefore);
  EXPECT_EQ(fileBytes(devicePath_), deviceBefore);
  EXPECT_EQ(fileTime(settingsPath_), settingsTime);
  EXPECT_EQ(fileTime(devicePath_), deviceTime);

  // The next opening shows the stored value again.
  openOptions([](OptionsDialog* f) {
    EXPECT_EQ(control<QSlider>(f, "TrackBarBetweenCalibration")->value(), 60);
    EXPECT_EQ(control<QLabel>(f, "LabelBetweenCalibration")->text(), QStringLiteral("60"));
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxPort")->currentText(), QStringLiteral("COM2"));
    control<QPushButton>(f, "ButtonCancel")->click();
  });
}

TEST_F(OptionsDialogTest, ApplyWithoutChangesStillReopensThePortAndRewritesBothFiles) {
  QFile::remove(settingsPath_);
  QFile::remove(devicePath_);
  const int opensBefore = serial_.openCount;
  openOptions([](OptionsDialog* f) { control<QPushButton>(f, "ButtonApply")->click(); });
  EXPECT_EQ(serial_.openCount, opensBefore + 1);
  EXPECT_EQ(serial_.opened.last(), QStringLiteral("/dev/ttyS1"));
  EXPECT_EQ(fileBytes(settingsPath_).size(), 237);
  EXPECT_EQ(fileBytes(devicePath_).size(), 239);
  EXPECT_TRUE(takeMessages().empty());
}

TEST_F(OptionsDialogTest, LabelsShowStoredValuesThatTheBarsHadToClamp) {
  changeMeasuring([](MeasuringSettings& m) {
    m.times.zeroSetting = 20;
    m.times.drain = 15;
    m.times.measuring = 1;
    m.times.continuousPeriod = 200;
  });
  openOptions([](OptionsDialog* f) {
    EXPECT_EQ(control<QSlider>(f, "TrackBarCalibration")->value(), 10);
    EXPECT_EQ(control<QSlider>(f, "TrackBarDrain")->value(), 10);
    EXPECT_EQ(control<QSlider>(f, "TrackBarMeasurement")->value(), 3);
    EXPECT_EQ(control<QSlider>(f, "TrackBarBetweenCalibration")->value(), 120);
    EXPECT_EQ(control<QLabel>(f, "LabelCalibration")->text(), QStringLiteral("20"));
    EXPECT_EQ(control<QLabel>(f, "LabelDrain")->text(), QStringLiteral("15"));
    EXPECT_EQ(control<QLabel>(f, "LabelMeasurement")->text(), QStringLiteral("1"));
    EXPECT_EQ(control<QLabel>(f, "LabelBetweenCalibration")->text(), QStringLiteral("200"));
    // Moving a bar shows its position.
    control<QSlider>(f, "TrackBarBetweenCalibration")->setValue(70);
    EXPECT_EQ(control<QLabel>(f, "LabelBetweenCalibration")->text(), QStringLiteral("70"));
    control<QPushButton>(f, "ButtonCancel")->click();
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
    openOptions([&c](OptionsDialog* f) {
      // Text as it stands in the fields when Enter confirms before they are left.
      control<SpinEdit>(f, "SpinEditPediodWiev")->editor()->setText(c.refresh);
      control<SpinEdit>(f, "SpinEditNetAddr")->editor()->setText(c.address);
      control<SpinEdit>(f, "SpinEditCiklMeasurement")->editor()->setText(c.cyclic);
      control<QPushButton>(f, "ButtonApply")->click();
    });
    EXPECT_EQ(+programRecord().refreshPeriod, c.wantRefresh) << c.refresh.toStdString();
    EXPECT_EQ(+programRecord().netAddress, c.wantAddress) << c.address.toStdString();
    EXPECT_EQ(+deviceRecord().deviceAddress, c.wantAddress);
    EXPECT_EQ(+deviceRecord().cyclePeriod[0], c.wantCyclic) << c.cyclic.toStdString();
  }
}

TEST_F(OptionsDialogTest, SpinEditsTakeOnlyNumberCharactersUpToTheirLimit) {
  openOptions([](OptionsDialog* f) {
    SpinEdit* address = control<SpinEdit>(f, "SpinEditNetAddr");
    address->setFocus();
    address->editor()->selectAll();
    typeText(address, QStringLiteral("1a2b3"));
    EXPECT_EQ(address->editor()->text(), QStringLiteral("12"));
    // Above 99 only with the arrows.
    address->setValue(99);
    key(address, Qt::Key_Up);
    EXPECT_EQ(address->editor()->text(), QStringLiteral("100"));
    EXPECT_EQ(address->typedValue(), 100);

    SpinEdit* cyclic = control<SpinEdit>(f, "SpinEditCiklMeasurement");
    cyclic->editor()->selectAll();
    typeText(cyclic, QStringLiteral("1234"));
    EXPECT_EQ(cyclic->editor()->text(), QStringLiteral("123"));
    control<QPushButton>(f, "ButtonApply")->click();
  });
  EXPECT_EQ(+programRecord().netAddress, 100);
  EXPECT_EQ(+deviceRecord().cyclePeriod[0], 123);
}

TEST_F(OptionsDialogTest, APortNameTooLongIsCutToThirtyCharacters) {
  const QString longName = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART-if00");
  openOptions([&](OptionsDialog* f) {
    control<QComboBox>(f, "ComboBoxPort")->setEditText(longName);
    control<QPushButton>(f, "ButtonApply")->click();
  });
  EXPECT_EQ(shortStringText(programRecord().portName), longName.left(30));
  EXPECT_EQ(serial_.opened.last(), longName.left(30));
}

TEST_F(OptionsDialogTest, APortNameWithoutAWindows1251FormIsRefusedAndTheDialogStaysOpen) {
  const QByteArray settingsBefore = fileBytes(settingsPath_);
  const int opensBefore = serial_.openCount;
  int result = -1;
  openOptions([&](OptionsDialog* f) {
    control<SpinEdit>(f, "SpinEditNetAddr")->setValue(7);
    control<QComboBox>(f, "ComboBoxPort")->setEditText(QStringLiteral(u"COM\u2460"));
    control<QPushButton>(f, "ButtonApply")->click();
    EXPECT_TRUE(f->isVisible());
    const auto messages = takeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, QStringLiteral("Error"));
    EXPECT_TRUE(messages[0].text.contains(QStringLiteral(u"COM\u2460")));
    control<QPushButton>(f, "ButtonCancel")->click();
    result = f->result();
  });
  EXPECT_EQ(result, int(QDialog::Rejected));
  EXPECT_EQ(shortStringText(programRecord().portName), QStringLiteral("COM2"));
  EXPECT_EQ(+programRecord().netAddress, 1);
  EXPECT_EQ(serial_.openCount, opensBefore);
  EXPECT_EQ(fileBytes(settingsPath_), settingsBefore);

  // Cyrillic has a Windows-1251 form and is stored as typed.
  openOptions([](OptionsDialog* f) {
    control<QComboBox>(f, "ComboBoxPort")->setEditText(QStringLiteral(u"ПОРТ1"));
    control<QPushButton>(f, "ButtonApply")->click();
  });
  EXPECT_EQ(shortStringText(programRecord().portName), QStringLiteral(u"ПОРТ1"));
  EXPECT_EQ(fileBytes(settingsPath_).mid(1, 5), QByteArray("\xCF\xCE\xD0\xD2\x31"));
}

TEST_F(OptionsDialogTest, EnterConfirmsAndEscapeCancels) {
  openOptions([](OptionsDialog* f) {
    control<SpinEdit>(f, "SpinEditNetAddr")->setValue(33);
    control<QComboBox>(f, "ComboBoxPort")->setFocus();
    key(control<QComboBox>(f, "ComboBoxPort"), Qt::Key_Escape);
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(+programRecord().netAddress, 1);

  openOptions([](OptionsDialog* f) {
    control<SpinEdit>(f, "SpinEditNetAddr")->setValue(33);
    control<QComboBox>(f, "ComboBoxPort")->setFocus();
    key(control<QComboBox>(f, "ComboBoxPort"), Qt::Key_Return);
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(+programRecord().netAddress, 33);

  // Enter in a spin edit confirms the text as typed, brought into range.
  openOptions([](OptionsDialog* f) {
    SpinEdit* refresh = control<SpinEdit>(f, "SpinEditPediodWiev");
    refresh->setFocus();
    refresh->editor()->selectAll();
    typeText(refresh, QStringLiteral("75"));
    key(refresh, Qt::Key_Return);
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(+programRecord().refreshPeriod, 60);
}

TEST_F(OptionsDialogTest, ThePollCycleKeepsRunningWhileTheDialogIsOpen) {
  openOptions([this](OptionsDialog* f) {
    EXPECT_TRUE(pollTimer()->isEnabled());
    EXPECT_TRUE(session().link().isOpen());
    const size_t written = serial_.writes.size();
    tick();
    EXPECT_GT(serial_.writes.size(), written);
    control<QPushButton>(f, "ButtonCancel")->click();
  });
}

}  // namespace

namespace {

TEST_F(OptionsDialogTest, ADeviceServersAddressShowsWholeInThePortField) {
  openOptions([](OptionsDialog* f) {
    auto* port = control<QComboBox>(f, "ComboBoxPort");
    for (const QString& name : {QStringLiteral("tcp://127.0.0.1:39904"), QStringLiteral("tcp://255.255.255.255:65535")}) {
      port->setEditText(name);
      port->lineEdit()->setCursorPosition(name.size());  // as after typing it
      QApplication::processEvents();
      QLineEdit* line = port->lineEdit();
      EXPECT_GE(line->contentsRect().width() - line->textMargins().left() - line->textMargins().right(),
                line->fontMetrics().horizontalAdvance(name) + 2)
          << name.toStdString();
    }
    // The frame beside it keeps the times readable.
    EXPECT_GE(control<QSlider>(f, "TrackBarBetweenCalibration")->width(), 60);
    control<QPushButton>(f, "ButtonCancel")->click();
  });
}

}  // namespace
