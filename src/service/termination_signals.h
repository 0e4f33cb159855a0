#pragma once
// SIGTERM, SIGINT and SIGHUP as a Qt signal in the event loop, so a program
// stopped by systemd, Ctrl+C, a closed terminal or the end of a desktop
// session finishes its work (the stop command, the database) instead of
// dying in the middle of it. One instance per process.

#include <QObject>

class QSocketNotifier;

class TerminationSignals : public QObject {
  Q_OBJECT
 public:
  explicit TerminationSignals(QObject* parent = nullptr);
  ~TerminationSignals() override;

 signals:
  void received(int signal);

 private:
  void onReadable();

  QSocketNotifier* notifier_ = nullptr;
};
