#pragma once
// The main window: the measurement buttons and lamps, the analyzer's state,
// the trend chart with its pad, the results table and the menu. It is a
// front end on the measuring session, which runs in a thread of its own: it
// shows what the session reports (signals carrying values, queued) and hands
// the operator's commands and changed settings on (through SessionHost),
// and never waits for it. So nothing done here — a box left open, a dialog,
// a report, a history, a printout — delays a poll. The table and the chart
// show a results log of the window's own, fed with every result the session
// records. Every control keeps the name the operator's documentation gives
// it as its objectName (BitBtnCikl, LabelMode, N9, ...).

#include <QDate>
#include <QMainWindow>
#include <QVector>
#include <array>
#include <memory>
#include <vector>

#include "data/results_log.h"
#include "emissions/emission_monitor.h"
#include "service/session_host.h"
#include "storage/permissions.h"

class AboutBox;
class AnalyzerStrip;
class AnalyzersDialog;
class AuditLogDialog;
class SubstitutesDialog;
class AuditTrail;
class LoginDialog;
class PermissionGate;
class UsersDialog;
class LinkStatisticsView;
class NoticeBar;
class EmissionLimitsDialog;
class EmissionReportDialog;
class EmissionsPanel;
class FuelDialog;
class HistoryDialog;
class OptionsDialog;
class PublishDialog;
class QLabel;
class QPrinter;
class QProgressBar;
class ResultsTableView;
class QToolButton;
class ResultsTableModel;
class TrendChart;
class ViewDialog;
struct Measurement;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // Starts the session through its host (the settings, then the session in
  // its thread), then creates the dialogs.
  explicit MainWindow(SessionHost& host, QWidget* parent = nullptr);
  ~MainWindow() override;

  enum class SaveOutcome { Written, Cancelled, Failed };

  // The current printer (the default one until chosen).
  QPrinter* printer();
  // The chart's look from the view settings.
  void applyViewSettings();
  // The results being taken, as the table and the chart show them.
  ResultsLog& results() { return live_; }
  const ResultsLog& results() const { return live_; }
  // The history shown (empty unless showingHistory()).
  const ResultsLog& history() const { return historyLog_; }
  bool showingHistory() const { return showingHistory_; }
  // The days the database holds results of, as the session last said.
  const QVector<QDate>& days() const { return days_; }
  NoticeBar* noticeBar() const { return noticeBar_; }
  // The system ends the program (SIGTERM, SIGHUP: a shutdown, a logout):
  // without a question the analyzer is stopped, the database and the audit
  // trail closed as at a normal close, and the window closed. Every result
  // is in the database already; a table not saved to a data file is not
  // asked about.
  void endBySystem();

 public slots:
  // Mode buttons.
  void onCyclicClicked();
  void onSingleClicked();
  void onContinuousClicked();
  void onStopClicked();
  // Chart pad.
  void onScrollLaterClicked();
  void onScrollDownClicked();
  void onScrollUpClicked();
  void onScrollEarlierClicked();
  void onZoomInClicked();
  void onZoomOutClicked();
  void onResetZoomClicked();
  void onFollowClicked();
  void onClearClicked();
  // Menu.
  SaveOutcome onSaveTriggered();
  void onOpenTriggered();
  void onPrintChartTriggered();
  void onPrintTableTriggered();
  void onChoosePrinterTriggered();
  void onChooseFontTriggered();
  void onOptionsTriggered();
  void onViewParametersTriggered();
  void onFuelParametersTriggered();
  void onAboutTriggered();
  // "Публикация результатов...": the service settings file, applied at once.
  void onPublishTriggered();
  // "Сервис → Анализаторы...": the line's further analyzers, for the next start.
  void onAnalyzersTriggered();
  // History: a range of past days from the database, read in the
  // background with its progress in the banner, then in the table and chart;
  // and back to the results being taken.
  void onHistoryTriggered();
  void onLiveTriggered();
  void onHistoryCancelClicked();
  // Emissions: the limits dialog, the report dialog, and acknowledging the
  // latched alarms (as the panel's button does).
  void onEmissionLimitsTriggered();
  // "Сервис → Замещающие значения...": values for a past span of the selected analyzer.
  void onSubstitutesTriggered();
  void onEmissionReportTriggered();
  void onAcknowledgeAlarmsTriggered();
  void onSwitchesChanged(bool maintenance, bool testGas, bool plantOperating);
  // The audit trail and the accounts: "Файл → Журнал аудита...",
  // "Сервис → Пользователи...", "Вход в систему...", "Выход из системы".
  void onAuditLogTriggered();
  void onUsersTriggered();
  void onLoginTriggered();
  void onLogoutTriggered();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  // Keys and clicks anywhere in the program keep the user logged in.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildLayout();
  void buildMenu();
  void connectSession();
  // An analyzer's reports: kept, and shown while it is selected.
  void connectAnalyzer(int index, const Session* session);
  // A signal of an analyzer to the window: with several, through the line's
  // round reports (told once a round), else queued as any.
  template <typename... Args, typename Slot>
  void follow(const Session* session, void (Session::*signal)(Args...), Slot slot);
  void onAnalyzersAdded();
  // The window switched to the analyzer of `index`: what it last reported.
  void selectAnalyzer(int index);
  // The analyzer is idle and no mode is kept: the mode buttons may start one.
  void showReady();
  void startUp();
  // True when the window may close: asked, unsaved results offered, the
  // analyzer stopped.
  bool queryClose();
  void modeClicked(ModeRequest request);
  // The lamps and buttons as the session keeps the mode.
  void showWantedMode(ModeRequest mode);
  void showStopped();
  void showState(const QString& text);
  void showLinkAlarm(bool alarm);
  void showCaption(const Measurement& measurement);
  void onResultsAppended(int first, int last);
  void onResultsRestored(const QVector<Result>& results);
  void onNewDay(bool clearTable);
  void onHistoryChunk(const QVector<Result>& results);
  void onHistoryFinished(ResultReader::Status status, int count, const QString& why);
  // The report dialog's commands, on the report it shows.
  void printEmissionReport();
  void saveEmissionReportPdf();
  void exportEmissionReportCsv();
  // What the table and the chart show: the results being taken, or history.
  const ResultsLog& shownLog() const;
  void showLog(bool history);
  // The banner above history: what is shown, and whether measuring goes on meanwhile.
  void showHistoryBanner();

  SessionHost& host_;
  // What each analyzer of the line last reported, for when it is selected.
  struct AnalyzerShown {
    QString state;
    bool linkAlarm = false;
    QString caption;
    int progress = 0;
    bool progressVisible = false;
    ModeRequest wanted = ModeRequest::None;
    bool ready = false;
    WorkMode workMode = WorkMode::Idle;
    LinkStatistics statistics;
    QVector<QDate> days;
    emissions::MonitorState emissions;
    std::array<bool, 3> switches{false, false, true};
    QString databasePath;
  };
  std::vector<AnalyzerShown> shown_;
  int selected_ = 0;
  AnalyzerStrip* strip_ = nullptr;
  ResultsLog live_;
  ResultsTableModel* model_ = nullptr;
  ResultsLog historyLog_;
  ResultsLog loadingLog_;  // a history being read
  QDate historyFrom_, historyTo_;
  QString historyRange_;  // "06.12.2026" or "01.12.2026 – 06.12.2026"
  bool historyTruncated_ = false;  // only the first of the days' results
  QVector<QDate> days_;
  ModeRequest wantedMode_ = ModeRequest::None;
  WorkMode workMode_ = WorkMode::Idle;  // the analyzer's, as the last tick found it
  bool spaceShort_ = false;  // the disk, as the database found it
  qint64 bytesFree_ = 0;
  int uncommitted_ = 0;  // results waiting in memory for the database
  ResultsTableModel* historyModel_ = nullptr;
  bool showingHistory_ = false;
  QLabel* historyBanner_ = nullptr;
  QWidget* historyProgress_ = nullptr;  // the bar and the cancel button of a history being read
  QProgressBar* historyProgressBar_ = nullptr;
  NoticeBar* noticeBar_ = nullptr;
  LinkStatisticsView* statisticsView_ = nullptr;
  QAction* liveAction_ = nullptr;

  QToolButton* cyclicButton_ = nullptr;
  QToolButton* singleButton_ = nullptr;
  QToolButton* continuousButton_ = nullptr;
  QToolButton* stopButton_ = nullptr;
  QToolButton* cyclicLamp_ = nullptr;
  QToolButton* singleLamp_ = nullptr;
  QToolButton* continuousLamp_ = nullptr;
  QToolButton* stopLamp_ = nullptr;
  QLabel* stateLabel_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QToolButton* scrollLaterButton_ = nullptr;
  QToolButton* scrollDownButton_ = nullptr;
  QToolButton* scrollUpButton_ = nullptr;
  QToolButton* scrollEarlierButton_ = nullptr;
  QToolButton* zoomInButton_ = nullptr;
  QToolButton* zoomOutButton_ = nullptr;
  QToolButton* resetZoomButton_ = nullptr;
  QToolButton* followButton_ = nullptr;
  QToolButton* clearButton_ = nullptr;
  TrendChart* chart_ = nullptr;
  ResultsTableView* resultsView_ = nullptr;
  EmissionsPanel* emissionsPanel_ = nullptr;
  QAction* saveAction_ = nullptr;

  AboutBox* aboutBox_ = nullptr;
  FuelDialog* fuelDialog_ = nullptr;
  ViewDialog* viewDialog_ = nullptr;
  OptionsDialog* optionsDialog_ = nullptr;
  AnalyzersDialog* analyzersDialog_ = nullptr;
  HistoryDialog* historyDialog_ = nullptr;
  EmissionLimitsDialog* emissionLimitsDialog_ = nullptr;
  SubstitutesDialog* substitutesDialog_ = nullptr;
  EmissionReportDialog* emissionReportDialog_ = nullptr;
  std::unique_ptr<QPrinter> printer_;
  bool activated_ = false;
  bool closing_ = false;

  // Publishing's state in the status bar, its messages as notices: the
  // network comes and goes while measuring goes on.
  void showPublishing();
  QLabel* publishingLabel_ = nullptr;
  QString publishingState_;
  QString publishingMessage_;
  PublishDialog* publishDialog_ = nullptr;

  // The audit trail of this run and who may do what; a command refused is
  // shown disabled with the reason.
  void showUser();
  // False, after a box saying why, when the user may not give the command.
  bool permitted(Command command);
  // The trail as the audit log shows it: a read-only connection of its own.
  std::unique_ptr<AuditTrail> auditView_;
  // The audit trail's state when the report shown was made.
  QString reportTrailNote_;
  PermissionGate* gate_ = nullptr;
  QLabel* userLabel_ = nullptr;
  QAction* logoutAction_ = nullptr;
  // The switches results' statuses follow, checked as the session has them.
  QAction* maintenanceAction_ = nullptr;
  QAction* testGasAction_ = nullptr;
  QAction* plantAction_ = nullptr;
  QLabel* maintenanceLabel_ = nullptr;
  LoginDialog* loginDialog_ = nullptr;
  UsersDialog* usersDialog_ = nullptr;
  AuditLogDialog* auditLogDialog_ = nullptr;
};
