#pragma once
// The analyzer simulator (korvex-sim) as a child process of an end-to-end
// test: starts it, reads the port it prints, sends it commands, and waits for
// its answers and events. Every wait spins the event loop and has a cap.
//
//   SimProcess sim(KORVEX_SIM_PATH);
//   ASSERT_TRUE(sim.start({"--zero", "0", "--min-replies", "2"}));
//   ... open sim.portPath() ...
//   ASSERT_TRUE(sim.command("crc 1"));
//   ASSERT_TRUE(sim.waitForLine(QRegularExpression("^STATE 2")));

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <functional>

class SimProcess {
 public:
  explicit SimProcess(QString program);
  ~SimProcess();

  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts the simulator with `args` and waits for it to be ready.
  bool start(const QStringList& args = {}, int timeoutMs = 10000);
  // The port the program should open (the pseudo-terminal's path, or
  // "tcp://<host>:<port>" with --tcp).
  QString portPath() const { return port_; }
  // With --tcp: the address it listens on, and its port (0 without --tcp).
  QString tcpHost() const { return tcpHost_; }
  quint16 tcpPort() const { return tcpPort_; }

  // Sends one command line and waits for its answer: true for "OK ..." (or
  // the "STATUS ..." line of "status"), false for "ERROR ..." or no answer.
  bool command(const QString& line, int timeoutMs = 5000);
  // The answer of the "status" command, or an empty string.
  QString status(int timeoutMs = 5000);

  // Waits until a line of the output from line index `from` on matches.
  bool waitForLine(const QRegularExpression& pattern, int from = 0, int timeoutMs = 10000);
  // Output lines matching `pattern` so far.
  int count(const QRegularExpression& pattern);
  QStringList lines();

  // Ends the simulator at once, as a pulled adapter ends the line.
  void kill();
  // "quit", then a kill if it does not end.
  void stop(int timeoutMs = 5000);
  bool isRunning() const { return process_.state() != QProcess::NotRunning; }
  qint64 processId() const { return process_.processId(); }
  QString errorOutput();

  // Spins the event loop until `condition` holds; false after `timeoutMs`.
  static bool waitFor(const std::function<bool()>& condition, int timeoutMs);

 private:
  void pump();

  QString program_;
  QProcess process_;
  QString port_;
  QString tcpHost_;
  quint16 tcpPort_ = 0;
  QByteArray partial_;
  QStringList lines_;
};
