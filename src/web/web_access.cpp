#include "web/web_access.h"

#include <sodium.h>

namespace web {

bool WebAccess::overLimit(const Failures& f, qint64 nowMs, int limit) {
  return nowMs - f.windowStart < kWindowMs && f.count >= limit;
}

bool WebAccess::countFailure(Failures& f, qint64 nowMs) {
  if (nowMs - f.windowStart >= kWindowMs) {
    f.windowStart = nowMs;
    f.count = 0;
  }
  return ++f.count > 0;
}

bool WebAccess::mayTry(const QHostAddress& peer, qint64 nowMs) {
  const auto it = failures_.constFind(peer.toString());
  if (it != failures_.cend() && overLimit(*it, nowMs, kFailuresPerAddress)) return false;
  return !overLimit(allFailures_, nowMs, kFailuresInAll);
}

void WebAccess::recordFailure(const QHostAddress& peer, qint64 nowMs) {
  // Old entries go, so that many addresses cannot fill the memory.
  if (failures_.size() > 10000) {
    for (auto it = failures_.begin(); it != failures_.end();)
      it = nowMs - it->windowStart >= kWindowMs ? failures_.erase(it) : std::next(it);
  }
  countFailure(failures_[peer.toString()], nowMs);
  countFailure(allFailures_, nowMs);
}

QString WebAccess::open(const WebUser& user, qint64 nowMs) {
  if (sessions_.size() >= kMaxSessions) {
    for (auto it = sessions_.begin(); it != sessions_.end();)
      it = nowMs - it->lastUsedMs >= kSessionIdleMs ? sessions_.erase(it) : std::next(it);
    if (sessions_.size() >= kMaxSessions) {
      // The least recently used one goes.
      auto oldest = std::min_element(sessions_.begin(), sessions_.end(),
                                     [](const Session& a, const Session& b) { return a.lastUsedMs < b.lastUsedMs; });
      sessions_.erase(oldest);
    }
  }
  unsigned char bytes[32];
  if (sodium_init() < 0) return {};
  randombytes_buf(bytes, sizeof bytes);
  const QString token = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes).toHex());
  sessions_.insert(token, Session{user, nowMs});
  return token;
}

std::optional<WebUser> WebAccess::session(const QString& token, qint64 nowMs) {
  if (token.isEmpty()) return std::nullopt;
  auto it = sessions_.find(token);
  if (it == sessions_.end()) return std::nullopt;
  if (nowMs - it->lastUsedMs >= kSessionIdleMs) {
    sessions_.erase(it);
    return std::nullopt;
  }
  it->lastUsedMs = nowMs;
  return it->user;
}

void WebAccess::close(const QString& token) { sessions_.remove(token); }

QString sessionCookie(const QByteArray& cookieHeader) {
  for (const QByteArray& part : cookieHeader.split(';')) {
    const QByteArray p = part.trimmed();
    const int eq = p.indexOf('=');
    if (eq > 0 && p.left(eq) == kCookieName) {
      const QByteArray value = p.mid(eq + 1);
      // 64 hex digits, nothing else.
      if (value.size() != 64) return {};
      for (char c : value)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return {};
      return QString::fromLatin1(value);
    }
  }
  return {};
}

}  // namespace web
