#pragma once
// The analyzer's calibration (EN 14181 QAL2) and the gas it measures.
//
// A QAL2 test compares the analyzer with standard reference measurements and
// gives a calibration function y = a + b*x, applied to the analyzer's reading
// x (ppm) before anything else. It holds up to 110 % of the highest value the
// test calibrated; values beyond are still reported, flagged, and counted a
// week at a time: more than 5 % of a week's values outside in five weeks, or
// more than 40 % in one week, and a new QAL2 is due.
//
// An analyzer that measures wet gas needs the water-vapour content to give
// dry values: c_dry = c_wet * 100 / (100 - H2O %).

#include <QDate>
#include <QString>
#include <QVector>
#include <optional>

namespace emissions {

struct Qal2Calibration {
  bool set = false;  // without one the reading is taken as it is
  double a = 0;      // ppm
  double b = 1;
  QDate date;          // of the test
  QString report;      // the test report's number
  double highest = 0;  // the highest calibrated value (ppm, as read); 0: no range known

  // y = a + b*x; x itself when not set.
  double apply(double x) const { return set ? a + b * x : x; }
  // 110 % of the highest calibrated value; none when no range is known.
  std::optional<double> validUpTo() const {
    if (!set || !(highest > 0)) return std::nullopt;
    return highest * 1.1;
  }
  // The reading lies beyond the valid range.
  bool outside(double x) const { return set && highest > 0 && x > highest * 1.1; }
  bool operator==(const Qal2Calibration& o) const {
    return set == o.set && a == o.a && b == o.b && date == o.date && report == o.report && highest == o.highest;
  }
};

enum class GasBasis : uint8_t { Dry, Wet };

struct GasConditions {
  GasBasis basis = GasBasis::Dry;
  double waterPercent = 0;  // H2O by volume in the wet gas

  // The wet value as a dry one; the value itself on a dry basis. Sound only
  // with 0 <= waterPercent < 100 (the settings refuse others).
  double toDry(double value) const {
    return basis == GasBasis::Wet ? value * 100 / (100 - waterPercent) : value;
  }
  bool operator==(const GasConditions& o) const { return basis == o.basis && waterPercent == o.waterPercent; }
};

inline constexpr double kWeekShareMark = 5;      // per cent of a week's values outside
inline constexpr double kWeekShareStrong = 40;
inline constexpr int kWeeksOverMarkForQal2 = 5;

// A week's values (from Monday, local dates) and how many of them lay
// outside the valid calibration range.
struct RangeWeek {
  QDate monday;
  int values = 0;
  int outside = 0;
  double outsidePercent() const { return values > 0 ? 100.0 * outside / values : 0; }
};

// The Monday of the week of `date`.
QDate mondayOf(QDate date);

// Adds `values` and `outside` to the week of `date` in `weeks` (kept in
// order of their Mondays).
void addToWeek(QVector<RangeWeek>& weeks, QDate date, int values, int outside);

struct CalibrationCheck {
  int weeksOverMark = 0;       // weeks with more than 5 % outside
  int weeksOverStrong = 0;     // ... more than 40 %
  QDate firstOverStrong;       // the first such week's Monday
  bool due() const { return weeksOverMark >= kWeeksOverMarkForQal2 || weeksOverStrong > 0; }
};

// Judges the weeks from the one of `since` (the QAL2's date; all when null).
CalibrationCheck checkCalibration(const QVector<RangeWeek>& weeks, QDate since = QDate());

}  // namespace emissions
