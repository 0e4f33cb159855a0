#pragma once
// Helpers of the publishing tests: a results database in a temporary
// directory with results made up here, and a capture of everything logged.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QLoggingCategory>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <mutex>

#include "data/result_store.h"

namespace publish_test {

constexpr qint64 kStartUtcMs = 1741996800000;  // 2025-03-15 00:00:00 UTC

// A result of a gas boiler, `i` seconds after kStartUtcMs.
inline Result boilerResult(int i) {
  Result r;
  r.utcMs = kStartUtcMs + qint64(i) * 1000;
  r.utcOffset = 3 * 3600;
  r.mode = WorkMode::Continuous;
  r.fuelIndex = 0;
  r.address = 1;
  r.values = {180.0 + i % 7, 5.0, 40.0 + i % 11, 100.0, 5.0, 10.0, 0.0, 9.1, 105.0, 7.5, 1.31, 20.0};
  return r;
}

// A writable store in its own temporary directory.
class TempStore {
 public:
  TempStore() {
    EXPECT_TRUE(dir_.isValid());
    const auto opened = store_.open(dir_.filePath(QStringLiteral("results.db")), kStartUtcMs);
    EXPECT_TRUE(opened.isWritable()) << opened.detail.toStdString();
  }
  ResultStore& store() { return store_; }
  // Appends results first..last (inclusive) as boilerResult(i); their seqs.
  void append(int first, int last) {
    for (int i = first; i <= last; ++i) ASSERT_EQ(store_.append(boilerResult(i)).state, ResultStore::AppendState::Committed);
  }
  void event(EventKind kind, const QString& text) {
    ASSERT_EQ(store_.appendEvent(kStartUtcMs, 10800, kind, text).state, ResultStore::AppendState::Committed);
  }

 private:
  QTemporaryDir dir_;
  ResultStore store_;
};

// Every message logged while it lives, from any thread, debug lines of
// korvex.publish included.
class LogCapture {
 public:
  LogCapture() {
    QLoggingCategory::setFilterRules(QStringLiteral("korvex.publish.debug=true"));
    current() = this;
    previous_ = qInstallMessageHandler(&LogCapture::handle);
  }
  ~LogCapture() {
    qInstallMessageHandler(previous_);
    current() = nullptr;
    QLoggingCategory::setFilterRules(QString());
  }
  QStringList lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  QString all() const { return lines().join(QLatin1Char('\n')); }

 private:
  static LogCapture*& current() {
    static LogCapture* c = nullptr;
    return c;
  }
  static void handle(QtMsgType, const QMessageLogContext&, const QString& message) {
    if (LogCapture* c = current()) {
      std::lock_guard<std::mutex> lock(c->mutex_);
      c->lines_ << message;
    }
  }
  QtMessageHandler previous_ = nullptr;
  mutable std::mutex mutex_;
  QStringList lines_;
};

// Spins the event loop until `condition` holds; false after `ms`.
template <class F>
bool waitUntil(F condition, int ms) {
  return QTest::qWaitFor(condition, ms);
}

}  // namespace publish_test
