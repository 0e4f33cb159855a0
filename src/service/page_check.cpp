#include "service/page_check.h"

#include <QThread>

PageCheck::PageCheck(QObject* parent) : QObject(parent) {}

PageCheck::~PageCheck() { stop(); }

bool PageCheck::isRunning() const { return thread_ && thread_->isRunning(); }

void PageCheck::start(const QString& path) {
  stop();
  stopWanted_ = false;
  thread_.reset(QThread::create([this, path] {
    // What the thread finds goes to this object's thread as queued calls:
    // a call left when the object is gone is dropped with it.
    const auto tell = [this](auto call) { QMetaObject::invokeMethod(this, call, Qt::QueuedConnection); };
    ResultStore store;
    store.setDamageObserver([this, &tell](const UnreadableSpan& span) {
      tell([this, span] { emit damageFound(span); });
    });
    const ResultStore::OpenResult opened = store.openForCheck(path);
    if (!opened.isOpen()) {
      tell([this, why = opened.detail] { emit finished({why}); });
      return;
    }
    while (!stopWanted_ && store.checkStep()) QThread::yieldCurrentThread();
    tell([this, problems = store.checkProblems()] { emit finished(problems); });
  }));
  thread_->setObjectName(QStringLiteral("page-check"));
  thread_->start(QThread::LowPriority);
}

void PageCheck::stop() {
  if (!thread_) return;
  stopWanted_ = true;
  thread_->wait();
  thread_.reset();
}
