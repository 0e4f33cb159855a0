#pragma once
// The web view of this program's analyzers (every one of the line): each
// session's state handed to the web server as a snapshot whenever it changes (the server runs in a thread
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
  // The first analyzer's key in the pages' addresses; the others' follow
  // from their names.
  QString analyzerId() const { return units_.empty() ? QString() : units_.front().id; }

 signals:
  void message(const QString& text);

 private:
  // An analyzer of the line as the pages know it.
  struct Unit {
    Session* session = nullptr;
    QString id, name;
    QString state;
    qint64 lastSeq = 0;
    bool changed = false;
  };
  void listenTo(size_t unit);
  void schedule(size_t unit);
  void publish();

  Session& session_;
  web::WebService service_;
  web::LocalHistory* history_ = nullptr;  // owned by service_
  QString site_;
  std::vector<Unit> units_;
  bool scheduled_ = false;
};
