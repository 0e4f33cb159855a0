#include "support/server_process.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace test_servers {

namespace {

#ifdef Q_OS_UNIX
// The account servers run as when the test runs as root.
struct ServerUser {
  bool needed = false;  // running as root
  bool found = false;
  uid_t uid = 0;
  gid_t gid = 0;
};

ServerUser serverUser() {
  ServerUser u;
  u.needed = geteuid() == 0;
  if (!u.needed) return u;
  if (const passwd* pw = getpwnam("nobody")) {
    u.found = true;
    u.uid = pw->pw_uid;
    u.gid = pw->pw_gid;
  }
  return u;
}
#endif

// Drops root in the child before exec, and has the child end with the test.
void prepare(QProcess& process) {
#ifdef Q_OS_UNIX
  const ServerUser u = serverUser();
  process.setChildProcessModifier([u] {
    if (u.needed && u.found) {
      if (setgroups(0, nullptr) != 0 || setgid(u.gid) != 0 || setuid(u.uid) != 0) _exit(126);
    }
#ifdef Q_OS_LINUX
    // After the change of user, which clears it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
  });
#else
  Q_UNUSED(process);
#endif
}

}  // namespace

bool waitFor(const std::function<bool()>& condition, int timeoutMs) { return QTest::qWaitFor(condition, timeoutMs); }

QString tempRoot() {
#ifdef Q_OS_UNIX
  const QFileInfo tmp(QStringLiteral("/tmp"));
  if (tmp.isDir() && tmp.isWritable()) return tmp.filePath();
#endif
  return QDir::tempPath();
}

quint16 freePort() {
  QTcpServer probe;
  if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
  return probe.serverPort();
}

QString findProgram(const QString& name, const QStringList& moreDirs) {
  const QString onPath = QStandardPaths::findExecutable(name);
  if (!onPath.isEmpty()) return onPath;
  for (const QString& pattern : moreDirs) {
    // "/usr/lib/postgresql/*/bin": the folder before the star, newest version first.
    const qsizetype star = pattern.indexOf(QLatin1Char('*'));
    QStringList dirs;
    if (star < 0) {
      dirs << pattern;
    } else {
      const QString base = pattern.left(star);
      const QString rest = pattern.mid(star + 1);
      QStringList versions = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
      QCollator numeric;
      numeric.setNumericMode(true);
      std::sort(versions.begin(), versions.end(),
                [&](const QString& a, const QString& b) { return numeric.compare(a, b) > 0; });
      for (const QString& v : versions) dirs << base + v + rest;
    }
    const QString found = QStandardPaths::findExecutable(name, dirs);
    if (!found.isEmpty()) return found;
  }
  return {};
}

QString serverUserProblem() {
#ifdef Q_OS_UNIX
  const ServerUser u = serverUser();
  if (u.needed && !u.found) return QStringLiteral("running as root and there is no user 'nobody' to run servers as");
#endif
  return {};
}

bool giveToServerUser(const QString& path, QString* error) {
#ifdef Q_OS_UNIX
  const ServerUser u = serverUser();
  if (!u.needed) return true;
  if (!u.found) {
    if (error) *error = serverUserProblem();
    return false;
  }
  if (::chown(QFile::encodeName(path).constData(), u.uid, u.gid) != 0) {
    if (error) *error = QStringLiteral("cannot hand %1 to the server user").arg(path);
    return false;
  }
#else
  Q_UNUSED(path);
  Q_UNUSED(error);
#endif
  return true;
}

int runAsServerUser(const QString& program, const QStringList& args, QString* output, int timeoutMs) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  prepare(p);
  p.start(program, args);
  if (!p.waitForStarted(timeoutMs)) {
    if (output) *output = p.errorString();
    return -1;
  }
  const bool ended = p.waitForFinished(timeoutMs);
  if (output) *output = QString::fromLocal8Bit(p.readAll());
  if (!ended) {
    p.kill();
    p.waitForFinished(5000);
    return -1;
  }
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

ServerProcess::ServerProcess() { process_.setProcessChannelMode(QProcess::MergedChannels); }

ServerProcess::~ServerProcess() { kill(); }

bool ServerProcess::start(const QString& program, const QStringList& args, const QString& workingDir) {
  output_.clear();
  prepare(process_);
  if (!workingDir.isEmpty()) process_.setWorkingDirectory(workingDir);
  process_.start(program, args);
  if (process_.waitForStarted(10000)) return true;
  output_ += process_.errorString();
  return false;
}

void ServerProcess::pump() { output_ += QString::fromLocal8Bit(process_.readAll()); }

QString ServerProcess::output() {
  pump();
  return output_;
}

bool ServerProcess::waitForLine(const QRegularExpression& pattern, int timeoutMs) {
  bool found = false;
  waitFor(
      [&] {
        pump();
        found = pattern.match(output_).hasMatch();
        return found || !isRunning();
      },
      timeoutMs);
  pump();
  return found || pattern.match(output_).hasMatch();
}

void ServerProcess::signal(int signalNumber, int timeoutMs) {
  if (!isRunning()) return;
#ifdef Q_OS_UNIX
  ::kill(pid_t(process_.processId()), signalNumber);
  if (process_.waitForFinished(timeoutMs)) {
    pump();
    return;
  }
#else
  Q_UNUSED(signalNumber);
  Q_UNUSED(timeoutMs);
#endif
  kill();
}

void ServerProcess::sendSignal(int signalNumber) {
  if (!isRunning()) return;
#ifdef Q_OS_UNIX
  ::kill(pid_t(process_.processId()), signalNumber);
#else
  Q_UNUSED(signalNumber);
#endif
}

void ServerProcess::kill() {
  if (!isRunning()) return;
  process_.kill();
  process_.waitForFinished(10000);
  pump();
}

}  // namespace test_servers
