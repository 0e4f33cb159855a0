#pragma once
// Substitute values: readings the operator enters, with a reason, for a past
// span in which the analyzer gave none that counts (the link was lost, a
// fault, maintenance). They become results of their own with the status
// "substitute", at the times results were expected (every refresh period),
// where the database holds no result that counts; what it holds is never
// changed. Entered in the units the analyzer delivers (O2 in per cent, the
// gases in ppm), so that calibration, conversion and validation take them
// as any result.

#include <QString>
#include <QTimeZone>
#include <QVector>
#include <array>
#include <optional>
#include <vector>

#include "core/result.h"
#include "data/result_store.h"
#include "device/fuel_table.h"
#include "emissions/validation.h"

namespace emissions {

// The channels a substitute can hold, in the order the dialog shows them.
inline constexpr std::array<int, 6> kSubstituteChannels = {channel::O2,  channel::CO,  channel::NO,
                                                           channel::NO2, channel::SO2, channel::H2S};

// The longest span one entry may fill.
inline constexpr int kMaxSubstituteDays = 7;

struct SubstituteEntry {
  qint64 fromUtcMs = 0;  // the span: from, inclusive
  qint64 toUtcMs = 0;    // ... to, exclusive
  // By channel: the value entered (O2 %, gases ppm); none where not entered.
  std::array<std::optional<double>, kChannelCount> values{};
  QString reason;
};

// The channels an entry must have: O2 (every value is taken to the
// reference O2 with it) and those of the monitored components.
QVector<int> requiredSubstituteChannels(const ValidationConfig& v);

// Why the entry cannot be taken (for the operator); empty when it can.
// `field` gets the channel the problem is of, -1 for the span or the reason.
QString substituteProblem(const SubstituteEntry& e, const ValidationConfig& v, qint64 nowUtcMs,
                          int* field = nullptr);

// What the results of the span are made with besides the values.
struct SubstituteBasis {
  int periodSeconds = 1;  // the refresh period: one result expected each
  uint8_t address = 1;
  uint8_t fuelIndex = 0;
  FuelRow fuel;  // the derived channels are computed with it, as decoding does
  QTimeZone zone = QTimeZone::utc();  // the local clock of each result's time
};

// Whether a stored result counts toward an average (valid, outside the
// calibrated range, a substitute already).
bool countsAsValue(const StoredResult& r, const ValidationConfig& v);

// The substitute results of the span, in time order: one at each multiple of
// the period (on the UTC clock) within it that has no result counting within
// half a period of it among `stored` (those of the span, with half a period
// either side).
std::vector<Result> substituteResults(const SubstituteEntry& e, const std::vector<StoredResult>& stored,
                                      const SubstituteBasis& basis, const ValidationConfig& v);

// "O2 6 %, CO 120 ppm, NO 40 ppm" (the decimal sign of `locale`).
QString substituteValuesText(const SubstituteEntry& e, const QLocale& locale);
// "08.12.2026 10:00 – 08.12.2026 11:00" on the local clock of `zone`.
QString substituteSpanText(const SubstituteEntry& e, const QTimeZone& zone);

}  // namespace emissions
