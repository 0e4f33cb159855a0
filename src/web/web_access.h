#pragma once
// Logins and their sessions: a random token in a cookie (HttpOnly,
// SameSite=Strict, Secure under HTTPS), kept in memory only, so a restart
// logs everybody out. Failed logins are rate-limited per client address and
// in all, before the password hash is even computed.

#include <QHash>
#include <QHostAddress>
#include <QString>
#include <optional>

#include "web/web_source.h"

namespace web {

class WebAccess {
 public:
  static constexpr int kFailuresPerAddress = 5;   // within kWindowMs; then refused until the window passes
  static constexpr int kFailuresInAll = 30;       // from all addresses together
  static constexpr qint64 kWindowMs = 60 * 1000;
  static constexpr qint64 kSessionIdleMs = qint64(8) * 3600 * 1000;
  static constexpr int kMaxSessions = 1000;

  // Whether a login from `peer` may be tried now.
  bool mayTry(const QHostAddress& peer, qint64 nowMs);
  void recordFailure(const QHostAddress& peer, qint64 nowMs);
  // A new session; its token goes into the cookie.
  QString open(const WebUser& user, qint64 nowMs);
  // The session of a cookie's token, renewed; none when unknown or expired.
  std::optional<WebUser> session(const QString& token, qint64 nowMs);
  void close(const QString& token);

 private:
  struct Failures {
    qint64 windowStart = 0;
    int count = 0;
  };
  struct Session {
    WebUser user;
    qint64 lastUsedMs = 0;
  };
  static bool countFailure(Failures& f, qint64 nowMs);
  static bool overLimit(const Failures& f, qint64 nowMs, int limit);

  QHash<QString, Failures> failures_;  // by address
  Failures allFailures_;
  QHash<QString, Session> sessions_;
};

// The token from a Cookie header, or empty.
QString sessionCookie(const QByteArray& cookieHeader);
inline constexpr char kCookieName[] = "korvex_session";

}  // namespace web
