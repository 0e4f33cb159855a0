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
  bool day = false;  // a day's average, not an interval's
  QStringList cells;
  std::array<bool, kComponentCount> valid{};
  std::array<Exceedance, kComponentCount> exceedances{};
};

struct ReportTable {
  QString title;      // "Отчёт о выбросах за 01.12.2026 – 07.12.2026"
  QStringList notes;  // the basis: units, reference O2, interval, limits
  QStringList headers;
  QVector<ReportTableRow> rows;
  QStringList exceedances;  // one line each; "Превышений нет." when none
  QString trailNote;        // the audit trail's state when it was made: on every page's foot
};

// Columns: the period, the results (an interval) or intervals (a day), then per component the mean and its judgement.
namespace report_table_column {
enum : int { Period, Count, FirstComponent };
inline int mean(Component c) { return FirstComponent + 2 * index(c); }
inline int judgement(Component c) { return FirstComponent + 2 * index(c) + 1; }
inline constexpr int kCount = FirstComponent + 2 * kComponentCount;
}  // namespace report_table_column

ReportTable reportTable(const EmissionReport& report, QDate from, QDate to, int intervalMinutes,
                        const QLocale& locale);

}  // namespace emissions
