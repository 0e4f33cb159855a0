#pragma once
// The link statistics in the main window: a line in its status bar, brought
// up to date after every tick, and "Статистика связи" in the "Сервис" menu,
// which opens the window with all the figures and their reset.

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

  QLabel* statusLine() const { return statusLine_; }
  LinkStatisticsDialog* dialog() const { return dialog_; }

 private:
  void refresh();
  void open();

  PollCycle& poll_;
  QLabel* statusLine_;
  LinkStatisticsDialog* dialog_;
};
