#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QTableView>
#include <QToolButton>

#include "support/test_files.h"
#include "app/Korvex_ModbusRTU_MainChat.h"
#include "app/message_timer.h"
#include "dialogs/Korvex_ModbusRTU_About.h"
#include "storage/settings_files.h"
#include "support/korvex_fixture.h"
#include "view/results_table.h"
#include "view/trend_chart.h"

namespace {

class MainWindowTest : public KorvexFixture {};

inline QByteArray FileBytes(const QString& path) { return test_files::ReadAll(path); }

TEST_F(MainWindowTest, FirstStartInAnEmptyDirectoryResetsAndWritesBothFiles) {
  StartProgram();
  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral("Error"));
  EXPECT_EQ(messages[0].text, QStringLiteral(u"Файл конфигурации отсутствует!\r\nСброс конфигурации!"));
  EXPECT_EQ(beeps_, 1);
  EXPECT_EQ(FileBytes(InDir(QStringLiteral("korvex.ini"))).size(), 237);
  EXPECT_EQ(FileBytes(InDir(QStringLiteral("Device-001.ini"))).size(), 239);
  EXPECT_EQ(ShortStringText(ProgramSettings.PortName), QStringLiteral("COM2"));
  // The default port, COM2, is the second serial device.
  ASSERT_FALSE(serial_.opened.isEmpty());
  EXPECT_EQ(serial_.opened.last(), QStringLiteral("/dev/ttyS1"));
  EXPECT_TRUE(Form1->Chart1->Shown(0));
  EXPECT_FALSE(Form1->Chart1->Shown(4));
}

TEST_F(MainWindowTest, OnlyTheProgramsIniFileIsRewrittenWithDefaultsToo) {
  WriteDefaultSettings(QStringLiteral("COM7"));
  QFile::remove(InDir(QStringLiteral("Device-001.ini")));
  StartProgram();
  ASSERT_EQ(TakeMessages().size(), 1u);
  EXPECT_EQ(ShortStringText(ProgramSettings.PortName), QStringLiteral("COM2"));
  EXPECT_EQ(FileBytes(InDir(QStringLiteral("korvex.ini"))).mid(1, 4), QByteArray("COM2"));
}

TEST_F(MainWindowTest, StartUpSetsThePollCycleFieldsWhateverWasStored) {
  WriteDefaultSettings();
  // A previous run left another fuel, state and address in the device file.
  SettingsLoad();
  DeviceRecord.FuelIndex = 7;
  DeviceRecord.WorkMode = 1;
  DeviceRecord.DeviceState = 2;
  DeviceRecord.Measurement.FaultBits = 0x55;
  ProgramSettings.NetAddress = 12;
  SettingsSave();

  StartProgram();
  EXPECT_TRUE(TakeMessages().empty());
  EXPECT_EQ(+DeviceRecord.FuelIndex, 0);
  EXPECT_EQ(+DeviceRecord.WorkMode, 5);
  EXPECT_EQ(+DeviceRecord.DeviceState, 8);
  EXPECT_EQ(+DeviceRecord.Measurement.FaultBits, 0);
  EXPECT_EQ(+DeviceRecord.DeviceAddress, 12);
  EXPECT_DOUBLE_EQ(+DeviceRecord.LogDate, seams::ToDateTime(Now()));
  EXPECT_TRUE(Form1->Timer1->Enabled());
  EXPECT_EQ(Form1->Timer1->Interval(), 1000);
  EXPECT_TRUE(Form1->Timer2->Enabled());
  EXPECT_EQ(Form1->Timer2->Interval(), 10);
  EXPECT_FALSE(Form1->DataNotSaved);
  EXPECT_FALSE(Form1->N8->isEnabled());
  // DTR and RTS are negated once the port is open.
  EXPECT_FALSE(serial_.dtr);
  EXPECT_FALSE(serial_.rts);
  EXPECT_EQ(serial_.settings.BaudRate, 9600);
  EXPECT_EQ(serial_.settings.StopBits, 2);
}

TEST_F(MainWindowTest, LayoutTextsAndInitialStates) {
  WriteDefaultSettings();
  TForm1* f = StartProgram();
  EXPECT_EQ(f->windowTitle(), QStringLiteral("ModbusRTU"));
  EXPECT_EQ(f->PanelIzm->text(), QStringLiteral(u"ИЗМЕРЕНИЕ"));
  EXPECT_EQ(f->Label1->text(), QStringLiteral(u"Циклически"));
  EXPECT_EQ(f->Label2->text(), QStringLiteral(u"Однократно"));
  EXPECT_EQ(f->Label3->text(), QStringLiteral(u"Постоянно"));
  EXPECT_EQ(f->Label4->text(), QStringLiteral(u"Стоп"));
  EXPECT_EQ(f->LabelMode->text(), QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН "));
  EXPECT_EQ(f->LabelMode->size(), QSize(128, 61));
  EXPECT_EQ(f->Panel1->width(), 133);
  EXPECT_EQ(f->BitBtnPost->size(), QSize(41, 41));
  EXPECT_EQ(f->BitBtnCikl->size(), QSize(41, 37));
  EXPECT_EQ(f->ProgressBar1->width(), 116);
  EXPECT_TRUE(f->ProgressBar1->isHidden());
  for (QToolButton* b : {f->BitBtnCikl, f->BitBtnOdnokr, f->BitBtnPost, f->BitBtnStop,
                         f->SpeedButtonLedCikl, f->SpeedButtonLedOdnok, f->SpeedButtonLedConst,
                         f->SpeedButtonStop})
    EXPECT_FALSE(b->isEnabled());
  EXPECT_TRUE(f->BitBtn4->isEnabled());
  EXPECT_FALSE(f->BitBtn3->isEnabled());

  // Picture-only buttons say what they do.
  for (QToolButton* b :
       {f->BitBtnCikl, f->BitBtnOdnokr, f->BitBtnPost, f->BitBtnStop, f->SpeedButtonLedCikl,
        f->SpeedButtonLedOdnok, f->SpeedButtonLedConst, f->SpeedButtonStop, f->SpeedButton1,
        f->SpeedButton2, f->SpeedButton3, f->SpeedButton4, f->BitBtn1, f->BitBtn2, f->BitBtn3,
        f->BitBtn4, f->BitBtn5}) {
    EXPECT_FALSE(b->toolTip().isEmpty());
    EXPECT_FALSE(b->accessibleName().isEmpty());
    EXPECT_TRUE(b->text().isEmpty() || b->toolButtonStyle() == Qt::ToolButtonIconOnly);
  }

  // The results table: header row and one empty data row.
  EXPECT_EQ(f->StringGrid1->height(), 85);
  EXPECT_EQ(f->Grid->RowCount(), 2);
  const char16_t* headers[16] = {u"Номер",   u"Дата",    u"Время",   u"Tg,*С",  u"O2,%",  u"CO,ppm",
                                 u"NO,ppm",  u"NO2,ppm", u"SO2,ppm", u"H2S,ppm", u"CO2,%", u"NOx,ppm",
                                 u"Qa,%",    u"Alf",     u"Ta,*С",   u"Тест"};
  const int widths[16] = {48, 66, 53, 46, 45, 48, 48, 50, 50, 50, 45, 50, 44, 38, 38, 38};
  for (int c = 0; c < 16; ++c) {
    EXPECT_EQ(f->Grid->Cells(c, 0), QString::fromUtf16(headers[c]));
    EXPECT_EQ(f->StringGrid1->model()->headerData(c, Qt::Horizontal).toString(),
              QString::fromUtf16(headers[c]));
    EXPECT_EQ(f->StringGrid1->columnWidth(c), widths[c]);
    EXPECT_TRUE(f->Grid->Cells(c, 1).isEmpty());
  }
  EXPECT_EQ(f->StringGrid1->toolTip(), QStringLiteral(u"Таблица полученных данных от АСК ЗВ"));
  EXPECT_EQ(f->StringGrid1->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(f->StringGrid1->editTriggers(), QAbstractItemView::NoEditTriggers);

  // The menu in display order.
  QStringList top;
  for (QAction* a : f->menuBar()->actions()) top << a->text();
  EXPECT_EQ(top, (QStringList{QStringLiteral(u"Файл"), QStringLiteral(u"Сервис"),
                              QStringLiteral(u"О программе")}));
  QStringList file;
  for (QAction* a : f->N1->actions()) file << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(file, (QStringList{QStringLiteral(u"Сохранить"), QStringLiteral(u"Открыть"),
                               QStringLiteral("-"), QStringLiteral(u"Печать"),
                               QStringLiteral(u"Установки печати"), QStringLiteral("-"),
                               QStringLiteral(u"Выход")}));
  EXPECT_EQ(f->N13->text(), QStringLiteral(u"Графика"));
  EXPECT_EQ(f->N14->text(), QStringLiteral(u"Таблицы"));
  EXPECT_EQ(f->N16->text(), QStringLiteral(u"Выбор принтера"));
  EXPECT_EQ(f->N17->text(), QStringLiteral(u"Выбор шрифта"));
  QStringList service;
  for (QAction* a : f->N3->actions()) service << a->text();
  EXPECT_EQ(service, (QStringList{QStringLiteral(u"Опции"), QStringLiteral(u"Параметры просмотра"),
                                  QStringLiteral(u"Параметры топлива и расчетов")}));
}

TEST_F(MainWindowTest, AnsweringNoToTheCloseQuestionKeepsEverythingAsItWas) {
  WriteDefaultSettings();
  StartProgram();
  Form1->DataNotSaved = true;
  answers_ = {seams::MsgResult::No};
  const size_t written = serial_.writes.size();
  bool canClose = true;
  Form1->FormCloseQuery(canClose);
  EXPECT_FALSE(canClose);
  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);  // no save question after a No
  EXPECT_EQ(messages[0].title, QStringLiteral("Confirm"));
  EXPECT_EQ(messages[0].text, QStringLiteral(u"Программа будет закрыта?"));
  EXPECT_EQ(serial_.writes.size(), written);  // no stop command
  EXPECT_TRUE(fileDialogs_.empty());
}

TEST_F(MainWindowTest, ClosingWithUnsavedDataOffersTheSaveThenStopsTheAnalyzer) {
  WriteDefaultSettings();
  StartProgram();
  Form1->DataNotSaved = true;
  answers_ = {seams::MsgResult::Yes, seams::MsgResult::Yes};
  bool canClose = true;
  Form1->FormCloseQuery(canClose);
  EXPECT_TRUE(canClose);
  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, QStringLiteral(u"Данные не записаны! Сохранить?"));
  ASSERT_EQ(fileDialogs_.size(), 1u);  // the save dialog, cancelled by the script
  EXPECT_TRUE(fileDialogs_[0].save);
  EXPECT_EQ(serial_.LastWrite(), (std::vector<uint8_t>{0x01, 0x06, 0x00, 0x00, 0x00, 0x03, 0xC9, 0xCB}));
  EXPECT_EQ(+DeviceRecord.RequestKind, 3);
}

TEST_F(MainWindowTest, ASaveThatFailsOnClosingKeepsTheProgramAndItsResults) {
  WriteDefaultSettings();
  StartProgram();
  Form1->DataNotSaved = true;
  // A path under a regular file cannot be created, whoever runs the program.
  QFile blocker(InDir(QStringLiteral("not-a-directory")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  fileDialog_ = [this](const seams::FileDialogRequest&) {
    return InDir(QStringLiteral("not-a-directory/results.kvx"));
  };
  const size_t written = serial_.writes.size();
  bool canClose = true;
  Form1->FormCloseQuery(canClose);
  EXPECT_FALSE(canClose);
  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 3u);  // close?, save?, the write error
  EXPECT_EQ(messages[2].title, QStringLiteral("Error"));
  EXPECT_EQ(serial_.writes.size(), written);  // the analyzer is not stopped
  EXPECT_TRUE(Form1->DataNotSaved);
}

TEST_F(MainWindowTest, ClosingWithoutUnsavedDataAsksOnce) {
  WriteDefaultSettings();
  StartProgram();
  bool canClose = true;
  Form1->FormCloseQuery(canClose);
  EXPECT_TRUE(canClose);
  EXPECT_EQ(TakeMessages().size(), 1u);
  EXPECT_EQ(serial_.LastWrite().size(), 8u);
}

TEST_F(MainWindowTest, DestroyingTheWindowReleasesThePort) {
  WriteDefaultSettings();
  StartProgram();
  ASSERT_TRUE(serial_.isOpen);
  DestroyForms();
  EXPECT_FALSE(serial_.isOpen);
}

TEST_F(MainWindowTest, AboutBoxGreetsOnceAtTheFirstActivationAndOnDemand) {
  WriteDefaultSettings();
  StartProgram();
  int shown = 0;
  modal_ = [&shown](QDialog* d) {
    if (d == AboutBox) ++shown;
    return int(QDialog::Rejected);
  };
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(Form1, &activate);
  QApplication::processEvents();
  EXPECT_EQ(shown, 1);
  // Coming back from a modal dialog activates the window again.
  QApplication::sendEvent(Form1, &activate);
  QApplication::processEvents();
  EXPECT_EQ(shown, 1);
  Form1->N2Click();
  EXPECT_EQ(shown, 2);
}

TEST_F(MainWindowTest, AboutBoxTextsAndItsTimer) {
  WriteDefaultSettings();
  StartProgram();
  TAboutBox* box = AboutBox;
  EXPECT_EQ(box->windowTitle(), QStringLiteral("About"));
  EXPECT_EQ(box->ProductName->text(), QStringLiteral(u"Программа обмена газоанализатора Korvex"));
  EXPECT_EQ(box->Version->text(), QStringLiteral("ver. A.02 20.01.2011"));
  EXPECT_TRUE(box->Label2->text().startsWith(QStringLiteral("e-mail:")));
  EXPECT_EQ(box->SpeedButton1->text(), QStringLiteral("EXIT"));
  EXPECT_EQ(box->Image1->pixmap().size(), QSize(250, 75));

  EXPECT_FALSE(box->Timer1->Enabled());
  EXPECT_EQ(box->Timer1->Interval(), 5000);
  box->show();
  EXPECT_TRUE(box->Timer1->Enabled());
  box->Timer1->Fire();
  EXPECT_FALSE(box->isVisible());
  EXPECT_FALSE(box->Timer1->Enabled());
  EXPECT_EQ(box->Timer1->Interval(), 15000);
  box->show();
  EXPECT_TRUE(box->Timer1->Enabled());
  EXPECT_EQ(box->Timer1->Interval(), 15000);
  box->SpeedButton1Click();
  EXPECT_FALSE(box->isVisible());
}

}  // namespace
