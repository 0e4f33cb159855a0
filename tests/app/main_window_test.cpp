// The program as the entry starts it: settings, port, poll cycle, the main
// window's controls and the close query.

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

#include <QListWidget>

#include <QtTest/QTest>
#include <csignal>

#include "app/notice_bar.h"
#include "data/audit_trail.h"
#include "service/termination_signals.h"
#include "dialogs/about_box.h"
#include "storage/settings_files.h"
#include "support/korvex_fixture.h"
#include "support/test_files.h"

namespace {

using test_files::readAll;

class MainWindowTest : public KorvexFixture {};

const std::vector<uint8_t> kStop = {0x01, 0x06, 0x00, 0x00, 0x00, 0x03, 0xC9, 0xCB};

TEST_F(MainWindowTest, FirstStartInAnEmptyDirectoryResetsAndWritesBothFiles) {
  startProgram();
  // A notice that beeps, in the bar under the table: no box to answer.
  EXPECT_TRUE(takeMessages().empty());
  const auto notices = takeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].topic, NoticeTopic::Settings);
  EXPECT_EQ(notices[0].text, QStringLiteral(u"Файл конфигурации отсутствует!\r\nСброс конфигурации!"));
  EXPECT_EQ(beeps_, 1);
  EXPECT_TRUE(window().noticeBar()->text().endsWith(QStringLiteral(u"Файл конфигурации отсутствует! Сброс конфигурации!")));
  EXPECT_EQ(readAll(inDir(QStringLiteral("korvex.ini"))).size(), 237);
  EXPECT_EQ(readAll(inDir(QStringLiteral("Device-001.ini"))).size(), 239);
  EXPECT_EQ(shortStringText(programRecord().portName), QStringLiteral("COM2"));
  // The default port, COM2, is the second serial device.
  ASSERT_FALSE(serial_.opened.isEmpty());
  EXPECT_EQ(serial_.opened.last(), QStringLiteral("/dev/ttyS1"));
  EXPECT_TRUE(chart()->isShown(0));
  EXPECT_FALSE(chart()->isShown(4));
}

TEST_F(MainWindowTest, OnlyTheProgramsIniFileIsRewrittenWithDefaultsToo) {
  writeDefaultSettings(QStringLiteral("COM7"));
  QFile::remove(inDir(QStringLiteral("Device-001.ini")));
  startProgram();
  ASSERT_EQ(takeNotices().size(), 1u);
  EXPECT_EQ(shortStringText(programRecord().portName), QStringLiteral("COM2"));
  EXPECT_EQ(readAll(inDir(QStringLiteral("korvex.ini"))).mid(1, 4), QByteArray("COM2"));
}

TEST_F(MainWindowTest, SettingsThatCannotBeWrittenAtStartAreReportedAfterTheMissingFile) {
  // The program's directory is a file: nothing can be written there.
  ASSERT_TRUE(test_files::writeAll(inDir(QStringLiteral("dir")), "x"));
  seams::setExecutablePath(inDir(QStringLiteral("dir/korvex")));
  startProgram();
  EXPECT_TRUE(takeMessages().empty());
  const auto notices = takeNotices();
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[0].text, QStringLiteral(u"Файл конфигурации отсутствует!\r\nСброс конфигурации!"));
  EXPECT_EQ(notices[1].text, QStringLiteral(u"Ошибка доступа к диску!\r\nПерезагрузите компьютер!"));
  // Nor can the results database be made there: the operator learns where results go instead.
  EXPECT_TRUE(notices[2].text.startsWith(QStringLiteral(u"Нет доступа к базе данных результатов:"))) << notices[2].text.toStdString();
  EXPECT_EQ(beeps_, 3);
  // All three stay listed; the bar shows the newest.
  EXPECT_EQ(window().noticeBar()->list()->count(), 3);
}

TEST_F(MainWindowTest, StartUpSetsThePollCycleFieldsWhateverWasStored) {
  writeDefaultSettings();
  // A previous run left another fuel, state and address in the device file.
  {
    SettingsFiles files;
    ASSERT_TRUE(files.load());
    files.deviceRecord().fuelIndex = 7;
    files.deviceRecord().workMode = 1;
    files.deviceRecord().deviceState = 2;
    files.deviceRecord().measurement.faultBits = 0x55;
    files.programRecord().netAddress = 12;
    ASSERT_TRUE(files.save());
  }

  startProgram();
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_TRUE(takeNotices().empty());
  EXPECT_EQ(poll().settings().fuelIndex, 0);
  EXPECT_EQ(poll().settings().address, 12);
  EXPECT_EQ(poll().workMode(), WorkMode::StartUp);
  EXPECT_EQ(poll().analyzerState(), AnalyzerState::NotConnected);
  EXPECT_EQ(poll().measurement().faultBits, 0);
  EXPECT_DOUBLE_EQ(poll().logDate(), seams::toDateTime(now()));
  // The device file gets the same with the next save.
  settings().setView(settings().view());
  EXPECT_EQ(+deviceRecord().fuelIndex, 0);
  EXPECT_EQ(+deviceRecord().workMode, 5);
  EXPECT_EQ(+deviceRecord().deviceState, 8);
  EXPECT_EQ(+deviceRecord().measurement.faultBits, 0);
  EXPECT_EQ(+deviceRecord().deviceAddress, 12);
  EXPECT_TRUE(pollTimer()->isEnabled());
  EXPECT_EQ(pollTimer()->interval(), 1000);
  EXPECT_TRUE(session().link().isOpen());
  EXPECT_FALSE(results().unsaved());
  EXPECT_FALSE(find<QAction>("N8")->isEnabled());
  // The configured port at 9600 8N2, DTR and RTS negated once it is open.
  EXPECT_EQ(serial_.opened, QStringList{QStringLiteral("/dev/ttyS1")});
  EXPECT_FALSE(serial_.dtr);
  EXPECT_FALSE(serial_.rts);
  EXPECT_EQ(serial_.settings.baudRate, 9600);
  EXPECT_EQ(serial_.settings.stopBits, 2);
}

TEST_F(MainWindowTest, ControlsKeepTheirNamesAndPictureButtonsSayWhatTheyDo) {
  startWithDefaults();
  EXPECT_EQ(window().objectName(), QStringLiteral("Form1"));
  EXPECT_EQ(window().windowTitle(), QStringLiteral("ModbusRTU"));
  EXPECT_EQ(find<QLabel>("LabelMode")->text(), QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН "));
  EXPECT_TRUE(find<QProgressBar>("ProgressBar1")->isHidden());
  for (const char* name : {"BitBtnCikl", "BitBtnOdnokr", "BitBtnPost", "BitBtnStop", "SpeedButtonLedCikl",
                           "SpeedButtonLedOdnok", "SpeedButtonLedConst", "SpeedButtonStop", "SpeedButton1",
                           "SpeedButton2", "SpeedButton3", "SpeedButton4", "BitBtn1", "BitBtn2", "BitBtn3",
                           "BitBtn4", "BitBtn5"}) {
    QToolButton* b = find<QToolButton>(name);
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(b->toolTip().isEmpty()) << name;
    EXPECT_FALSE(b->accessibleName().isEmpty()) << name;
    // The mode buttons and lamps wait for the analyzer; of the pad only undo waits for a zoom.
    const QByteArray n(name);
    const bool padButton = n.startsWith("SpeedButton") ? n != "SpeedButtonStop" && !n.startsWith("SpeedButtonLed")
                                                        : n.size() == 7;  // BitBtn1..5
    EXPECT_EQ(b->isEnabled(), padButton && n != "BitBtn3") << name;
  }

  // The results table: the headings, one empty row, at least the designed widths.
  QTableView* grid = find<QTableView>("StringGrid1");
  const int widths[16] = {48, 66, 53, 46, 45, 48, 48, 50, 50, 50, 45, 50, 44, 38, 38, 38};
  ASSERT_EQ(grid->model()->rowCount(), 1);
  for (int c = 0; c < 16; ++c) {
    EXPECT_EQ(grid->model()->headerData(c, Qt::Horizontal).toString(), kResultHeaders[c]);
    EXPECT_GE(grid->columnWidth(c), widths[c]);
    EXPECT_TRUE(grid->model()->index(0, c).data().toString().isEmpty());
  }
  EXPECT_EQ(grid->editTriggers(), QAbstractItemView::NoEditTriggers);

  // The menu in display order, every item under its old name.
  QStringList file;
  for (QAction* a : find<QMenu>("N1")->actions())
    file << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(file, (QStringList{QStringLiteral(u"Сохранить"), QStringLiteral(u"Открыть"),
                               QStringLiteral(u"История..."), QStringLiteral(u"Текущие результаты"),
                               QStringLiteral(u"Журнал аудита..."), QStringLiteral("-"),
                               QStringLiteral(u"Печать"), QStringLiteral(u"Установки печати"), QStringLiteral("-"),
                               QStringLiteral(u"Выход")}));
  const std::pair<const char*, const char16_t*> items[] = {
      {"N8", u"Сохранить"},        {"N9", u"Открыть"},        {"N13", u"Графика"},
      {"N14", u"Таблицы"},         {"N16", u"Выбор принтера"}, {"N17", u"Выбор шрифта"},
      {"N4", u"Выход"},            {"N6", u"Опции"},          {"N5", u"Параметры просмотра"},
      {"N7", u"Параметры топлива и расчетов"}, {"N2", u"О программе"}};
  for (const auto& [name, text] : items) EXPECT_EQ(find<QAction>(name)->text(), QString::fromUtf16(text)) << name;
}

TEST_F(MainWindowTest, AMissingPortIsReportedOnceAndThePollCycleRunsWithoutIt) {
  writeDefaultSettings(QStringLiteral("COM3"));
  serial_.refuseOpen = true;
  startProgram();
  EXPECT_TRUE(takeMessages().empty());
  auto notices = takeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].title, QStringLiteral(u"Не могу открыть порт"));
  EXPECT_EQ(notices[0].text, QStringLiteral("COM3"));
  EXPECT_TRUE(pollTimer()->isEnabled());
  // The event log records it.
  ASSERT_EQ(events(EventKind::PortOpenFailed).size(), 1);
  EXPECT_EQ(events(EventKind::PortOpenFailed)[0].text, QStringLiteral(u"Не могу открыть порт: COM3"));
  for (int i = 0; i < 5; ++i) {
    session().link().service();
    tick();
  }
  EXPECT_TRUE(takeNotices().empty());
  EXPECT_TRUE(serial_.writes.empty());
  EXPECT_EQ(session().link().linkState(), LinkState::Sent);
}

TEST_F(MainWindowTest, ThePortsOtherFailuresHaveTheirOwnTitles) {
  writeDefaultSettings(QStringLiteral("/dev/ttyUSB0"));
  serial_.refuseStatus = true;
  startProgram();
  auto notices = takeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].title, QStringLiteral(u"Не могу получить статус порта"));
  EXPECT_EQ(notices[0].text, QStringLiteral("/dev/ttyUSB0"));
  stopProgram();

  serial_.refuseStatus = false;
  serial_.refuseSettings = true;
  startProgram();
  notices = takeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].title, QStringLiteral(u"Не могу инициализировать порт"));
}

TEST_F(MainWindowTest, APortLostWhileRunningGoesQuietAndTheAnalyzerIsReportedLostOnce) {
  startWithDefaults();
  tick();
  tickWith(commandEcho(1, 3));
  tickWith(statusReply(1, 0));
  ASSERT_EQ(poll().workMode(), WorkMode::Idle);
  const size_t written = serial_.writes.size();

  serial_.broken = true;
  for (int i = 0; i < 40; ++i) {
    session().link().service();
    tick();
    advance(1);
  }
  EXPECT_EQ(serial_.closeCount, 1);
  EXPECT_EQ(serial_.writes.size(), written);
  // Only the poll cycle's one warning about the silent analyzer.
  EXPECT_TRUE(takeMessages().empty());
  const auto notices = takeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].topic, NoticeTopic::Analyzer);
  EXPECT_EQ(poll().analyzerState(), AnalyzerState::NotConnected);
}

TEST_F(MainWindowTest, AnsweringNoToTheCloseQuestionKeepsEverythingAsItWas) {
  startWithDefaults();
  addResult(Measurement{});
  answers_ = {seams::MsgResult::No};
  const size_t written = serial_.writes.size();
  EXPECT_FALSE(window().close());
  const auto messages = takeMessages();
  ASSERT_EQ(messages.size(), 1u);  // no save question after a No
  EXPECT_EQ(messages[0].title, QStringLiteral("Confirm"));
  EXPECT_EQ(messages[0].text, QStringLiteral(u"Программа будет закрыта?"));
  EXPECT_EQ(serial_.writes.size(), written);  // no stop command
  EXPECT_TRUE(fileDialogs_.empty());
}

TEST_F(MainWindowTest, TheSystemEndingTheProgramClosesItWithoutAQuestionAndEndsTheRunCleanly) {
  startWithDefaults();
  addResult(Measurement{});
  // As the entry connects them: a logout or a shutdown sends SIGHUP or SIGTERM.
  TerminationSignals ending;
  QObject::connect(&ending, &TerminationSignals::received, &window(), &MainWindow::endBySystem);
  ASSERT_EQ(std::raise(SIGHUP), 0);
  QTRY_VERIFY_WITH_TIMEOUT(!session().store().isOpen(), 10000);
  EXPECT_TRUE(takeMessages().empty());
  EXPECT_EQ(serial_.lastWrite(), kStop);
  // Closed as at a normal end: the trail's last entry is the stop.
  AuditTrail trail;
  ASSERT_TRUE(trail.openForReading(inDir(QStringLiteral("korvex.db"))));
  EXPECT_EQ(trail.newestEntries(1).value(0).kind, AuditKind::ProgramStopped);
}

TEST_F(MainWindowTest, ClosingWithUnsavedDataOffersTheSaveThenStopsTheAnalyzer) {
  startWithDefaults();
  addResult(Measurement{});
  answers_ = {seams::MsgResult::Yes, seams::MsgResult::Yes};
  EXPECT_TRUE(window().close());
  const auto messages = takeMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, QStringLiteral(u"Данные не записаны! Сохранить?"));
  ASSERT_EQ(fileDialogs_.size(), 1u);  // the save dialog, cancelled by the script
  EXPECT_TRUE(fileDialogs_[0].save);
  EXPECT_EQ(serial_.lastWrite(), kStop);
  EXPECT_EQ(poll().requestKind(), Request::Stop);
}

TEST_F(MainWindowTest, ASaveThatFailsOnClosingKeepsTheProgramAndItsResults) {
  startWithDefaults();
  addResult(Measurement{});
  // A path under a regular file cannot be created, whoever runs the program.
  ASSERT_TRUE(test_files::writeAll(inDir(QStringLiteral("not-a-directory")), ""));
  fileDialog_ = [this](const seams::FileDialogRequest&) {
    return inDir(QStringLiteral("not-a-directory/results.kvx"));
  };
  const size_t written = serial_.writes.size();
  EXPECT_FALSE(window().close());
  const auto messages = takeMessages();
  ASSERT_EQ(messages.size(), 3u);  // close?, save?, the write error
  EXPECT_EQ(messages[2].title, QStringLiteral("Error"));
  EXPECT_EQ(serial_.writes.size(), written);  // the analyzer is not stopped
  EXPECT_TRUE(results().unsaved());
}

TEST_F(MainWindowTest, ClosingWithoutUnsavedDataAsksOnceAndEndingTheProgramReleasesThePort) {
  startWithDefaults();
  EXPECT_TRUE(window().close());
  EXPECT_EQ(takeMessages().size(), 1u);
  EXPECT_EQ(serial_.lastWrite(), kStop);
  ASSERT_TRUE(serial_.isOpen);
  stopProgram();
  EXPECT_FALSE(serial_.isOpen);
  EXPECT_FALSE(serial_.dtr);
  EXPECT_FALSE(serial_.rts);
}

TEST_F(MainWindowTest, AboutBoxGreetsOnceAtTheFirstActivationAndOnDemand) {
  startWithDefaults();
  auto* about = find<AboutBox>("AboutBox");
  int shown = 0;
  modal_ = [&shown, about](QDialog* d) {
    if (d == about) ++shown;
    return int(QDialog::Rejected);
  };
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(&window(), &activate);
  QApplication::processEvents();
  EXPECT_EQ(shown, 1);
  // Coming back from a modal dialog activates the window again.
  QApplication::sendEvent(&window(), &activate);
  QApplication::processEvents();
  EXPECT_EQ(shown, 1);
  window().onAboutTriggered();
  EXPECT_EQ(shown, 2);
}

TEST_F(MainWindowTest, AboutBoxClosesItselfAfterFiveSecondsThenFifteen) {
  startWithDefaults();
  auto* box = find<AboutBox>("AboutBox");
  EXPECT_EQ(find<QLabel>("ProductName", box)->text(), QStringLiteral(u"Программа обмена газоанализатора Korvex"));
  EXPECT_EQ(find<QLabel>("Image1", box)->pixmap().size(), QSize(250, 75));
  Timer* timer = box->closeTimer();
  EXPECT_FALSE(timer->isEnabled());
  EXPECT_EQ(timer->interval(), 5000);
  box->show();
  EXPECT_TRUE(timer->isEnabled());
  timer->fire();
  EXPECT_FALSE(box->isVisible());
  EXPECT_FALSE(timer->isEnabled());
  EXPECT_EQ(timer->interval(), 15000);
  box->show();
  EXPECT_TRUE(timer->isEnabled());
  EXPECT_EQ(timer->interval(), 15000);
  find<QToolButton>("SpeedButton1", box)->click();
  EXPECT_FALSE(box->isVisible());
}

}  // namespace
