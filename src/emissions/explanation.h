#pragma once
// "Как получено значение": how an interval's or a day's average came about,
// step by step, for one component. An interval lists its results with each
// step of the chain (the reading in ppm, calibrated, dry, mg/m3 at the
// reference O2) and the status that decided whether it counted; a day lists
// its short-term averages. Then the mean, the confidence interval
// subtracted, the validated value, and the rule that made it valid or not.
// The figures are computed by the same functions as the averages, so the
// explanation and the reported value cannot differ.

#include <QDate>
#include <QLocale>
#include <QStringList>
#include <QVector>

#include "data/result_store.h"
#include "emissions/averaging.h"
#include "emissions/emission_report.h"
#include "emissions/report_csv.h"

namespace emissions {

struct ExplainedResult {
  qint64 utcMs = 0;
  int utcOffset = 0;
  double o2 = 0;  // as read
  ResultStatus resultStatus = ResultStatus::Valid;  // the whole result's, as judged
  std::optional<double> o2Ref;                      // of its fuel row
  ComponentValue value;                             // this component's chain
};

struct AverageExplanation {
  enum class Kind : uint8_t { Interval, Day };
  Kind kind = Kind::Interval;
  Component component = Component::CO;
  QDate date;  // the local day it belongs to
  qint64 startUtcMs = 0, endUtcMs = 0;
  int startOffset = 0, endOffset = 0;
  RegulationProfile profile = RegulationProfile::None;
  int intervalMinutes = 30;
  int resultPeriodSeconds = 1;
  std::optional<double> confidencePercent;  // of the daily limit
  std::optional<double> dailyLimit;
  Qal2Calibration calibration;
  GasConditions gas;
  bool correctOnlyAbove = false;

  QVector<ExplainedResult> results;    // an interval's
  QVector<IntervalAverage> intervals;  // a day's
  int allowedInvalid = 0;              // a day's allowance
  int countedInvalid = 0;              // ... and the invalid ones judged against it
  ComponentAverage average;            // the average explained

  // Results an interval needs for two thirds: ceil(2/3 of the expected).
  int needed() const;
};

// The interval of `results` that starts at `startUtcMs` (results of other
// times are only replayed for the plant's O2 rule), for each component.
QVector<AverageExplanation> explainInterval(const QVector<Result>& results, qint64 startUtcMs,
                                            const AveragingConfig& config);
// A day with its intervals, for each component.
QVector<AverageExplanation> explainDay(const DailyAverage& day, const AveragingConfig& config);

// A report row's explanation, the interval's results read from the store
// (with the minutes before for the plant's O2 rule); empty for a month's row.
QVector<AverageExplanation> explainRow(const ResultStore& store, const ReportRow& row, const EmissionReport& report,
                                       const AveragingConfig& config);

// What the explanation is of: "Среднее за интервал 15.01.2025 10:00–10:30, NOx".
QString explanationTitle(const AverageExplanation& e);
// The rule in words, the confidence interval and the validated value, a line each.
QStringList explanationLines(const AverageExplanation& e, const QLocale& locale);

// The explanation as CSV (every component side by side): an interval's
// results or a day's intervals, a blank line, then per item a value per
// component ("summary", item, CO, NOx, SO2, H2S). Empty when the format is not valid.
QByteArray explanationCsv(const QVector<AverageExplanation>& perComponent, const CsvFormat& format);
bool writeExplanationCsv(const QString& path, const QVector<AverageExplanation>& perComponent,
                         const CsvFormat& format, QString* error = nullptr);

}  // namespace emissions
