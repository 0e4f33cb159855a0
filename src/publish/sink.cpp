#include "publish/sink.h"

#include <algorithm>

#include "publish/publish_log.h"

namespace publish {

Sink::Sink(ResultStore& store, AnalyzerIdentity identity, QObject* parent)
    : QObject(parent), store_(store), identity_(std::move(identity)) {}

Sink::~Sink() = default;

QString Sink::stateText() const {
  QString s;
  switch (state_) {
    case State::Stopped: s = QStringLiteral(u"остановлено"); break;
    // After a failure it is a connection lost, not one being made.
    case State::Connecting: s = lastError_.isEmpty() ? QStringLiteral(u"подключение") : QStringLiteral(u"нет связи"); break;
    case State::Connected: s = QStringLiteral(u"на связи"); break;
    case State::Sending: s = QStringLiteral(u"передача"); break;
    case State::UpToDate: s = QStringLiteral(u"всё передано"); break;
    case State::WaitingToRetry: s = QStringLiteral(u"нет связи"); break;
  }
  return title() + QStringLiteral(": ") + s;
}

void Sink::setState(State s) {
  if (s == state_) return;
  state_ = s;
  emit stateChanged(s);
}

void Sink::report(const QString& message) {
  if (message == lastError_) return;
  lastError_ = message;
  qCWarning(korvexPublish, "%s", qUtf8Printable(message));
  emit errorOccurred(message);
}

QStringList Sink::startProblems() const {
  QStringList problems = identityProblems(identity_.site, identity_.name);
  if (!store_.isWritable()) problems << QStringLiteral(u"база данных результатов не открыта для записи");
  return problems;
}

Backoff::Backoff(int leastMs, int mostMs)
    : leastMs_(std::max(1, leastMs)), mostMs_(std::max(leastMs_, mostMs)), delayMs_(leastMs_) {}

int Backoff::next() {
  const int now = delayMs_;
  delayMs_ = std::min(mostMs_, delayMs_ * 2);
  return now;
}

}  // namespace publish
