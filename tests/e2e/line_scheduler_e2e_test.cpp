// Several analyzers on one line, polled in turn by the line scheduler through
// the program's own link against the simulator's analyzers on one
// pseudo-terminal: each is polled once a round at its own address, a command
// goes first and reaches its analyzer alone, a silent analyzer costs the
// others at most one timeout in ten rounds and is back as soon as it
// answers, and the Modbus RTU silent interval is kept on a paced line.

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <map>
#include <memory>
#include <vector>

#include "acquisition/line_scheduler.h"
#include "e2e/sim_fixture.h"

namespace {

class LineSchedulerE2E : public SimFixture {
 protected:
  void TearDown() override {
    scheduler_.reset();
    cycles_.clear();
    link_.reset();
    SimFixture::TearDown();
    realTimers_.reset();
  }

  void startLine(int analyzers, const QStringList& simArgs = {}) {
    startSim(QStringList{QStringLiteral("--analyzers"), QString::number(analyzers), QStringLiteral("--zero"),
                         QStringLiteral("0"), QStringLiteral("--min-replies"), QStringLiteral("1")} +
             simArgs);
    link_ = std::make_unique<AnalyzerLink>();
    link_->open(sim_->portPath());
    ASSERT_TRUE(link_->isOpen());
    std::vector<PollCycle*> cycles;
    for (int i = 0; i < analyzers; ++i) {
      auto cycle = std::make_unique<PollCycle>(*link_);
      PollSettings s;
      s.address = uint8_t(i + 1);
      s.refreshPeriod = 1;
      s.calibrationTime = 0;
      cycle->setSettings(s);
      cycle->restart();
      cycles.push_back(cycle.get());
      cycles_.push_back(std::move(cycle));
    }
    scheduler_ = std::make_unique<LineScheduler>(*link_);
    LineScheduler::Timing timing;
    timing.replyTimeoutMs = 100;
    scheduler_->setTiming(timing);
    scheduler_->setCycles(cycles);
    QObject::connect(scheduler_.get(), &LineScheduler::slotTicked, [this](int slot) {
      ++ticks_[slot];
      if (firstOfRound_ < 0) firstOfRound_ = slot;
    });
  }

  // Rounds back to back, each as fast as the line allows, until `done` (or
  // `most` rounds); true when done.
  bool runRounds(const std::function<bool()>& done, int most) {
    for (int i = 0; i < most; ++i) {
      if (done()) return true;
      if (!runRound()) return false;
    }
    return done();
  }
  bool runRound() {
    firstOfRound_ = -1;
    scheduler_->startRound();
    return SimProcess::waitFor([this] { return !scheduler_->roundRunning(); }, 10000);
  }
  bool allIdle() const {
    for (const auto& c : cycles_)
      if (c->analyzerState() != AnalyzerState::Idle) return false;
    return true;
  }

  std::unique_ptr<RealTimers> realTimers_ = std::make_unique<RealTimers>();
  std::unique_ptr<AnalyzerLink> link_;
  std::vector<std::unique_ptr<PollCycle>> cycles_;
  std::unique_ptr<LineScheduler> scheduler_;
  std::map<int, int> ticks_;
  int firstOfRound_ = -1;
};

TEST_F(LineSchedulerE2E, EachAnalyzerIsPolledEveryRoundAndACommandGoesFirstToItsOwnAnalyzerAlone) {
  startLine(3);
  ASSERT_TRUE(runRounds([this] { return allIdle(); }, 20));
  ticks_.clear();
  ASSERT_TRUE(runRound());
  EXPECT_EQ(ticks_, (std::map<int, int>{{0, 1}, {1, 1}, {2, 1}}));
  EXPECT_EQ(firstOfRound_, 0);

  cycles_[2]->requestMode(ModeRequest::Continuous);
  ASSERT_TRUE(runRound());
  EXPECT_EQ(firstOfRound_, 2);  // the command's analyzer first
  ASSERT_TRUE(runRounds([this] { return cycles_[2]->analyzerState() == AnalyzerState::Measuring; }, 20));
  EXPECT_EQ(cycles_[0]->analyzerState(), AnalyzerState::Idle);
  EXPECT_EQ(cycles_[1]->analyzerState(), AnalyzerState::Idle);
  EXPECT_TRUE(sim_->status().contains(QRegularExpression(QStringLiteral("@3 state=2"))));
}

TEST_F(LineSchedulerE2E, ASilentAnalyzerIsAskedEveryTenthRoundOnceLostAndEveryRoundAgainWhenItAnswers) {
  startLine(3);
  ASSERT_TRUE(runRounds([this] { return allIdle(); }, 20));
  ASSERT_TRUE(sim_->command(QStringLiteral("@2 silence on")));
  ASSERT_TRUE(runRounds([this] { return scheduler_->isLost(1); }, kSilentTicksLimit + 5));

  ticks_.clear();
  for (int i = 0; i < 30; ++i) ASSERT_TRUE(runRound());
  EXPECT_EQ(ticks_[0], 30);
  EXPECT_EQ(ticks_[2], 30);
  EXPECT_EQ(ticks_[1], 3);
  EXPECT_EQ(cycles_[1]->analyzerState(), AnalyzerState::NotConnected);
  // The others never missed a reply for it.
  EXPECT_EQ(cycles_[0]->silentTicks(), 1);
  EXPECT_EQ(cycles_[2]->silentTicks(), 1);
  EXPECT_EQ(cycles_[0]->analyzerState(), AnalyzerState::Idle);

  ASSERT_TRUE(sim_->command(QStringLiteral("@2 silence off")));
  ASSERT_TRUE(runRounds([this] { return !scheduler_->isLost(1); }, 15));
  ticks_.clear();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(runRound());
  EXPECT_EQ(ticks_[1], 5);
  ASSERT_TRUE(runRounds([this] { return allIdle(); }, 20));
}

TEST_F(LineSchedulerE2E, OnALineWithItsRealTimingEveryRequestKeepsTheSilentInterval) {
  startLine(4, {QStringLiteral("--pace")});
  ASSERT_TRUE(runRounds([this] { return allIdle(); }, 20));
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(runRound());
  const QString status = sim_->status();
  const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("line .*gap_violations=(\\d+)")).match(status);
  ASSERT_TRUE(m.hasMatch()) << status.toStdString();
  EXPECT_EQ(m.captured(1).toInt(), 0) << status.toStdString();
  for (const auto& c : cycles_) EXPECT_EQ(c->statistics().errors, 0);
}

}  // namespace
