#pragma once
// With several analyzers on the line the window and the helpers in other
// threads (the audit keepers) hear of them once a round, not once an
// analyzer: their reports wait here, in the session's thread, until the round
// is over, and then go to each receiver together, as one queued call to its
// thread. Each report was emitted after what it tells was committed; only the
// telling waits (at most a round, well under the poll period). Outside a
// round a report goes at once, and to a receiver in the session's own thread
// directly, as a signal would.
//
//   reports->setReceiver(window);
//   reports->forward(analyzer, &Session::resultRecorded, [window](qint64 seq, const Result& r) { ... });
//   reports->forward(analyzer, &Session::resultRecorded, keeper, [keeper](qint64 seq, const Result& r) { ... });

#include <QMutex>
#include <QObject>
#include <functional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

class RoundReports : public QObject {
  Q_OBJECT
 public:
  explicit RoundReports(QObject* parent = nullptr);

  // The calls of forward() without a receiver of their own run in this one's
  // thread. Thread-safe; nullptr (the receiver going): nothing more reaches
  // it. A receiver given to forward() must outlive this object.
  void setReceiver(QObject* receiver);
  // While this says so (a round running), reports wait for flush().
  void setHolding(std::function<bool()> holding) { holding_ = std::move(holding); }

  // `slot(args...)` in the receiver's thread for each `signal` of `sender`,
  // in the order they were emitted.
  template <typename Sender, typename... Args, typename Slot>
  void forward(const Sender* sender, void (Sender::*signal)(Args...), Slot slot) {
    forward(sender, signal, nullptr, std::move(slot));
  }
  // The same in the thread of `receiver` (null: the one set).
  template <typename Sender, typename... Args, typename Slot>
  void forward(const Sender* sender, void (Sender::*signal)(Args...), QObject* receiver, Slot slot) {
    connect(
        sender, signal, this,
        [this, receiver, slot](Args... args) {
          add(receiver,
              [slot, values = std::make_tuple(std::decay_t<Args>(args)...)] { std::apply(slot, values); });
        },
        Qt::DirectConnection);
  }

  // Everything waiting, to the receivers now (a round's end, the session's stop).
  void flush();
  int waiting() const { return int(calls_.size()); }
  // How many times a receiver was told (a queued call or a direct run of what waited).
  qint64 deliveries() const { return deliveries_; }

 private:
  void add(QObject* receiver, std::function<void()> call);
  // `calls` in `receiver`'s thread: directly in this one, else queued.
  void deliver(QObject* receiver, std::vector<std::function<void()>> calls);

  mutable QMutex mutex_;  // the receiver, set from its own thread
  QObject* receiver_ = nullptr;
  std::function<bool()> holding_;
  // Each with its own receiver (null: receiver_), in the order emitted.
  std::vector<std::pair<QObject*, std::function<void()>>> calls_;
  qint64 deliveries_ = 0;
};
