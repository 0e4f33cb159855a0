#include "support/mosquitto_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

MosquittoServer::MosquittoServer() : MosquittoServer(Options{}) {}

MosquittoServer::MosquittoServer(Options options)
    : options_(std::move(options)), dir_(test_servers::tempRoot() + QStringLiteral("/korvex-mqtt-XXXXXX")) {}

MosquittoServer::~MosquittoServer() { kill(); }

QString MosquittoServer::persistenceFile() const { return dir_.filePath(QStringLiteral("mosquitto.db")); }

bool MosquittoServer::isRunning() const { return process_ && process_->isRunning(); }

QString MosquittoServer::log() { return process_ ? process_->output() : QString(); }

bool MosquittoServer::prepare() {
  const QString problem = test_servers::serverUserProblem();
  if (!problem.isEmpty()) {
    error_ = problem;
    return false;
  }
  if (!dir_.isValid() || !test_servers::giveToServerUser(dir_.path(), &error_)) {
    if (error_.isEmpty()) error_ = QStringLiteral("cannot create a temporary directory");
    return false;
  }
  port_ = test_servers::freePort();
  QString conf;
  conf += QStringLiteral("listener %1 127.0.0.1\n").arg(port_);
  conf += QStringLiteral("persistence true\npersistence_location %1/\n").arg(dir_.path());
  // Saved after every change: a subscription made before a kill survives it.
  conf += QStringLiteral("autosave_interval 1\nautosave_on_changes true\n");
  conf += QStringLiteral("log_dest stderr\nlog_type error\nlog_type warning\nlog_type notice\n"
                         "log_type information\nconnection_messages true\n");
  if (!options_.certFile.isEmpty()) {
    for (const QString& f : {options_.certFile, options_.keyFile})
      if (!test_servers::giveToServerUser(f, &error_)) return false;
    conf += QStringLiteral("certfile %1\nkeyfile %2\n").arg(options_.certFile, options_.keyFile);
  }
  if (!options_.user.isEmpty()) {
    const QString passwd = test_servers::findProgram(QStringLiteral("mosquitto_passwd"));
    if (passwd.isEmpty()) {
      error_ = QStringLiteral("mosquitto_passwd not found: install Debian's mosquitto (scripts/install-deps.sh)");
      return false;
    }
    const QString file = dir_.filePath(QStringLiteral("passwords"));
    QString out;
    if (test_servers::runAsServerUser(passwd, {QStringLiteral("-c"), QStringLiteral("-b"), file, options_.user,
                                               options_.password},
                                      &out) != 0) {
      error_ = QStringLiteral("mosquitto_passwd failed: ") + out;
      return false;
    }
    conf += QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(file);
  } else {
    conf += QStringLiteral("allow_anonymous true\n");
  }
  const QString confPath = dir_.filePath(QStringLiteral("mosquitto.conf"));
  QFile f(confPath);
  if (!f.open(QIODevice::WriteOnly) || f.write(conf.toUtf8()) != conf.toUtf8().size()) {
    error_ = QStringLiteral("cannot write ") + confPath;
    return false;
  }
  f.close();
  prepared_ = test_servers::giveToServerUser(confPath, &error_);
  return prepared_;
}

bool MosquittoServer::start(int timeoutMs) {
  error_.clear();
  const QString program = test_servers::findProgram(QStringLiteral("mosquitto"), {QStringLiteral("/usr/sbin")});
  if (program.isEmpty()) {
    error_ = QStringLiteral("mosquitto not found: install Debian's mosquitto (scripts/install-deps.sh)");
    return false;
  }
  if (!prepared_ && !prepare()) return false;
  process_ = std::make_unique<test_servers::ServerProcess>();
  if (!process_->start(program, {QStringLiteral("-c"), dir_.filePath(QStringLiteral("mosquitto.conf"))},
                       dir_.path()) ||
      !process_->waitForLine(QRegularExpression(QStringLiteral("mosquitto version \\S+ running")), timeoutMs)) {
    error_ = QStringLiteral("mosquitto did not start: ") + process_->output();
    process_->kill();
    return false;
  }
  return true;
}

void MosquittoServer::freeze() {
#ifdef Q_OS_UNIX
  if (process_) process_->sendSignal(SIGSTOP);
#endif
}

void MosquittoServer::kill() {
  if (process_) process_->kill();
}
