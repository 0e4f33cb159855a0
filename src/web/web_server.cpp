#include "web/web_server.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QCoreApplication>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTimeZone>
#include <QUrlQuery>
#include <cmath>

#include "data/value_format.h"
#include "emissions/emission_texts.h"
#include "emissions/report_csv.h"
#include "emissions/report_table.h"
#include "emissions/report_table_json.h"
#include "web/column_reduction.h"
#include "web/web_json.h"

namespace web {

// Every connection goes through WebServer::admit before the HTTP server sees it.
class GuardedTcpServer : public QTcpServer {
 public:
  GuardedTcpServer(WebServer* web) : QTcpServer(web), web_(web) {}
  QTcpSocket* nextPendingConnection() override {
    while (QTcpSocket* s = QTcpServer::nextPendingConnection())
      if (web_->admit(s)) return s;
    return nullptr;
  }

 private:
  WebServer* web_;
};

class GuardedSslServer : public QSslServer {
 public:
  GuardedSslServer(WebServer* web) : QSslServer(web), web_(web) {}
  QTcpSocket* nextPendingConnection() override {
    while (QTcpSocket* s = QSslServer::nextPendingConnection())
      if (web_->admit(s)) return s;
    return nullptr;
  }

 private:
  WebServer* web_;
};

namespace {

const QByteArray kCsp =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
    "font-src 'self'; manifest-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";
const QByteArray kJson = "application/json; charset=utf-8";
const QByteArray kHtml = "text/html; charset=utf-8";

// Larger than any report of 32 days; anything bigger is not the report.
constexpr qint64 kMaxPdfBytes = qint64(64) << 20;

QByteArray reasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return "Error";
  }
}

// A whole answer for a connection the HTTP server never sees (refused, too big, too slow).
QByteArray plainAnswer(int status) {
  const QByteArray text = QByteArray::number(status) + ' ' + reasonPhrase(status);
  return "HTTP/1.1 " + text + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         QByteArray::number(text.size() + 1) + "\r\nConnection: close\r\n\r\n" + text + "\n";
}

QByteArray jsonBytes(const QJsonValue& v) {
  if (v.isArray()) return QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact);
  return QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact);
}

QString htmlEscaped(const QString& s) { return s.toHtmlEscaped(); }

QDate parseDate(const QString& text, const QDate& fallback) {
  const QDate d = QDate::fromString(text, Qt::ISODate);
  return d.isValid() ? d : fallback;
}

QLocale russian() { return QLocale(QLocale::Russian, QLocale::Russia); }

bool isPage(const QString& path) {
  return path == QLatin1String("/") || path == QLatin1String("/analyzer") || path == QLatin1String("/reports") ||
         path == QLatin1String("/events") || path == QLatin1String("/audit");
}

}  // namespace

WebServer::WebServer(WebSettings settings, WebSources sources, QObject* parent)
    : QAbstractHttpServer(parent), settings_(std::move(settings)), sources_(sources) {
  nowMs_ = [] { return QDateTime::currentMSecsSinceEpoch(); };
  // The built-in assets, by the name in their address.
  QDirIterator it(QStringLiteral(":/web/assets"), QDir::Files);
  while (it.hasNext()) {
    const QString path = it.next();
    assets_.insert(QFileInfo(path).fileName(), path);
  }
  sweepTimer_.setInterval(1000);
  connect(&sweepTimer_, &QTimer::timeout, this, &WebServer::sweep);
  keepAliveTimer_.setInterval(kStreamKeepAliveMs);
  connect(&keepAliveTimer_, &QTimer::timeout, this, [this] { writeToStreams(QByteArrayLiteral(": \n\n")); });
  if (sources_.hub) connect(sources_.hub, &LiveHub::changed, this, &WebServer::onLiveChanged, Qt::QueuedConnection);
}

WebServer::~WebServer() {
  // A PDF still being drawn is not waited for.
  for (const std::unique_ptr<PdfJob>& job : pdfJobs_) {
    QObject::disconnect(job->process, nullptr, this, nullptr);
    job->process->kill();
    job->process->waitForFinished(5000);
    delete job->process;
  }
}

QString reportPdfProgram() {
  const QDir here(QCoreApplication::applicationDirPath());
  for (const QString& candidate : {here.filePath(QStringLiteral("../lib/korvex/korvex")), here.filePath(QStringLiteral("korvex"))}) {
    const QFileInfo f(candidate);
    if (f.isFile() && f.isExecutable()) return f.canonicalFilePath();
  }
  return QString();
}

bool WebServer::start(QString* error) {
  QHostAddress address;
  address.setAddress(settings_.address);
  QTcpServer* server = nullptr;
  if (settings_.https()) {
    QFile certFile(settings_.certificateFile), keyFile(settings_.keyFile);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
      *error = QStringLiteral(u"не читаются сертификат или ключ: %1").arg(certFile.isOpen() ? keyFile.errorString() : certFile.errorString());
      return false;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certFile.readAll(), QSsl::Pem);
    const QByteArray keyBytes = keyFile.readAll();
    QSslKey key(keyBytes, QSsl::Rsa, QSsl::Pem);
    if (key.isNull()) key = QSslKey(keyBytes, QSsl::Ec, QSsl::Pem);
    if (chain.isEmpty() || key.isNull()) {
      *error = QStringLiteral(u"сертификат или ключ не в формате PEM");
      return false;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificateChain(chain);
    config.setPrivateKey(key);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    config.setProtocol(QSsl::TlsV1_2OrLater);
    auto* ssl = new GuardedSslServer(this);
    ssl->setSslConfiguration(config);
    ssl->setHandshakeTimeout(settings_.requestDeadlineMs);
    server = ssl;
  } else {
    server = new GuardedTcpServer(this);
  }
  if (!server->listen(address, quint16(settings_.port))) {
    *error = QStringLiteral(u"не могу слушать %1:%2: %3").arg(settings_.address).arg(settings_.port).arg(server->errorString());
    delete server;
    return false;
  }
  port_ = server->serverPort();
  bind(server);
  sweepTimer_.start();
  keepAliveTimer_.start();
  return true;
}

// ---- connections

bool WebServer::admit(QTcpSocket* socket) {
  const QHostAddress peer = socket->peerAddress();
  const QString key = peer.toString();
  if (connections_.size() >= kMaxConnections || perAddress_.value(key) >= kMaxPerAddress) {
    socket->write(plainAnswer(503));
    socket->flush();
    socket->abort();
    socket->deleteLater();
    return false;
  }
  connections_.insert(socket, Connection{peer, nowMs_() + settings_.requestDeadlineMs, 0});
  ++perAddress_[key];
  // Twice the largest request: the parser keeps a request's bytes in the
  // socket's buffer until it is whole, so this bounds what one holds.
  socket->setReadBufferSize(2 * kMaxRequestBytes);
  // Connected before the HTTP server's own slot: counts the bytes first.
  connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onBytesArrived(socket); });
  connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
  return true;
}

void WebServer::onBytesArrived(QTcpSocket* socket) {
  auto it = connections_.find(socket);
  if (it == connections_.end()) return;
  it->bytes += socket->bytesAvailable();
  if (it->deadlineMs == 0) {
    // A live stream takes no requests; whatever its client sends is dropped.
    socket->skip(socket->bytesAvailable());
    return;
  }
  if (it->bytes > kMaxRequestBytes) {
    socket->write(plainAnswer(431));
    socket->flush();
    socket->abort();
  }
}

void WebServer::forget(QTcpSocket* socket) {
  auto it = connections_.find(socket);
  if (it == connections_.end()) return;
  const QString key = it->peer.toString();
  if (--perAddress_[key] <= 0) perAddress_.remove(key);
  connections_.erase(it);
}

void WebServer::sweep() {
  const qint64 now = nowMs_();
  QList<QTcpSocket*> late;
  for (auto it = connections_.cbegin(); it != connections_.cend(); ++it)
    if (it->deadlineMs != 0 && now > it->deadlineMs) late << it.key();
  for (QTcpSocket* s : late) {
    // A request begun and not finished is told so; an idle connection just closes.
    if (connections_.value(s).bytes > 0) {
      s->write(plainAnswer(408));
      s->flush();
    }
    s->abort();
  }
}

// ---- requests

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
  auto conn = connections_.find(socket);
  if (conn == connections_.end() || socket->state() != QAbstractSocket::ConnectedState) return true;
  // A request sent behind one whose PDF is being drawn would be answered
  // first, out of order: such a client loses the connection.
  for (const std::unique_ptr<PdfJob>& job : pdfJobs_)
    if (job->socket == socket && !job->answered) {
      socket->abort();
      return true;
    }
  bool streamed = false, deferred = false;
  QElapsedTimer took;
  took.start();
  Reply reply = route(request, socket, &streamed, &deferred);
  reply.headers.append(qMakePair(QByteArray("Server-Timing"), "app;dur=" + QByteArray::number(took.nsecsElapsed() / 1e6, 'f', 1)));
  conn = connections_.find(socket);
  if (conn == connections_.end()) return true;
  if (streamed) {
    conn->deadlineMs = 0;
    return true;
  }
  if (deferred) {
    // Answered when the PDF is drawn, or when its time is up.
    conn->deadlineMs = nowMs_() + settings_.pdfTimeoutMs + settings_.requestDeadlineMs;
    return true;
  }
  send(request, socket, reply);
  conn->bytes = 0;
  conn->deadlineMs = nowMs_() + settings_.requestDeadlineMs;
  if (request.value(QByteArrayLiteral("connection")).toLower().contains("close")) socket->disconnectFromHost();
  return true;
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
  send(request, socket, Reply{404, "text/plain; charset=utf-8", "404 Not Found\n", {}});
}

void WebServer::send(const QHttpServerRequest& request, QTcpSocket* socket, const Reply& reply) {
  QHttpServerResponder responder = makeResponder(request, socket);
  write(responder, request.method() == QHttpServerRequest::Method::Head,
        request.value(QByteArrayLiteral("accept-encoding")).contains("deflate"), reply);
}

void WebServer::write(QHttpServerResponder& responder, bool head, bool deflate, const Reply& reply) {
  QByteArray body = reply.body;
  QList<QPair<QByteArray, QByteArray>> headers = reply.headers;
  if (body.size() > 1024 && deflate) {
    // zlib's format, which is HTTP's "deflate": qCompress adds a four-byte length before it.
    body = qCompress(body, 6).mid(4);
    headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("deflate")));
  }
  responder.writeStatusLine(QHttpServerResponder::StatusCode(reply.status));
  if (!reply.type.isEmpty()) responder.writeHeader("Content-Type", reply.type);
  responder.writeHeader("Content-Length", QByteArray::number(body.size()));
  responder.writeHeader("Content-Security-Policy", kCsp);
  responder.writeHeader("X-Content-Type-Options", "nosniff");
  responder.writeHeader("X-Frame-Options", "DENY");
  responder.writeHeader("Referrer-Policy", "no-referrer");
  responder.writeHeader("Vary", "Accept-Encoding, Cookie");
  if (settings_.https()) responder.writeHeader("Strict-Transport-Security", "max-age=31536000");
  bool cacheSet = false;
  for (const auto& [name, value] : headers) {
    responder.writeHeader(name, value);
    cacheSet = cacheSet || name == "Cache-Control";
  }
  if (!cacheSet) responder.writeHeader("Cache-Control", "no-store");
  if (head)
    responder.writeBody("", 0);
  else
    responder.writeBody(body);
}

WebServer::Reply WebServer::route(const QHttpServerRequest& request, QTcpSocket* socket, bool* streamed,
                                  bool* deferred) {
  const QUrl& url = request.url();
  const auto method = request.method();
  if (!url.isValid()) return {400, "text/plain; charset=utf-8", "400 Bad Request\n", {}};
  const QString path = url.path(QUrl::FullyEncoded);
  const bool readOnly = method == QHttpServerRequest::Method::Get || method == QHttpServerRequest::Method::Head;
  const bool loginPost = method == QHttpServerRequest::Method::Post && path == QLatin1String("/login");
  if (!readOnly && !loginPost)
    return {405, "text/plain; charset=utf-8", "405 Method Not Allowed\n", {{"Allow", "GET, HEAD"}}};

  if (path == QLatin1String("/login")) {
    if (loginPost) return login(request, socket);
    return loginPage(QString(), 200);
  }
  // What the login page itself needs.
  if (path == QLatin1String("/assets/site.css") || path == QLatin1String("/assets/favicon.svg")) return asset(path.mid(8));

  const qint64 now = nowMs_();
  std::optional<WebUser> user;
  const QString token = sessionCookie(request.value(QByteArrayLiteral("cookie")));
  if (!sources_.users || !sources_.users->hasUsers()) {
    // No users: the pages are for this computer only (see webProblems()).
    // Accounts removed while another address is served let nobody in.
    if (!QHostAddress(settings_.address).isLoopback())
      return {403, kHtml,
              "<!doctype html><meta charset=utf-8><title>403</title><p>Вход невозможен: пользователи не заданы.", {}};
    user = WebUser{QString(), Role::Administrator};
  } else {
    user = access_.session(token, now);
  }

  if (path == QLatin1String("/logout")) {
    access_.close(token);
    QByteArray cookie = QByteArray(kCookieName) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict";
    if (settings_.https()) cookie += "; Secure";
    return {303, {}, {}, {{"Location", "/login"}, {"Set-Cookie", cookie}}};
  }
  if (!user) {
    if (path.startsWith(QLatin1String("/api/")))
      return {401, kJson, R"({"error":"нужен вход"})", {}};
    return {303, {}, {}, {{"Location", "/login"}}};
  }
  if (isPage(path)) {
    if (path == QLatin1String("/audit") && user->role < Role::Engineer)
      return {403, kHtml, "<!doctype html><meta charset=utf-8><title>403</title><p>Журнал аудита доступен инженерам и администраторам.", {}};
    const QString name = path == QLatin1String("/") ? QStringLiteral("overview") : path.mid(1);
    return page(name + QStringLiteral(".html"));
  }
  if (path.startsWith(QLatin1String("/assets/"))) return asset(path.mid(8));
  if (path == QLatin1String("/api/stream")) {
    openStream(request, socket);
    *streamed = true;
    return {};
  }
  if (path == QLatin1String("/api/report.pdf")) return startPdf(request, socket, deferred);
  if (path.startsWith(QLatin1String("/api/"))) return api(path, request, *user);
  return {404, "text/plain; charset=utf-8", "404 Not Found\n", {}};
}

WebServer::Reply WebServer::asset(const QString& name) const {
  // Exactly a name of the built-in list; anything else (.., %2e, \, /) is not there.
  const auto it = assets_.constFind(name);
  if (it == assets_.cend()) return {404, "text/plain; charset=utf-8", "404 Not Found\n", {}};
  QFile f(*it);
  if (!f.open(QIODevice::ReadOnly)) return {404, "text/plain; charset=utf-8", "404 Not Found\n", {}};
  QByteArray type = "application/octet-stream";
  if (name.endsWith(QLatin1String(".js"))) type = "text/javascript; charset=utf-8";
  else if (name.endsWith(QLatin1String(".css"))) type = "text/css; charset=utf-8";
  else if (name.endsWith(QLatin1String(".html"))) type = kHtml;
  else if (name.endsWith(QLatin1String(".svg"))) type = "image/svg+xml";
  else if (name.endsWith(QLatin1String(".png"))) type = "image/png";
  return {200, type, f.readAll(), {{"Cache-Control", "private, max-age=3600"}}};
}

WebServer::Reply WebServer::page(const QString& asset) const {
  Reply r = this->asset(asset);
  r.headers = {{"Cache-Control", "no-store"}};
  return r;
}

WebServer::Reply WebServer::loginPage(const QString& message, int status) const {
  Reply r = asset(QStringLiteral("login.html"));
  QString html = QString::fromUtf8(r.body);
  html.replace(QStringLiteral("{{message}}"), htmlEscaped(message));
  html.replace(QStringLiteral("{{user-hidden}}"),
               sources_.users && sources_.users->namesUsers() ? QString() : QStringLiteral(" hidden"));
  r.body = html.toUtf8();
  r.status = status;
  r.headers = {{"Cache-Control", "no-store"}};
  return r;
}

WebServer::Reply WebServer::login(const QHttpServerRequest& request, QTcpSocket* socket) {
  const QHostAddress peer = socket->peerAddress();
  const qint64 now = nowMs_();
  // A form posted from another site is not a login.
  const QByteArray origin = request.value(QByteArrayLiteral("origin"));
  if (!origin.isEmpty() && origin != "null") {
    const QUrl o(QString::fromLatin1(origin));
    if (o.authority() != QString::fromLatin1(request.value(QByteArrayLiteral("host"))))
      return loginPage(QStringLiteral(u"Вход отклонён: форма отправлена с другого сайта."), 403);
  }
  if (!sources_.users || !sources_.users->hasUsers()) return {303, {}, {}, {{"Location", "/"}}};
  if (!access_.mayTry(peer, now)) {
    emit message(QStringLiteral(u"Веб: вход с адреса %1 отклонён: слишком много неудачных попыток").arg(peer.toString()));
    return loginPage(QStringLiteral(u"Слишком много неудачных попыток входа. Повторите через минуту."), 429);
  }
  QByteArray body = request.body();
  body.replace('+', ' ');
  const QUrlQuery form(QString::fromUtf8(body));
  const QString name = form.queryItemValue(QStringLiteral("user"), QUrl::FullyDecoded).left(64);
  const QByteArray password = form.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded).toUtf8();
  const std::optional<WebUser> user = password.isEmpty() ? std::nullopt : sources_.users->authenticate(name, password);
  if (!user) {
    access_.recordFailure(peer, now);
    emit message(QStringLiteral(u"Веб: неудачный вход с адреса %1").arg(peer.toString()));
    return loginPage(QStringLiteral(u"Неверный пароль."), 401);
  }
  const QString token = access_.open(*user, now);
  QByteArray cookie = QByteArray(kCookieName) + '=' + token.toLatin1() + "; Path=/; HttpOnly; SameSite=Strict";
  if (settings_.https()) cookie += "; Secure";
  return {303, {}, {}, {{"Location", "/"}, {"Set-Cookie", cookie}}};
}

// ---- the live stream

void WebServer::openStream(const QHttpServerRequest& request, QTcpSocket* socket) {
  auto responder = std::make_unique<QHttpServerResponder>(makeResponder(request, socket));
  responder->writeStatusLine(QHttpServerResponder::StatusCode::Ok);
  responder->writeHeader("Content-Type", "text/event-stream; charset=utf-8");
  responder->writeHeader("Cache-Control", "no-store");
  responder->writeHeader("Content-Security-Policy", kCsp);
  responder->writeHeader("X-Content-Type-Options", "nosniff");
  responder->writeHeader("Connection", "close");
  if (request.method() == QHttpServerRequest::Method::Head) {
    responder->writeBody("", 0);
    socket->disconnectFromHost();
    return;
  }
  QJsonArray all;
  if (sources_.hub)
    for (const LiveSnapshot& s : sources_.hub->all()) all.append(snapshotJson(s));
  responder->writeBody("retry: 2000\nevent: overview\ndata: " + jsonBytes(all) + "\n\n");
  streams_.push_back(Stream{QPointer<QTcpSocket>(socket), std::move(responder)});
}

void WebServer::onLiveChanged(const QString& id) {
  if (streams_.empty() || !sources_.hub) return;
  const std::optional<LiveSnapshot> s = sources_.hub->find(id);
  if (!s) {
    writeToStreams("event: removed\ndata: " + QJsonDocument(QJsonArray{id}).toJson(QJsonDocument::Compact) + "\n\n");
    return;
  }
  writeToStreams("event: analyzer\ndata: " + jsonBytes(snapshotJson(*s)) + "\n\n");
}

void WebServer::writeToStreams(const QByteArray& event) {
  for (auto it = streams_.begin(); it != streams_.end();) {
    QTcpSocket* s = it->socket.data();
    if (!s || s->state() != QAbstractSocket::ConnectedState) {
      it = streams_.erase(it);
      continue;
    }
    // A client that does not read is dropped rather than buffered for.
    if (s->bytesToWrite() > kMaxStreamBacklog) {
      s->abort();
      it = streams_.erase(it);
      continue;
    }
    it->responder->writeBody(event);
    ++it;
  }
}

// ---- data

std::vector<StoredResult> WebServer::trendResults(const QString& id, qint64 from, qint64 to) {
  // Results of the last seconds may still be on their way into the database
  // (taken, not yet committed): only what is older counts as settled.
  constexpr qint64 kSettleMs = 10000;
  constexpr qint64 kKeepMs = qint64(25) * 3600 * 1000;
  HistorySource* history = sources_.history;
  const qint64 settled = std::min(to, nowMs_() - kSettleMs);
  TrendCache& c = trendCache_[id];
  if (settled > from) {
    if (c.rows.empty() || from < c.from || from > c.to) {
      c = TrendCache{from, settled, history->results(id, from, settled)};
    } else if (settled > c.to) {
      std::vector<StoredResult> more = history->results(id, c.to, settled);
      c.rows.insert(c.rows.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
      c.to = settled;
    }
    // Kept to a bit more than a day.
    if (c.to - c.from > kKeepMs) {
      const qint64 keepFrom = c.to - kKeepMs;
      const auto cut = std::lower_bound(c.rows.begin(), c.rows.end(), keepFrom,
                                        [](const StoredResult& r, qint64 t) { return r.result.utcMs < t; });
      c.rows.erase(c.rows.begin(), cut);
      c.from = keepFrom;
    }
  }
  std::vector<StoredResult> out;
  if (settled > from && c.from <= from && c.to >= settled) {
    const auto a = std::lower_bound(c.rows.begin(), c.rows.end(), from,
                                    [](const StoredResult& r, qint64 t) { return r.result.utcMs < t; });
    const auto b = std::lower_bound(a, c.rows.end(), settled,
                                    [](const StoredResult& r, qint64 t) { return r.result.utcMs < t; });
    out.assign(a, b);
  }
  std::vector<StoredResult> tail = history->results(id, std::max(from, settled), to);
  out.insert(out.end(), std::make_move_iterator(tail.begin()), std::make_move_iterator(tail.end()));
  return out;
}

WebServer::Reply WebServer::api(const QString& path, const QHttpServerRequest& request, const WebUser& user) {
  const QUrlQuery q(request.url());
  const auto arg = [&](const char* name) { return q.queryItemValue(QString::fromLatin1(name), QUrl::FullyDecoded); };
  const auto json = [](const QJsonValue& v) { return Reply{200, kJson, jsonBytes(v), {}}; };
  const auto bad = [](const QString& why) {
    return Reply{400, kJson, jsonBytes(QJsonObject{{QStringLiteral("error"), why}}), {}};
  };
  HistorySource* history = sources_.history;
  const QString id = arg("id");
  const auto known = [&] {
    if (!history) return false;
    for (const AnalyzerInfo& a : history->analyzers())
      if (a.id == id) return true;
    return false;
  };

  if (path == QLatin1String("/api/me")) {
    return json(QJsonObject{{QStringLiteral("user"), user.name},
                            {QStringLiteral("role"), roleText(user.role)},
                            {QStringLiteral("login"), sources_.users && sources_.users->hasUsers()},
                            {QStringLiteral("audit"), user.role >= Role::Engineer}});
  }
  if (path == QLatin1String("/api/overview")) {
    QJsonArray all;
    if (sources_.hub)
      for (const LiveSnapshot& s : sources_.hub->all()) all.append(snapshotJson(s));
    return json(all);
  }
  if (path == QLatin1String("/api/analyzers")) {
    QJsonArray all;
    if (history)
      for (const AnalyzerInfo& a : history->analyzers())
        all.append(QJsonObject{{QStringLiteral("id"), a.id},
                               {QStringLiteral("site"), a.site},
                               {QStringLiteral("name"), a.name},
                               {QStringLiteral("address"), a.address}});
    return json(all);
  }
  if (path == QLatin1String("/api/audit")) {
    if (user.role < Role::Engineer) return {403, kJson, R"({"error":"нет доступа"})", {}};
    AuditSource* audit = sources_.audit;
    if (!audit || !audit->available())
      return json(QJsonObject{{QStringLiteral("available"), false}, {QStringLiteral("entries"), QJsonArray()}});
    AuditFilter f;
    const qint64 now = nowMs_();
    f.fromUtcMs = arg("from").isEmpty() ? now - qint64(7) * 86400000 : arg("from").toLongLong();
    f.toUtcMs = arg("to").isEmpty() ? now + 1 : arg("to").toLongLong();
    f.user = arg("user").left(64);
    f.action = arg("action").left(64);
    QJsonArray entries;
    for (const AuditEntry& e : audit->entries(f))
      entries.append(QJsonObject{{QStringLiteral("time"), e.utcMs},
                                 {QStringLiteral("offset"), e.utcOffset},
                                 {QStringLiteral("user"), e.user},
                                 {QStringLiteral("action"), e.action},
                                 {QStringLiteral("detail"), e.detail}});
    return json(QJsonObject{{QStringLiteral("available"), true}, {QStringLiteral("entries"), entries}});
  }

  if (!known()) return {404, kJson, R"({"error":"нет такого анализатора"})", {}};
  const qint64 now = nowMs_();

  if (path == QLatin1String("/api/trend")) {
    qint64 to = arg("to").isEmpty() ? now : arg("to").toLongLong();
    qint64 from = arg("from").isEmpty() ? to - qint64(std::clamp(arg("hours").toInt(), 1, 24)) * 3600000
                                        : arg("from").toLongLong();
    if (arg("hours").isEmpty() && arg("from").isEmpty()) from = to - 3600000;
    if (to <= from || to - from > qint64(24) * 3600000 + 1000) return bad(QStringLiteral(u"не более суток"));
    const int columns = std::clamp(arg("w").toInt(), 50, 4000);
    const QStringList allNames = trendSeriesNames();
    QStringList names;
    for (const QString& n : arg("ch").split(QLatin1Char(','), Qt::SkipEmptyParts))
      if (allNames.contains(n) && !names.contains(n)) names << n;
    if (names.isEmpty()) names = allNames.mid(0, kChannelCount);
    const std::vector<StoredResult> rows = trendResults(id, from, to);
    const std::vector<double> o2Refs = history->o2RefByFuel(id);
    std::vector<qint64> times;
    times.reserve(rows.size());
    std::vector<std::vector<double>> values(size_t(names.size()));
    for (auto& v : values) v.reserve(rows.size());
    std::vector<int> which;
    for (const QString& n : names) which.push_back(int(allNames.indexOf(n)));
    const bool wantEmissions = std::any_of(which.begin(), which.end(), [](int w) { return w >= kChannelCount; });
    for (const StoredResult& s : rows) {
      times.push_back(s.result.utcMs);
      emissions::EmissionValues e{};
      if (wantEmissions) e = emissions::convert(s.result, o2Refs);
      for (size_t k = 0; k < which.size(); ++k) {
        const int w = which[k];
        double v = std::nan("");
        if (w < kChannelCount) {
          if (specialCode(w, s.result[w]) == SpecialCode::None) v = plottedValue(w, s.result[w]);
        } else if (const auto& m = e[size_t(w - kChannelCount)]) {
          v = *m;
        }
        values[k].push_back(v);
      }
    }
    const ReducedTrend trend = reduceToColumns(times, values, from, to, columns);
    return {200, kJson, trendJson(trend, names, from, to), {}};
  }
  if (path == QLatin1String("/api/day")) {
    const QDate day = parseDate(arg("date"), QDateTime::fromMSecsSinceEpoch(now).date());
    const std::optional<LiveSnapshot> live = sources_.hub ? sources_.hub->find(id) : std::nullopt;
    const emissions::AlarmLimits limits = live ? live->limits : emissions::AlarmLimits{};
    QJsonArray intervals;
    qint64 lastEnd = 0;
    for (const emissions::IntervalAverage& a : history->dayIntervals(id, day)) {
      if (a.endUtcMs > now) continue;  // the one going on comes from the live snapshot
      intervals.append(intervalJson(a, limits));
      lastEnd = std::max(lastEnd, a.endUtcMs);
    }
    if (live && live->running && live->running->startUtcMs >= lastEnd &&
        QDateTime::fromMSecsSinceEpoch(live->running->startUtcMs).date() == day) {
      emissions::IntervalAverage running;
      running.startUtcMs = live->running->startUtcMs;
      running.endUtcMs = live->running->endUtcMs;
      running.startOffset = live->running->startOffset;
      running.endOffset = live->running->endOffset;
      running.resultCount = live->running->count;
      running.components = live->running->measured;
      intervals.append(intervalJson(running, limits));
    }
    return json(QJsonObject{{QStringLiteral("date"), day.toString(Qt::ISODate)},
                            {QStringLiteral("intervalMinutes"), history->intervalMinutes(id)},
                            {QStringLiteral("now"), now},
                            {QStringLiteral("intervals"), intervals}});
  }
  if (path == QLatin1String("/api/events")) {
    const int days = std::clamp(arg("days").isEmpty() ? 7 : arg("days").toInt(), 1, 366);
    QJsonArray events;
    for (const StoredEvent& e : history->events(id, now - qint64(days) * 86400000, now + 1, 1000))
      events.append(eventJson(e));
    return json(events);
  }
  if (path == QLatin1String("/api/report")) {
    const QString period = arg("period");
    const QDate date = parseDate(arg("date"), QDateTime::fromMSecsSinceEpoch(now).date());
    const int minutes = history->intervalMinutes(id);
    if (period.isEmpty() || period == QLatin1String("day")) {
      const std::optional<emissions::EmissionReport> report = history->report(id, date, date);
      if (!report) return bad(QStringLiteral(u"нет отчёта"));
      QJsonObject o = reportTableJson(emissions::reportTable(*report, date, date, minutes, russian()));
      o.insert(QStringLiteral("from"), date.toString(Qt::ISODate));
      o.insert(QStringLiteral("to"), date.toString(Qt::ISODate));
      return json(o);
    }
    const bool year = period == QLatin1String("year");
    if (!year && period != QLatin1String("month")) return bad(QStringLiteral(u"период: day, month или year"));
    const QDate first = year ? QDate(date.year(), 1, 1) : QDate(date.year(), date.month(), 1);
    const QDate last = year ? QDate(date.year(), 12, 31) : first.addMonths(1).addDays(-1);
    const QVector<StoredAverage> days = history->storedDays(id, first, last);
    QJsonObject o{{QStringLiteral("from"), first.toString(Qt::ISODate)}, {QStringLiteral("to"), last.toString(Qt::ISODate)}};
    QStringList headers{year ? QStringLiteral(u"Месяц") : QStringLiteral(u"Сутки"),
                        year ? QStringLiteral(u"Сут.") : QStringLiteral(u"Инт.")};
    for (emissions::Component c : emissions::kComponents)
      headers << emissions::componentTitle(c) + QStringLiteral(u", мг/м³") << QStringLiteral(u"Оценка");
    QJsonArray rows;
    const QLocale ru = russian();
    const auto localDay = [](const StoredAverage& a) {
      return QDateTime::fromMSecsSinceEpoch(a.startUtcMs, Qt::OffsetFromUTC, a.startOffset).date();
    };
    if (!year) {
      for (const StoredAverage& a : days) {
        QStringList cells{localDay(a).toString(QStringLiteral("dd.MM.yyyy")), QString::number(a.count)};
        QJsonArray valid, exceeded;
        for (int c = 0; c < kStoredComponentCount; ++c) {
          const StoredComponentAverage& ca = a.components[size_t(c)];
          cells << (ca.count > 0 ? emissions::meanText(ca.mean, ru) : QStringLiteral(u"—"))
                << emissions::judgementText(ca.valid, emissions::Exceedance(ca.exceedance));
          valid.append(ca.valid);
          exceeded.append(ca.exceedance == 2 ? QStringLiteral("alarm") : ca.exceedance == 1 ? QStringLiteral("prealarm") : QString());
        }
        rows.append(QJsonObject{{QStringLiteral("day"), true}, {QStringLiteral("cells"), QJsonArray::fromStringList(cells)},
                                {QStringLiteral("valid"), valid}, {QStringLiteral("exceedances"), exceeded}});
      }
    } else {
      // A month: the mean of its valid daily averages; valid when every day of it with results was.
      for (int m = 1; m <= 12; ++m) {
        int dayCount = 0;
        std::array<double, kStoredComponentCount> sum{};
        std::array<int, kStoredComponentCount> validDays{}, invalidDays{}, worst{};
        for (const StoredAverage& a : days) {
          if (localDay(a).month() != m) continue;
          ++dayCount;
          for (int c = 0; c < kStoredComponentCount; ++c) {
            const StoredComponentAverage& ca = a.components[size_t(c)];
            if (ca.valid) {
              sum[size_t(c)] += ca.mean;
              ++validDays[size_t(c)];
            } else {
              ++invalidDays[size_t(c)];
            }
            worst[size_t(c)] = std::max(worst[size_t(c)], ca.exceedance);
          }
        }
        if (dayCount == 0) continue;
        QStringList cells{ru.standaloneMonthName(m) + QLatin1Char(' ') + QString::number(date.year()), QString::number(dayCount)};
        QJsonArray valid, exceeded;
        for (int c = 0; c < kStoredComponentCount; ++c) {
          const bool ok = validDays[size_t(c)] > 0;
          cells << (ok ? emissions::meanText(sum[size_t(c)] / validDays[size_t(c)], ru) : QStringLiteral(u"—"))
                << (ok ? QStringLiteral(u"%1 из %2 сут. достоверны").arg(validDays[size_t(c)]).arg(dayCount)
                       : QStringLiteral(u"недостоверно"));
          valid.append(ok && invalidDays[size_t(c)] == 0);
          exceeded.append(worst[size_t(c)] == 2 ? QStringLiteral("alarm") : worst[size_t(c)] == 1 ? QStringLiteral("prealarm") : QString());
        }
        rows.append(QJsonObject{{QStringLiteral("day"), true}, {QStringLiteral("cells"), QJsonArray::fromStringList(cells)},
                                {QStringLiteral("valid"), valid}, {QStringLiteral("exceedances"), exceeded}});
      }
    }
    o.insert(QStringLiteral("title"), year ? QStringLiteral(u"Отчёт о выбросах за %1 год").arg(date.year())
                                           : QStringLiteral(u"Отчёт о выбросах за %1 %2").arg(ru.standaloneMonthName(date.month())).arg(date.year()));
    o.insert(QStringLiteral("notes"), QJsonArray{QStringLiteral(u"По хранимым суточным средним (мг/м³ при образцовом O2); сутки без них не показаны.")});
    o.insert(QStringLiteral("headers"), QJsonArray::fromStringList(headers));
    o.insert(QStringLiteral("rows"), rows);
    o.insert(QStringLiteral("exceedances"), QJsonArray());
    return json(o);
  }
  if (path == QLatin1String("/api/report.csv")) {
    const QDate today = QDateTime::fromMSecsSinceEpoch(now).date();
    const QDate from = parseDate(arg("from"), today), to = parseDate(arg("to"), from);
    if (to < from || from.daysTo(to) > 31) return bad(QStringLiteral(u"диапазон: от 1 до 32 суток"));
    const QString sep = arg("sep");
    const QChar separator = sep == QLatin1String("comma") ? QLatin1Char(',')
                            : sep == QLatin1String("tab") ? QLatin1Char('\t')
                                                          : QLatin1Char(';');
    const emissions::CsvFormat format = emissions::CsvFormat::withSeparator(separator, russian());
    const std::optional<emissions::EmissionReport> report = history->report(id, from, to);
    if (!report) return bad(QStringLiteral(u"нет отчёта"));
    const QByteArray name = "emissions-" + from.toString(Qt::ISODate).toLatin1() +
                            (from == to ? QByteArray() : "-" + to.toString(Qt::ISODate).toLatin1()) + ".csv";
    return {200, "text/csv; charset=utf-8", emissions::reportCsv(*report, format),
            {{"Content-Disposition", "attachment; filename=\"" + name + "\""}}};
  }
  return {404, kJson, R"({"error":"нет такого адреса"})", {}};
}

// ---- the report's PDF

WebServer::Reply WebServer::startPdf(const QHttpServerRequest& request, QTcpSocket* socket, bool* deferred) {
  const auto refuse = [](int status, const QString& why) {
    return Reply{status, kJson, jsonBytes(QJsonObject{{QStringLiteral("error"), why}}), {}};
  };
  HistorySource* history = sources_.history;
  const QUrlQuery q(request.url());
  const QString id = q.queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
  bool known = false;
  if (history)
    for (const AnalyzerInfo& a : history->analyzers()) known = known || a.id == id;
  if (!known) return refuse(404, QStringLiteral(u"нет такого анализатора"));
  // Only the dates reach the report, and only once they are dates; the
  // drawing process gets no word of the request on its command line.
  const QString fromText = q.queryItemValue(QStringLiteral("from"), QUrl::FullyDecoded);
  const QString toText = q.queryItemValue(QStringLiteral("to"), QUrl::FullyDecoded);
  const QDate from = QDate::fromString(fromText, Qt::ISODate);
  const QDate to = toText.isEmpty() ? from : QDate::fromString(toText, Qt::ISODate);
  if (!from.isValid() || !to.isValid() || fromText.size() != 10 || (!toText.isEmpty() && toText.size() != 10))
    return refuse(400, QStringLiteral(u"дата: ГГГГ-ММ-ДД"));
  if (to < from || from.daysTo(to) > 31) return refuse(400, QStringLiteral(u"диапазон: от 1 до 32 суток"));
  if (int(pdfJobs_.size()) >= settings_.maxPdfJobs) {
    Reply busy = refuse(503, QStringLiteral(u"PDF уже составляются, повторите через несколько секунд"));
    busy.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("5")));
    return busy;
  }
  const QString program = settings_.pdfProgram.isEmpty() ? reportPdfProgram() : settings_.pdfProgram;
  if (program.isEmpty()) return refuse(500, QStringLiteral(u"нет программы korvex, которая составляет PDF"));
  const std::optional<emissions::EmissionReport> report = history->report(id, from, to);
  if (!report) return refuse(400, QStringLiteral(u"нет отчёта"));
  const QByteArray table =
      emissions::reportTableToJson(emissions::reportTable(*report, from, to, history->intervalMinutes(id), russian()));

  auto job = std::make_unique<PdfJob>();
  job->file = std::make_unique<QTemporaryFile>(QDir::temp().filePath(QStringLiteral("korvex-report-XXXXXX.pdf")));
  if (!job->file->open()) return refuse(500, QStringLiteral(u"PDF не составлен: нет временного файла"));
  job->file->close();
  job->socket = socket;
  job->responder = std::make_unique<QHttpServerResponder>(makeResponder(request, socket));
  job->head = request.method() == QHttpServerRequest::Method::Head;
  job->closeAfter = request.value(QByteArrayLiteral("connection")).toLower().contains("close");
  job->fileName = "emissions-" + from.toString(Qt::ISODate).toLatin1() +
                  (from == to ? QByteArray() : "-" + to.toString(Qt::ISODate).toLatin1()) + ".pdf";
  PdfJob* raw = job.get();
  raw->process = new QProcess(this);
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  raw->process->setProcessEnvironment(environment);
  raw->process->setStandardOutputFile(QProcess::nullDevice());
  const auto failed = [this, raw](const QString& why) {
    emit message(QStringLiteral(u"Веб: PDF отчёта не составлен: %1").arg(why));
    finishPdf(raw, Reply{500, kJson, jsonBytes(QJsonObject{{QStringLiteral("error"), QStringLiteral(u"PDF не составлен")}}), {}});
  };
  connect(raw->process, &QProcess::finished, this, [this, raw, failed](int code, QProcess::ExitStatus status) {
    if (!raw->answered) {
      QFile f(raw->file->fileName());
      QByteArray pdf;
      if (status == QProcess::NormalExit && code == 0 && f.open(QIODevice::ReadOnly) && f.size() <= kMaxPdfBytes)
        pdf = f.readAll();
      if (pdf.startsWith("%PDF-"))
        finishPdf(raw, Reply{200, "application/pdf", pdf,
                             {{"Content-Disposition", "attachment; filename=\"" + raw->fileName + "\""}}});
      else
        failed(QString::fromUtf8(raw->process->readAllStandardError()).simplified().left(500));
    }
    dropPdf(raw);
  });
  // Queued: a program that does not start is told of within start().
  connect(raw->process, &QProcess::errorOccurred, this, [this, raw, failed, program](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;  // the end comes with finished()
    failed(QStringLiteral(u"%1 не запускается").arg(program));
    dropPdf(raw);
  }, Qt::QueuedConnection);
  raw->timer.setSingleShot(true);
  connect(&raw->timer, &QTimer::timeout, this, [this, raw] {
    emit message(QStringLiteral(u"Веб: PDF отчёта не составлен за %1 с, прерван").arg(settings_.pdfTimeoutMs / 1000.0));
    finishPdf(raw, Reply{504, kJson, jsonBytes(QJsonObject{{QStringLiteral("error"), QStringLiteral(u"PDF не составлен вовремя")}}), {}});
    raw->process->kill();
  });
  pdfJobs_.push_back(std::move(job));
  raw->process->start(program, {QStringLiteral("--report-pdf"), QStringLiteral("--out"), raw->file->fileName()});
  raw->process->write(table);
  raw->process->closeWriteChannel();
  raw->timer.start(settings_.pdfTimeoutMs);
  *deferred = true;
  return {};
}

void WebServer::finishPdf(PdfJob* job, const Reply& reply) {
  if (job->answered) return;
  job->answered = true;
  job->timer.stop();
  QTcpSocket* socket = job->socket.data();
  const auto conn = connections_.find(socket);
  if (!socket || conn == connections_.end() || socket->state() != QAbstractSocket::ConnectedState) return;
  write(*job->responder, job->head, false, reply);
  conn->bytes = 0;
  conn->deadlineMs = nowMs_() + settings_.requestDeadlineMs;
  if (job->closeAfter) socket->disconnectFromHost();
}

void WebServer::dropPdf(PdfJob* job) {
  const auto it = std::find_if(pdfJobs_.begin(), pdfJobs_.end(), [job](const auto& j) { return j.get() == job; });
  if (it == pdfJobs_.end()) return;
  (*it)->process->deleteLater();
  pdfJobs_.erase(it);  // and its temporary file with it
}

}  // namespace web
