// Alarms: a completed valid average above a threshold latches its alarm until
// someone acknowledges it; the events say what happened and when.

#include <gtest/gtest.h>

#include "emissions/emission_engine.h"
#include "emissions_support.h"

namespace {

using namespace emissions_test;

ComponentAverages co(double mean, bool valid = true) {
  ComponentAverages a{};
  a[size_t(index(Component::CO))] = {mean, 100, valid};
  return a;
}

const AlarmKey kCoPre{Component::CO, AveragePeriod::Interval, AlarmLevel::PreAlarm};
const AlarmKey kCoAlarm{Component::CO, AveragePeriod::Interval, AlarmLevel::Alarm};

TEST(EmissionAlarms, LatchedUntilAcknowledgedWithThePreAlarmAtItsPercentage) {
  AlarmLimits limits;
  limits[Component::CO].interval = 100;
  limits.preAlarmPercent = 80;
  AlarmLatches latches;
  qint64 t = 0;
  auto interval = [&](double mean, bool valid = true) {
    t += 1800000;
    return latches.evaluate(AveragePeriod::Interval, t - 1800000, t, 3600, co(mean, valid), limits);
  };

  EXPECT_TRUE(interval(80).isEmpty());  // at the threshold is not above it
  QVector<AlarmEvent> e = interval(85);
  ASSERT_EQ(e.size(), 1);
  EXPECT_EQ(e[0].type, AlarmEventType::Raised);
  EXPECT_EQ(e[0].key, kCoPre);
  EXPECT_EQ(e[0].utcMs, t);
  EXPECT_DOUBLE_EQ(e[0].value, 85);
  EXPECT_DOUBLE_EQ(e[0].threshold, 80);
  EXPECT_EQ(latches.lamp(), Lamp::PreAlarm);

  EXPECT_TRUE(interval(50).isEmpty());  // stays latched, raises nothing
  EXPECT_TRUE(latches.state(kCoPre).latched);
  EXPECT_TRUE(interval(500, /*valid=*/false).isEmpty());  // invalid averages are not judged

  // Above both: the alarm is raised; the pre-alarm, latched already, is an
  // exceedance again, not raised again.
  e = interval(120);
  ASSERT_EQ(e.size(), 2);
  EXPECT_EQ(e[0].type, AlarmEventType::Repeated);
  EXPECT_EQ(e[0].key, kCoPre);
  EXPECT_EQ(e[0].averageStartUtcMs, t - 1800000);
  EXPECT_DOUBLE_EQ(e[0].value, 120);
  EXPECT_EQ(e[1].type, AlarmEventType::Raised);
  EXPECT_EQ(e[1].key, kCoAlarm);
  EXPECT_EQ(latches.lamp(), Lamp::Alarm);
  // Every later exceedance while unacknowledged is told, the latch unchanged.
  e = interval(130);
  ASSERT_EQ(e.size(), 2);
  for (const AlarmEvent& r : e) EXPECT_EQ(r.type, AlarmEventType::Repeated);
  EXPECT_DOUBLE_EQ(latches.state(kCoAlarm).value, 120);

  const qint64 ackAt = t + 12345;
  const auto ack = latches.acknowledge(kCoAlarm, ackAt, 3600);
  ASSERT_TRUE(ack.has_value());
  EXPECT_EQ(ack->type, AlarmEventType::Acknowledged);
  EXPECT_EQ(ack->utcMs, ackAt);
  EXPECT_FALSE(latches.state(kCoAlarm).latched);
  EXPECT_EQ(latches.state(kCoAlarm).acknowledgedUtcMs, ackAt);
  EXPECT_EQ(latches.lamp(), Lamp::PreAlarm);
  EXPECT_FALSE(latches.acknowledge(kCoAlarm, ackAt + 1, 3600).has_value());

  e = interval(120);  // raised again after the acknowledgement
  ASSERT_EQ(e.size(), 2);
  EXPECT_EQ(e[1].type, AlarmEventType::Raised);
  EXPECT_EQ(latches.acknowledgeAll(t + 1, 3600).size(), 2);
  EXPECT_EQ(latches.lamp(), Lamp::Off);

  // Without a pre-alarm percentage only the limit itself alarms.
  limits.preAlarmPercent = 0;
  e = interval(120);
  ASSERT_EQ(e.size(), 1);
  EXPECT_EQ(e[0].key, kCoAlarm);
}

TEST(EmissionAlarms, TheEngineJudgesCompletedIntervalsAndDaysAgainstTheirOwnLimits) {
  const QTimeZone zone = berlin();
  const QDate d(2025, 7, 1);
  AlarmLimits limits;
  limits[Component::CO].interval = 200;
  limits[Component::CO].daily = 100;
  limits.preAlarmPercent = 0;
  EmissionEngine engine(config(zone, 30, 60), limits);

  // 120 mg/m3 all day, 250 from 12:00 to 12:30 (still running at 12:29).
  QVector<AlarmEvent> events;
  const qint64 noon = at(d, QTime(12, 0), zone);
  for (qint64 t = at(d, QTime(0, 0), zone); t < noon + 30 * 60000; t += 60000) {
    const double mg = t >= noon ? 250 : 120;
    events += engine.addResult(result(t, zone, {3, coPpmFor(mg)})).events;
  }
  EXPECT_TRUE(events.isEmpty()) << "nothing is judged before it is complete";
  EXPECT_GT(engine.runningInterval()->components[0].mean, 200);

  const EngineUpdate u = engine.advanceTo(noon + 30 * 60000);
  ASSERT_EQ(u.events.size(), 1);
  EXPECT_EQ(u.events[0].key, kCoAlarm);
  EXPECT_EQ(u.events[0].averageStartUtcMs, noon);
  EXPECT_EQ(u.events[0].utcMs, noon + 30 * 60000);
  EXPECT_EQ(u.events[0].utcOffset, 7200);

  for (qint64 t = noon + 30 * 60000; t < at(d.addDays(1), QTime(0, 0), zone); t += 60000)
    events += engine.addResult(result(t, zone, {3, coPpmFor(120)})).events;
  EXPECT_TRUE(events.isEmpty());
  const EngineUpdate dayEnd = engine.advanceTo(at(d.addDays(1), QTime(0, 0), zone));
  ASSERT_EQ(dayEnd.completedDays.size(), 1);
  ASSERT_EQ(dayEnd.events.size(), 1);
  const AlarmKey dayAlarm{Component::CO, AveragePeriod::Day, AlarmLevel::Alarm};
  EXPECT_EQ(dayEnd.events[0].key, dayAlarm);
  EXPECT_NEAR(dayEnd.events[0].value, (47 * 120 + 250) / 48.0, 1e-9);

  const qint64 ackAt = at(d.addDays(1), QTime(7, 45, 10), zone);
  const QVector<AlarmEvent> acks = engine.acknowledgeAll(ackAt);
  ASSERT_EQ(acks.size(), 2);
  for (const AlarmEvent& a : acks) {
    EXPECT_EQ(a.type, AlarmEventType::Acknowledged);
    EXPECT_EQ(a.utcMs, ackAt);
    EXPECT_EQ(a.utcOffset, 7200);
  }
  EXPECT_EQ(engine.alarms().state(dayAlarm).acknowledgedUtcMs, ackAt);
  EXPECT_EQ(engine.alarms().lamp(), Lamp::Off);
}

}  // namespace
