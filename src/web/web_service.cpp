#include "web/web_service.h"

#include <QMetaObject>

#include "web/web_server.h"

namespace web {

WebService::WebService(QObject* parent) : QObject(parent) {
  thread_.setObjectName(QStringLiteral("korvex-web"));
}

WebService::~WebService() { stop(); }

QString WebService::url() const {
  QString host = settings_.address;
  if (host.contains(QLatin1Char(':'))) host = QLatin1Char('[') + host + QLatin1Char(']');
  return QStringLiteral("%1://%2:%3/").arg(settings_.https() ? QStringLiteral("https") : QStringLiteral("http"), host).arg(port_);
}

bool WebService::start(const WebSettings& settings, std::unique_ptr<HistorySource> history,
                       std::unique_ptr<UserDirectory> users, std::unique_ptr<AuditSource> audit, QString* error) {
  stop();
  settings_ = settings;
  history_ = std::move(history);
  users_ = std::move(users);
  audit_ = std::move(audit);
  if (!thread_.isRunning()) thread_.start();
  // Made inside its thread, so that its sockets and timers belong there.
  QObject anchor;
  anchor.moveToThread(&thread_);
  bool ok = false;
  QString why;
  WebSources sources{&hub_, history_.get(), users_.get(), audit_.get()};
  QMetaObject::invokeMethod(
      &anchor,
      [&] {
        auto* server = new WebServer(settings_, sources);
        if (server->start(&why)) {
          ok = true;
          server_ = server;
          port_ = server->port();
          connect(server, &WebServer::message, this, &WebService::message, Qt::QueuedConnection);
        } else {
          delete server;
        }
        anchor.moveToThread(nullptr);
      },
      Qt::BlockingQueuedConnection);
  if (!ok) {
    if (error) *error = why;
    stop();
  }
  return ok;
}

void WebService::stop() {
  if (server_) {
    WebServer* server = server_;
    server_ = nullptr;
    QMetaObject::invokeMethod(server, [server] { delete server; }, Qt::BlockingQueuedConnection);
  }
  if (thread_.isRunning()) {
    thread_.quit();
    thread_.wait();
  }
  history_.reset();
  users_.reset();
  audit_.reset();
  port_ = 0;
}

bool startFromSettings(WebService& service, const QString& settingsPath, std::unique_ptr<HistorySource> history,
                       const std::function<void(const QString&)>& say, bool always, const MakeUsers& makeUsers,
                       std::unique_ptr<AuditSource> audit) {
  WebSettingsLoad loaded = loadWebSettings(settingsPath);
  if (always && !loaded.settings.enabled && loaded.problems.isEmpty()) {
    loaded.settings.enabled = true;
    loaded.problems = webProblems(loaded.settings);
  }
  std::unique_ptr<UserDirectory> users = makeUsers ? makeUsers(loaded.settings.passwordHash)
                                                   : std::make_unique<SinglePasswordUsers>(loaded.settings.passwordHash);
  if (users->hasUsers()) {
    // A login is asked for all the same: what only a missing password refused goes.
    const QStringList withUsers = webProblems(loaded.settings, true);
    for (const QString& p : webProblems(loaded.settings, false))
      if (!withUsers.contains(p)) loaded.problems.removeAll(p);
  }
  if (!audit) audit = std::make_unique<NoAuditTrail>();
  if (!loaded.problems.isEmpty()) {
    say(QStringLiteral(u"Веб-страницы выключены: ") + loaded.problems.join(QStringLiteral("; ")));
    return false;
  }
  if (!loaded.settings.enabled) return true;
  for (const QString& w : loaded.warnings) say(QStringLiteral(u"Веб-страницы: ") + w);
  QString error;
  const bool loginAsked = users->hasUsers();
  if (!service.start(loaded.settings, std::move(history), std::move(users), std::move(audit), &error)) {
    say(QStringLiteral(u"Веб-страницы выключены: ") + error);
    return false;
  }
  say(QStringLiteral(u"Веб-страницы: %1%2").arg(service.url(),
                                               loginAsked ? QString() : QStringLiteral(u" (без входа, только с этого компьютера)")));
  return true;
}

}  // namespace web
