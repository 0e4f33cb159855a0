#pragma once
// A message-loop timer with the Enabled/Interval/OnTimer shape the program is
// written around. Tests switch all timers to manual mode: they keep their
// enabled state and interval, but only fire when a test calls Fire().

#include <QObject>
#include <QTimer>
#include <functional>

class TTimer : public QObject {
  Q_OBJECT
 public:
  explicit TTimer(QObject* parent = nullptr);

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  int Interval() const { return interval_; }
  void SetInterval(int ms);

  std::function<void()> OnTimer;

  // Runs the handler once, as an expiry would (tests).
  void Fire();

  static void SetManualForTesting(bool manual);
  static bool ManualForTesting();

 private:
  void Restart();

  QTimer timer_;
  bool enabled_ = false;
  int interval_ = 1000;
};
