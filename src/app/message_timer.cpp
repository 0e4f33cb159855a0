#include "app/message_timer.h"

namespace {
bool g_manual = false;
}

TTimer::TTimer(QObject* parent) : QObject(parent) {
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (enabled_ && OnTimer) OnTimer();
  });
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;  // as a design-time timer: no restart when already on
  enabled_ = enabled;
  Restart();
}

void TTimer::SetInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  Restart();
}

void TTimer::Fire() {
  if (OnTimer) OnTimer();
}

void TTimer::Restart() {
  timer_.stop();
  if (enabled_ && !g_manual && interval_ > 0) timer_.start(interval_);
}

void TTimer::SetManualForTesting(bool manual) { g_manual = manual; }
bool TTimer::ManualForTesting() { return g_manual; }
