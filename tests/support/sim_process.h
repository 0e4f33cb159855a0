#pragma once
// The analyzer simulator (korvex-sim) as a child process of an end-to-end
// test: starts it, reads the port it prints, sends it commands, and waits for
// its answers and events. Every wait spins the event loop and has a cap.
//
//   SimProcess sim(KORVEX_SIM_PATH);
//   ASSERT_TRUE(sim.Start({"--zero", "0", "--min-replies", "2"}));
//   ... open sim.PortPath() ...
//   ASSERT_TRUE(sim.Command("crc 1"));
//   ASSERT_TRUE(sim.WaitForLine(QRegularExpression("^STATE 2")));

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
  bool Start(const QStringList& args = {}, int timeoutMs = 10000);
  // The port the program should open (the pseudo-terminal's path, or
  // "tcp://<host>:<port>" with --tcp).
  QString PortPath() const { return port_; }
  // With --tcp: the address it listens on, and its port (0 without --tcp).
  QString TcpHost() const { return tcpHost_; }
  quint16 TcpPort() const { return tcpPort_; }

  // Sends one command line and waits for its answer: true for "OK ..." (or
  // the "STATUS ..." line of "status"), false for "ERROR ..." or no answer.
  bool Command(const QString& line, int timeoutMs = 5000);
  // The answer of the "status" command, or an empty string.
  QString Status(int timeoutMs = 5000);

  // Waits until a line of the output from line index `from` on matches.
  bool WaitForLine(const QRegularExpression& pattern, int from = 0, int timeoutMs = 10000);
  // Output lines matching `pattern` so far.
  int Count(const QRegularExpression& pattern);
  QStringList Lines();

  // Ends the simulator at once, as a pulled adapter ends the line.
  void Kill();
  // "quit", then a kill if it does not end.
  void Stop(int timeoutMs = 5000);
  bool Running() const { return process_.state() != QProcess::NotRunning; }
  QString ErrorOutput();

  // Spins the event loop until `condition` holds; false after `timeoutMs`.
  static bool WaitFor(const std::function<bool()>& condition, int timeoutMs);

 private:
  void Pump();

  QString program_;
  QProcess process_;
  QString port_;
  QString tcpHost_;
  quint16 tcpPort_ = 0;
  QByteArray partial_;
  QStringList lines_;
};
