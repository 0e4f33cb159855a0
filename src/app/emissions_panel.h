#pragma once
// The emissions panel beside the chart: the newest result's CO, NOx, SO2 and
// H2S in mg/m3 at the reference O2, the running interval's average, the last
// completed interval's, today's so far, each marked valid or not, the alarm
// lamp and the acknowledge button. It shows the state the session reports,
// as a value, and asks for the acknowledgement by a signal.
//
// Every value is a label named Emission<Row><Component> (rows Current,
// Running, Last, Day; components CO, NOx, SO2, H2S) with the properties
// "valid" and "exceedance" (0 none, 1 pre-alarm, 2 alarm) beside its text.

#include <QWidget>
#include <array>

#include "emissions/emission_monitor.h"

class QLabel;
class QPushButton;

class EmissionsPanel : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kWidth = 232;

  explicit EmissionsPanel(QWidget* parent = nullptr);

  // Shows this state of the emissions.
  void show(const emissions::MonitorState& state);

 signals:
  void acknowledgeRequested();

 private:
  enum Row { Current, Running, Last, Day, kRowCount };
  void showValue(Row row, emissions::Component c, const std::optional<double>& value, bool valid,
                 emissions::Exceedance exceedance);
  void showAverages(Row row, const emissions::ComponentAverages& averages, emissions::AveragePeriod period,
                    const emissions::AlarmLimits& limits);

  QLabel* basisLabel_;
  std::array<QLabel*, kRowCount> captions_{};
  std::array<std::array<QLabel*, emissions::kComponentCount>, kRowCount> values_{};
  QLabel* lamp_;
  QPushButton* acknowledgeButton_;
};
