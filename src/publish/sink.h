#pragma once
// One place the results and events of the local results database go to:
// an MQTT broker (Publisher), a central PostgreSQL database
// (CentralForwarder), and whatever comes after them. Every sink works the
// same way:
//
//   - it reads what to send from the store after cursors of its own
//     (store.cursor(name)) and moves them only over what the other side has
//     taken, so nothing is lost while it is away and nothing is sent twice
//     but for a repeat the receiver can tell by its number;
//   - it is told of new rows by poke() after every commit, and never slows
//     the commit: what may block (a connection, a transaction, a dead
//     network) runs in a QThread of the sink's own, and its outcome comes
//     back as a queued call into the thread that owns the store;
//   - after a failure it tries again after a delay that doubles from the
//     settings' least to their most (Backoff);
//   - it reports one State and, once per different reason, an error.
//
//   sink->start();  ... after every commit: sink->poke();  ... sink->stop();

#include <QObject>
#include <QString>
#include <vector>

#include "data/result_store.h"
#include "publish/service_settings.h"

namespace publish {

class Sink : public QObject {
  Q_OBJECT
 public:
  enum class State {
    Stopped,
    Connecting,      // a first attempt, or again after a failure
    Connected,       // a connection is up and takes what is sent
    Sending,         // a batch is on its way
    UpToDate,        // everything committed locally has been taken
    WaitingToRetry,  // the last attempt failed; see lastError()
  };
  Q_ENUM(State)

  Sink(ResultStore& store, AnalyzerIdentity identity, QObject* parent = nullptr);
  ~Sink() override;

  // Starts sending in the background. False, with errorOccurred, when the
  // settings cannot work; the store must be writable.
  virtual bool start() = 0;
  // Ends what is on its way as well as it can in a moment; what was not
  // taken is sent again at the next start.
  virtual void stop() = 0;
  // New rows were committed to the store.
  virtual void poke() = 0;
  // "MQTT", "центральная БД": how the operator knows it.
  virtual QString title() const = 0;

  State state() const { return state_; }
  QString lastError() const { return lastError_; }
  // The last sequence number / event id the other side has taken, in order.
  qint64 deliveredSeq() const { return deliveredSeq_; }
  qint64 deliveredEventId() const { return deliveredEventId_; }
  // One line on how it goes: "MQTT: на связи".
  QString stateText() const;

  // The reference O2 of each fuel row, for the mg/m3 values.
  void setO2RefByFuel(std::vector<double> refs) { o2Refs_ = std::move(refs); }

 signals:
  void stateChanged(publish::Sink::State state);
  // Something failed: a connection, a batch, a cursor (once per different reason).
  void errorOccurred(const QString& message);
  // The cursors moved.
  void delivered(qint64 seq, qint64 eventId);

 protected:
  void setState(State s);
  // Reports `message` unless it is the last one reported.
  void report(const QString& message);
  void clearError() { lastError_.clear(); }
  // The problems that keep any sink from starting: names, a store not written.
  QStringList startProblems() const;

  ResultStore& store_;
  AnalyzerIdentity identity_;
  std::vector<double> o2Refs_;
  qint64 deliveredSeq_ = 0;
  qint64 deliveredEventId_ = 0;

 private:
  State state_ = State::Stopped;
  QString lastError_;
};

// The delay before the next try: the least at first and after a success,
// doubled after every failure up to the most.
class Backoff {
 public:
  Backoff(int leastMs, int mostMs);
  int delayMs() const { return delayMs_; }
  // The delay to wait now; the one after it is doubled.
  int next();
  void reset() { delayMs_ = leastMs_; }

 private:
  int leastMs_;
  int mostMs_;
  int delayMs_;
};

}  // namespace publish
