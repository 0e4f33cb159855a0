#include "web/web_support.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTcpSocket>

#include "data/result_store.h"
#include "web/local_history.h"

namespace web_test {

namespace {

// Parses what has arrived; true when one whole answer is there.
bool parse(const QByteArray& data, HttpReply* reply) {
  const int end = data.indexOf("\r\n\r\n");
  if (end < 0) return false;
  const QList<QByteArray> lines = data.left(end).split('\n');
  const QList<QByteArray> status = lines.value(0).trimmed().split(' ');
  reply->status = status.value(1).toInt();
  reply->headers.clear();
  for (int i = 1; i < lines.size(); ++i) {
    const int colon = lines[i].indexOf(':');
    if (colon > 0) reply->headers[lines[i].left(colon).trimmed().toLower()].append(lines[i].mid(colon + 1).trimmed());
  }
  reply->body = data.mid(end + 4);
  bool hasLength = false;
  const int length = reply->header("content-length").toInt(&hasLength);
  return hasLength && reply->body.size() >= length;
}

}  // namespace

HttpReply exchange(quint16 port, const QByteArray& raw, int timeoutMs) {
  HttpReply reply;
  QTcpSocket socket;
  socket.connectToHost(QStringLiteral("127.0.0.1"), port);
  if (!socket.waitForConnected(timeoutMs)) return reply;
  socket.write(raw);
  socket.waitForBytesWritten(timeoutMs);
  QByteArray data;
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < timeoutMs) {
    if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(std::max<qint64>(1, timeoutMs - clock.elapsed())))) {
      reply.closed = socket.state() != QAbstractSocket::ConnectedState;
      if (reply.closed) break;
      continue;
    }
    data += socket.readAll();
    if (parse(data, &reply)) return reply;
  }
  data += socket.readAll();
  if (!parse(data, &reply) && data.isEmpty()) reply.status = 0;
  return reply;
}

HttpReply request(quint16 port, const QByteArray& method, const QByteArray& target, const QByteArray& headers,
                  const QByteArray& body) {
  QByteArray raw = method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n" + headers;
  if (!body.isEmpty() || method == "POST")
    raw += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
  raw += "Connection: close\r\n\r\n" + body;
  return exchange(port, raw);
}

WebServerFixture::WebServerFixture(const QString& password, int requestDeadlineMs, int results,
                                   const std::function<void(web::WebSettings&)>& adjust) {
  ResultStore::setDurableForTesting(false);
  {
    ResultStore store;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!store.open(databasePath(), now, ResultStore::WhenLocked::Refuse).isWritable()) {
      error_ = QStringLiteral("no database");
      return;
    }
    std::vector<Result> rows;
    for (int i = results; i > 0; --i) {
      Result r;
      r.utcMs = now - qint64(i) * 60000;
      r.mode = WorkMode::Continuous;
      r.values = {180, 3.5, 50, 40, 5, 2, 1, 9.8, 45, 7.5, 1.2, 20};
      r.values[0] = 170 + i % 20;
      rows.push_back(r);
    }
    store.appendBatch(rows);
    store.appendEvent(now - 1000, 0, EventKind::ModeStarted, QStringLiteral(u"Начато: непрерывное измерение"));
  }
  web::WebSettings settings;
  settings.enabled = true;
  settings.port = 0;
  settings.requestDeadlineMs = requestDeadlineMs;
  if (!password.isEmpty()) settings.passwordHash = web::hashPassword(password.toUtf8());
  if (adjust) adjust(settings);
  auto history = std::make_unique<web::LocalHistory>(databasePath(),
                                                      web::AnalyzerInfo{analyzerId(), QStringLiteral("plant"), QStringLiteral("boiler"), 1});
  emissions::AveragingConfig config;
  config.o2RefByFuel = {3};
  history->setBasis(config, {});
  QObject::connect(&service_, &web::WebService::message, [this](const QString& m) { messages_ << m; });
  ok_ = service_.start(settings, std::move(history), std::make_unique<web::SinglePasswordUsers>(settings.passwordHash),
                       std::make_unique<web::NoAuditTrail>(), &error_);
  web::LiveSnapshot s;
  s.id = analyzerId();
  s.site = QStringLiteral("plant");
  s.name = QStringLiteral("boiler");
  s.state = QStringLiteral(u"Измерение");
  s.linkOk = true;
  service_.hub().publish(s);
}

WebServerFixture::~WebServerFixture() { service_.stop(); }

QString WebServerFixture::databasePath() const { return dir_.filePath(QStringLiteral("korvex.db")); }

QByteArray WebServerFixture::login(const QByteArray& password) {
  const HttpReply r = request(port(), "POST", "/login", {}, "password=" + password.toPercentEncoding());
  for (const QByteArray& c : r.headers.value("set-cookie"))
    if (c.startsWith("korvex_session=")) return c.left(c.indexOf(';'));
  return {};
}

}  // namespace web_test
