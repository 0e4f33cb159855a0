#pragma once
// The check of every page of the results database after a crash, beside the
// measuring: a year's file takes half a minute to read, too long to keep the
// analyzer waiting. It reads through a read-only connection of its own in a
// thread of its own, in steps, and tells only what it finds.

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

#include "data/result_store.h"

class QThread;

class PageCheck : public QObject {
  Q_OBJECT
 public:
  explicit PageCheck(QObject* parent = nullptr);
  ~PageCheck() override;

  // Begins the check of the database at `path` (owned by this program).
  void start(const QString& path);
  // Ends a check under way and waits for its thread; its findings so far
  // are told.
  void stop();
  bool isRunning() const;

 signals:
  // Results that cannot be read.
  void damageFound(const UnreadableSpan& span);
  // The check is over: what is wrong with the other tables (empty when
  // nothing is), or why the file could not be read for the check.
  void finished(const QStringList& problems);

 private:
  std::unique_ptr<QThread> thread_;
  std::atomic_bool stopWanted_{false};
};
