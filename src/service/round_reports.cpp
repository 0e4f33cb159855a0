#include "service/round_reports.h"

#include <QThread>
#include <algorithm>

RoundReports::RoundReports(QObject* parent) : QObject(parent) {}

void RoundReports::setReceiver(QObject* receiver) {
  QMutexLocker lock(&mutex_);
  receiver_ = receiver;
}

void RoundReports::add(QObject* receiver, std::function<void()> call) {
  calls_.emplace_back(receiver, std::move(call));
  if (holding_ && holding_()) return;
  flush();
}

void RoundReports::flush() {
  if (calls_.empty()) return;
  std::vector<std::pair<QObject*, std::function<void()>>> calls;
  calls.swap(calls_);
  // One call a receiver, each with its reports in their order.
  std::vector<std::pair<QObject*, std::vector<std::function<void()>>>> byReceiver;
  for (auto& [receiver, call] : calls) {
    auto it = std::find_if(byReceiver.begin(), byReceiver.end(),
                           [receiver = receiver](const auto& r) { return r.first == receiver; });
    if (it == byReceiver.end()) it = byReceiver.insert(byReceiver.end(), {receiver, {}});
    it->second.push_back(std::move(call));
  }
  for (auto& [receiver, list] : byReceiver) deliver(receiver, std::move(list));
}

void RoundReports::deliver(QObject* receiver, std::vector<std::function<void()>> calls) {
  QMutexLocker lock(&mutex_);
  QObject* to = receiver ? receiver : receiver_;
  if (!to) return;
  ++deliveries_;
  if (to->thread() == QThread::currentThread()) {
    lock.unlock();
    for (const auto& call : calls) call();
    return;
  }
  // Under the lock: the receiver set cannot go meanwhile; once it is gone, Qt
  // drops what was posted to it.
  QMetaObject::invokeMethod(
      to, [calls = std::move(calls)] {
        for (const auto& call : calls) call();
      },
      Qt::QueuedConnection);
}
