#pragma once
// The program as a service, without a window: the same settings files, poll
// cycle, database, daily logs and publishing as the window program, through
// the same start-up (SessionHost). It keeps the measurement mode it is given
// going: started when the analyzer is ready, again after the analyzer was
// lost and is back. What the window would show as a notice, and every
// event, becomes one line on the output.
//
//   korvexd [--mode continuous|single|cyclic|none] [--dir DIR] [--port NAME] [--verbose]
//   korvex --headless [the same options]
//
// Results go on to a broker and a central database, and the Modbus TCP
// server and the web pages serve them, as the service settings file
// (<program>-service.ini) says; its Service/Mode is the mode when the command
// line names none.

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "service/session_host.h"
#include "service/web_view.h"

struct HeadlessOptions {
  ModeRequest mode = ModeRequest::Continuous;
  bool modeGiven = false;  // else the service settings file's Service/Mode
  bool verbose = false;    // a line for every result as well
  QString directory;       // where the settings, database and logs live; empty: beside the program
  QString port;            // the port for this run instead of the one in the settings

  // Reads the options ("--headless" is passed over); false with `error` set
  // when one is wrong.
  static bool parse(const QStringList& arguments, HeadlessOptions* options, QString* error);
  // `command`: how the program is started ("korvexd", "korvex --headless").
  static QString usage(const QString& command = QStringLiteral("korvex --headless"));
  // The program's files are then looked for in `directory`, under the program's name.
  void applyDirectory() const;
};

class HeadlessService : public QObject {
  Q_OBJECT
 public:
  // `print` gets every line without its end; by default they go to stderr.
  explicit HeadlessService(HeadlessOptions options, std::function<void(const QString&)> print = {},
                           SessionHost::Threading threading = SessionHost::Threading::CallerThread,
                           QObject* parent = nullptr);
  ~HeadlessService() override;

  // Settings, database, port, the poll cycle and publishing started.
  void start();
  // Publishing stopped, the stop command to the analyzer, the database
  // finished. Idempotent.
  void stop();

  const HeadlessOptions& options() const { return options_; }
  SessionHost& host() { return host_; }
  WebView& web() { return *web_; }

 private:
  void say(const QString& text);
  // Its events, and its results with --verbose; `whose` before each line.
  void listenTo(Session* session, const QString& whose);

  HeadlessOptions options_;
  std::function<void(const QString&)> print_;
  SessionHost host_;
  // In the session's thread, which is the service's own (CallerThread).
  std::unique_ptr<WebView> web_;
  QString publishingState_;
  bool stopped_ = false;
};

// The whole service: the options read from the command line, SIGTERM and
// SIGINT taken as a stop, the event loop run. The entry of korvexd and of
// korvex --headless; `command` names it in the usage. With `programName`
// the program's files are named after it instead of the executable.
int runService(int argc, char* argv[], const QString& command, const QString& programName = QString());
