// The report's table as the web view hands it to the program that draws its
// PDF: every field comes back as it went, and what is not such a table
// (another type, a judgement too few, an exceedance or a component out of
// range) is refused whole rather than drawn in part.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "emissions/report_table_json.h"

namespace {

using namespace emissions;

ReportTableRow row(bool day, QStringList cells, Exceedance e, bool valid) {
  ReportTableRow r;
  r.day = day;
  r.cells = std::move(cells);
  r.valid.fill(true);
  r.valid[2] = valid;
  r.exceedances[1] = e;
  return r;
}

ReportTable sample() {
  ReportTable t;
  t.title = QStringLiteral(u"Отчёт о выбросах за 08.12.2026");
  t.notes = {QStringLiteral(u"мг/м³ при O2 = 3 %"), QStringLiteral(u"\"кавычки\", \\ и\tтабуляция")};
  t.headers = {QStringLiteral(u"Интервал"), QStringLiteral(u"Рез."), QStringLiteral(u"CO, мг/м³")};
  t.rows = {row(false, {QStringLiteral("00:00"), QStringLiteral("30"), QStringLiteral("12,5")}, Exceedance::Alarm, false),
            row(true, {QStringLiteral(u"Сутки"), QStringLiteral("48"), QStringLiteral(u"—")}, Exceedance::PreAlarm, true)};
  t.exceedances = {QStringLiteral(u"Превышений нет.")};
  t.shares = {0.2, 0.1, 0.125};
  t.judgedComponent = {-1, -1, 0, 3};
  ReportSection s;
  s.heading = QStringLiteral(u"Классификация");
  s.headers = {QStringLiteral("A"), QStringLiteral("B")};
  s.shares = {0.5, 0.5};
  s.rows = {row(false, {QStringLiteral("x"), QStringLiteral("y")}, Exceedance::None, true)};
  t.sections = {s, ReportSection{}};
  t.closing = {QStringLiteral(u"Отчёт сдаётся до 31.03.")};
  t.trailNote = QStringLiteral(u"Журнал аудита цел");
  return t;
}

void expectSameRows(const QVector<ReportTableRow>& a, const QVector<ReportTableRow>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (int i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].day, b[i].day);
    EXPECT_EQ(a[i].cells, b[i].cells);
    EXPECT_EQ(a[i].valid, b[i].valid);
    EXPECT_EQ(a[i].exceedances, b[i].exceedances);
  }
}

// `change` applied to the sample's JSON.
QByteArray changed(const std::function<void(QJsonObject&)>& change) {
  QJsonObject o = QJsonDocument::fromJson(reportTableToJson(sample())).object();
  change(o);
  return QJsonDocument(o).toJson();
}

TEST(ReportTableJson, EveryFieldComesBackAsItWent) {
  const ReportTable t = sample();
  QString error;
  const std::optional<ReportTable> back = reportTableFromJson(reportTableToJson(t), &error);
  ASSERT_TRUE(back) << error.toStdString();
  EXPECT_EQ(back->title, t.title);
  EXPECT_EQ(back->notes, t.notes);
  EXPECT_EQ(back->headers, t.headers);
  expectSameRows(back->rows, t.rows);
  EXPECT_EQ(back->exceedances, t.exceedances);
  EXPECT_EQ(back->shares, t.shares);
  EXPECT_EQ(back->judgedComponent, t.judgedComponent);
  ASSERT_EQ(back->sections.size(), 2);
  EXPECT_EQ(back->sections[0].heading, t.sections[0].heading);
  EXPECT_EQ(back->sections[0].headers, t.sections[0].headers);
  EXPECT_EQ(back->sections[0].shares, t.sections[0].shares);
  expectSameRows(back->sections[0].rows, t.sections[0].rows);
  EXPECT_TRUE(back->sections[1].rows.isEmpty());
  EXPECT_EQ(back->closing, t.closing);
  EXPECT_EQ(back->trailNote, t.trailNote);
}

TEST(ReportTableJson, WhatIsNoReportTableIsRefusedWhole) {
  const std::vector<std::pair<const char*, QByteArray>> cases = {
      {"not JSON", "{\"title\": "},
      {"an array", "[1,2]"},
      {"no headers", changed([](QJsonObject& o) { o.remove(QStringLiteral("headers")); })},
      {"a number as a title", changed([](QJsonObject& o) { o[QStringLiteral("title")] = 5; })},
      {"a number among the notes", changed([](QJsonObject& o) { o[QStringLiteral("notes")] = QJsonArray{QStringLiteral("a"), 1}; })},
      {"a judgement too few", changed([](QJsonObject& o) {
         QJsonArray rows = o[QStringLiteral("rows")].toArray();
         QJsonObject r = rows[0].toObject();
         QJsonArray v = r[QStringLiteral("valid")].toArray();
         v.removeLast();
         r[QStringLiteral("valid")] = v;
         rows[0] = r;
         o[QStringLiteral("rows")] = rows;
       })},
      {"an exceedance out of range", changed([](QJsonObject& o) {
         QJsonArray rows = o[QStringLiteral("rows")].toArray();
         QJsonObject r = rows[1].toObject();
         r[QStringLiteral("exceedances")] = QJsonArray{0, 3, 0, 0};
         rows[1] = r;
         o[QStringLiteral("rows")] = rows;
       })},
      {"a component out of range", changed([](QJsonObject& o) { o[QStringLiteral("judgedComponent")] = QJsonArray{-1, kComponentCount}; })},
      {"a share over the page", changed([](QJsonObject& o) { o[QStringLiteral("shares")] = QJsonArray{0.5, 7}; })},
      {"a section's row as text", changed([](QJsonObject& o) {
         o[QStringLiteral("sections")] = QJsonArray{QJsonObject{{QStringLiteral("rows"), QJsonArray{QStringLiteral("x")}}}};
       })},
  };
  for (const auto& [what, json] : cases) {
    QString error;
    EXPECT_FALSE(reportTableFromJson(json, &error)) << what;
    EXPECT_FALSE(error.isEmpty()) << what;
  }
}

}  // namespace
