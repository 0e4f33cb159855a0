#pragma once
// SIGTERM and SIGINT as a Qt signal in the event loop, so a service stopped
// by systemd or Ctrl+C finishes its work (the stop command, the database)
// instead of dying in the middle of it. One instance per process.

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
