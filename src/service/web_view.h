#pragma once
// The web view of this program's analyzer: the session's state handed to the
// web server as a snapshot whenever it changes (the server runs in a thread
// of its own and reads the results database through a connection of its
// own), started as the [Web] section of the service settings file says.
// Lives in the session's thread and only listens to it: a snapshot is built
// after the signals of a tick or a result, never inside the poll.

#include <QObject>
#include <QString>

#include "web/web_service.h"

class Session;
namespace web {
class LocalHistory;
}

class WebView : public QObject {
  Q_OBJECT
 public:
  explicit WebView(Session& session, QObject* parent = nullptr);
  ~WebView() override;

  // Reads the settings and serves if they enable it; messages say why not.
  void start();
  void stop();
  web::WebService& service() { return service_; }
  // The analyzer's key in the pages' addresses.
  QString analyzerId() const { return id_; }

 signals:
  void message(const QString& text);

 private:
  void schedule();
  void publish();

  Session& session_;
  web::WebService service_;
  web::LocalHistory* history_ = nullptr;  // owned by service_
  QString id_;
  QString site_, name_;
  QString state_;
  qint64 lastSeq_ = 0;
  bool scheduled_ = false;
};
