#include "support/postgres_server.h"

#include <libpq-fe.h>

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

namespace {

const QStringList kServerDirs = {QStringLiteral("/usr/lib/postgresql/*/bin")};

QString program(const QString& name, QString* error) {
  const QString found = test_servers::findProgram(name, kServerDirs);
  if (found.isEmpty())
    *error = QStringLiteral("%1 not found: install Debian's postgresql (scripts/install-deps.sh)").arg(name);
  return found;
}

}  // namespace

PostgresServer::PostgresServer(QString password)
    : password_(std::move(password)), dir_(test_servers::tempRoot() + QStringLiteral("/korvex-pg-XXXXXX")) {}

PostgresServer::~PostgresServer() { stop(); }

bool PostgresServer::isRunning() const { return process_ && process_->isRunning(); }

QString PostgresServer::log() { return process_ ? process_->output() : QString(); }

QString PostgresServer::connectionString() const {
  return QStringLiteral("host=%1 port=%2 dbname=postgres user=%3 password=%4")
      .arg(dir_.path())
      .arg(port_)
      .arg(QLatin1String(kUser), password_);
}

bool PostgresServer::initialize() {
  const QString problem = test_servers::serverUserProblem();
  if (!problem.isEmpty()) {
    error_ = problem;
    return false;
  }
  const QString initdb = program(QStringLiteral("initdb"), &error_);
  if (initdb.isEmpty()) return false;
  if (!dir_.isValid() || !test_servers::giveToServerUser(dir_.path(), &error_)) {
    if (error_.isEmpty()) error_ = QStringLiteral("cannot create a temporary directory");
    return false;
  }
  const QString pwfile = dir_.filePath(QStringLiteral("pwfile"));
  QFile f(pwfile);
  if (!f.open(QIODevice::WriteOnly) || f.write(password_.toUtf8() + '\n') <= 0) {
    error_ = QStringLiteral("cannot write ") + pwfile;
    return false;
  }
  f.close();
  if (!test_servers::giveToServerUser(pwfile, &error_)) return false;
  QString out;
  const int rc = test_servers::runAsServerUser(
      initdb,
      {QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")), QStringLiteral("-U"), QLatin1String(kUser),
       QStringLiteral("--pwfile=") + pwfile, QStringLiteral("--auth=scram-sha-256"), QStringLiteral("-E"),
       QStringLiteral("UTF8"), QStringLiteral("--no-locale"), QStringLiteral("--no-sync")},
      &out, 120000);
  QFile::remove(pwfile);
  if (rc != 0) {
    error_ = QStringLiteral("initdb failed: ") + out;
    return false;
  }
  port_ = test_servers::freePort();
  initialized_ = true;
  return true;
}

bool PostgresServer::start(int timeoutMs) {
  error_.clear();
  if (!initialized_ && !initialize()) return false;
  const QString postgres = program(QStringLiteral("postgres"), &error_);
  if (postgres.isEmpty()) return false;
  process_ = std::make_unique<test_servers::ServerProcess>();
  const QStringList args = {QStringLiteral("-D"), dir_.filePath(QStringLiteral("data")),
                            QStringLiteral("-p"), QString::number(port_),
                            QStringLiteral("-k"), dir_.path(),
                            QStringLiteral("-c"), QStringLiteral("listen_addresses=127.0.0.1"),
                            // Only the machine could lose what fsync guards; the test's data need not survive it.
                            QStringLiteral("-c"), QStringLiteral("fsync=off")};
  if (!process_->start(postgres, args, dir_.path())) {
    error_ = QStringLiteral("postgres did not start: ") + process_->output();
    return false;
  }
  const QByteArray conninfo = connectionString().toUtf8();
  const bool ready = test_servers::waitFor(
      [&] { return PQping(conninfo.constData()) == PQPING_OK || !process_->isRunning(); }, timeoutMs);
  if (!ready || !process_->isRunning()) {
    error_ = QStringLiteral("postgres did not become ready: ") + process_->output();
    process_->kill();
    return false;
  }
  return true;
}

void PostgresServer::stop() {
  if (!process_) return;
#ifdef Q_OS_UNIX
  process_->signal(SIGQUIT);
#else
  process_->kill();
#endif
}

QVector<QStringList> PostgresServer::query(const QString& sql, QString* error) {
  QVector<QStringList> rows;
  QString why;
  PGconn* conn = PQconnectdb(connectionString().toUtf8().constData());
  if (PQstatus(conn) != CONNECTION_OK) {
    why = QString::fromUtf8(PQerrorMessage(conn)).trimmed();
  } else {
    PGresult* r = PQexec(conn, sql.toUtf8().constData());
    const ExecStatusType st = PQresultStatus(r);
    if (st == PGRES_TUPLES_OK || st == PGRES_COMMAND_OK) {
      for (int i = 0; i < PQntuples(r); ++i) {
        QStringList row;
        for (int j = 0; j < PQnfields(r); ++j)
          row << (PQgetisnull(r, i, j) ? QString() : QString::fromUtf8(PQgetvalue(r, i, j)));
        rows << row;
      }
    } else {
      why = QString::fromUtf8(PQresultErrorMessage(r)).trimmed();
    }
    PQclear(r);
  }
  PQfinish(conn);
  error_ = why;
  if (error) *error = why;
  return rows;
}
