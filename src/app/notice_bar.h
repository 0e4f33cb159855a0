#pragma once
// The notices of the run in the main window, shown without stopping
// anything: a bar under the table shows the newest (its time and text) and
// how many there are; "Все сообщения" opens the list of them all in a
// window of its own beside the main window (not modal); "Скрыть" hides the
// bar until the next notice. A notice that calls the operator beeps.

#include <QFrame>

#include "service/notice_board.h"

class QDialog;
class QLabel;
class QListWidget;
class QPushButton;

class NoticeBar : public QFrame {
  Q_OBJECT
 public:
  explicit NoticeBar(NoticeBoard& board, QWidget* parent = nullptr);

  // The newest notice as the bar shows it; empty when none.
  QString text() const;
  // The list window and its list.
  QDialog* listWindow() const { return listWindow_; }
  QListWidget* list() const { return list_; }

  // One line of the list: "dd.MM.yyyy hh:mm:ss  text".
  static QString listLine(const Notice& notice);

 private:
  void onAdded(const Notice& notice);
  void showList();

  NoticeBoard& board_;
  QLabel* label_;
  QPushButton* allButton_;
  QDialog* listWindow_;
  QListWidget* list_;
};
