#pragma once
// "Статистика связи": the figures of the exchange with the analyzer since the
// program started or the operator reset them, and "Сбросить". Not modal: it
// stays open beside the main window and shows what it is given after every
// tick.

#include <QDialog>

#include "acquisition/link_statistics.h"

class QLabel;

class LinkStatisticsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit LinkStatisticsDialog(QWidget* parent = nullptr);

  void showStatistics(const LinkStatistics& statistics);

 signals:
  // "Сбросить" was pressed.
  void resetRequested();

 private:
  QLabel* since_;
  QLabel* requests_;
  QLabel* replies_;
  QLabel* errors_;
  QLabel* silences_;
  QLabel* reconnects_;
  QLabel* bytesSent_;
  QLabel* bytesReceived_;
  QLabel* lastReply_;
  QLabel* meanReply_;
  QLabel* maxReply_;
};
