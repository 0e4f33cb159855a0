#pragma once
// The web view's HTTP server, on Qt HTTP Server's QAbstractHttpServer: one
// event loop serves every connection (it runs in a thread of its own, see
// WebService), so two hundred live streams are two hundred sockets, not two
// hundred threads, and a slow client holds a socket, never a worker.
//
// Qt 6.4's request parser sets no limit on a request's size or on the time
// it takes, so every connection passes a guard first: at most kMaxConnections
// at once (kMaxPerAddress from one address), a request must be complete
// within WebSettings::requestDeadlineMs (10 s) of the connection or of the
// last answer (so an idle connection closes then too), and at
// most kMaxRequestBytes long; a live stream whose client does not read is
// dropped at kMaxStreamBacklog unsent bytes.
//
// Read-only: GET and HEAD, and POST only for the login form. Nothing of the
// file system is served: the pages, scripts and styles are resources built
// into the program, looked up by their exact name.

#include <QAbstractHttpServer>
#include <QHash>
#include <QHostAddress>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "web/web_access.h"
#include "web/web_settings.h"
#include "web/web_source.h"

class QProcess;
class QTcpServer;
class QTcpSocket;
class QTemporaryFile;

namespace web {

// The program that draws the report's PDF: korvex itself, found beside the
// running program (korvex --headless, --site, the build tree) or where the
// package installs it beside korvexd (../lib/korvex/korvex); empty when none.
QString reportPdfProgram();

struct WebSources {
  LiveHub* hub = nullptr;
  HistorySource* history = nullptr;
  UserDirectory* users = nullptr;
  AuditSource* audit = nullptr;
};

class WebServer : public QAbstractHttpServer {
  Q_OBJECT
 public:
  static constexpr int kMaxConnections = 512;
  static constexpr int kMaxPerAddress = 256;
  static constexpr qint64 kMaxRequestBytes = 16 * 1024;
  static constexpr qint64 kMaxStreamBacklog = 256 * 1024;
  static constexpr int kStreamKeepAliveMs = 15000;

  WebServer(WebSettings settings, WebSources sources, QObject* parent = nullptr);
  ~WebServer() override;

  // Listens as the settings say; false with `error` (certificate, key, port taken).
  bool start(QString* error);
  quint16 port() const { return port_; }
  int connectionCount() const { return int(connections_.size()); }
  int streamCount() const { return int(streams_.size()); }
  int pdfJobCount() const { return int(pdfJobs_.size()); }
  // The clock of sessions and rate limits (tests replace it).
  void setClock(std::function<qint64()> nowMs) { nowMs_ = std::move(nowMs); }

 signals:
  // For the service's log: failed logins, refused connections.
  void message(const QString& text);

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

 private:
  friend class GuardedTcpServer;
  friend class GuardedSslServer;
  struct Connection {
    QHostAddress peer;
    qint64 deadlineMs = 0;  // 0: none (a live stream)
    qint64 bytes = 0;       // of the request being read
  };
  struct Stream {
    QPointer<QTcpSocket> socket;
    std::unique_ptr<QHttpServerResponder> responder;
  };
  struct Reply {
    int status = 200;
    QByteArray type;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
  };
  // A report's PDF being drawn by a process of its own; answered when it ends.
  struct PdfJob {
    QPointer<QTcpSocket> socket;
    std::unique_ptr<QHttpServerResponder> responder;
    bool head = false;
    bool closeAfter = false;  // the client asked to close
    bool answered = false;
    QByteArray fileName;      // offered to the browser
    QProcess* process = nullptr;
    std::unique_ptr<QTemporaryFile> file;
    QTimer timer;
  };

  // Takes a new connection or refuses it; false: it was closed.
  bool admit(QTcpSocket* socket);
  void onBytesArrived(QTcpSocket* socket);
  void sweep();
  void forget(QTcpSocket* socket);

  Reply route(const QHttpServerRequest& request, QTcpSocket* socket, bool* streamed, bool* deferred);
  void send(const QHttpServerRequest& request, QTcpSocket* socket, const Reply& reply);
  void write(QHttpServerResponder& responder, bool head, bool deflate, const Reply& reply);
  // Starts drawing a report's PDF; a reply at once when refused (bad
  // request, too many at work), none (`deferred`) when it is under way.
  Reply startPdf(const QHttpServerRequest& request, QTcpSocket* socket, bool* deferred);
  void finishPdf(PdfJob* job, const Reply& reply);
  void dropPdf(PdfJob* job);
  Reply page(const QString& asset) const;
  Reply asset(const QString& name) const;
  Reply loginPage(const QString& message, int status) const;
  Reply login(const QHttpServerRequest& request, QTcpSocket* socket);
  Reply api(const QString& path, const QHttpServerRequest& request, const WebUser& user);
  void openStream(const QHttpServerRequest& request, QTcpSocket* socket);
  void onLiveChanged(const QString& id);
  void writeToStreams(const QByteArray& event);
  // The results of [from, to) for a trend, the settled part kept from the
  // last request and extended, as the desktop chart extends its columns.
  std::vector<StoredResult> trendResults(const QString& id, qint64 fromUtcMs, qint64 toUtcMs);

  WebSettings settings_;
  WebSources sources_;
  WebAccess access_;
  std::function<qint64()> nowMs_;
  quint16 port_ = 0;
  QHash<QTcpSocket*, Connection> connections_;
  QHash<QString, int> perAddress_;
  std::vector<Stream> streams_;
  QTimer sweepTimer_;
  QTimer keepAliveTimer_;
  QHash<QString, QString> assets_;  // name in the address -> resource path
  struct TrendCache {
    qint64 from = 0, to = 0;  // what `rows` holds: every result with from <= time < to
    std::vector<StoredResult> rows;
  };
  QHash<QString, TrendCache> trendCache_;
  std::vector<std::unique_ptr<PdfJob>> pdfJobs_;
};

}  // namespace web
