// Substitute values entered in the window: an engineer fills a span the link
// was lost in, after its day was sealed. The interval's average is valid
// and says how many of its values were substitutes, nothing stored before
// changes, the trail records who entered what and why and seals the day
// again, and the whole trail still verifies. The dialog refuses what cannot
// be taken; an operator cannot open it.

#include <gtest/gtest.h>

#include <QAction>
#include <QDateTimeEdit>
#include <QTableView>
#include <QLineEdit>

#include "data/trail_check.h"
#include "emissions/result_status.h"
#include "platform/timer.h"
#include "view/results_table_model.h"
#include "service/audit_keeper.h"
#include "support/korvex_fixture.h"

namespace {

const QDate kDay(2026, 12, 6);

Measurement reading(double co) {
  Measurement m;
  m.values[channel::O2] = 6;
  m.values[channel::CO] = co;
  return m;
}

class SubstitutesTest : public KorvexFixture {
 protected:
  AuditTrail& trail() { return host().audit()->trail(); }
  QVector<AuditEntry> entries(AuditKind kind) {
    QVector<AuditEntry> out;
    for (const AuditEntry& e : trail().entriesAfter(0, 100000))
      if (e.kind == kind) out << e;
    return out;
  }
  // Fills the dialog's fields; the span in local time.
  static void fillIn(QDialog* d, const QDateTime& from, const QDateTime& to, const QString& o2, const QString& co,
                     const QString& reason) {
    d->findChild<QDateTimeEdit*>(QStringLiteral("EditFrom"))->setDateTime(from);
    d->findChild<QDateTimeEdit*>(QStringLiteral("EditTo"))->setDateTime(to);
    d->findChild<QLineEdit*>(QStringLiteral("EditSubstituteO2"))->setText(o2);
    d->findChild<QLineEdit*>(QStringLiteral("EditSubstituteCO"))->setText(co);
    d->findChild<QLineEdit*>(QStringLiteral("EditReason"))->setText(reason);
  }
};

TEST_F(SubstitutesTest, ASpanTheLinkWasLostInFilledAfterItsDayWasSealedGivesAValidAverageAndKeepsTheTrailWhole) {
  writeAccounts(true);
  setNow(QDateTime(kDay, QTime(10, 0)));
  startWithDefaults();
  // 10:00-10:05 measured, then the link was lost until 10:35.
  for (int i = 0; i < 30; ++i) addResult(reading(10), i * 10);
  setNow(QDateTime(kDay, QTime(10, 35)));
  for (int i = 0; i < 6; ++i) addResult(reading(10), i * 10);
  // The day ends and is sealed.
  setNow(QDateTime(kDay.addDays(1), QTime(0, 0, 1)));
  tick();
  setNow(QDateTime(kDay.addDays(1), QTime(0, 6)));
  host().audit()->sealTimer()->fire();
  ASSERT_NE(trail().sealOf(kDay).id, 0);
  const qint64 start = QDateTime(kDay, QTime(10, 0)).toMSecsSinceEpoch();
  const std::vector<StoredResult> before = session().store().results(0, std::numeric_limits<qint64>::max());
  ASSERT_EQ(before.size(), 36u);
  const QVector<StoredAverage> lost = session().store().averages(AveragePeriodKind::Interval, 30, start, start + 1);
  ASSERT_EQ(lost.size(), 1);
  EXPECT_FALSE(lost[0].components[0].valid);

  ASSERT_EQ(host().access().login(QStringLiteral(u"Иванов"), QStringLiteral("Engineer-pass-3")).result,
            UserAccounts::LoginResult::Ok);
  ASSERT_TRUE(find<QAction>("SubstitutesAction")->isEnabled());
  const QString reason = QStringLiteral(u"Обрыв линии связи; значения по переносному газоанализатору");
  int shown = 0;
  modal_ = [&](QDialog* d) {
    ++shown;
    const auto refused = [&](const QString& expected) {
      takeMessages();
      d->accept();
      const std::vector<RecordedMessage> m = takeMessages();
      EXPECT_EQ(d->result(), QDialog::Rejected);
      ASSERT_EQ(m.size(), 1u);
      EXPECT_TRUE(m[0].text.contains(expected)) << m[0].text.toStdString();
    };
    // A value that is no number stays at its field (the other refusals are
    // substituteProblem's, tested with it).
    fillIn(d, QDateTime(kDay, QTime(10, 0)), QDateTime(kDay, QTime(10, 30)), QStringLiteral("6"),
           QStringLiteral("12,5,0"), reason);
    refused(QStringLiteral("12,5,0"));
    // Either decimal sign is taken.
    fillIn(d, QDateTime(kDay, QTime(10, 0)), QDateTime(kDay, QTime(10, 30)), QStringLiteral("6.0"),
           QStringLiteral("12,5"), reason);
    d->accept();
    return d->result();
  };
  window().onSubstitutesTriggered();
  modal_ = nullptr;
  EXPECT_EQ(shown, 1);

  // Results were added after the others (which the store keeps as they were).
  const std::vector<StoredResult> after = session().store().results(0, std::numeric_limits<qint64>::max());
  ASSERT_EQ(after.size(), 36u + 150u);  // 10:05:00 .. 10:29:50
  std::vector<StoredResult> added;
  for (const StoredResult& r : after)
    if (r.seq > before.back().seq) added.push_back(r);
  ASSERT_EQ(added.size(), 150u);
  EXPECT_EQ(added.front().result.utcMs, start + 300000);
  for (const StoredResult& r : added) {
    EXPECT_EQ(r.result.status, ResultStatus::Substitute);
    EXPECT_EQ(r.result[channel::CO], 12.5);
    EXPECT_EQ(r.result[channel::O2], 6);
  }
  EXPECT_EQ(emissions::statusCode(added.front().result.status), QStringLiteral(u"З"));

  // The interval's average, stored again: valid, 150 of its 180 values substitutes.
  const QVector<StoredAverage> filled = session().store().averages(AveragePeriodKind::Interval, 30, start, start + 1);
  ASSERT_EQ(filled.size(), 1);
  const StoredComponentAverage& co = filled[0].components[0];
  EXPECT_TRUE(co.valid);
  EXPECT_EQ(co.count, 180);
  EXPECT_EQ(co.substitutes, 150);

  // The event log and the trail: who, the span, the values, the reason; the day sealed again.
  const QVector<StoredEvent> logged = events(EventKind::SubstitutesEntered);
  ASSERT_EQ(logged.size(), 1);
  EXPECT_TRUE(logged[0].text.contains(reason)) << logged[0].text.toStdString();
  EXPECT_TRUE(logged[0].text.contains(QStringLiteral(u"(Иванов)"))) << logged[0].text.toStdString();
  const QVector<AuditEntry> recorded = entries(AuditKind::SubstituteValue);
  ASSERT_EQ(recorded.size(), 1);
  EXPECT_EQ(recorded[0].user, QStringLiteral(u"Иванов"));
  EXPECT_EQ(recorded[0].subject, QStringLiteral(u"06.12.2026 10:00:00 – 06.12.2026 10:30:00"));
  EXPECT_EQ(recorded[0].after, QStringLiteral("O2 6 %, CO 12,5 ppm"));
  EXPECT_TRUE(recorded[0].text.contains(reason));
  EXPECT_TRUE(recorded[0].text.contains(QStringLiteral(u"результатов: 150")));
  const AuditEntry resealed = trail().sealOf(kDay);
  EXPECT_EQ(resealed.kind, AuditKind::DayResealed);
  EXPECT_GT(resealed.id, recorded[0].id);

  // The day's history shows them in their place, with their status.
  ASSERT_NO_FATAL_FAILURE(showHistory(kDay, kDay));
  ASSERT_TRUE(window().showingHistory());
  const QAbstractItemModel* table = find<QTableView>("StringGrid1")->model();
  ASSERT_EQ(table->rowCount(), 186);
  const auto status = [&](int row, int role = Qt::DisplayRole) {
    return table->index(row, kStatusColumn).data(role).toString();
  };
  EXPECT_EQ(status(29), QStringLiteral(u"Д"));
  for (int row = 30; row < 180; ++row) ASSERT_EQ(status(row), QStringLiteral(u"З")) << row;
  EXPECT_EQ(status(30, Qt::ToolTipRole), QStringLiteral(u"замещающее значение"));
  EXPECT_EQ(status(180), QStringLiteral(u"Д"));

  // The same span again adds nothing.
  host().enterSubstitutes([&] {
    emissions::SubstituteEntry e;
    e.fromUtcMs = start;
    e.toUtcMs = start + 1800000;
    e.values[channel::O2] = 6;
    e.values[channel::CO] = 1;
    e.reason = reason;
    return e;
  }());
  EXPECT_EQ(session().store().results(0, std::numeric_limits<qint64>::max()).size(), after.size());

  stopProgram();
  const TrailCheck check = checkTrail(inDir(QStringLiteral("korvex.db")), TrailCheckScope());
  EXPECT_EQ(check.status, TrailCheck::Status::Whole) << check.line.toStdString();
}

TEST_F(SubstitutesTest, TodaysTableAndTodaysAveragesTakeThemInTheirPlace) {
  setNow(QDateTime(kDay, QTime(10, 0)));
  startWithDefaults();
  for (int i = 0; i < 30; ++i) addResult(reading(10), i * 10);
  setNow(QDateTime(kDay, QTime(10, 40)));
  tick();
  const qint64 start = QDateTime(kDay, QTime(10, 0)).toMSecsSinceEpoch();
  ASSERT_EQ(window().results().count(), 30);
  emissions::SubstituteEntry e;
  e.fromUtcMs = start;
  e.toUtcMs = start + 1800000;
  e.values[channel::O2] = 6;
  e.values[channel::CO] = 30;
  e.reason = QStringLiteral(u"Прибор на поверке");
  host().enterSubstitutes(e);
  // Without accounts nobody is named.
  const QVector<StoredEvent> logged = events(EventKind::SubstitutesEntered);
  ASSERT_EQ(logged.size(), 1);
  EXPECT_TRUE(logged[0].text.endsWith(QStringLiteral(u"причина: Прибор на поверке"))) << logged[0].text.toStdString();
  ASSERT_EQ(window().results().count(), 180);
  EXPECT_EQ(window().results().status(29), ResultStatus::Valid);
  EXPECT_EQ(window().results().status(30), ResultStatus::Substitute);
  EXPECT_EQ(window().results().status(179), ResultStatus::Substitute);
  // Today's 10:00 half hour, stored again and as the panel's day stands: valid.
  const QVector<StoredAverage> stored = session().store().averages(AveragePeriodKind::Interval, 30, start, start + 1);
  ASSERT_EQ(stored.size(), 1);
  EXPECT_TRUE(stored[0].components[0].valid);
  EXPECT_EQ(stored[0].components[0].substitutes, 150);
  const emissions::MonitorState state = session().emissions().state();
  ASSERT_TRUE(state.lastInterval.has_value());
  EXPECT_EQ(state.lastInterval->startUtcMs, start);
  EXPECT_TRUE((*state.lastInterval)[emissions::Component::CO].valid);
  EXPECT_EQ((*state.lastInterval)[emissions::Component::CO].substitutes, 150);
}

TEST_F(SubstitutesTest, AnOperatorCannotOpenTheDialog) {
  writeAccounts(true);
  setNow(QDateTime(kDay, QTime(10, 0)));
  startWithDefaults();
  ASSERT_EQ(host().access().login(QStringLiteral(u"Петров"), QStringLiteral("Operator-pass-2")).result,
            UserAccounts::LoginResult::Ok);
  QAction* action = find<QAction>("SubstitutesAction");
  EXPECT_FALSE(action->isEnabled());
  EXPECT_TRUE(action->toolTip().contains(QStringLiteral(u"нужна роль «инженер»"))) << action->toolTip().toStdString();
  int shown = 0;
  modal_ = [&](QDialog* d) {
    ++shown;
    return d->result();
  };
  takeMessages();
  window().onSubstitutesTriggered();
  modal_ = nullptr;
  EXPECT_EQ(shown, 0);
  const std::vector<RecordedMessage> refused = takeMessages();
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_TRUE(refused[0].text.contains(QStringLiteral(u"замещающие значения"))) << refused[0].text.toStdString();
}

}  // namespace
