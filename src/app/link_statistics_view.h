#pragma once
// The link statistics in the main window: a line in its status bar, brought
// up to date every kStatusLineTicks ticks, and "Статистика связи" in the
// "Сервис" menu, which opens the window with all the figures, up to date after
// every tick, and their reset.

#include <QObject>

#include "acquisition/link_statistics.h"

class LinkStatisticsDialog;
class QLabel;
class QMainWindow;
class QMenu;

class LinkStatisticsView : public QObject {
  Q_OBJECT
 public:
  LinkStatisticsView(QMainWindow* window, QMenu* serviceMenu);

  // A repaint costs the program about two wake-ups under X: one each second
  // would take the idle program past its budget of two a second.
  static constexpr int kStatusLineTicks = 10;

  QLabel* statusLine() const { return statusLine_; }
  LinkStatisticsDialog* dialog() const { return dialog_; }

  // The figures after a tick (or a reset).
  void onStatistics(const LinkStatistics& statistics);

 signals:
  void resetRequested();

 private:
  void showNow();
  void open();

  LinkStatistics statistics_;
  QLabel* statusLine_;
  LinkStatisticsDialog* dialog_;
  int ticksSinceShown_ = 0;
};
