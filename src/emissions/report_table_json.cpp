#include "emissions/report_table_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace emissions {

namespace {

QJsonArray rowsJson(const QVector<ReportTableRow>& rows) {
  QJsonArray out;
  for (const ReportTableRow& r : rows) {
    QJsonArray valid, exceeded;
    for (int i = 0; i < kComponentCount; ++i) {
      valid.append(r.valid[size_t(i)]);
      exceeded.append(int(r.exceedances[size_t(i)]));
    }
    out.append(QJsonObject{{QStringLiteral("day"), r.day},
                           {QStringLiteral("cells"), QJsonArray::fromStringList(r.cells)},
                           {QStringLiteral("valid"), valid},
                           {QStringLiteral("exceedances"), exceeded}});
  }
  return out;
}

template <typename T>
QJsonArray numbers(const QVector<T>& values) {
  QJsonArray out;
  for (T v : values) out.append(v);
  return out;
}

// Reads strictly: a value of another type than expected fails the whole table.
class Reader {
 public:
  bool failed = false;
  QString what;

  QString text(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) return QString();
    if (!v.isString()) return fail(key), QString();
    return v.toString();
  }
  QStringList texts(const QJsonObject& o, const char* key) {
    QStringList out;
    for (const QJsonValue& v : array(o, key)) {
      if (!v.isString()) return fail(key), QStringList();
      out << v.toString();
    }
    return out;
  }
  QJsonArray array(const QJsonObject& o, const char* key) {
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) return {};
    if (!v.isArray()) return fail(key), QJsonArray();
    return v.toArray();
  }
  QVector<double> shares(const QJsonObject& o, const char* key) {
    QVector<double> out;
    for (const QJsonValue& v : array(o, key)) {
      if (!v.isDouble() || v.toDouble() < 0 || v.toDouble() > 1) return fail(key), QVector<double>();
      out << v.toDouble();
    }
    return out;
  }
  QVector<int> components(const QJsonObject& o, const char* key) {
    QVector<int> out;
    for (const QJsonValue& v : array(o, key)) {
      const int k = v.toInt(-2);
      if (!v.isDouble() || k < -1 || k >= kComponentCount) return fail(key), QVector<int>();
      out << k;
    }
    return out;
  }
  QVector<ReportTableRow> rows(const QJsonObject& o, const char* key) {
    QVector<ReportTableRow> out;
    for (const QJsonValue& v : array(o, key)) {
      const QJsonObject r = v.toObject();
      const QJsonArray valid = r.value(QLatin1String("valid")).toArray();
      const QJsonArray exceeded = r.value(QLatin1String("exceedances")).toArray();
      if (!v.isObject() || valid.size() != kComponentCount || exceeded.size() != kComponentCount ||
          !r.value(QLatin1String("day")).isBool())
        return fail(key), QVector<ReportTableRow>();
      ReportTableRow row;
      row.day = r.value(QLatin1String("day")).toBool();
      row.cells = texts(r, "cells");
      for (int i = 0; i < kComponentCount; ++i) {
        const int e = exceeded[i].toInt(-1);
        if (!valid[i].isBool() || e < int(Exceedance::None) || e > int(Exceedance::Alarm))
          return fail(key), QVector<ReportTableRow>();
        row.valid[size_t(i)] = valid[i].toBool();
        row.exceedances[size_t(i)] = Exceedance(e);
      }
      out << row;
    }
    return out;
  }

 private:
  void fail(const char* key) {
    if (!failed) what = QString::fromLatin1(key);
    failed = true;
  }
};

}  // namespace

QByteArray reportTableToJson(const ReportTable& table) {
  QJsonArray sections;
  for (const ReportSection& s : table.sections)
    sections.append(QJsonObject{{QStringLiteral("heading"), s.heading},
                                {QStringLiteral("headers"), QJsonArray::fromStringList(s.headers)},
                                {QStringLiteral("shares"), numbers(s.shares)},
                                {QStringLiteral("rows"), rowsJson(s.rows)}});
  const QJsonObject o{{QStringLiteral("title"), table.title},
                      {QStringLiteral("notes"), QJsonArray::fromStringList(table.notes)},
                      {QStringLiteral("headers"), QJsonArray::fromStringList(table.headers)},
                      {QStringLiteral("rows"), rowsJson(table.rows)},
                      {QStringLiteral("exceedances"), QJsonArray::fromStringList(table.exceedances)},
                      {QStringLiteral("shares"), numbers(table.shares)},
                      {QStringLiteral("judgedComponent"), numbers(table.judgedComponent)},
                      {QStringLiteral("sections"), sections},
                      {QStringLiteral("closing"), QJsonArray::fromStringList(table.closing)},
                      {QStringLiteral("trailNote"), table.trailNote}};
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<ReportTable> reportTableFromJson(const QByteArray& json, QString* error) {
  QJsonParseError parse{};
  const QJsonDocument doc = QJsonDocument::fromJson(json, &parse);
  if (parse.error != QJsonParseError::NoError || !doc.isObject()) {
    if (error) *error = QStringLiteral(u"не JSON-объект: %1").arg(parse.errorString());
    return std::nullopt;
  }
  const QJsonObject o = doc.object();
  Reader in;
  ReportTable t;
  t.title = in.text(o, "title");
  t.notes = in.texts(o, "notes");
  t.headers = in.texts(o, "headers");
  t.rows = in.rows(o, "rows");
  t.exceedances = in.texts(o, "exceedances");
  t.shares = in.shares(o, "shares");
  t.judgedComponent = in.components(o, "judgedComponent");
  for (const QJsonValue& v : in.array(o, "sections")) {
    const QJsonObject s = v.toObject();
    ReportSection section;
    section.heading = in.text(s, "heading");
    section.headers = in.texts(s, "headers");
    section.shares = in.shares(s, "shares");
    section.rows = in.rows(s, "rows");
    t.sections << section;
  }
  t.closing = in.texts(o, "closing");
  t.trailNote = in.text(o, "trailNote");
  if (in.failed || t.headers.isEmpty()) {
    if (error) *error = QStringLiteral(u"не таблица отчёта: поле %1").arg(in.failed ? in.what : QStringLiteral("headers"));
    return std::nullopt;
  }
  return t;
}

}  // namespace emissions
