#pragma once
// One run of the program against one analyzer, without widgets: the line to
// the analyzer, the poll cycle and its timer, the results log, the daily logs
// and data files, and the settings as they take effect. The main window shows
// what it reports and hands it the operator's commands; what would call for a
// message box is reported by a signal, emitted at the moment the box belongs
// (with the poll timer stopped where the box stops it).

#include <QDate>
#include <QObject>
#include <QString>

#include "acquisition/poll_cycle.h"
#include "data/results_log.h"
#include "device/analyzer_link.h"
#include "storage/table_files.h"

class Timer;

class Session : public QObject {
  Q_OBJECT
 public:
  explicit Session(QObject* parent = nullptr);
  ~Session() override;

  AnalyzerLink& link() { return link_; }
  PollCycle& pollCycle() { return poll_; }
  ResultsLog& results() { return results_; }
  const ResultsLog& results() const { return results_; }
  // The poll cycle's tick, once a second.
  Timer* pollTimer() const { return pollTimer_; }

  // Start-up, in this order. Reads both settings files into the records;
  // false when they could not be read whole.
  bool loadSettings();
  // Every setting back to its default and both files written.
  bool resetSettings();
  // Opens the port the settings name. A connection to a serial device server
  // is made meanwhile: a failure is reported when known, at most a few
  // seconds later.
  void openPort();
  // The poll cycle in its start state with the settings in force, and ticking.
  void start();

  // The settings records changed: the poll cycle takes them over.
  void takeSettings();
  // After the options dialog: the address and times taken over, the port
  // reopened, the settings saved.
  void applyOptions();
  // After the fuel dialog: the fuel row in use, the settings saved.
  void applyFuel(int fuelIndex);
  // Copies the poll cycle's state into the device record and writes both
  // settings files.
  bool saveSettings();

  // Writes the results to a data file; the new day of the log begins now.
  bool saveDataFile(const QString& path);
  // Replaces the results by a data file's.
  TableLoadResult openDataFile(const QString& path);
  void clearResults();

  // On closing: the stop command, and a moment for it to leave.
  void sendStop();

 signals:
  void portOpenFailed(PortOpenResult result, const QString& portName);
  void settingsSaveFailed();
  void resultsWriteFailed();
  // The analyzer stopped answering (the poll timer is off until this returns).
  void analyzerLost();

 private:
  void onDayEnded(const QDate& day);
  void onLinkLost();
  void onOpenFinished(PortOpenResult result);
  bool writeResults(const QString& path, bool clear);
  void storeRunState();

  AnalyzerLink link_;
  PollCycle poll_;
  ResultsLog results_;
  Timer* pollTimer_;
};
