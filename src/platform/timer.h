#pragma once
// A message-loop timer that keeps its enabled state and interval as settings:
// enabling a timer that is already on does not restart it. Tests switch every
// timer to manual mode, where it keeps its state but fires only when the test
// calls fire(), so a test decides exactly when each tick happens.

#include <QObject>
#include <QTimer>

class Timer : public QObject {
  Q_OBJECT
 public:
  explicit Timer(int intervalMs, QObject* parent = nullptr);

  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled);
  int interval() const { return interval_; }
  void setInterval(int ms);

  // Emits timeout() once, as an expiry would.
  void fire();

  static void setManualForTesting(bool manual);

 signals:
  void timeout();

 private:
  void restart();

  QTimer timer_;
  bool enabled_ = false;
  int interval_;
};
