#include "web/web_json.h"

#include <QJsonDocument>
#include <cmath>

#include "acquisition/state_texts.h"
#include "emissions/emission_texts.h"

namespace web {

namespace {

QJsonValue number(const std::optional<double>& v) {
  if (!v || !std::isfinite(*v)) return QJsonValue(QJsonValue::Null);
  return std::round(*v * 1000) / 1000;
}

const char* specialName(SpecialCode c) {
  switch (c) {
    case SpecialCode::Overload: return "overload";
    case SpecialCode::Error: return "error";
    case SpecialCode::NoValue: return "novalue";
    case SpecialCode::None: break;
  }
  return nullptr;
}

const char* modeName(WorkMode m) {
  switch (m) {
    case WorkMode::Continuous: return "continuous";
    case WorkMode::Single: return "single";
    case WorkMode::Cyclic: return "cyclic";
    case WorkMode::Idle: return "idle";
    case WorkMode::Stopping: return "stopping";
    case WorkMode::StartUp: return "startup";
  }
  return "";
}

const char* lampName(emissions::Lamp l) {
  switch (l) {
    case emissions::Lamp::Off: return "off";
    case emissions::Lamp::PreAlarm: return "prealarm";
    case emissions::Lamp::Alarm: return "alarm";
  }
  return "";
}

const char* exceedanceName(emissions::Exceedance e) {
  switch (e) {
    case emissions::Exceedance::None: return "";
    case emissions::Exceedance::PreAlarm: return "prealarm";
    case emissions::Exceedance::Alarm: return "alarm";
  }
  return "";
}

QJsonArray componentsJson(const emissions::ComponentAverages& c) {
  QJsonArray out;
  for (emissions::Component comp : emissions::kComponents) {
    const emissions::ComponentAverage& a = c[size_t(emissions::index(comp))];
    out.append(QJsonObject{{QStringLiteral("name"), QString::fromLatin1(emissions::componentName(comp))},
                           {QStringLiteral("mean"), a.count > 0 ? number(a.mean) : QJsonValue(QJsonValue::Null)},
                           {QStringLiteral("count"), a.count},
                           {QStringLiteral("valid"), a.valid}});
  }
  return out;
}

void appendNumber(QByteArray& out, const std::optional<double>& v) {
  if (!v) {
    out += "null";
    return;
  }
  out += QByteArray::number(*v, 'g', 5);
}

}  // namespace

QString statusText(ResultStatus status) {
  switch (status) {
    case ResultStatus::Valid: return QStringLiteral(u"достоверный");
    case ResultStatus::OutOfRange: return QStringLiteral(u"вне диапазона");
    case ResultStatus::Substitute: return QStringLiteral(u"замещённый");
    case ResultStatus::Maintenance: return QStringLiteral(u"обслуживание");
    case ResultStatus::Fault: return QStringLiteral(u"неисправность");
    case ResultStatus::PlantOff: return QStringLiteral(u"установка остановлена");
    case ResultStatus::Test: return QStringLiteral(u"проверка");
  }
  return {};
}

namespace {

// The means before the confidence interval; validity as judged.
emissions::ComponentAverages measuredOnly(emissions::ComponentAverages c) {
  for (emissions::ComponentAverage& a : c) a.mean = a.measured;
  return c;
}

}  // namespace

ShownAverage shownAverage(const emissions::IntervalAverage& a) {
  ShownAverage s;
  s.startUtcMs = a.startUtcMs;
  s.endUtcMs = a.endUtcMs;
  s.startOffset = a.startOffset;
  s.endOffset = a.endOffset;
  s.count = a.resultCount;
  s.measured = measuredOnly(a.components);
  s.validated = a.components;
  return s;
}

ShownAverage shownAverage(const emissions::DailyAverage& d) {
  ShownAverage s;
  s.startUtcMs = d.startUtcMs;
  s.endUtcMs = d.endUtcMs;
  s.startOffset = d.intervals.isEmpty() ? 0 : d.intervals.first().startOffset;
  s.endOffset = d.intervals.isEmpty() ? 0 : d.intervals.last().endOffset;
  s.count = int(d.intervals.size());
  s.measured = measuredOnly(d.components);
  s.validated = d.components;
  return s;
}

QJsonObject averageJson(const ShownAverage& a) {
  return QJsonObject{{QStringLiteral("start"), a.startUtcMs},
                     {QStringLiteral("end"), a.endUtcMs},
                     {QStringLiteral("startOffset"), a.startOffset},
                     {QStringLiteral("endOffset"), a.endOffset},
                     {QStringLiteral("count"), a.count},
                     {QStringLiteral("measured"), componentsJson(a.measured)},
                     {QStringLiteral("validated"),
                      a.validated ? QJsonValue(componentsJson(*a.validated)) : QJsonValue(QJsonValue::Null)}};
}

QJsonObject snapshotJson(const LiveSnapshot& s) {
  QJsonObject o{{QStringLiteral("id"), s.id},
                {QStringLiteral("site"), s.site},
                {QStringLiteral("name"), s.name},
                {QStringLiteral("address"), s.address},
                {QStringLiteral("state"), s.state},
                {QStringLiteral("linkOk"), s.linkOk},
                {QStringLiteral("lamp"), s.lampKnown ? QString::fromLatin1(lampName(s.lamp)) : QStringLiteral("unknown")},
                {QStringLiteral("latched"), QJsonArray::fromStringList(s.latched)},
                {QStringLiteral("intervalMinutes"), s.intervalMinutes}};
  if (s.last) {
    const Result& r = s.last->result;
    QJsonArray channels;
    for (int ch = 0; ch < kChannelCount; ++ch) {
      const SpecialCode code = specialCode(ch, r[ch]);
      QJsonObject c{{QStringLiteral("name"), QString::fromLatin1(channel::kNames[ch])},
                    {QStringLiteral("unit"), QString::fromLatin1(channel::kUnits[ch])}};
      if (code != SpecialCode::None) {
        c.insert(QStringLiteral("value"), QJsonValue(QJsonValue::Null));
        c.insert(QStringLiteral("code"), QString::fromLatin1(specialName(code)));
      } else {
        c.insert(QStringLiteral("value"), number(r[ch]));
      }
      channels.append(c);
    }
    QString faults;
    buildFaultText(quint16(r.faultBits), faults);
    QJsonArray emissionValues;
    for (const auto& v : s.lastEmissions) emissionValues.append(number(v));
    o.insert(QStringLiteral("last"),
             QJsonObject{{QStringLiteral("seq"), s.last->seq},
                         {QStringLiteral("time"), r.utcMs},
                         {QStringLiteral("offset"), r.utcOffset},
                         {QStringLiteral("mode"), QString::fromLatin1(modeName(r.mode))},
                         {QStringLiteral("fuel"), int(r.fuelIndex)},
                         {QStringLiteral("faultBits"), r.faultBits},
                         {QStringLiteral("faults"), faults.isEmpty() ? QJsonArray()
                                                                    : QJsonArray::fromStringList(faults.split(QStringLiteral("\r\n")))},
                         {QStringLiteral("status"), int(r.status)},
                         {QStringLiteral("statusText"), statusText(r.status)},
                         {QStringLiteral("channels"), channels},
                         {QStringLiteral("emissions"), emissionValues},
                         {QStringLiteral("o2Ref"), number(s.o2Ref)}});
  } else {
    o.insert(QStringLiteral("last"), QJsonValue(QJsonValue::Null));
  }
  const auto avg = [](const std::optional<ShownAverage>& a) {
    return a ? QJsonValue(averageJson(*a)) : QJsonValue(QJsonValue::Null);
  };
  o.insert(QStringLiteral("running"), avg(s.running));
  o.insert(QStringLiteral("lastInterval"), avg(s.lastInterval));
  o.insert(QStringLiteral("today"), avg(s.today));
  QJsonArray limits;
  for (emissions::Component c : emissions::kComponents) {
    const auto t = s.limits.threshold(c, emissions::AveragePeriod::Interval, emissions::AlarmLevel::Alarm);
    limits.append(number(t));
  }
  o.insert(QStringLiteral("intervalLimits"), limits);
  return o;
}

QJsonObject intervalJson(const emissions::IntervalAverage& a, const emissions::AlarmLimits& limits) {
  QJsonObject o = averageJson(shownAverage(a));
  QJsonArray judged;
  for (emissions::Component c : emissions::kComponents)
    judged.append(QString::fromLatin1(exceedanceName(limits.classify(c, emissions::AveragePeriod::Interval, a[c]))));
  o.insert(QStringLiteral("exceedances"), judged);
  return o;
}

QJsonObject eventJson(const StoredEvent& e) {
  return QJsonObject{{QStringLiteral("id"), e.id},
                     {QStringLiteral("time"), e.utcMs},
                     {QStringLiteral("offset"), e.utcOffset},
                     {QStringLiteral("kind"), int(e.kind)},
                     {QStringLiteral("text"), e.text}};
}

QJsonObject reportTableJson(const emissions::ReportTable& table) {
  QJsonArray rows;
  for (const emissions::ReportTableRow& r : table.rows) {
    QJsonArray valid, exceeded;
    for (int i = 0; i < emissions::kComponentCount; ++i) {
      valid.append(r.valid[size_t(i)]);
      exceeded.append(QString::fromLatin1(exceedanceName(r.exceedances[size_t(i)])));
    }
    rows.append(QJsonObject{{QStringLiteral("day"), r.day},
                            {QStringLiteral("cells"), QJsonArray::fromStringList(r.cells)},
                            {QStringLiteral("valid"), valid},
                            {QStringLiteral("exceedances"), exceeded}});
  }
  return QJsonObject{{QStringLiteral("title"), table.title},
                     {QStringLiteral("notes"), QJsonArray::fromStringList(table.notes)},
                     {QStringLiteral("headers"), QJsonArray::fromStringList(table.headers)},
                     {QStringLiteral("rows"), rows},
                     {QStringLiteral("exceedances"), QJsonArray::fromStringList(table.exceedances)}};
}

QStringList trendSeriesNames() {
  QStringList names;
  for (const char* n : channel::kNames) names << QString::fromLatin1(n);
  for (emissions::Component c : emissions::kComponents)
    names << QString::fromLatin1(emissions::componentName(c)) + QStringLiteral("_mg");
  return names;
}

QByteArray trendJson(const ReducedTrend& trend, const QStringList& names, qint64 fromUtcMs, qint64 toUtcMs) {
  QByteArray out;
  out.reserve(int(trend.times.size() * (names.size() + 1) * 6 + 256));
  out += "{\"from\":" + QByteArray::number(fromUtcMs) + ",\"to\":" + QByteArray::number(toUtcMs) +
         ",\"reduced\":" + (trend.reduced ? "true" : "false") + ",\"names\":[";
  for (int i = 0; i < names.size(); ++i) {
    if (i) out += ',';
    out += '"' + names[i].toLatin1() + '"';
  }
  out += "],\"t\":[";
  for (size_t i = 0; i < trend.times.size(); ++i) {
    if (i) out += ',';
    const qint64 ms = trend.times[i] - fromUtcMs;
    if (ms % 1000 == 0)
      out += QByteArray::number(ms / 1000);
    else
      out += QByteArray::number(double(ms) / 1000, 'f', 3);
  }
  out += "],\"s\":[";
  for (size_t s = 0; s < trend.series.size(); ++s) {
    if (s) out += ',';
    out += '[';
    const auto& series = trend.series[s];
    for (size_t i = 0; i < series.size(); ++i) {
      if (i) out += ',';
      appendNumber(out, series[i]);
    }
    out += ']';
  }
  out += "]}";
  return out;
}

}  // namespace web
