#pragma once
// A server program (mosquitto, postgres, ...) as a child process of a test:
// started on this machine only, as an unprivileged user when the test runs as
// root (PostgreSQL refuses root; neither needs it), ended with the test even
// if the test dies (Linux), its output kept for the test's failure messages.
// Every wait spins the event loop and has a cap.

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <functional>

namespace test_servers {

// Where servers' temporary directories go: /tmp on POSIX systems, which the
// server user can reach whatever TMPDIR says and which keeps Unix socket
// paths short; elsewhere the usual temporary folder.
QString tempRoot();

// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freePort();

// The program's path: on PATH, or in one of `moreDirs` (glob patterns such
// as "/usr/lib/postgresql/*/bin", newest first). Empty when missing.
QString findProgram(const QString& name, const QStringList& moreDirs = {});

// Hands `path` (a file or a directory the test made) to the user servers run
// as, so that they can use it; true when nothing needed doing.
bool giveToServerUser(const QString& path, QString* error = nullptr);

// Why servers cannot be run here (no unprivileged user while root, ...);
// empty when they can.
QString serverUserProblem();

// Runs `program args` as the server user and waits for it to end; its exit
// code, or -1 when it did not start or end within `timeoutMs`. `output`
// receives stdout and stderr.
int runAsServerUser(const QString& program, const QStringList& args, QString* output = nullptr,
                    int timeoutMs = 60000);

// Spins the event loop until `condition` holds; false after `timeoutMs`.
bool waitFor(const std::function<bool()>& condition, int timeoutMs);

class ServerProcess {
 public:
  ServerProcess();
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Starts it as the server user; false when it could not be started.
  bool start(const QString& program, const QStringList& args, const QString& workingDir = {});
  bool isRunning() const { return process_.state() != QProcess::NotRunning; }
  // Waits until a line of its output (stdout and stderr together) matches;
  // false when it ended or the cap ran out.
  bool waitForLine(const QRegularExpression& pattern, int timeoutMs);
  // Sends a signal (POSIX) and waits for the end.
  void signal(int signalNumber, int timeoutMs = 30000);
  // Sends a signal (POSIX) and returns at once (SIGSTOP: a hung server).
  void sendSignal(int signalNumber);
  // Ends it at once, as a crash or a pulled cable would.
  void kill();
  QString output();

 private:
  void pump();

  QProcess process_;
  QString output_;
};

}  // namespace test_servers
