#pragma once
// AboutBox: the program's name, version and the maker's addresses. Shown once
// at start as a splash that closes itself after 5 s, and from "О программе",
// when it closes itself after 15 s.

#include <QDialog>
#include <QLabel>

class QToolButton;
class TTimer;

// A label that reports a click (the address labels).
class TClickLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;
 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override;
};

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  static const QString kWebAddress;
  static const QString kMailAddress;

  QLabel* Image1;
  QLabel* ProductName;
  QLabel* Version;
  TClickLabel* Label2;  // e-mail
  TClickLabel* Label1;  // web
  QToolButton* SpeedButton1;
  TTimer* Timer1;

  void FormActivate();
  void Timer1Timer();
  void SpeedButton1Click();
  void Label2Click();
  void Label1Click();

 protected:
  void showEvent(QShowEvent* event) override;
};
