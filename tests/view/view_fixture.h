#pragma once
// Runs the program with default settings and appends results the way the
// poll cycle hands them over.

#include <QApplication>
#include <QDateTime>

#include "support/korvex_fixture.h"

class ViewFixture : public KorvexFixture {
 protected:
  // The view settings being changed by a test, then handed to the settings
  // (applyView()), which the window follows.
  ViewSettings& viewEdit() {
    if (!editing_) edit_ = settings().view();
    editing_ = true;
    return edit_;
  }
  void applyView() {
    if (editing_) settings().setView(edit_);
    editing_ = false;
    window().applyViewSettings();
  }

  // Shows the window so the chart has its size and axes their pixels.
  void layOut() {
    window().resize(808, 540);
    window().show();
    QApplication::processEvents();
    chart()->redrawNow();
  }

  // A plain result of a gas boiler.
  static Measurement typical() {
    using namespace channel;
    Measurement m;
    m[Tg] = 185;
    m[Ta] = 21;
    m[O2] = 6.1;
    m[CO] = 42;
    m[NO] = 118;
    m[NO2] = 3;
    m[SO2] = 0;
    m[H2S] = 0;
    m[CO2] = 10.75;
    m[NOx] = 121;
    m[Qa] = 7.5;
    m[Alf] = 1.41;
    return m;
  }

  // Appends `m` as the poll cycle would, taken `seconds` after 17:05:12.
  void append(const Measurement& m, int seconds = 0) {
    setNow(QDateTime(QDate(2026, 12, 6), QTime(17, 5, 12)));
    addResult(m, seconds);
  }

  void appendTypical(int count) {
    for (int i = 0; i < count; ++i) append(typical(), i);
  }

 private:
  ViewSettings edit_;
  bool editing_ = false;
};
