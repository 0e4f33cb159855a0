#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>

#include "app/Korvex_ModbusRTU_MainChat.h"
#include "dialogs/Korvex_ModbusRTU_SetParam.h"
#include "dialogs/dialog_controls.h"
#include "storage/settings_files.h"
#include "support/korvex_fixture.h"
#include "view/trend_chart.h"
#include "dialog_test_support.h"

using namespace dialog_test;

namespace {

constexpr int kChannelViewOffset = 129;
constexpr int kSeriesColorOffset = 81;

class ViewDialogTest : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    StartWithDefaults();
    settingsPath_ = InDir(QStringLiteral("korvex.ini"));
    devicePath_ = InDir(QStringLiteral("Device-001.ini"));
  }

  void OpenView(const std::function<void(TFormSetView*)>& use) {
    modal_ = dialog_test::Working<TFormSetView>(use);
    Form1->N5Click();
  }

  QString settingsPath_;
  QString devicePath_;
};

TEST_F(ViewDialogTest, ShowsTheDefaultSettings) {
  OpenView([](TFormSetView* f) {
    EXPECT_EQ(f->windowTitle(), QStringLiteral(u"Параметры просмотра"));
    const bool shown[kChannelCount] = {true, true, true, true, false, false, false, false, false, false, true, false};
    const char* factors[kChannelCount] = {"1", "10", "1", "1", "10", "1", "1", "1", "1", "1", "100", "1"};
    const uint32_t colors[kChannelCount] = {0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF, 0x000000, 0x000080,
                                            0x008080, 0x00FF00, 0xC0C0C0, 0x808000, 0xFF0000, 0x800080};
    const char* names[kChannelCount] = {"Red",    "Aqua", "Yellow", "Fuchsia", "Black", "Maroon",
                                        "Olive",  "Lime", "Silver", "Teal",    "Blue",  "Purple"};
    for (int i = 0; i < kChannelCount; ++i) {
      EXPECT_EQ(f->CheckBoxes[i]->isChecked(), shown[i]) << i;
      EXPECT_EQ(f->ComboBoxes[i]->currentText(), QString::fromLatin1(factors[i])) << i;
      EXPECT_EQ(f->ColorBoxes[i]->Selected(), colors[i]) << i;
      EXPECT_EQ(f->ColorBoxes[i]->currentText(), QString::fromLatin1(names[i])) << i;
    }
    EXPECT_TRUE(f->CheckBoxLogarifm->isChecked());
    EXPECT_TRUE(f->CheckBox3D->isChecked());
    EXPECT_EQ(f->ColorBoxChartStart->Selected(), 0xFFFFFFu);
    EXPECT_EQ(f->ColorBoxChartStart->currentText(), QStringLiteral("White"));
    EXPECT_EQ(f->ColorBoxChartEnd->Selected(), 0xF0CAA6u);
    EXPECT_EQ(f->ColorBoxChartEnd->currentText(), QStringLiteral("Sky Blue"));
    f->ButtonCancel->click();
  });
}

TEST_F(ViewDialogTest, ListsOfferTheFactorsAndTheStandardColours) {
  OpenView([](TFormSetView* f) {
    const QStringList factors = {QStringLiteral("0,1"), QStringLiteral("1"), QStringLiteral("10"),
                                 QStringLiteral("100"), QStringLiteral("1000")};
    QStringList items;
    for (int i = 0; i < f->ComboBoxCO->count(); ++i) items << f->ComboBoxCO->itemText(i);
    EXPECT_EQ(items, factors);
    EXPECT_TRUE(f->ComboBoxCO->isEditable());

    const QStringList standard = {"Black", "Maroon", "Green", "Olive",  "Navy", "Purple", "Teal",    "Gray",
                                  "Silver", "Red",   "Lime",  "Yellow", "Blue", "Fuchsia", "Aqua", "White"};
    QStringList colours;
    for (int i = 0; i < f->ColorBoxChartTa->count(); ++i) colours << f->ColorBoxChartTa->itemText(i);
    EXPECT_EQ(colours, standard);
    EXPECT_FALSE(f->ColorBoxChartTa->itemIcon(0).isNull());

    QStringList panel;
    for (int i = 0; i < f->ColorBoxChartEnd->count(); ++i) panel << f->ColorBoxChartEnd->itemText(i);
    const QStringList extended = {"Money Green", "Sky Blue", "Cream", "Medium Gray"};
    EXPECT_EQ(panel, standard + extended);
    EXPECT_EQ(f->ColorBoxChartEnd->itemData(16).toUInt(), 0xC0DCC0u);
    EXPECT_EQ(f->ColorBoxChartEnd->itemData(17).toUInt(), 0xF0CAA6u);
    EXPECT_EQ(f->ColorBoxChartEnd->itemData(18).toUInt(), 0xF0FBFFu);
    EXPECT_EQ(f->ColorBoxChartEnd->itemData(19).toUInt(), 0xA4A0A0u);
    // Colours are kept red in the low byte, as the settings store them.
    EXPECT_EQ(f->ColorBoxChartTa->itemData(f->ColorBoxChartTa->findText("Navy")).toUInt(), 0x800000u);
    f->ButtonCancel->click();
  });
}

TEST_F(ViewDialogTest, ApplyTakesTheValuesOverSavesAndRebuildsTheChart) {
  const QByteArray deviceBefore = FileBytes(devicePath_);
  OpenView([](TFormSetView* f) {
    f->CheckBoxNO2->setChecked(true);
    f->ComboBoxNO2->setEditText(QStringLiteral("2,5"));
    f->CheckBoxTG->setChecked(false);
    f->ComboBoxAlf->setCurrentIndex(0);  // "0,1"
    f->ColorBoxChartCO->setCurrentIndex(f->ColorBoxChartCO->findText(QStringLiteral("Green")));
    f->ColorBoxChartNO->setCurrentIndex(f->ColorBoxChartNO->findText(QStringLiteral("Green")));
    f->ColorBoxChartEnd->setCurrentIndex(f->ColorBoxChartEnd->findText(QStringLiteral("Cream")));
    f->ColorBoxChartStart->setCurrentIndex(f->ColorBoxChartStart->findText(QStringLiteral("Money Green")));
    f->CheckBoxLogarifm->setChecked(false);
    f->CheckBox3D->setChecked(false);
    f->ButtonApply->click();
  });

  const TProgramSettings& p = ProgramSettings;
  EXPECT_EQ(p.ChannelView[4].Show, 1);
  EXPECT_DOUBLE_EQ(p.ChannelView[4].Multiplier, 2.5);
  EXPECT_EQ(p.ChannelView[0].Show, 0);
  EXPECT_DOUBLE_EQ(p.ChannelView[10].Multiplier, 0.1);
  EXPECT_EQ(+p.SeriesColor[2], 0x008000u);
  EXPECT_EQ(+p.SeriesColor[3], 0x008000u);  // one colour for two channels is fine
  EXPECT_EQ(+p.ChartColorEnd, 0xF0FBFFu);
  EXPECT_EQ(+p.ChartColorStart, 0xC0DCC0u);
  EXPECT_EQ(p.LogScale, 0);
  EXPECT_EQ(p.View3D, 0);

  const QByteArray settings = FileBytes(settingsPath_);
  ASSERT_EQ(settings.size(), 237);
  EXPECT_EQ(settings.at(71), 0);
  EXPECT_EQ(settings.at(72), 0);
  EXPECT_EQ(ValueAt<uint32_t>(settings, 73), 0xC0DCC0u);
  EXPECT_EQ(ValueAt<uint32_t>(settings, 77), 0xF0FBFFu);
  EXPECT_EQ(ValueAt<uint32_t>(settings, kSeriesColorOffset + 2 * 4), 0x008000u);
  EXPECT_EQ(settings.at(kChannelViewOffset + 4 * 9), 1);
  EXPECT_DOUBLE_EQ(ValueAt<double>(settings, kChannelViewOffset + 4 * 9 + 1), 2.5);
  EXPECT_EQ(settings.at(kChannelViewOffset), 0);
  // The device file is written whole too, from the record in memory.
  EXPECT_EQ(FileBytes(devicePath_), QByteArray(reinterpret_cast<const char*>(&DeviceRecord), 239));
  EXPECT_NE(FileBytes(devicePath_), deviceBefore);  // it now holds the run's state

  TrendChart* chart = Form1->Chart1;
  EXPECT_TRUE(chart->Shown(4));
  EXPECT_FALSE(chart->Shown(0));
  EXPECT_DOUBLE_EQ(chart->Factor(4), 2.5);
  EXPECT_DOUBLE_EQ(chart->Factor(10), 0.1);
  EXPECT_FALSE(chart->Is3D());
  EXPECT_EQ(chart->SeriesCO->pen().color(), QColor(0, 0x80, 0));
  EXPECT_EQ(chart->yAxis->scaleType(), QCPAxis::stLinear);
}

TEST_F(ViewDialogTest, ATypedFactorMultipliesThePlottedValues) {
  OpenView([](TFormSetView* f) {
    f->ComboBoxCO->setFocus();
    f->ComboBoxCO->lineEdit()->selectAll();
    Type(f->ComboBoxCO, QStringLiteral("2,5"));
    EXPECT_EQ(f->ComboBoxCO->currentText(), QStringLiteral("2,5"));
    f->ButtonApply->click();
  });
  TrendChart* chart = Form1->Chart1;
  chart->AppendValue(2, 40);
  QCPRange drawn;
  ASSERT_TRUE(chart->SeriesCO->DrawnRange(false, &drawn));
  EXPECT_DOUBLE_EQ(drawn.upper, 100.0);
  EXPECT_DOUBLE_EQ(chart->StoredValue(2, 0), 40.0);
}

TEST_F(ViewDialogTest, CancelLeavesChartAndFilesAsTheyWere) {
  const QByteArray settingsBefore = FileBytes(settingsPath_);
  const QDateTime settingsTime = FileTime(settingsPath_);
  const QDateTime deviceTime = FileTime(devicePath_);
  const TProgramSettings before = ProgramSettings;
  OpenView([](TFormSetView* f) {
    f->ComboBoxTg->setEditText(QStringLiteral("1000"));
    f->CheckBoxTG->setChecked(false);
    f->CheckBox3D->setChecked(false);
    f->ButtonCancel->click();
  });
  EXPECT_EQ(std::memcmp(&before, &ProgramSettings, sizeof before), 0);
  EXPECT_EQ(FileBytes(settingsPath_), settingsBefore);
  EXPECT_EQ(FileTime(settingsPath_), settingsTime);
  EXPECT_EQ(FileTime(devicePath_), deviceTime);
  EXPECT_DOUBLE_EQ(Form1->Chart1->Factor(0), 1.0);
  EXPECT_TRUE(Form1->Chart1->Shown(0));
  EXPECT_TRUE(Form1->Chart1->Is3D());
}

TEST_F(ViewDialogTest, AFactorThatIsNoNumberChangesNothingAndKeepsTheDialogOpen) {
  const QByteArray settingsBefore = FileBytes(settingsPath_);
  const QDateTime settingsTime = FileTime(settingsPath_);
  const TProgramSettings before = ProgramSettings;
  int result = -1;
  OpenView([&](TFormSetView* f) {
    // Channels before the faulty one are changed too; none of it may be kept.
    f->CheckBoxTG->setChecked(false);
    f->ComboBoxO2->setEditText(QStringLiteral("5"));
    f->ComboBoxCO2->setEditText(QStringLiteral("2.5"));  // the other separator
    f->ButtonApply->click();
    EXPECT_TRUE(f->isVisible());
    auto messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, QStringLiteral("Error"));
    EXPECT_EQ(messages[0].text, QStringLiteral("'2.5' is not a valid floating point value"));
    EXPECT_EQ(std::memcmp(&before, &ProgramSettings, sizeof before), 0);
    EXPECT_EQ(FileTime(settingsPath_), settingsTime);

    f->ComboBoxCO2->setEditText(QString());
    f->ButtonApply->click();
    messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("'' is not a valid floating point value"));
    f->ButtonCancel->click();
    result = f->result();
  });
  EXPECT_EQ(result, int(QDialog::Rejected));
  EXPECT_EQ(std::memcmp(&before, &ProgramSettings, sizeof before), 0);
  EXPECT_EQ(FileBytes(settingsPath_), settingsBefore);
  EXPECT_DOUBLE_EQ(Form1->Chart1->Factor(1), 10.0);
  EXPECT_TRUE(Form1->Chart1->Shown(0));

  // Corrected, the same dialog takes everything over.
  OpenView([](TFormSetView* f) {
    f->CheckBoxTG->setChecked(false);
    f->ComboBoxCO2->setEditText(QStringLiteral("2,5"));
    f->ButtonApply->click();
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_EQ(+ProgramSettings.ChannelView[0].Show, 0);
  EXPECT_DOUBLE_EQ(+ProgramSettings.ChannelView[7].Multiplier, 2.5);
}

TEST_F(ViewDialogTest, AStoredColourOutsideTheListSurvivesTheDialog) {
  ProgramSettings.SeriesColor[5] = 0x123456;
  ProgramSettings.ChartColorEnd = 0x00ABCDEF;
  OpenView([](TFormSetView* f) {
    EXPECT_EQ(f->ColorBoxChartSO2->Selected(), 0x123456u);
    EXPECT_EQ(f->ColorBoxChartSO2->currentText(), QStringLiteral("$00123456"));
    EXPECT_EQ(f->ColorBoxChartEnd->currentText(), QStringLiteral("$00ABCDEF"));
    f->ButtonApply->click();
  });
  EXPECT_EQ(+ProgramSettings.SeriesColor[5], 0x123456u);
  EXPECT_EQ(+ProgramSettings.ChartColorEnd, 0xABCDEFu);
  // Reopened with a standard colour, the box drops back to its list.
  ProgramSettings.SeriesColor[5] = 0x000080;
  OpenView([](TFormSetView* f) {
    EXPECT_EQ(f->ColorBoxChartSO2->currentText(), QStringLiteral("Maroon"));
    f->ButtonCancel->click();
  });
}

TEST_F(ViewDialogTest, FactorsFollowTheLocalesDecimalSeparator) {
  seams::SetLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  ProgramSettings.ChannelView[3].Multiplier = 0.25;
  OpenView([](TFormSetView* f) {
    EXPECT_EQ(f->ComboBoxNO->itemText(0), QStringLiteral("0.1"));
    EXPECT_EQ(f->ComboBoxNO->currentText(), QStringLiteral("0.25"));
    f->ComboBoxSO2->setCurrentIndex(0);
    f->ButtonApply->click();
  });
  EXPECT_DOUBLE_EQ(+ProgramSettings.ChannelView[5].Multiplier, 0.1);
  EXPECT_DOUBLE_EQ(+ProgramSettings.ChannelView[3].Multiplier, 0.25);
}

TEST_F(ViewDialogTest, EnterInAFactorConfirms) {
  OpenView([](TFormSetView* f) {
    f->ComboBoxQa->setFocus();
    f->ComboBoxQa->lineEdit()->selectAll();
    Type(f->ComboBoxQa, QStringLiteral("3"));
    Key(f->ComboBoxQa, Qt::Key_Return);
    EXPECT_FALSE(f->isVisible());
  });
  EXPECT_DOUBLE_EQ(+ProgramSettings.ChannelView[9].Multiplier, 3.0);
}

}  // namespace
