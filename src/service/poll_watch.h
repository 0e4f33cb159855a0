#pragma once
// How regularly the poll cycle ticks: the ticks counted and the longest gap
// between two of them. Written by the session's thread at every tick, read
// from any other (a benchmark or a test watching the measuring thread while
// the window's thread is busy).

#include <atomic>
#include <chrono>
#include <cstdint>

class PollWatch {
 public:
  // A tick, now.
  void tick();
  int64_t ticks() const { return ticks_.load(); }
  // The longest gap between two ticks since the last restart of the count,
  // in milliseconds; 0 before the second tick.
  int64_t longestGapMs() const { return longestGapMs_.load(); }
  // Milliseconds since the last tick (0 before the first).
  int64_t sinceLastTickMs() const;
  // The longest gap counts from the next tick on (from any thread).
  void restartLongest() const;

 private:
  using Clock = std::chrono::steady_clock;
  static int64_t nowMs();

  std::atomic<int64_t> ticks_{0};
  std::atomic<int64_t> lastMs_{-1};
  std::atomic<int64_t> longestGapMs_{0};
  mutable std::atomic<bool> restart_{false};
};
