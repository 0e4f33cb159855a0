#pragma once
// The link statistics in the main window: a line in its status bar, brought
// up to date every kStatusLineTicks ticks, and "Статистика связи" in the
// "Сервис" menu, which opens the window with all the figures, up to date after
// every tick, and their reset.

#include <QObject>

class LinkStatisticsDialog;
class PollCycle;
class QLabel;
class QMainWindow;
class QMenu;

class LinkStatisticsView : public QObject {
  Q_OBJECT
 public:
  LinkStatisticsView(QMainWindow* window, QMenu* serviceMenu, PollCycle& poll);

  // A repaint costs the program about two wake-ups under X: one each second
  // would take the idle program past its budget of two a second.
  static constexpr int kStatusLineTicks = 10;

  QLabel* statusLine() const { return statusLine_; }
  LinkStatisticsDialog* dialog() const { return dialog_; }

 private:
  void onTick();
  void showNow();
  void open();

  PollCycle& poll_;
  QLabel* statusLine_;
  LinkStatisticsDialog* dialog_;
  int ticksSinceShown_ = 0;
};
