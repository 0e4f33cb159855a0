#pragma once
// The emissions in the operator's words: what the event log, the window and
// the printed report say about averages and alarms.

#include <QDate>
#include <QLocale>
#include <QString>

#include "emissions/alarms.h"

namespace emissions {

// "CO", "NOx", "SO2", "H2S".
QString componentTitle(Component c);
// A mean in mg/m3 with one decimal in the locale's form: "246,4".
QString meanText(double mgPerM3, const QLocale& locale);
// Local clock times of a span: "10:00–10:30", and with the date where the
// span does not lie within one day: "06.12.2026 23:30–07.12.2026 00:00".
QString spanText(qint64 startUtcMs, int startOffset, qint64 endUtcMs, int endOffset);
// For the event log: "Превышение норматива NOx: среднее за 10:00–10:30
// 250,3 мг/м³ > 200 мг/м³", "Сигнализация квитирована в 10:31:05:
// превышение норматива NOx, среднее за 10:00–10:30". `intervalMs` is the
// interval length (an acknowledgement names only its average's start).
QString alarmEventText(const AlarmEvent& e, qint64 intervalMs, const QLocale& locale);
// A latched alarm, for the lamp's tooltip; `offset` is the local clock's.
QString alarmStateText(const AlarmKey& key, const AlarmState& s, int offset, const QLocale& locale);
// "норма", "предупреждение", "ПРЕВЫШЕНИЕ" for a valid average; "недостоверно" otherwise.
QString judgementText(bool valid, Exceedance e);

}  // namespace emissions
