#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>

#include "dialogs/view_dialog.h"
#include "dialogs/dialog_controls.h"
#include "storage/settings_files.h"
#include "support/korvex_fixture.h"
#include "view/trend_chart.h"
#include "dialog_test_support.h"

using namespace dialog_test;

namespace {

// The three controls of a channel's row.
QCheckBox* showBox(const QObject* f, int ch) {
  static const char* const names[kChannelCount] = {"CheckBoxTG",  "CheckBoxO2",  "CheckBoxCO",  "CheckBoxNO",
                                                   "CheckBoxNO2", "CheckBoxSO2", "CheckBoxH2S", "CheckBoxCO2",
                                                   "CheckBoxNOx", "CheckBoxQA",  "CheckBoxAlf", "CheckBoxTa"};
  return control<QCheckBox>(f, names[ch]);
}
QComboBox* factorBox(const QObject* f, int ch) {
  return control<QComboBox>(f, (QByteArray("ComboBox") + channel::kNames[ch]).constData());
}
ColorBox* colorBox(const QObject* f, int ch) {
  return control<ColorBox>(f, (QByteArray("ColorBoxChart") + channel::kNames[ch]).constData());
}

constexpr int kChannelViewOffset = 129;
constexpr int kSeriesColorOffset = 81;

class ViewDialogTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    startWithDefaults();
    settingsPath_ = inDir(QStringLiteral("korvex.ini"));
    devicePath_ = inDir(QStringLiteral("Device-001.ini"));
  }

  void openView(const std::function<void(ViewDialog*)>& use) {
    modal_ = dialog_test::working<ViewDialog>(use);
    window().onViewParametersTriggered();
  }

  QString settingsPath_;
  QString devicePath_;
};

TEST_F(ViewDialogTest, ShowsTheDefaultSettings) {
  openView([](ViewDialog* f) {
    EXPECT_EQ(f->windowTitle(), QStringLiteral(u"Параметры просмотра"));
    const bool shown[kChannelCount] = {true, true, true, true, false, false, false, false, false, false, true, false};
    const char* factors[kChannelCount] = {"1", "10", "1", "1", "10", "1", "1", "1", "1", "1", "100", "1"};
    const uint32_t colors[kChannelCount] = {0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF, 0x000000, 0x000080,
                                            0x008080, 0x00FF00, 0xC0C0C0, 0x808000, 0xFF0000, 0x800080};
    const char* names[kChannelCount] = {"Red",    "Aqua", "Yellow", "Fuchsia", "Black", "Maroon",
                                        "Olive",  "Lime", "Silver", "Teal",    "Blue",  "Purple"};
    for (int i = 0; i < kChannelCount; ++i) {
      EXPECT_EQ(showBox(f, i)->isChecked(), shown[i]) << i;
      EXPECT_EQ(factorBox(f, i)->currentText(), QString::fromLatin1(factors[i])) << i;
      EXPECT_EQ(colorBox(f, i)->selectedColor(), colors[i]) << i;
      EXPECT_EQ(colorBox(f, i)->currentText(), QString::fromLatin1(names[i])) << i;
    }
    EXPECT_TRUE(control<QCheckBox>(f, "CheckBoxLogarifm")->isChecked());
    EXPECT_TRUE(control<QCheckBox>(f, "CheckBox3D")->isChecked());
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartStart")->selectedColor(), 0xFFFFFFu);
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartStart")->currentText(), QStringLiteral("White"));
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartEnd")->selectedColor(), 0xF0CAA6u);
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartEnd")->currentText(), QStringLiteral("Sky Blue"));
    control<QPushButton>(f, "ButtonCancel")->click();
  });
}

TEST_F(ViewDialogTest, ListsOfferTheFactorsAndTheStandardColours) {
  openView([](ViewDialog* f) {
    const QStringList factors = {QStringLiteral("0,1"), QStringLiteral("1"), QStringLiteral("10"),
                                 QStringLiteral("100"), QStringLiteral("1000")};
    QStringList items;
    for (int i = 0; i < control<QComboBox>(f, "ComboBoxCO")->count(); ++i) items << control<QComboBox>(f, "ComboBoxCO")->itemText(i);
    EXPECT_EQ(items, factors);
    EXPECT_TRUE(control<QComboBox>(f, "ComboBoxCO")->isEditable());

    const QStringList standard = {"Black", "Maroon", "Green", "Olive",  "Navy", "Purple", "Teal",    "Gray",
                                  "Silver", "Red",   "Lime",  "Yellow", "Blue", "Fuchsia", "Aqua", "White"};
    QStringList colours;
    for (int i = 0; i < control<ColorBox>(f, "ColorBoxChartTa")->count(); ++i) colours << control<ColorBox>(f, "ColorBoxChartTa")->itemText(i);
    EXPECT_EQ(colours, standard);
    EXPECT_FALSE(control<ColorBox>(f, "ColorBoxChartTa")->itemIcon(0).isNull());

    QStringList panel;
    for (int i = 0; i < control<ColorBox>(f, "ColorBoxChartEnd")->count(); ++i) panel << control<ColorBox>(f, "ColorBoxChartEnd")->itemText(i);
    const QStringList extended = {"Money Green", "Sky Blue", "Cream", "Medium Gray"};
    EXPECT_EQ(panel, standard + extended);
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartEnd")->itemData(16).toUInt(), 0xC0DCC0u);
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartEnd")->itemData(17).toUInt(), 0xF0CAA6u);
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartEnd")->itemData(18).toUInt(), 0xF0FBFFu);
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartEnd")->itemData(19).toUInt(), 0xA4A0A0u);
    // Colours are kept red in the low byte, as the settings store them.
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartTa")->itemData(control<ColorBox>(f, "ColorBoxChartTa")->findText("Navy")).toUInt(), 0x800000u);
    control<QPushButton>(f, "ButtonCancel")->click();
  });
}

TEST_F(ViewDialogTest, ApplyTakesTheValuesOverSavesAndRebuildsTheChart) {
  const QByteArray deviceBefore = fileBytes(devicePath_);
  openView([](ViewDialog* f) {
    control<QCheckBox>(f, "CheckBoxNO2")->setChecked(true);
    control<QComboBox>(f, "ComboBoxNO2")->setEditText(QStringLiteral("2,5"));
    control<QCheckBox>(f, "CheckBoxTG")->setChecked(false);
    control<QComboBox>(f, "ComboBoxAlf")->setCurrentIndex(0);  // "0,1"
    control<ColorBox>(f, "ColorBoxChartCO")->setCurrentIndex(control<ColorBox>(f, "ColorBoxChartCO")->findText(QStringLiteral("Green")));
    control<ColorBox>(f, "ColorBoxChartNO")->setCurrentIndex(control<ColorBox>(f, "ColorBoxChartNO")->findText(QStringLiteral("Green")));
    control<ColorBox>(f, "ColorBoxChartEnd")->setCurrentIndex(control<ColorBox>(f, "ColorBoxChartEnd")->findText(QStringLiteral("Cream")));
    control<ColorBox>(f, "ColorBoxChartStart")->setCurrentIndex(control<ColorBox>(f, "ColorBoxChartStart")->findText(QStringLiteral("Money Green")));
    control<QCheckBox>(f, "CheckBoxLogarifm")->setChecked(false);
    control<QCheckBox>(f, "CheckBox3D")->setChecked(false);
    control<QPushButton>(f, "ButtonApply")->click();
  });

  const ProgramSettings& p = programRecord();
  EXPECT_EQ(p.channelView[4].show, 1);
  EXPECT_DOUBLE_EQ(p.channelView[4].multiplier, 2.5);
  EXPECT_EQ(p.channelView[0].show, 0);
  EXPECT_DOUBLE_EQ(p.channelView[10].multiplier, 0.1);
  EXPECT_EQ(+p.seriesColor[2], 0x008000u);
  EXPECT_EQ(+p.seriesColor[3], 0x008000u);  // one colour for two channels is fine
  EXPECT_EQ(+p.chartColorEnd, 0xF0FBFFu);
  EXPECT_EQ(+p.chartColorStart, 0xC0DCC0u);
  EXPECT_EQ(p.logScale, 0);
  EXPECT_EQ(p.view3D, 0);

  const QByteArray settings = fileBytes(settingsPath_);
  ASSERT_EQ(settings.size(), 237);
  EXPECT_EQ(settings.at(71), 0);
  EXPECT_EQ(settings.at(72), 0);
  EXPECT_EQ(valueAt<uint32_t>(settings, 73), 0xC0DCC0u);
  EXPECT_EQ(valueAt<uint32_t>(settings, 77), 0xF0FBFFu);
  EXPECT_EQ(valueAt<uint32_t>(settings, kSeriesColorOffset + 2 * 4), 0x008000u);
  EXPECT_EQ(settings.at(kChannelViewOffset + 4 * 9), 1);
  EXPECT_DOUBLE_EQ(valueAt<double>(settings, kChannelViewOffset + 4 * 9 + 1), 2.5);
  EXPECT_EQ(settings.at(kChannelViewOffset), 0);
  // The device file is written whole too, from the record in memory.
  EXPECT_EQ(fileBytes(devicePath_), QByteArray(reinterpret_cast<const char*>(&deviceRecord()), 239));
  EXPECT_NE(fileBytes(devicePath_), deviceBefore);  // it now holds the run's state

  EXPECT_TRUE(chart()->isShown(4));
  EXPECT_FALSE(chart()->isShown(0));
  EXPECT_DOUBLE_EQ(chart()->factor(4), 2.5);
  EXPECT_DOUBLE_EQ(chart()->factor(10), 0.1);
  EXPECT_FALSE(chart()->is3D());
  EXPECT_EQ(chart()->series(channel::CO)->pen().color(), QColor(0, 0x80, 0));
  EXPECT_EQ(chart()->yAxis->scaleType(), QCPAxis::stLinear);
}

TEST_F(ViewDialogTest, ATypedFactorMultipliesThePlottedValues) {
  openView([](ViewDialog* f) {
    control<QComboBox>(f, "ComboBoxCO")->setFocus();
    control<QComboBox>(f, "ComboBoxCO")->lineEdit()->selectAll();
    typeText(control<QComboBox>(f, "ComboBoxCO"), QStringLiteral("2,5"));
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxCO")->currentText(), QStringLiteral("2,5"));
    control<QPushButton>(f, "ButtonApply")->click();
  });
  Measurement m;
  m[channel::CO] = 40;
  addResult(m);
  QCPRange drawn;
  ASSERT_TRUE(chart()->series(channel::CO)->drawnRange(false, &drawn));
  EXPECT_DOUBLE_EQ(drawn.upper, 100.0);
  EXPECT_DOUBLE_EQ(results().value(0, channel::CO), 40.0);
}

TEST_F(ViewDialogTest, CancelLeavesChartAndFilesAsTheyWere) {
  const QByteArray settingsBefore = fileBytes(settingsPath_);
  const QDateTime settingsTime = fileTime(settingsPath_);
  const QDateTime deviceTime = fileTime(devicePath_);
  const ProgramSettings before = programRecord();
  openView([](ViewDialog* f) {
    control<QComboBox>(f, "ComboBoxTg")->setEditText(QStringLiteral("1000"));
    control<QCheckBox>(f, "CheckBoxTG")->setChecked(false);
    control<QCheckBox>(f, "CheckBox3D")->setChecked(false);
    control<QPushButton>(f, "ButtonCancel")->click();
  });
  EXPECT_EQ(std::memcmp(&before, &programRecord(), sizeof before), 0);
  EXPECT_EQ(fileBytes(settingsPath_), settingsBefore);
  EXPECT_EQ(fileTime(settingsPath_), settingsTime);
  EXPECT_EQ(fileTime(devicePath_), deviceTime);
  EXPECT_DOUBLE_EQ(chart()->factor(0), 1.0);
  EXPECT_TRUE(chart()->isShown(0));
  EXPECT_TRUE(chart()->is3D());
}

TEST_F(ViewDialogTest, AFactorThatIsNoNumberChangesNothingAndKeepsTheDialogOpen) {
  const QByteArray settingsBefore = fileBytes(settingsPath_);
  const QDateTime settingsTime = fileTime(settingsPath_);
  const ProgramSettings before = programRecord();
  int result = -1;
  openView([&](ViewDialog* f) {
    // Channels before the faulty one are changed too; none of it may be kept.
    control<QCheckBox>(f, "CheckBoxTG")->setChecked(false);
    control<QComboBox>(f, "ComboBoxO2")->setEditText(QStringLiteral("5"));
    control<QComboBox>(f, "ComboBoxCO2")->setEditText(QStringLiteral("2.5"));  // the other separator
    control<QPushButton>(f, "ButtonApply")->click();
    EXPECT_TRUE(f->isVisible());
    auto messages = takeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, QStringLiteral("Error"));
    EXPECT_EQ(messages[0].text, QStringLiteral("'2.5' is not a valid floating point value"));
    EXPECT_EQ(std::memcmp(&before, &programRecord(), sizeof before), 0);
    EXPECT_EQ(fileTime(settingsPath_), settingsTime);

    control<QComboBox>(f, "ComboBoxCO2")->setEditText(QString());
    control<QPushButton>(f, "ButtonApply")->click();
    messages = takeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("'' is not a valid floating point value"));
    control<QPushButton>(f, "ButtonCancel")->click();
    result = f->result();
  });
  EXPECT_EQ(result, int(QDialog::Rejected));
  EXPECT_EQ(std::memcmp(&before, &programRecord(), sizeof before), 0);
  EXPECT_EQ(fileBytes(settingsPath_), settingsBefore);
  EXPECT_DOUBLE_EQ(chart()->factor(1), 10.0);
  EXPECT_TRUE(chart()->isShown(0));

  // Corrected, the same dialog takes everything over.
  openView([](ViewDialog* f) {
    control<QCheckBox>(f, "CheckBoxTG")->setChecked(false);
    control<QComboBox>(f, "ComboBoxCO2")->setEditText(QStringLiteral("2,5"));
    control<QPushButton>(f, "ButtonApply")->click();
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(+programRecord().channelView[0].show, 0);
  EXPECT_DOUBLE_EQ(+programRecord().channelView[7].multiplier, 2.5);
}

TEST_F(ViewDialogTest, AStoredColourOutsideTheListSurvivesTheDialog) {
  changeView([](ViewSettings& v) {
    v.channels[5].color = 0x123456;
    v.chartColorEnd = 0x00ABCDEF;
  });
  openView([](ViewDialog* f) {
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartSO2")->selectedColor(), 0x123456u);
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartSO2")->currentText(), QStringLiteral("$00123456"));
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartEnd")->currentText(), QStringLiteral("$00ABCDEF"));
    control<QPushButton>(f, "ButtonApply")->click();
  });
  EXPECT_EQ(+programRecord().seriesColor[5], 0x123456u);
  EXPECT_EQ(+programRecord().chartColorEnd, 0xABCDEFu);
  // Reopened with a standard colour, the box drops back to its list.
  changeView([](ViewSettings& v) { v.channels[5].color = 0x000080; });
  openView([](ViewDialog* f) {
    EXPECT_EQ(control<ColorBox>(f, "ColorBoxChartSO2")->currentText(), QStringLiteral("Maroon"));
    control<QPushButton>(f, "ButtonCancel")->click();
  });
}

TEST_F(ViewDialogTest, FactorsFollowTheLocalesDecimalSeparator) {
  seams::setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  changeView([](ViewSettings& v) { v.channels[3].factor = 0.25; });
  openView([](ViewDialog* f) {
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxNO")->itemText(0), QStringLiteral("0.1"));
    EXPECT_EQ(control<QComboBox>(f, "ComboBoxNO")->currentText(), QStringLiteral("0.25"));
    control<QComboBox>(f, "ComboBoxSO2")->setCurrentIndex(0);
    control<QPushButton>(f, "ButtonApply")->click();
  });
  EXPECT_DOUBLE_EQ(+programRecord().channelView[5].multiplier, 0.1);
  EXPECT_DOUBLE_EQ(+programRecord().channelView[3].multiplier, 0.25);
}

TEST_F(ViewDialogTest, EnterInAFactorConfirms) {
  openView([](ViewDialog* f) {
    control<QComboBox>(f, "ComboBoxQa")->setFocus();
    control<QComboBox>(f, "ComboBoxQa")->lineEdit()->selectAll();
    typeText(control<QComboBox>(f, "ComboBoxQa"), QStringLiteral("3"));
    key(control<QComboBox>(f, "ComboBoxQa"), Qt::Key_Return);
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_DOUBLE_EQ(+programRecord().channelView[9].multiplier, 3.0);
}

}  // namespace
