#pragma once
// The about box: the program's name, version and the maker's addresses. Shown once
// at start as a splash that closes itself after 5 s, and from "О программе",
// when it closes itself after 15 s.

#include <QDialog>
#include <QLabel>

class QToolButton;
class Timer;

// A label that reports a click (the address labels).
class ClickLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

class AboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit AboutBox(QWidget* parent = nullptr);

  static const QString kWebAddress;
  static const QString kMailAddress;

  // Closes the box after 5 s the first time, 15 s every later time.
  Timer* closeTimer() const { return timer_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void onTimeout();

  Timer* timer_;
};
