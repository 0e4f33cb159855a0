#pragma once
// A web server of the test's own, in its own thread as the program runs it,
// over a real results database in a temporary directory, and plain HTTP/1.1
// spoken to it over loopback sockets from the test's thread.

#include <QByteArray>
#include <QHash>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "web/web_service.h"

namespace web_test {

struct HttpReply {
  int status = 0;  // 0: no answer (closed or timed out)
  QHash<QByteArray, QList<QByteArray>> headers;  // lower-case names
  QByteArray body;
  bool closed = false;  // the server closed the connection
  QByteArray header(const char* name) const { return headers.value(name).value(0); }
};

// Sends `raw` as it is and reads one answer (until its length, or until
// the server closes, at most `timeoutMs`).
HttpReply exchange(quint16 port, const QByteArray& raw, int timeoutMs = 5000);
// A GET (or another method) with optional extra header lines ("Cookie: ...\r\n").
HttpReply request(quint16 port, const QByteArray& method, const QByteArray& target, const QByteArray& headers = {},
                  const QByteArray& body = {});

// A results database with `results` results a minute apart before now, and
// a web service over it on a free loopback port.
class WebServerFixture {
 public:
  // `adjust` changes the settings before the server starts.
  WebServerFixture(const QString& password, int requestDeadlineMs = 10000, int results = 120,
                   const std::function<void(web::WebSettings&)>& adjust = {});
  ~WebServerFixture();
  bool ok() const { return ok_; }
  QString error() const { return error_; }
  quint16 port() const { return service_.port(); }
  web::WebService& service() { return service_; }
  QString databasePath() const;
  QString analyzerId() const { return QStringLiteral("plant-boiler"); }
  QStringList messages() const { return messages_; }
  // The session cookie of a login with `password` ("korvex_session=..."), or empty.
  QByteArray login(const QByteArray& password);

 private:
  QTemporaryDir dir_;
  web::WebService service_;
  QStringList messages_;
  bool ok_ = false;
  QString error_;
};

}  // namespace web_test
