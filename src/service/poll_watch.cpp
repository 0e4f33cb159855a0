#include "service/poll_watch.h"

int64_t PollWatch::nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

void PollWatch::tick() {
  const int64_t now = nowMs();
  const int64_t last = lastMs_.exchange(now);
  ticks_.fetch_add(1);
  if (restart_.exchange(false)) {
    longestGapMs_.store(0);
    return;
  }
  if (last < 0) return;
  const int64_t gap = now - last;
  int64_t longest = longestGapMs_.load();
  while (gap > longest && !longestGapMs_.compare_exchange_weak(longest, gap)) {
  }
}

int64_t PollWatch::sinceLastTickMs() const {
  const int64_t last = lastMs_.load();
  return last < 0 ? 0 : nowMs() - last;
}

void PollWatch::restartLongest() const { restart_.store(true); }
