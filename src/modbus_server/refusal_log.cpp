#include "modbus_server/refusal_log.h"

namespace modbus_server {

std::optional<QString> RefusalLog::refused(const QString& address, const QString& why, qint64 nowMs) {
  // Old entries go once there are many: a scan of a whole network passes.
  if (addresses_.size() > 4096) {
    for (auto it = addresses_.begin(); it != addresses_.end();)
      it = nowMs - it->loggedMs >= kAddressQuietMs ? addresses_.erase(it) : std::next(it);
  }
  const auto found = addresses_.find(address);
  if (found != addresses_.end() && nowMs - found->loggedMs < kAddressQuietMs) {
    ++found->leftOut;
    return std::nullopt;
  }
  if (linesInWindow_ == 0 || nowMs - windowStartMs_ >= kWindowMs) {
    windowStartMs_ = nowMs;
    linesInWindow_ = 0;
  }
  if (linesInWindow_ >= kLinesPerWindow) {
    ++leftOutElsewhere_;
    return std::nullopt;
  }
  ++linesInWindow_;
  QString line = QStringLiteral(u"Сервер Modbus TCP: отказано клиенту %1: %2").arg(address, why);
  const int leftOut = found != addresses_.end() ? found->leftOut : 0;
  if (leftOut > 0) line += QStringLiteral(u" (с прошлой записи ещё отказов этому адресу: %1)").arg(leftOut);
  if (leftOutElsewhere_ > 0)
    line += QStringLiteral(u" (не записано отказов из-за их множества: %1)").arg(leftOutElsewhere_);
  leftOutElsewhere_ = 0;
  addresses_.insert(address, Entry{nowMs, 0});
  return line;
}

}  // namespace modbus_server
