#pragma once
// Several analyzers on one line (RS-485, or one serial device server), each
// at its own address with a poll cycle of its own. A round, once a period,
// polls every analyzer in turn: its cycle's tick reads the reply of its last
// exchange and sends its next request, and the next analyzer's turn comes
// when the reply is whole (or its time is up) and the Modbus RTU silent
// interval has passed. Analyzers with a command to send go first. One that
// is taken for lost is asked only every tenth round, so a silent analyzer
// costs the others at most one reply timeout in ten rounds; as soon as it
// answers it is asked every round again.

#include <QObject>
#include <vector>

#include "acquisition/poll_cycle.h"
#include "device/analyzer_link.h"

class Timer;

class LineScheduler : public QObject {
  Q_OBJECT
 public:
  struct Timing {
    int replyTimeoutMs = 250;  // a whole reply at 9600 baud takes 38 ms
    int gapMs = 5;             // at least 3.5 characters (4.0 ms at 9600 baud, 8N2)
    int lostEvery = 10;        // rounds between two requests to a lost analyzer
  };

  explicit LineScheduler(AnalyzerLink& link, QObject* parent = nullptr);
  ~LineScheduler() override;

  void setTiming(const Timing& timing) { timing_ = timing; }
  const Timing& timing() const { return timing_; }
  // The analyzers' cycles in the order of their slots; each has its address
  // in its settings. Not owned.
  void setCycles(const std::vector<PollCycle*>& cycles);
  int slotCount() const { return int(slots_.size()); }

  // A round: every analyzer once. A round still going when the next is due
  // ends first, and the next follows at once.
  void startRound();
  bool roundRunning() const { return running_; }
  qint64 rounds() const { return rounds_; }
  // An analyzer taken for lost and asked only every tenth round.
  bool isLost(int slot) const;
  // The slot whose exchange is on the line; -1 between them.
  int current() const { return current_; }

 signals:
  // After an analyzer's tick (its reply read, its next request sent).
  void slotTicked(int slot);
  void roundFinished();

 private:
  struct Slot {
    PollCycle* cycle = nullptr;
    AnalyzerLink::ReplyState reply;  // of its last exchange, read at its next tick
  };
  void next();
  void endExchange();

  AnalyzerLink& link_;
  Timing timing_;
  std::vector<Slot> slots_;
  std::vector<int> order_;  // of this round
  size_t at_ = 0;
  int current_ = -1;
  bool running_ = false;
  bool roundDue_ = false;
  qint64 rounds_ = 0;
  Timer* replyTimer_;
  Timer* gapTimer_;
};
