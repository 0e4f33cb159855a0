#include "platform/timer.h"

#include <atomic>

namespace {
// Read by timers in every thread (the session's too).
std::atomic<bool> g_manual{false};
}

// The QTimer is a child, so that it goes along when the timer's owner is
// moved to another thread.
Timer::Timer(int intervalMs, QObject* parent) : QObject(parent), timer_(this), interval_(intervalMs) {
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (enabled_) emit timeout();
  });
}

void Timer::setEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  restart();
}

void Timer::setInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  restart();
}

void Timer::fire() { emit timeout(); }

void Timer::restart() {
  timer_.stop();
  if (enabled_ && !g_manual && interval_ > 0) timer_.start(interval_);
}

void Timer::setManualForTesting(bool manual) { g_manual = manual; }
