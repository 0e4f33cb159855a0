#pragma once
// A PostgreSQL server of the test's own: a cluster made by initdb in a
// temporary directory, password authentication (scram-sha-256) for user
// "korvex", a Unix socket in that directory and a TCP listener on 127.0.0.1,
// on a free port kept across restarts. Debian keeps the server programs in
// /usr/lib/postgresql/<version>/bin, which is searched.
//
//   PostgresServer db;
//   ASSERT_TRUE(db.start()) << db.lastError();
//   ... db.connectionString() ...
//   db.stop();                    // immediate shutdown, as a crash would
//   ASSERT_TRUE(db.start());
//   auto rows = db.query("SELECT count(*) FROM t");

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>
#include <memory>

#include "support/server_process.h"

class PostgresServer {
 public:
  static constexpr const char* kUser = "korvex";

  explicit PostgresServer(QString password = QStringLiteral("pg-Test-Pass-7731"));
  ~PostgresServer();

  bool start(int timeoutMs = 60000);
  // Immediate shutdown (SIGQUIT): no checkpoint, connections cut; what was
  // committed stays.
  void stop();
  bool isRunning() const;

  quint16 port() const { return port_; }
  QString password() const { return password_; }
  // Over the Unix socket, with the password: "host=<dir> port=<n> dbname=postgres user=korvex password=...".
  QString connectionString() const;
  // Runs `sql`; the rows as text (NULL as a null QString). Sets `error` (or
  // lastError()) and returns nothing when it failed.
  QVector<QStringList> query(const QString& sql, QString* error = nullptr);
  QString lastError() const { return error_; }
  QString log();

 private:
  bool initialize();

  QString password_;
  QTemporaryDir dir_;
  quint16 port_ = 0;
  bool initialized_ = false;
  QString error_;
  std::unique_ptr<test_servers::ServerProcess> process_;
};
