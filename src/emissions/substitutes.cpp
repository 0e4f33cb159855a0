#include "emissions/substitutes.h"

#include <QDateTime>
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <cmath>

#include "device/register_map.h"
#include "emissions/result_status.h"

namespace emissions {

namespace {

QString channelLabel(int ch) {
  const QString unit = QString::fromLatin1(channel::kUnits[size_t(ch)]);
  return QString::fromLatin1(channel::kNames[size_t(ch)]) + QStringLiteral(", ") + unit;
}

}  // namespace

QVector<int> requiredSubstituteChannels(const ValidationConfig& v) {
  QVector<int> out{channel::O2};
  const auto need = [&](Component c) { return v.monitored[size_t(index(c))]; };
  if (need(Component::CO)) out << channel::CO;
  if (need(Component::NOx)) out << channel::NO << channel::NO2;
  if (need(Component::SO2)) out << channel::SO2;
  if (need(Component::H2S)) out << channel::H2S;
  return out;
}

QString substituteProblem(const SubstituteEntry& e, const ValidationConfig& v, qint64 nowUtcMs, int* field) {
  const auto fail = [field](int ch, const QString& text) {
    if (field) *field = ch;
    return text;
  };
  if (field) *field = -1;
  if (e.toUtcMs <= e.fromUtcMs) return fail(-1, QStringLiteral(u"Конец периода должен быть позже его начала."));
  if (e.toUtcMs > nowUtcMs)
    return fail(-1, QStringLiteral(u"Период не может заканчиваться в будущем: замещающие значения вводятся только "
                                   u"за прошедшее время."));
  // A span is read whole and filled in the measuring's own thread: a week at most.
  if (e.toUtcMs - e.fromUtcMs > qint64(kMaxSubstituteDays) * 86400000)
    return fail(-1, QStringLiteral(u"Период не может быть длиннее %1 суток: введите его по частям.").arg(kMaxSubstituteDays));
  for (int ch : requiredSubstituteChannels(v))
    if (!e.values[size_t(ch)])
      return fail(ch, QStringLiteral(u"Введите значение %1: оно нужно для расчёта выбросов.").arg(channelLabel(ch)));
  bool any = false;
  for (int ch : kSubstituteChannels) {
    const std::optional<double>& value = e.values[size_t(ch)];
    if (!value) continue;
    if (ch != channel::O2) any = true;
    // Below zero, or where the analyzer's codes begin: no reading it could have given.
    const double top = ch == channel::O2 ? 21.0 : kCodeOverload - 1;
    if (!std::isfinite(*value) || *value < 0 || *value > top)
      return fail(ch, QStringLiteral(u"Значение %1 вне допустимого диапазона (0 … %2).")
                          .arg(channelLabel(ch))
                          .arg(QLocale::c().toString(top, 'g', 6)));
  }
  if (!any) return fail(channel::CO, QStringLiteral(u"Введите значение хотя бы одного компонента."));
  if (e.reason.trimmed().isEmpty()) return fail(-1, QStringLiteral(u"Укажите причину ввода замещающих значений."));
  return {};
}

bool countsAsValue(const StoredResult& r, const ValidationConfig& v) {
  return !invalidReason(storedStatus(r.result, v));
}

std::vector<Result> substituteResults(const SubstituteEntry& e, const std::vector<StoredResult>& stored,
                                      const SubstituteBasis& basis, const ValidationConfig& v) {
  std::vector<Result> out;
  const qint64 period = qint64(std::max(1, basis.periodSeconds)) * 1000;
  if (e.toUtcMs <= e.fromUtcMs) return out;
  // The times of results that count, in order, to look each slot up.
  std::vector<qint64> counting;
  for (const StoredResult& s : stored)
    if (countsAsValue(s, v)) counting.push_back(s.result.utcMs);
  std::sort(counting.begin(), counting.end());

  Result r;
  r.mode = WorkMode::Idle;
  r.address = basis.address;
  r.fuelIndex = basis.fuelIndex;
  r.status = ResultStatus::Substitute;
  // What was not entered shows as the analyzer's "no value".
  r.values.fill(kCodeNoValue);
  r.values[channel::O2] = kCodeNoValue / 100;
  for (int ch : kSubstituteChannels)
    if (e.values[size_t(ch)]) r.values[size_t(ch)] = *e.values[size_t(ch)];
  deriveChannels(r.values, basis.fuel);

  const qint64 first = e.fromUtcMs % period == 0 ? e.fromUtcMs
                       : e.fromUtcMs >= 0        ? (e.fromUtcMs / period + 1) * period
                                                 : (e.fromUtcMs / period) * period;
  for (qint64 t = first; t < e.toUtcMs; t += period) {
    // A result that counts within half a period of the slot fills it.
    const auto near = std::lower_bound(counting.begin(), counting.end(), t - period / 2);
    if (near != counting.end() && *near < t + (period + 1) / 2) continue;
    r.utcMs = t;
    r.utcOffset = basis.zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(t, Qt::UTC));
    out.push_back(r);
  }
  return out;
}

QString substituteValuesText(const SubstituteEntry& e, const QLocale& locale) {
  QStringList parts;
  for (int ch : kSubstituteChannels) {
    const std::optional<double>& value = e.values[size_t(ch)];
    if (!value) continue;
    parts << QStringLiteral("%1 %2 %3")
                 .arg(QString::fromLatin1(channel::kNames[size_t(ch)]),
                      locale.toString(*value, 'g', QLocale::FloatingPointShortest),
                      QString::fromLatin1(channel::kUnits[size_t(ch)]));
  }
  return parts.join(QStringLiteral(", "));
}

QString substituteSpanText(const SubstituteEntry& e, const QTimeZone& zone) {
  const auto at = [&zone](qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, zone).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
  };
  return at(e.fromUtcMs) + QStringLiteral(u" – ") + at(e.toUtcMs);
}

}  // namespace emissions
