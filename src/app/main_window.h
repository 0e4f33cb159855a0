#pragma once
// The main window: the measurement buttons and lamps, the analyzer's state,
// the trend chart with its pad, the results table and the menu. It shows what
// the session reports and hands the operator's commands on; the work is done
// by the session, the results log, the chart and the files. Every control
// keeps the name the operator's documentation gives it as its objectName
// (BitBtnCikl, LabelMode, N9, ...).

#include <QMainWindow>
#include <memory>

#include "app/session.h"
#include "data/results_log.h"
#include "device/serial_port.h"
#include "storage/permissions.h"

class AboutBox;
class AuditKeeper;
class AuditLogDialog;
class LoginDialog;
class PermissionGate;
class UsersDialog;
class EmissionLimitsDialog;
class EmissionReportDialog;
class EmissionsPanel;
class FuelDialog;
class HistoryDialog;
class OptionsDialog;
class Publishing;
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
  // Starts the session: settings, port, poll cycle (with the message boxes
  // that start-up may need), then creates the dialogs.
  explicit MainWindow(Session& session, QWidget* parent = nullptr);
  // The mode to start when the analyzer is first ready (korvex --mode ...).
  void setStartMode(ModeRequest mode) { startMode_ = mode; }
  ~MainWindow() override;

  enum class SaveOutcome { Written, Cancelled, Failed };

  // The current printer (the default one until chosen).
  QPrinter* printer();
  // The chart's look from the view settings.
  void applyViewSettings();
  // Publishing of the results, started after the session.
  Publishing& publishing() const { return *publishing_; }
  // The audit trail, the accounts and who is logged in.
  AuditKeeper& audit() const { return *audit_; }

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
  // History: a range of past days from the database in the table and chart,
  // and back to the results being taken.
  void onHistoryTriggered();
  void onLiveTriggered();
  // Emissions: the limits dialog, the report dialog, and acknowledging the
  // latched alarms (as the panel's button does).
  void onEmissionLimitsTriggered();
  void onEmissionReportTriggered();
  void onAcknowledgeAlarmsTriggered();
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
  void startUp();
  // True when the window may close: asked, unsaved results offered, the
  // analyzer stopped.
  bool queryClose();
  void modeClicked(uint8_t request, QToolButton* lamp);
  void showStopped();
  void showState(const QString& text);
  void showLinkAlarm(bool alarm);
  void showCaption(const Measurement& measurement);
  void onResultsAppended(int first, int last);
  void onPortOpenFailed(PortOpenResult result, const QString& portName, const QString& reason);
  void onAnalyzerLost();
  void onDatabaseProblem(Session::DatabaseProblem problem, const QString& detail);
  // The report dialog's commands, on the report it shows.
  void printEmissionReport();
  void saveEmissionReportPdf();
  void exportEmissionReportCsv();
  // What the table and the chart show: the results being taken, or history.
  const ResultsLog& shownLog() const;
  void showLog(bool history);
  // The banner above history: what is shown, and whether measuring goes on meanwhile.
  void showHistoryBanner();

  Session& session_;
  ResultsTableModel* model_ = nullptr;
  ResultsLog historyLog_;
  QString historyRange_;  // "06.12.2026" or "01.12.2026 – 06.12.2026"
  ResultsTableModel* historyModel_ = nullptr;
  bool showingHistory_ = false;
  QLabel* historyBanner_ = nullptr;
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
  HistoryDialog* historyDialog_ = nullptr;
  EmissionLimitsDialog* emissionLimitsDialog_ = nullptr;
  EmissionReportDialog* emissionReportDialog_ = nullptr;
  std::unique_ptr<QPrinter> printer_;
  bool activated_ = false;
  ModeRequest startMode_ = ModeRequest::None;

  // Results to the broker and the central database, as the service settings
  // file says; its state in the status bar, never in a box: the network comes
  // and goes while measuring goes on.
  void showPublishing();
  std::unique_ptr<Publishing> publishing_;
  QLabel* publishingLabel_ = nullptr;
  QString publishingMessage_;
  PublishDialog* publishDialog_ = nullptr;

  // The audit trail of this run and who may do what; a command refused is
  // shown disabled with the reason.
  void showUser();
  // False, after a box saying why, when the user may not give the command.
  bool permitted(Command command);
  std::unique_ptr<AuditKeeper> audit_;
  PermissionGate* gate_ = nullptr;
  QLabel* userLabel_ = nullptr;
  QAction* logoutAction_ = nullptr;
  LoginDialog* loginDialog_ = nullptr;
  UsersDialog* usersDialog_ = nullptr;
  AuditLogDialog* auditLogDialog_ = nullptr;
};
