#pragma once
// The Modbus TCP server for the plant's control system, fed from the
// session: section [ModbusServer] of the service settings file says whether
// and where it serves. The line's first analyzer's session runs the server
// as unit id 1; each further analyzer of the line is the unit id of its
// slot (2..8) on that same server. Lives in the
// session's thread: after every poll tick and every change of the emissions
// (each result among them) a new snapshot is built once the tick is over and
// goes to the server, which serves it from a thread of its own and never
// calls back into the session. Its start, stop, failure and refused clients
// go into the event log.

#include <QDate>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

#include "modbus_server/server.h"
#include "modbus_server/server_settings.h"
#include "modbus_server/snapshot.h"

class Session;

class ModbusServerFeed : public QObject {
  Q_OBJECT
 public:
  static constexpr int kUnitId = 1;  // the line's first analyzer

  explicit ModbusServerFeed(Session& session, QObject* parent = nullptr);
  ~ModbusServerFeed() override;

  // Starts the server when the settings enable it.
  void start(const modbus_server::ServerSettingsLoad& loaded);
  void stop();
  // A further analyzer of the line: served as `unitId` by the first one's
  // server (null: not served). The server outlives this feed's use of it.
  void serveOn(modbus_server::Server* server, int unitId);

  modbus_server::Server* server() const { return server_ ? server_.get() : shared_; }
  // "Modbus TCP: 127.0.0.1:5502", "Modbus TCP: не запущен"; empty when not enabled.
  QString stateText() const;
  // The session's analyzer as the server shows it now.
  modbus_server::AnalyzerSnapshot snapshot();

 signals:
  void stateChanged();

 private:
  // Several signals of one tick make one snapshot, built after the tick.
  void schedule();
  void publish();
  // The last completed day's average as the database keeps it, read once a day.
  std::optional<modbus_server::AverageSnapshot> storedPreviousDay(const QDate& today, int intervalMinutes);

  Session& session_;
  std::unique_ptr<modbus_server::Server> server_;
  modbus_server::Server* shared_ = nullptr;  // the first analyzer's, for a further one
  int unitId_ = kUnitId;
  bool failed_ = false;
  bool scheduled_ = false;
  uint32_t resultCount_ = 0;
  QDate previousDayFor_;
  int previousDayMinutes_ = 0;
  std::optional<modbus_server::AverageSnapshot> previousDay_;
};
