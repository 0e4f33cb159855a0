#include "service/round_reports.h"

#include <QThread>

RoundReports::RoundReports(QObject* parent) : QObject(parent) {}

void RoundReports::setReceiver(QObject* receiver) {
  QMutexLocker lock(&mutex_);
  receiver_ = receiver;
}

void RoundReports::add(std::function<void()> call) {
  calls_.push_back(std::move(call));
  if (holding_ && holding_()) return;
  flush();
}

void RoundReports::flush() {
  if (calls_.empty()) return;
  std::vector<std::function<void()>> calls;
  calls.swap(calls_);
  QMutexLocker lock(&mutex_);
  if (!receiver_) return;
  ++deliveries_;
  if (receiver_->thread() == QThread::currentThread()) {
    lock.unlock();
    for (const auto& call : calls) call();
    return;
  }
  // Under the lock: the receiver cannot go meanwhile; once it is gone, Qt
  // drops what was posted to it.
  QMetaObject::invokeMethod(
      receiver_, [calls = std::move(calls)] {
        for (const auto& call : calls) call();
      },
      Qt::QueuedConnection);
}
