#pragma once
// The program itself as a child process of an end-to-end test, run as a
// service (korvex --headless): starts it, collects the lines it prints, and
// ends it with SIGTERM or a kill. Every wait spins the event loop and has a cap.

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

class ServiceProcess {
 public:
  explicit ServiceProcess(QString program);
  ~ServiceProcess();

  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Starts "program --headless args..."; false when it did not start.
  bool start(const QStringList& args);
  // Waits until `count` printed lines match `pattern`.
  bool waitForLines(const QRegularExpression& pattern, int count, int timeoutMs = 60000);
  int count(const QRegularExpression& pattern);
  QStringList lines();

  // SIGTERM, then waits for it to end; false when it did not end in time.
  bool terminate(int timeoutMs = 10000);
  // Ends it at once, as a crash or a power cut would.
  void kill();
  bool isRunning() const { return process_.state() != QProcess::NotRunning; }
  qint64 processId() const { return process_.processId(); }
  int exitCode() const { return process_.exitCode(); }
  QProcess::ExitStatus exitStatus() const { return process_.exitStatus(); }

 private:
  void pump();

  QString program_;
  QProcess process_;
  QByteArray partial_;
  QStringList lines_;
};
