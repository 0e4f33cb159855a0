#pragma once
// The program as a service, without a window: the same settings files, poll
// cycle, database and daily logs as the desktop program. It starts the
// measurement mode it is given and keeps it going: after the analyzer was
// lost and is back, the mode is started again. What the desktop program
// would show in a box or record as an event becomes one line on the output.
//
//   korvex --headless [--mode continuous|single|cyclic|none] [--dir DIR] [--port NAME] [--verbose]
//
// Results go on to a broker and a central database as the service settings
// file (<program>-service.ini) says; its Service/Mode is the mode when the
// command line names none.

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

#include "acquisition/poll_cycle.h"
#include "app/audit_keeper.h"
#include "app/publishing.h"
#include "app/web_view.h"

class Session;

struct HeadlessOptions {
  ModeRequest mode = ModeRequest::Continuous;
  bool modeGiven = false;  // else the service settings file's Service/Mode
  bool verbose = false;  // a line for every result as well
  QString directory;     // where the settings, database and logs live; empty: beside the program
  QString port;          // the port for this run instead of the one in the settings

  // Reads the options after "--headless"; false with `error` set when one is wrong.
  static bool parse(const QStringList& arguments, HeadlessOptions* options, QString* error);
  static QString usage();
  // The program's files are then looked for in `directory`, under the program's name.
  void applyDirectory() const;
};

class HeadlessService : public QObject {
  Q_OBJECT
 public:
  // `print` gets every line without its end; by default they go to stderr.
  HeadlessService(Session& session, HeadlessOptions options,
                  std::function<void(const QString&)> print = {}, QObject* parent = nullptr);

  // Settings, database, port, the poll cycle and publishing started.
  void start();
  // Publishing stopped, the stop command to the analyzer, the database
  // finished. Idempotent.
  void stop();

  const HeadlessOptions& options() const { return options_; }
  Publishing& publishing() { return publishing_; }
  WebView& web() { return web_; }
  AuditKeeper& audit() { return audit_; }

 private:
  void say(const QString& text);
  void onAnalyzerReady();

  Session& session_;
  HeadlessOptions options_;
  std::function<void(const QString&)> print_;
  Publishing publishing_;
  WebView web_;
  // The audit trail, under the operating system's account the service runs as.
  AuditKeeper audit_;
  QString publishingState_;
  bool singleDone_ = false;
  bool stopped_ = false;
};

// Names a mode as the command line does; None for an unknown name.
ModeRequest modeFromName(const QString& name, bool* ok);
