// Each result's status is decided as it is taken, from the analyzer's state,
// the plant and the operator's switches, and goes with it into the database,
// the table and the averages; the switches' turns are in the event log with
// who turned them, and the next start takes them up from there.

#include <gtest/gtest.h>

#include <limits>

#include "support/session_fixture.h"

namespace {

class LiveStatusTest : public SessionFixture {
 protected:
  void SetUp() override {
    SessionFixture::SetUp();
    setNow(QDateTime(QDate(2026, 12, 8), QTime(10, 0)));
    m_[channel::O2] = 6.1;
    m_[channel::CO] = 40;
  }

  // The statuses of every stored result, oldest first.
  QVector<ResultStatus> stored() const {
    QVector<ResultStatus> out;
    for (const StoredResult& r : session().store().results(0, std::numeric_limits<qint64>::max()))
      out << r.result.status;
    return out;
  }
  void take() {
    addResult(m_);
    advance(1);
  }

  Measurement m_;
};

TEST_F(LiveStatusTest, MaintenanceMarksTheResultsFromTheNextOnAndTheNextStartKeepsIt) {
  startSessionWithDefaults();
  EXPECT_FALSE(session().maintenance());
  take();
  session().setMaintenance(true, QStringLiteral(u"Петров"));
  take();
  EXPECT_EQ(stored(), (QVector<ResultStatus>{ResultStatus::Valid, ResultStatus::Maintenance}));
  ASSERT_EQ(results().count(), 2);
  EXPECT_EQ(results().status(1), ResultStatus::Maintenance);
  const QVector<StoredEvent> on = events(EventKind::MaintenanceOn);
  ASSERT_EQ(on.size(), 1);
  EXPECT_EQ(on[0].text, QStringLiteral(u"Техобслуживание начато (Петров)"));

  // A restart (or a crash) in the middle of maintenance does not end it.
  stopProgram();
  startSession();
  EXPECT_TRUE(session().maintenance());
  EXPECT_EQ(results().status(1), ResultStatus::Maintenance);  // today's, read back with their status
  take();
  session().setMaintenance(false, QString());
  take();
  EXPECT_EQ(stored().mid(2), (QVector<ResultStatus>{ResultStatus::Maintenance, ResultStatus::Valid}));
  EXPECT_EQ(events(EventKind::MaintenanceOff).value(0).text, QStringLiteral(u"Техобслуживание окончено"));

  // Both turns are in the audit trail, with who turned them.
  host().flushAudit();
  QVector<AuditEntry> entries;
  host().postAudit([&entries](AuditKeeper& k) { entries = k.trail().entriesAfter(0, 1000); });
  host().flushAudit();
  QStringList turns;
  for (const AuditEntry& e : entries)
    if (e.kind == AuditKind::MaintenanceOn || e.kind == AuditKind::MaintenanceOff) turns << e.text;
  EXPECT_EQ(turns, (QStringList{QStringLiteral(u"Техобслуживание начато (Петров)"),
                                QStringLiteral(u"Техобслуживание окончено")}));
}

// The order of the statuses is decideStatus's (validation_test); here what
// feeds it: the analyzer's zero setting and the declared test-gas check.
TEST_F(LiveStatusTest, ZeroSettingAndATestGasCheckKeptAcrossARestartMakeTests) {
  startSessionWithDefaults();
  poll().setAnalyzerState(AnalyzerState::ZeroSetting);
  take();
  poll().setAnalyzerState(AnalyzerState::Measuring);
  session().setTestGas(true, QStringLiteral(u"Петров"));
  stopProgram();
  startSession();
  take();
  session().setTestGas(false, QString());
  take();
  EXPECT_EQ(stored(), (QVector<ResultStatus>{ResultStatus::Test, ResultStatus::Test, ResultStatus::Valid}));
  EXPECT_EQ(events(EventKind::TestGasOn).value(0).text, QStringLiteral(u"Проверка поверочным газом начата (Петров)"));
}

TEST_F(LiveStatusTest, WithTheSwitchRuleThePlantSwitchDecidesAndAnotherRuleIgnoresIt) {
  startSessionWithDefaults();
  emissions::EmissionSettings e = settings().emissions();
  e.plant.source = emissions::PlantRule::Source::Switch;
  QString error;
  ASSERT_TRUE(settings().setEmissions(e, &error)) << error.toStdString();
  take();
  session().setPlantOperating(false, QStringLiteral(u"Сидоров"));
  take();
  EXPECT_EQ(events(EventKind::PlantSwitchedOff).value(0).text, QStringLiteral(u"Установка остановлена (Сидоров)"));

  // The O2 rule watches the readings: the switch's position does not count.
  e.plant.source = emissions::PlantRule::Source::O2;
  ASSERT_TRUE(settings().setEmissions(e, &error)) << error.toStdString();
  take();
  EXPECT_FALSE(session().plantSwitchOn());  // kept for when the switch rule is back
  EXPECT_EQ(stored(), (QVector<ResultStatus>{ResultStatus::Valid, ResultStatus::PlantOff, ResultStatus::Valid}));

  stopProgram();
  startSession();
  EXPECT_FALSE(session().plantSwitchOn());
}

}  // namespace
