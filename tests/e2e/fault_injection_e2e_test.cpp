// The whole program against a misbehaving analyzer line: noise, bad CRCs,
// replies split across ticks or broken off, the analyzer taken over at its
// panel, the simulator killed and restarted, the line closed for good.
// Nothing may crash, no message box may come but the one warning of a lost
// analyzer, and every result taken before a fault stays in the table.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <unistd.h>

#include "acquisition/poll_cycle.h"
#include "dialogs/options_dialog.h"
#include "e2e/sim_fixture.h"

namespace {

const QString kWarning =
    QStringLiteral(u"ВНИМАНИЕ!\r\nСБОЙ В РАБОТЕ ПРИБОРА!\r\nПРОВЕРТЕ ПОДКЛЮЧЕНИЕ И ПИТАНИЕ!");

class FaultInjectionE2E : public SimFixture {
 protected:
  void TearDown() override {
    SimFixture::TearDown();
    if (!link_.isEmpty()) QFile::remove(link_);
  }

  // A symbolic link of our own for the simulator's port, short enough for the
  // 30 characters of the settings' port name; it survives a restart.
  QString linkPath() {
    if (link_.isEmpty())
      link_ = QStringLiteral("/tmp/kvx-%1-%2").arg(getpid()).arg(++counter_);
    return link_;
  }

  QStringList simArgs() const {
    return {QStringLiteral("--zero"), QStringLiteral("0"), QStringLiteral("--measure"), QStringLiteral("0"),
            QStringLiteral("--purge"), QStringLiteral("0"), QStringLiteral("--min-replies"),
            QStringLiteral("2")};
  }

  void startOnLink() {
    QStringList args = simArgs();
    args << QStringLiteral("--link") << linkPath();
    startSim(args);
    writeDefaultSettings(linkPath());
    startProgram();
    ASSERT_TRUE(notices_.empty());
    ASSERT_TRUE(session().link().isOpen());
  }

  void reachIdle() {
    ASSERT_TRUE(ticksUntil([this] { return poll().workMode() == WorkMode::Idle && find<QToolButton>("BitBtnPost")->isEnabled(); }, 10));
  }

  // Continuous measurement with a row every tick until `rows` rows are in.
  void measureUntil(int rows) {
    changeMeasuring([](MeasuringSettings& m) { m.refreshPeriod = 1; });
    if (poll().workMode() != WorkMode::Continuous) window().onContinuousClicked();
    ASSERT_TRUE(ticksUntil([this, rows] { return resultRows() >= rows; }, 40));
  }

  // A tick that does not wait for a whole reply: the port is serviced for
  // `ms` milliseconds and whatever came is what the next tick finds.
  void shortTick(int ms) {
    tick();
    SimProcess::waitFor(
        [this] {
          session().link().service();
          return false;
        },
        ms);
    advance(1);
  }

  QList<QStringList> rowsOf(int count) const {
    QList<QStringList> rows;
    for (int r = 0; r < count; ++r) rows << results().cells(r);
    return rows;
  }

  bool labelRed() const { return find<QLabel>("LabelMode")->palette().color(QPalette::Window) == QColor(Qt::red); }

  QString link_;
  static int counter_;
};

int FaultInjectionE2E::counter_ = 0;

TEST_F(FaultInjectionE2E, ANoisyLineCostsTicksButNeitherResultsNorTheMeasurement) {
  startOnLink();
  reachIdle();
  measureUntil(3);
  const int before = resultRows();
  const QList<QStringList> kept = rowsOf(before);

  const struct {
    const char* command;
    int ticks;
  } faults[] = {
      {"garbage 7 3", 4},   // bytes between frames spoil the reply they follow
      {"crc 3", 3},         // wrong CRCs
      {"split 1500 2", 4},  // replies split across ticks
      {"cut 3", 3},         // replies broken off
      {"silence 3", 3},     // no answer at all
  };
  for (const auto& f : faults) {
    ASSERT_TRUE(sim_->command(QString::fromLatin1(f.command)));
    for (int i = 0; i < f.ticks; ++i) shortTick(600);
    runTick();  // a good exchange between the faults keeps the link alive
  }
  EXPECT_GE(sim_->count(line("^FAULT")), 12);
  ASSERT_TRUE(sim_->command(QStringLiteral("normal")));
  ASSERT_TRUE(ticksUntil([this, before] { return resultRows() >= before + 5; }, 30));

  EXPECT_TRUE(notices_.empty());
  EXPECT_FALSE(labelRed());
  EXPECT_EQ(poll().workMode(), WorkMode::Continuous);
  EXPECT_EQ(rowsOf(before), kept);
  // The rows stay numbered without a gap or a repeat.
  for (int r = 1; r <= resultRows(); ++r) EXPECT_EQ(cell(0, r), QString::number(r - 1));
}

TEST_F(FaultInjectionE2E, ManualOperationMidMeasurementStopsTheModeQuietlyAndStopBringsItBack) {
  startOnLink();
  reachIdle();
  measureUntil(2);
  const int before = resultRows();
  const QList<QStringList> kept = rowsOf(before);

  ASSERT_TRUE(sim_->command(QStringLiteral("manual on")));
  ASSERT_TRUE(ticksUntil([this] { return poll().analyzerState() == AnalyzerState::Manual; }, 10));
  EXPECT_EQ(poll().workMode(), WorkMode::Stopping);
  EXPECT_EQ(find<QLabel>("LabelMode")->text(), QStringLiteral(u"Работа вручную"));
  EXPECT_GE(sim_->count(line("^COMMAND 3 ignored")), 1);
  // The stop handler was not run: Stop stays at hand, the mode's lamp lit.
  EXPECT_TRUE(find<QToolButton>("BitBtnStop")->isEnabled());
  EXPECT_TRUE(find<QToolButton>("SpeedButtonLedConst")->isEnabled());

  ASSERT_TRUE(sim_->command(QStringLiteral("manual off")));
  window().onStopClicked();
  ASSERT_TRUE(ticksUntil([this] { return find<QToolButton>("BitBtnPost")->isEnabled(); }, 15));
  EXPECT_EQ(poll().workMode(), WorkMode::Idle);
  EXPECT_TRUE(notices_.empty());
  EXPECT_EQ(rowsOf(before), kept);
}

TEST_F(FaultInjectionE2E, TheSimulatorKilledMidMeasurementWarnsOnceAndTheMeasurementGoesOnWhenItIsBack) {
  startOnLink();
  reachIdle();
  measureUntil(3);
  const int before = resultRows();
  const QList<QStringList> kept = rowsOf(before);

  sim_->kill();
  // No answers now; the port sees the hang-up and closes.
  for (int i = 0; i < 40; ++i) shortTick(50);
  EXPECT_FALSE(session().link().isOpen());
  EXPECT_TRUE(labelRed());
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].text, kWarning);
  EXPECT_EQ(poll().analyzerState(), AnalyzerState(8));
  EXPECT_FALSE(find<QToolButton>("BitBtnPost")->isEnabled());
  EXPECT_EQ(find<QLabel>("LabelMode")->text(), QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН"));

  // The analyzer comes back on a new pseudo-terminal behind the same link; a
  // pseudo-terminal is never taken over unasked, so the operator applies the
  // options once, which reopens the port. Then the stop sequence runs and the
  // mode buttons return.
  QStringList args = simArgs();
  args << QStringLiteral("--link") << linkPath();
  startSim(args);
  modal_ = [](QDialog* options) {
    options->findChild<QPushButton*>(QStringLiteral("ButtonApply"))->click();
    return options->result();
  };
  window().onOptionsTriggered();
  EXPECT_TRUE(session().link().isOpen());
  // The continuous measurement that was running starts again by itself.
  ASSERT_TRUE(ticksUntil([this] { return poll().workMode() == WorkMode::Continuous; }, 20));
  EXPECT_FALSE(find<QToolButton>("BitBtnPost")->isEnabled());
  EXPECT_FALSE(labelRed());
  EXPECT_EQ(notices_.size(), 1u);
  EXPECT_EQ(rowsOf(before), kept);

  // And measures again, numbering on after the rows it had.
  measureUntil(before + 2);
  EXPECT_EQ(cell(0, before + 1), QString::number(before));
}

TEST_F(FaultInjectionE2E, ALineClosedForGoodLeavesTheProgramQuietWithItsResults) {
  startOnLink();
  reachIdle();
  measureUntil(2);
  const int before = resultRows();
  const QList<QStringList> kept = rowsOf(before);

  ASSERT_TRUE(sim_->command(QStringLiteral("hangup")));
  shortTick(200);  // a reply already on its way may still come
  const int rows = resultRows();
  for (int i = 0; i < 200; ++i) shortTick(20);
  EXPECT_EQ(notices_.size(), 1u);  // the one warning, no storm
  EXPECT_TRUE(labelRed());
  EXPECT_FALSE(session().link().isOpen());
  EXPECT_EQ(poll().requestKind(), Request::Stop);
  EXPECT_EQ(rowsOf(before), kept);
  EXPECT_EQ(resultRows(), rows);
}

}  // namespace
