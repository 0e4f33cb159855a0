#pragma once
// The status of a result, decided when it is taken (EN 17255 first-level
// data): when several apply, the highest of ResultStatus wins:
//
//   test             the analyzer sets its zero, or a test-gas check is declared
//   plant off        the plant rule says the plant is not operating
//   fault            the fault word is not 0, or a channel a monitored
//                    component (or O2) needs holds an analyzer code
//   maintenance      the operator's switch "Техобслуживание"
//   substitute       a value the operator entered, with a reason
//   outside range    a reading beyond a component's valid calibration range
//   valid
//
// A result stored without a status gets one from what it holds: the fault
// word, the codes and the calibrated range (contentsStatus), and the O2 rule
// of the plant replayed over the results in order (PlantOperation).

#include <QString>
#include <algorithm>

#include "core/result.h"
#include "device/register_map.h"
#include "emissions/validation.h"

namespace emissions {

// What is known besides the result itself when it is taken.
struct StatusInputs {
  AnalyzerState analyzerState = AnalyzerState::Measuring;
  bool testGas = false;         // the operator declared a test-gas check
  bool plantOperating = true;   // PlantOperation's verdict for this result
  bool maintenance = false;     // the maintenance switch is on
  bool substitute = false;      // the operator entered the values
};

ResultStatus decideStatus(const Result& r, const StatusInputs& in, const ValidationConfig& v);

// What a result shows by itself: fault (fault word, a code in O2 or in a
// monitored component's channels), outside the calibrated range, or valid.
ResultStatus contentsStatus(const Result& r, const ValidationConfig& v);

// The status a stored result is judged with: the one decided when it was
// taken (Valid for a row stored before statuses were), raised by what it holds.
inline ResultStatus storedStatus(const Result& r, const ValidationConfig& v) {
  return std::max(r.status, contentsStatus(r, v));
}

// Whether the plant is operating, result by result. With the O2 rule: O2
// above the threshold starts a watch, and once it has stayed above for the
// rule's minutes the plant is taken for not operating; O2 at or below the
// threshold means operating again at once. A result without an O2 reading
// changes nothing. With the switch rule the operator's switch decides.
class PlantOperation {
 public:
  enum class State : uint8_t { Operating, O2High, NotOperating };

  explicit PlantOperation(const PlantRule& rule = {}) : rule_(rule) {}

  // The operator's switch; only the switch rule listens to it.
  void setSwitch(bool operating) { switch_ = operating; }
  bool switchOn() const { return switch_; }

  // Takes the result's O2 and says whether the plant is operating then.
  bool observe(qint64 utcMs, double o2);
  bool observe(const Result& r) { return observe(r.utcMs, r[channel::O2]); }

  State state() const { return state_; }
  bool operating() const;
  const PlantRule& rule() const { return rule_; }

 private:
  PlantRule rule_;
  State state_ = State::Operating;
  qint64 highSinceUtcMs_ = 0;
  bool switch_ = true;
};

// Short codes for the table's status column and their full texts, Russian.
QString statusCode(ResultStatus s);   // "Д", "ВД", "З", "ТО", "НП", "ОСТ", "ТЕСТ"
QString statusTitle(ResultStatus s);  // "достоверно", "вне диапазона калибровки", ...
QString invalidReasonTitle(InvalidReason r);  // "неисправность", "техобслуживание", ...

}  // namespace emissions
