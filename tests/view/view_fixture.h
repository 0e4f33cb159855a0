#pragma once
// Runs the program's main window with default settings and appends results
// the way the poll cycle does: Measurement and ResultTime set, then WievResult.

#include <QApplication>
#include <QDateTime>

#include "app/Korvex_ModbusRTU_MainChat.h"
#include "storage/settings_records.h"
#include "support/korvex_fixture.h"
#include "view/results_table.h"
#include "view/trend_chart.h"

class ViewFixture : public KorvexFixture {
 protected:
  void Start() {
    StartWithDefaults();
  }

  // Shows the window so the chart has its size and axes their pixels.
  void LayOut() {
    Form1->resize(808, 540);
    Form1->show();
    QApplication::processEvents();
    Form1->Chart1->RedrawNow();
  }

  // A plain result of a gas boiler.
  static TMeasurement Typical() {
    TMeasurement m{};
    m.Tg = 185;
    m.Ta = 21;
    m.O2 = 6.1;
    m.CO = 42;
    m.NO = 118;
    m.NO2 = 3;
    m.SO2 = 0;
    m.H2S = 0;
    m.CO2 = 10.75;
    m.NOx = 121;
    m.Qa = 7.5;
    m.Alf = 1.41;
    return m;
  }

  // Appends `m` as the poll cycle would, stamped `seconds` after 17:05:12.
  void Append(const TMeasurement& m, int seconds = 0) {
    DeviceRecord.Measurement = m;
    Form1->Poll.ResultTime =
        seams::ToDateTime(QDateTime(QDate(2026, 12, 6), QTime(17, 5, 12)).addSecs(seconds));
    Form1->WievResult();
  }

  void AppendTypical(int count) {
    for (int i = 0; i < count; ++i) Append(Typical(), i);
  }
};
