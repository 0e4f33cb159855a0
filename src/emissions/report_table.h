#pragma once
// The emission report as the operator reads it, on screen and on paper: a
// title, the basis of the figures, a table of the interval averages with
// each day's average after its intervals, and the list of exceedances, all
// in the operator's language and number format.

#include <QDate>
#include <QLocale>
#include <QStringList>
#include <QVector>
#include <array>

#include "emissions/emission_report.h"

namespace emissions {

struct ReportTableRow {
  bool day = false;  // a day's average, not an interval's: set off (a month's rows in a year too)
  QStringList cells;
  std::array<bool, kComponentCount> valid{};
  std::array<Exceedance, kComponentCount> exceedances{};
};

// A table after the main one: the classification, the availability, the
// calibration.
struct ReportSection {
  QString heading;
  QStringList headers;
  QVector<double> shares;  // of the page's width, a column each
  QVector<ReportTableRow> rows;
};

struct ReportTable {
  QString title;      // "Отчёт о выбросах за 01.12.2026 – 07.12.2026"
  QStringList notes;  // the basis: units, reference O2, interval, limits
  QStringList headers;
  QVector<ReportTableRow> rows;
  QStringList exceedances;  // one line each; "Превышений нет." when none
  // Of the main table: each column's share of the page's width, and the
  // component whose judgement colours it (-1: none).
  QVector<double> shares;
  QVector<int> judgedComponent;
  QVector<ReportSection> sections;  // after the main table
  QStringList closing;              // after the exceedances: when the report is due
  QString trailNote;        // the audit trail's state when it was made: on every page's foot
};

// Columns: the period, the results (an interval) or intervals (a day), then per component the mean and its judgement.
namespace report_table_column {
enum : int { Period, Count, FirstComponent };
inline int mean(Component c) { return FirstComponent + 2 * index(c); }
inline int judgement(Component c) { return FirstComponent + 2 * index(c) + 1; }
inline constexpr int kCount = FirstComponent + 2 * kComponentCount;
}  // namespace report_table_column

// The report of a range of days as it always was; a report made for a
// period (EmissionReport::forPeriod) or under a regulation profile gets the
// measured and the validated values, and the summary's sections.
ReportTable reportTable(const EmissionReport& report, QDate from, QDate to, int intervalMinutes,
                        const QLocale& locale);
// The same for the report's own first and last day.
ReportTable reportTable(const EmissionReport& report, int intervalMinutes, const QLocale& locale);

// "норма", "предупреждение", "ПРЕВЫШЕНИЕ", "недостоверно", "не работала".
QString verdictText(const ComponentAverage& a, Exceedance e);
// "y = 2 + 1,05·x" of a QAL2 function; "—" without one.
QString calibrationText(const Qal2Calibration& c, const QLocale& locale);

}  // namespace emissions
