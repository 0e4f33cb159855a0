// Four analyzers on one line, served by the program run as a service
// (korvex --headless) against the simulator's four on one pseudo-terminal,
// in real time: the third is silenced for a minute and comes back. The other
// three lose no result meanwhile, the silent one is taken for lost and is
// back with events, and each analyzer's results, events and daily logs are
// its own.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFileInfo>
#include <limits>
#include <memory>

#include "data/result_store.h"
#include "e2e/sim_fixture.h"
#include "storage/settings_files.h"
#include "support/service_process.h"

#ifndef KORVEX_PROGRAM_PATH
#define KORVEX_PROGRAM_PATH ""
#endif

namespace {

QRegularExpression pattern(const QString& text) { return QRegularExpression(QRegularExpression::escape(text)); }

class LineAnalyzersE2E : public SimFixture {
 protected:
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_STRNE(KORVEX_PROGRAM_PATH, "");
    startSim({QStringLiteral("--analyzers"), QStringLiteral("4"), QStringLiteral("--zero"), QStringLiteral("0"),
              QStringLiteral("--min-replies"), QStringLiteral("1")});
    ASSERT_TRUE(test_settings::writeForResultsEverySecond(sim_->portPath()));
    QString error;
    for (int slot = 2; slot <= 4; ++slot)
      ASSERT_TRUE(SettingsFiles().addLineAnalyzer(slot, uint8_t(slot), &error)) << error.toStdString();
  }

  // The lines of analyzer `slot` (1: without a name before them) matching `text`.
  static QRegularExpression of(int slot, const QString& text) {
    if (slot == 1) return QRegularExpression(QStringLiteral(u"^\\S+ \\S+ ") + QRegularExpression::escape(text));
    return pattern(QStringLiteral(u"Анализатор %1 (адрес %1): ").arg(slot) + text);
  }

  std::vector<StoredResult> stored(int slot, QVector<StoredEvent>* events = nullptr) {
    ResultStore store;
    const QString name = slot == 1 ? QStringLiteral("korvex.db") : QStringLiteral("korvex-%1.db").arg(slot);
    const ResultStore::OpenResult opened =
        store.open(inDir(name), 0, ResultStore::WhenLocked::Refuse, ResultStore::Check::Everything);
    EXPECT_EQ(opened.status, ResultStore::OpenStatus::Opened) << name.toStdString() << opened.detail.toStdString();
    if (events) *events = store.events(0, std::numeric_limits<qint64>::max());
    return store.results(0, std::numeric_limits<qint64>::max());
  }

  ServiceProcess service_{QStringLiteral(KORVEX_PROGRAM_PATH)};
};

TEST_F(LineAnalyzersE2E, ASilentAnalyzerIsLostAndBackWhileTheOthersLoseNoResult) {
  ASSERT_TRUE(service_.start({QStringLiteral("--dir"), dir_.path(), QStringLiteral("--verbose")}));
  const QString result = QStringLiteral(u"Результат ");
  for (int slot = 1; slot <= 4; ++slot)
    ASSERT_TRUE(service_.waitForLines(of(slot, result), 3)) << service_.lines().join('\n').toStdString();

  // A minute of silence: lost after the usual silent polls, still silent
  // until the first analyzer has measured sixty more results.
  ASSERT_TRUE(sim_->command(QStringLiteral("@3 silence on")));
  const qint64 silencedMs = QDateTime::currentMSecsSinceEpoch();
  const int firstBefore = service_.count(of(1, result));
  ASSERT_TRUE(service_.waitForLines(of(3, QStringLiteral(u"Прибор не отвечает")), 1, 90000))
      << service_.lines().join('\n').toStdString();
  ASSERT_TRUE(service_.waitForLines(of(1, result), firstBefore + 60, 120000));
  const int silentResults = service_.count(of(3, result));
  ASSERT_TRUE(sim_->command(QStringLiteral("@3 silence off")));
  const qint64 backMs = QDateTime::currentMSecsSinceEpoch();
  ASSERT_TRUE(service_.waitForLines(of(3, QStringLiteral(u"Связь с прибором восстановлена")), 1, 30000))
      << service_.lines().join('\n').toStdString();
  // Its mode is taken up again: it measures.
  ASSERT_TRUE(service_.waitForLines(of(3, result), silentResults + 3, 60000));
  ASSERT_TRUE(service_.terminate(20000));
  EXPECT_EQ(service_.exitCode(), 0);

  for (int slot : {1, 2, 4}) {
    const std::vector<StoredResult> rows = stored(slot);
    ASSERT_GE(rows.size(), size_t(60)) << slot;
    // A result every second, silence or not: no gap over 1.5 s.
    qint64 longest = 0;
    int meanwhile = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
      longest = std::max(longest, rows[i].result.utcMs - rows[i - 1].result.utcMs);
      if (rows[i].result.utcMs >= silencedMs && rows[i].result.utcMs <= backMs) ++meanwhile;
    }
    EXPECT_LE(longest, 1500) << "analyzer " << slot;
    EXPECT_GE(meanwhile, int((backMs - silencedMs) / 1000) - 2) << "analyzer " << slot;
  }
  // The silent one: its own events, no result while it was silent.
  QVector<StoredEvent> events;
  const std::vector<StoredResult> third = stored(3, &events);
  int lost = 0, back = 0;
  for (const StoredEvent& e : events) {
    lost += e.kind == EventKind::LinkLost;
    back += e.kind == EventKind::LinkBack;
  }
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(back, 1);
  int duringSilence = 0;
  for (const StoredResult& r : third) duringSilence += r.result.utcMs > silencedMs + 2000 && r.result.utcMs < backMs;
  EXPECT_EQ(duringSilence, 0);
  // Every analyzer was stopped at the end, each at its own address.
  for (int slot = 1; slot <= 4; ++slot)
    EXPECT_GE(sim_->count(QRegularExpression(QStringLiteral("^@%1 COMMAND 3 stop$").arg(slot))), 1) << slot;
}

}  // namespace
