#pragma once
// Which refused connections are told of. A control system or a scanner that
// keeps trying must not flood the event log: the first refusal of an address
// is told, then at most one per address every kAddressQuietMs with the count
// of those left out, and at most kLinesPerWindow lines in all per window of
// kWindowMs. Times come in as parameters; it reads no clock.

#include <QHash>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace modbus_server {

class RefusalLog {
 public:
  static constexpr qint64 kAddressQuietMs = 10 * 60 * 1000;
  static constexpr qint64 kWindowMs = 10 * 60 * 1000;
  static constexpr int kLinesPerWindow = 10;

  // A connection from `address` refused at `nowMs` for the reason `why`:
  // the line to log, or nothing when it is left out.
  std::optional<QString> refused(const QString& address, const QString& why, qint64 nowMs);

 private:
  struct Entry {
    qint64 loggedMs = 0;
    int leftOut = 0;
  };
  QHash<QString, Entry> addresses_;
  qint64 windowStartMs_ = 0;
  int linesInWindow_ = 0;
  int leftOutElsewhere_ = 0;  // left out for the window's limit
};

}  // namespace modbus_server
