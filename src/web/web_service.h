#pragma once
// The web view as a part of a program: the HTTP server in a thread of its
// own, fed by a LiveHub the measuring side publishes into and by sources the
// web thread alone uses. Nothing the server does can delay the thread that
// measures: that thread only copies a snapshot into the hub.

#include <QObject>
#include <QThread>
#include <memory>

#include "web/web_settings.h"
#include "web/web_source.h"

namespace web {

class WebServer;

class WebService : public QObject {
  Q_OBJECT
 public:
  explicit WebService(QObject* parent = nullptr);
  ~WebService() override;

  LiveHub& hub() { return hub_; }

  // Starts serving with these settings and sources (the service keeps them
  // and uses them from its thread only); false with `error` when it cannot
  // listen. Any earlier run is stopped first.
  bool start(const WebSettings& settings, std::unique_ptr<HistorySource> history,
             std::unique_ptr<UserDirectory> users, std::unique_ptr<AuditSource> audit, QString* error);
  void stop();
  bool isRunning() const { return server_ != nullptr; }
  quint16 port() const { return port_; }
  QString url() const;

 signals:
  void message(const QString& text);

 private:
  LiveHub hub_;
  QThread thread_;
  WebServer* server_ = nullptr;  // lives in thread_
  std::unique_ptr<HistorySource> history_;
  std::unique_ptr<UserDirectory> users_;
  std::unique_ptr<AuditSource> audit_;
  WebSettings settings_;
  quint16 port_ = 0;
};

// Reads [Web] of the service settings file and starts the web view when it
// is enabled (`always`: whatever Enabled says); every line for the log goes
// to `say`. False when it is enabled and could not start (the settings or the
// port), true otherwise.
// `makeUsers` makes who may log in from the settings' password hash (none
// given: that single password); `audit` is the trail the audit page shows
// (none given: no trail). Users defined elsewhere than the settings let the
// pages out on another address than loopback as a password does.
using MakeUsers = std::function<std::unique_ptr<UserDirectory>(const QString& settingsPasswordHash)>;
bool startFromSettings(WebService& service, const QString& settingsPath, std::unique_ptr<HistorySource> history,
                       const std::function<void(const QString&)>& say, bool always = false,
                       const MakeUsers& makeUsers = {}, std::unique_ptr<AuditSource> audit = {});

}  // namespace web
