#include "app/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPrinter>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/analyzer_strip.h"
#include "dialogs/analyzers_dialog.h"
#include <algorithm>
#include <utility>

#include "acquisition/state_texts.h"
#include "app/emissions_panel.h"
#include "app/link_statistics_view.h"
#include "app/notice_bar.h"
#include "service/round_reports.h"
#include "data/value_format.h"
#include "device/fuel_table.h"
#include "dialogs/about_box.h"
#include "dialogs/audit_log_dialog.h"
#include "dialogs/substitutes_dialog.h"
#include "dialogs/emission_limits_dialog.h"
#include "dialogs/emission_report_dialog.h"
#include "emissions/report_csv.h"
#include "dialogs/fuel_dialog.h"
#include "dialogs/history_dialog.h"
#include "dialogs/login_dialog.h"
#include "dialogs/options_dialog.h"
#include "dialogs/permission_gate.h"
#include "dialogs/publish_dialog.h"
#include "dialogs/users_dialog.h"
#include "dialogs/view_dialog.h"
#include "ui/glyphs.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"
#include "print/chart_print.h"
#include "print/emission_report_print.h"
#include "print/printer_setup.h"
#include "print/printers.h"
#include "print/table_protocol.h"
#include "storage/table_files.h"
#include "view/results_columns.h"
#include "view/results_table_model.h"
#include "view/results_table_view.h"
#include "view/trend_chart.h"

namespace {

const int kGridColumnWidths[kResultColumnCount] = {48, 66, 53, 46, 45, 48, 48, 50,
                                                   50, 50, 45, 50, 44, 38, 38, 38};
const QString kDataFileFilter = QStringLiteral(u"Файлы данных KVX(*.kvx)|*.kvx");
const QString kNotSavedQuestion = QStringLiteral(u"Данные не записаны! Сохранить?");

QToolButton* pictureButton(QWidget* parent, const QIcon& icon, const QSize& size, const QString& tip) {
  auto* b = new QToolButton(parent);
  b->setIcon(icon);
  b->setIconSize(QSize(size.width() - 10, size.height() - 10).expandedTo(QSize(16, 16)));
  b->setFixedSize(size);
  b->setToolTip(tip);
  b->setAccessibleName(tip);
  return b;
}

QColor fromColorRef(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

}  // namespace

MainWindow::MainWindow(SessionHost& host, QWidget* parent) : QMainWindow(parent), host_(host) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("ModbusRTU"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Main));
  buildLayout();
  buildMenu();
  connectSession();
  startUp();
  qApp->installEventFilter(this);
  loginDialog_ = new LoginDialog(this);
  loginDialog_->setCheck([this](const QString& name, const QString& password) {
    return AccessControl::outcomeText(host_.access().login(name, password));
  });
  usersDialog_ = new UsersDialog(host_.access(), this);
  auditLogDialog_ = new AuditLogDialog(this);
  // The other windows, created once and kept until exit.
  aboutBox_ = new AboutBox(this);
  fuelDialog_ = new FuelDialog(this);
  viewDialog_ = new ViewDialog(this);
  optionsDialog_ = new OptionsDialog(this);
  analyzersDialog_ = new AnalyzersDialog(this);
  historyDialog_ = new HistoryDialog(this);
  publishDialog_ = new PublishDialog(this);
  publishDialog_->setApplier([this](const publish::ServiceSettings& settings, QString* error) {
    if (!host_.settings().setService(settings, error)) return false;
    publishingMessage_.clear();
    showPublishing();
    return true;
  });
  emissionLimitsDialog_ = new EmissionLimitsDialog(this);
  substitutesDialog_ = new SubstitutesDialog(this);
  emissionReportDialog_ = new EmissionReportDialog(this);
  connect(emissionReportDialog_, &EmissionReportDialog::printRequested, this, &MainWindow::printEmissionReport);
  connect(emissionReportDialog_, &EmissionReportDialog::pdfRequested, this, &MainWindow::saveEmissionReportPdf);
  connect(emissionReportDialog_, &EmissionReportDialog::csvRequested, this, &MainWindow::exportEmissionReportCsv);
  connect(emissionReportDialog_, &EmissionReportDialog::cancelRequested, &host_.reportReader(), &ResultReader::cancel);
  connect(&host_, &SessionHost::reportReady, this,
          [this](const emissions::EmissionReport& report) { reportTrailNote_ = report.trailNote(); });
  connect(&host_, &SessionHost::reportReady, emissionReportDialog_, &EmissionReportDialog::showReport);
  connect(&host_, &SessionHost::reportFailed, emissionReportDialog_, &EmissionReportDialog::showFailure);
  connect(&host_.reportReader(), &ResultReader::progress, emissionReportDialog_, &EmissionReportDialog::showProgress);
}

// The window, half gone, hears no more of the session.
MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  if (RoundReports* reports = host_.session()->roundReports()) reports->setReceiver(nullptr);
  disconnect(host_.session(), nullptr, this, nullptr);
  disconnect(&host_, nullptr, this, nullptr);
  disconnect(host_.audit(), nullptr, this, nullptr);
  disconnect(&host_.access(), nullptr, this, nullptr);
}

void MainWindow::buildLayout() {
  auto* central = new QWidget(this);
  setCentralWidget(central);
  // The emissions panel stands on the right over the whole height; the rest
  // of the window keeps its layout (and its width) to the left of it.
  auto* sides = new QHBoxLayout(central);
  sides->setContentsMargins(0, 0, 0, 0);
  sides->setSpacing(0);
  auto* outer = new QVBoxLayout;
  sides->addLayout(outer, 1);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  strip_ = new AnalyzerStrip(central);
  outer->addWidget(strip_);
  connect(strip_, &AnalyzerStrip::selectedChanged, this, &MainWindow::selectAnalyzer);
  auto* top = new QHBoxLayout;
  top->setContentsMargins(0, 0, 0, 0);
  top->setSpacing(0);
  outer->addLayout(top, 1);

  // Left column: the measurement controls, the state, the chart pad.
  auto* leftPanel = new QWidget(central);
  leftPanel->setObjectName(QStringLiteral("Panel1"));
  leftPanel->setFixedWidth(133);
  auto* left = new QVBoxLayout(leftPanel);
  left->setContentsMargins(0, 0, 0, 0);
  left->setSpacing(0);
  top->addWidget(leftPanel);

  auto* modes = new QWidget(leftPanel);
  modes->setFixedSize(133, 290);
  left->addWidget(modes);
  left->addStretch(1);

  auto* heading = new QLabel(QStringLiteral(u"ИЗМЕРЕНИЕ"), modes);
  heading->setObjectName(QStringLiteral("PanelIzm"));
  heading->setGeometry(1, 1, 131, 22);
  heading->setAlignment(Qt::AlignCenter);
  heading->setFrameShape(QFrame::Panel);
  heading->setFrameShadow(QFrame::Raised);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);

  struct ModeRow {
    QToolButton** button;
    QToolButton** lamp;
    const char* buttonName;
    const char* labelName;
    const char* lampName;
    glyphs::Mode glyph;
    QString text;
    QString tip;
    QString lampTip;
    int height;
  };
  const ModeRow rows[4] = {
      {&cyclicButton_, &cyclicLamp_, "BitBtnCikl", "Label1", "SpeedButtonLedCikl", glyphs::Mode::Cyclic,
       QStringLiteral(u"Циклически"), QStringLiteral(u"Запустить циклическое измерение"),
       QStringLiteral(u"Горит, пока выбрано циклическое измерение"), 37},
      {&singleButton_, &singleLamp_, "BitBtnOdnokr", "Label2", "SpeedButtonLedOdnok", glyphs::Mode::Single,
       QStringLiteral(u"Однократно"), QStringLiteral(u"Запустить однократное измерение"),
       QStringLiteral(u"Горит, пока выбрано однократное измерение"), 37},
      {&continuousButton_, &continuousLamp_, "BitBtnPost", "Label3", "SpeedButtonLedConst",
       glyphs::Mode::Continuous, QStringLiteral(u"Постоянно"), QStringLiteral(u"Запустить непрерывное измерение"),
       QStringLiteral(u"Горит, пока выбрано непрерывное измерение"), 41},
      {&stopButton_, &stopLamp_, "BitBtnStop", "Label4", "SpeedButtonStop", glyphs::Mode::Stop,
       QStringLiteral(u"Стоп"), QStringLiteral(u"Остановить измерение"),
       QStringLiteral(u"Горит после остановки измерения"), 37},
  };
  const QIcon lamp = glyphs::lampIcon();
  int y = 28;
  for (const ModeRow& row : rows) {
    QToolButton* b = pictureButton(modes, glyphs::modeIcon(row.glyph), QSize(41, row.height), row.tip);
    b->setObjectName(QLatin1String(row.buttonName));
    b->move(4, y);
    b->setIconSize(QSize(28, 28));
    b->setEnabled(false);
    *row.button = b;
    auto* label = new QLabel(row.text, modes);
    label->setObjectName(QLatin1String(row.labelName));
    label->setGeometry(50, y + 2, 82, 16);
    auto* led = new QToolButton(modes);
    led->setObjectName(QLatin1String(row.lampName));
    led->setGeometry(70, y + 19, 16, 17);
    led->setAutoRaise(true);
    led->setIcon(lamp);
    led->setIconSize(QSize(16, 16));
    led->setEnabled(false);
    led->setFocusPolicy(Qt::NoFocus);
    led->setToolTip(row.lampTip);
    led->setAccessibleName(row.lampTip);
    *row.lamp = led;
    y += row.height + 6;
  }

  stateLabel_ = new QLabel(QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН "), modes);
  stateLabel_->setObjectName(QStringLiteral("LabelMode"));
  stateLabel_->setGeometry(2, y + 2, 128, 61);
  stateLabel_->setAlignment(Qt::AlignCenter);
  stateLabel_->setWordWrap(true);
  stateLabel_->setAutoFillBackground(true);
  QFont small = stateLabel_->font();
  small.setPointSize(6);
  stateLabel_->setFont(small);
  stateLabel_->setToolTip(QStringLiteral(u"Состояние газоанализатора"));

  progressBar_ = new QProgressBar(modes);
  progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
  progressBar_->setGeometry(8, y + 67, 116, 14);
  progressBar_->setRange(0, 100);
  progressBar_->setTextVisible(false);
  progressBar_->setVisible(false);

  // Chart pad, three by three.
  auto* pad = new QWidget(leftPanel);
  pad->setObjectName(QStringLiteral("Panel3"));
  pad->setFixedSize(133, 125);
  left->addWidget(pad);
  auto* padLayout = new QGridLayout(pad);
  padLayout->setContentsMargins(12, 8, 12, 8);
  padLayout->setSpacing(4);
  struct PadButton {
    QToolButton** button;
    const char* name;
    glyphs::Pad glyph;
    QString tip;
    int row, col;
  };
  const PadButton padButtons[9] = {
      {&zoomOutButton_, "BitBtn2", glyphs::Pad::ZoomOut, QStringLiteral(u"Уменьшить масштаб графика"), 0, 0},
      {&scrollDownButton_, "SpeedButton2", glyphs::Pad::ScrollDown,
       QStringLiteral(u"Сдвинуть график к меньшим значениям"), 0, 1},
      {&zoomInButton_, "BitBtn1", glyphs::Pad::ZoomIn, QStringLiteral(u"Увеличить масштаб графика"), 0, 2},
      {&scrollLaterButton_, "SpeedButton1", glyphs::Pad::ScrollRight,
       QStringLiteral(u"Сдвинуть график к более поздним точкам"), 1, 0},
      {&resetZoomButton_, "BitBtn3", glyphs::Pad::Reset,
       QStringLiteral(u"Отменить масштаб и сдвиг (двойной щелчок по графику)"), 1, 1},
      {&scrollEarlierButton_, "SpeedButton4", glyphs::Pad::ScrollLeft,
       QStringLiteral(u"Сдвинуть график к более ранним точкам"), 1, 2},
      {&clearButton_, "BitBtn5", glyphs::Pad::Clear, QStringLiteral(u"Очистить график и таблицу"), 2, 0},
      {&scrollUpButton_, "SpeedButton3", glyphs::Pad::ScrollUp,
       QStringLiteral(u"Сдвинуть график к большим значениям"), 2, 1},
      {&followButton_, "BitBtn4", glyphs::Pad::Follow, QStringLiteral(u"Следить за последними точками"), 2, 2},
  };
  for (const PadButton& p : padButtons) {
    QToolButton* b = pictureButton(pad, glyphs::padIcon(p.glyph), QSize(33, 34), p.tip);
    b->setObjectName(QLatin1String(p.name));
    b->setIconSize(QSize(22, 22));
    b->setFocusPolicy(Qt::NoFocus);
    *p.button = b;
    padLayout->addWidget(b, p.row, p.col);
  }

  chart_ = new TrendChart(central);
  chart_->setObjectName(QStringLiteral("Chart1"));
  chart_->setResultsLog(&live_);
  top->addWidget(chart_, 1);

  // Emissions beside the chart and the table: they keep their width, the
  // window is made wider by the panel's.
  emissionsPanel_ = new EmissionsPanel(central);
  sides->addWidget(emissionsPanel_);

  // Shown instead of nothing while the table and chart hold history.
  historyBanner_ = new QLabel(central);
  historyBanner_->setObjectName(QStringLiteral("LabelHistory"));
  historyBanner_->setAutoFillBackground(true);
  historyBanner_->setMargin(3);
  QPalette bannerPalette = historyBanner_->palette();
  bannerPalette.setColor(QPalette::Window, QColor(0xFF, 0xE0, 0x80));
  historyBanner_->setPalette(bannerPalette);
  historyBanner_->setVisible(false);
  outer->addWidget(historyBanner_);
  // While a history is read: how far, and the way to stop it.
  historyProgress_ = new QWidget(central);
  historyProgress_->setObjectName(QStringLiteral("PanelHistoryProgress"));
  auto* progressRow = new QHBoxLayout(historyProgress_);
  progressRow->setContentsMargins(3, 1, 3, 1);
  auto* progressText = new QLabel(QStringLiteral(u"Чтение истории из базы данных; измерение продолжается"),
                                  historyProgress_);
  progressRow->addWidget(progressText);
  historyProgressBar_ = new QProgressBar(historyProgress_);
  historyProgressBar_->setObjectName(QStringLiteral("ProgressHistory"));
  historyProgressBar_->setRange(0, 100);
  progressRow->addWidget(historyProgressBar_, 1);
  auto* cancelHistory = new QToolButton(historyProgress_);
  cancelHistory->setObjectName(QStringLiteral("ButtonCancelHistory"));
  cancelHistory->setText(QStringLiteral(u"Отмена"));
  progressRow->addWidget(cancelHistory);
  connect(cancelHistory, &QToolButton::clicked, this, &MainWindow::onHistoryCancelClicked);
  historyProgress_->setVisible(false);
  outer->addWidget(historyProgress_);

  // Results table along the bottom edge.
  model_ = new ResultsTableModel(live_, this);
  historyModel_ = new ResultsTableModel(historyLog_, this);
  resultsView_ = new ResultsTableView(central);
  resultsView_->setObjectName(QStringLiteral("StringGrid1"));
  resultsView_->setModel(model_);
  resultsView_->setFixedHeight(85);
  resultsView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  resultsView_->setShowGrid(true);
  resultsView_->setFrameShape(QFrame::NoFrame);
  resultsView_->setSelectionMode(QAbstractItemView::SingleSelection);
  resultsView_->setToolTip(QStringLiteral(u"Таблица полученных данных от АСК ЗВ"));
  resultsView_->setWordWrap(false);
  resultsView_->verticalHeader()->setVisible(false);
  // A fixed row height: sizing rows to their contents costs seconds a row at a day's size.
  resultsView_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  resultsView_->verticalHeader()->setDefaultSectionSize(20);
  resultsView_->verticalHeader()->setMinimumSectionSize(20);
  resultsView_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  resultsView_->horizontalHeader()->setMinimumSectionSize(10);
  resultsView_->horizontalHeader()->setFixedHeight(20);
  resultsView_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  resultsView_->horizontalHeader()->setHighlightSections(false);
  fitResultColumns(resultsView_, kGridColumnWidths);
  QPalette gridPalette = resultsView_->palette();
  gridPalette.setColor(QPalette::Base, gridPalette.color(QPalette::Button));
  resultsView_->setPalette(gridPalette);
  outer->addWidget(resultsView_);
  noticeBar_ = new NoticeBar(host_.notices(), central);
  outer->addWidget(noticeBar_);

  connect(cyclicButton_, &QToolButton::clicked, this, &MainWindow::onCyclicClicked);
  connect(singleButton_, &QToolButton::clicked, this, &MainWindow::onSingleClicked);
  connect(continuousButton_, &QToolButton::clicked, this, &MainWindow::onContinuousClicked);
  connect(stopButton_, &QToolButton::clicked, this, &MainWindow::onStopClicked);
  connect(scrollLaterButton_, &QToolButton::clicked, this, &MainWindow::onScrollLaterClicked);
  connect(scrollDownButton_, &QToolButton::clicked, this, &MainWindow::onScrollDownClicked);
  connect(scrollUpButton_, &QToolButton::clicked, this, &MainWindow::onScrollUpClicked);
  connect(scrollEarlierButton_, &QToolButton::clicked, this, &MainWindow::onScrollEarlierClicked);
  connect(zoomInButton_, &QToolButton::clicked, this, &MainWindow::onZoomInClicked);
  connect(zoomOutButton_, &QToolButton::clicked, this, &MainWindow::onZoomOutClicked);
  connect(resetZoomButton_, &QToolButton::clicked, this, &MainWindow::onResetZoomClicked);
  connect(followButton_, &QToolButton::clicked, this, &MainWindow::onFollowClicked);
  connect(clearButton_, &QToolButton::clicked, this, &MainWindow::onClearClicked);
  // A zoom or scroll with the mouse can be undone with the pad.
  connect(chart_, &TrendChart::scrolled, resetZoomButton_, [this] { resetZoomButton_->setEnabled(true); });
  connect(chart_, &TrendChart::zoomed, resetZoomButton_, [this] { resetZoomButton_->setEnabled(true); });
  connect(chart_, &TrendChart::doubleClicked, this, &MainWindow::onResetZoomClicked);

  // The whole table in view where the screen allows: its fitted columns may
  // be wider than the window was designed for.
  const int tableWidth =
      resultsView_->horizontalHeader()->length() + resultsView_->verticalScrollBar()->sizeHint().width();
  const int screenWidth = std::max(808, screen()->availableGeometry().width());
  resize(std::clamp(tableWidth + EmissionsPanel::kWidth, std::min(808 + EmissionsPanel::kWidth, screenWidth),
                    screenWidth),
         510);
}

void MainWindow::buildMenu() {
  QMenuBar* bar = menuBar();
  const auto named = [](auto* item, const char* name) {
    item->setObjectName(QLatin1String(name));
    return item;
  };
  QMenu* file = named(bar->addMenu(QStringLiteral(u"Файл")), "N1");
  saveAction_ = named(file->addAction(QStringLiteral(u"Сохранить")), "N8");
  QAction* open = named(file->addAction(QStringLiteral(u"Открыть")), "N9");
  QAction* history = named(file->addAction(QStringLiteral(u"История...")), "HistoryAction");
  liveAction_ = named(file->addAction(QStringLiteral(u"Текущие результаты")), "LiveAction");
  liveAction_->setEnabled(false);
  QAction* auditLog = named(file->addAction(QStringLiteral(u"Журнал аудита...")), "AuditLogAction");
  named(file->addSeparator(), "N11");
  QMenu* print = named(file->addMenu(QStringLiteral(u"Печать")), "N12");
  QAction* printChart = named(print->addAction(QStringLiteral(u"Графика")), "N13");
  QAction* printTable = named(print->addAction(QStringLiteral(u"Таблицы")), "N14");
  QMenu* printSetup = named(file->addMenu(QStringLiteral(u"Установки печати")), "N15");
  QAction* choosePrinter = named(printSetup->addAction(QStringLiteral(u"Выбор принтера")), "N16");
  QAction* chooseFont = named(printSetup->addAction(QStringLiteral(u"Выбор шрифта")), "N17");
  named(file->addSeparator(), "N10");
  QAction* exit = named(file->addAction(QStringLiteral(u"Выход")), "N4");
  QMenu* service = named(bar->addMenu(QStringLiteral(u"Сервис")), "N3");
  QAction* options = named(service->addAction(QStringLiteral(u"Опции")), "N6");
  QAction* viewParameters = named(service->addAction(QStringLiteral(u"Параметры просмотра")), "N5");
  QAction* fuelParameters = named(service->addAction(QStringLiteral(u"Параметры топлива и расчетов")), "N7");
  QAction* publish = named(service->addAction(QStringLiteral(u"Публикация результатов...")), "ActionPublish");
  QAction* analyzers = named(service->addAction(QStringLiteral(u"Анализаторы...")), "AnalyzersAction");
  connect(analyzers, &QAction::triggered, this, &MainWindow::onAnalyzersTriggered);
  statisticsView_ = new LinkStatisticsView(this, service);
  connect(statisticsView_, &LinkStatisticsView::resetRequested, this, [this] { host_.resetStatistics(selected_); });
  named(service->addSeparator(), "EmissionsSeparator");
  QAction* emissionLimits = named(service->addAction(QStringLiteral(u"Нормативы выбросов...")), "EmissionLimitsAction");
  QAction* emissionReport = named(service->addAction(QStringLiteral(u"Отчёт о выбросах...")), "EmissionReportAction");
  QAction* acknowledge =
      named(service->addAction(QStringLiteral(u"Квитировать сигнализацию выбросов")), "AcknowledgeAlarmsAction");
  maintenanceAction_ = named(service->addAction(QStringLiteral(u"Техобслуживание")), "MaintenanceAction");
  maintenanceAction_->setCheckable(true);
  maintenanceAction_->setToolTip(
      QStringLiteral(u"Результаты со статусом «техобслуживание» не входят в средние (записывается в журнал событий)"));
  testGasAction_ = named(service->addAction(QStringLiteral(u"Проверка поверочным газом")), "TestGasAction");
  testGasAction_->setCheckable(true);
  testGasAction_->setToolTip(
      QStringLiteral(u"Результаты со статусом «проверка» не входят в средние (записывается в журнал событий)"));
  plantAction_ = named(service->addAction(QStringLiteral(u"Установка в работе")), "PlantOperatingAction");
  plantAction_->setCheckable(true);
  plantAction_->setChecked(true);
  QAction* substitutes = named(service->addAction(QStringLiteral(u"Замещающие значения...")), "SubstitutesAction");
  substitutes->setToolTip(QStringLiteral(
      u"Ввести значения за прошедший период без достоверных результатов, с причиной (записывается в журнал аудита)"));
  named(service->addSeparator(), "UsersSeparator");
  QAction* users = named(service->addAction(QStringLiteral(u"Пользователи...")), "UsersAction");
  QAction* login = named(service->addAction(QStringLiteral(u"Вход в систему...")), "LoginAction");
  logoutAction_ = named(service->addAction(QStringLiteral(u"Выход из системы")), "LogoutAction");
  logoutAction_->setEnabled(false);
  QAction* about = named(bar->addAction(QStringLiteral(u"О программе")), "N2");
  saveAction_->setEnabled(false);

  connect(saveAction_, &QAction::triggered, this, [this] { onSaveTriggered(); });
  connect(open, &QAction::triggered, this, &MainWindow::onOpenTriggered);
  connect(history, &QAction::triggered, this, &MainWindow::onHistoryTriggered);
  connect(emissionReport, &QAction::triggered, this, &MainWindow::onEmissionReportTriggered);
  connect(emissionLimits, &QAction::triggered, this, &MainWindow::onEmissionLimitsTriggered);
  connect(acknowledge, &QAction::triggered, this, &MainWindow::onAcknowledgeAlarmsTriggered);
  connect(substitutes, &QAction::triggered, this, &MainWindow::onSubstitutesTriggered);
  // The session decides: the check follows what it reports back.
  const auto bindSwitch = [this](QAction* action, void (SessionHost::*turn)(bool, int)) {
    connect(action, &QAction::triggered, this, [this, action, turn](bool on) {
      action->setChecked(!on);
      if (permitted(Command::Maintenance)) (host_.*turn)(on, selected_);
    });
  };
  bindSwitch(maintenanceAction_, &SessionHost::setMaintenance);
  bindSwitch(testGasAction_, &SessionHost::setTestGas);
  bindSwitch(plantAction_, &SessionHost::setPlantOperating);
  // The plant's switch only where the plant rule is the operator's switch.
  const auto showPlantSwitch = [this](const emissions::EmissionSettings& e) {
    plantAction_->setVisible(e.plant.source == emissions::PlantRule::Source::Switch);
  };
  showPlantSwitch(host_.settings().emissions());
  connect(&host_.settings(), &Settings::emissionsChanged, this, showPlantSwitch);
  connect(liveAction_, &QAction::triggered, this, &MainWindow::onLiveTriggered);
  connect(printChart, &QAction::triggered, this, &MainWindow::onPrintChartTriggered);
  connect(printTable, &QAction::triggered, this, &MainWindow::onPrintTableTriggered);
  connect(choosePrinter, &QAction::triggered, this, &MainWindow::onChoosePrinterTriggered);
  connect(chooseFont, &QAction::triggered, this, &MainWindow::onChooseFontTriggered);
  connect(exit, &QAction::triggered, this, &MainWindow::close);
  connect(options, &QAction::triggered, this, &MainWindow::onOptionsTriggered);
  connect(viewParameters, &QAction::triggered, this, &MainWindow::onViewParametersTriggered);
  connect(fuelParameters, &QAction::triggered, this, &MainWindow::onFuelParametersTriggered);
  connect(about, &QAction::triggered, this, &MainWindow::onAboutTriggered);
  connect(publish, &QAction::triggered, this, &MainWindow::onPublishTriggered);
  connect(auditLog, &QAction::triggered, this, &MainWindow::onAuditLogTriggered);
  connect(users, &QAction::triggered, this, &MainWindow::onUsersTriggered);
  connect(login, &QAction::triggered, this, &MainWindow::onLoginTriggered);
  connect(logoutAction_, &QAction::triggered, this, &MainWindow::onLogoutTriggered);

  // Who may give which command; nothing changes while there are no accounts.
  gate_ = new PermissionGate(this);
  gate_->bind(analyzers, Command::Options);
  for (QAction* a : {saveAction_, open, history, auditLog}) gate_->bind(a, Command::History);
  for (QAction* a : {printChart, printTable, choosePrinter, chooseFont, emissionReport}) gate_->bind(a, Command::Reports);
  gate_->bind(options, Command::Options);
  gate_->bind(fuelParameters, Command::Fuel);
  gate_->bind(publish, Command::Publishing);
  gate_->bind(emissionLimits, Command::Limits);
  gate_->bind(acknowledge, Command::Acknowledge);
  gate_->bind(maintenanceAction_, Command::Maintenance);
  gate_->bind(testGasAction_, Command::Maintenance);
  gate_->bind(plantAction_, Command::Maintenance);
  gate_->bind(substitutes, Command::Substitutes);
  gate_->bind(users, Command::Users);
  for (QWidget* b : {static_cast<QWidget*>(cyclicButton_), static_cast<QWidget*>(singleButton_),
                     static_cast<QWidget*>(continuousButton_), static_cast<QWidget*>(stopButton_)})
    gate_->bind(b, Command::Modes);
  if (auto* ack = emissionsPanel_->findChild<QWidget*>(QStringLiteral("EmissionAcknowledge")))
    gate_->bind(ack, Command::Acknowledge);
  userLabel_ = new QLabel(this);
  userLabel_->setObjectName(QStringLiteral("LabelUser"));
  statusBar()->addPermanentWidget(userLabel_);
  userLabel_->setVisible(false);
  connect(&host_.access(), &AccessControl::changed, this, &MainWindow::showUser);

  maintenanceLabel_ = new QLabel(QStringLiteral(u"Техобслуживание"), this);
  maintenanceLabel_->setObjectName(QStringLiteral("LabelMaintenance"));
  maintenanceLabel_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
  statusBar()->addPermanentWidget(maintenanceLabel_);
  maintenanceLabel_->setVisible(false);

  publishingLabel_ = new QLabel(this);
  publishingLabel_->setObjectName(QStringLiteral("LabelPublishing"));
  statusBar()->addPermanentWidget(publishingLabel_);
  publishingLabel_->setVisible(false);
}

void MainWindow::connectSession() {
  shown_.resize(1);
  connectAnalyzer(0, host_.session());
  // The line's further analyzers are made as the host starts.
  connect(&host_, &SessionHost::analyzersAdded, this, &MainWindow::onAnalyzersAdded);
  connect(emissionsPanel_, &EmissionsPanel::acknowledgeRequested, this,
          [this] { host_.acknowledgeAlarms(selected_); });
  connect(&host_.notices(), &NoticeBoard::added, this, [this](const Notice& n) {
    if (n.topic != NoticeTopic::Publishing) return;
    publishingMessage_ = QDateTime::fromMSecsSinceEpoch(n.utcMs, Qt::OffsetFromUTC, n.utcOffset)
                             .toString(QStringLiteral("hh:mm:ss ")) +
                         n.text;
    showPublishing();
  });
  connect(&live_, &ResultsLog::rowsAppended, this, &MainWindow::onResultsAppended);
  connect(&host_.settings(), &Settings::viewChanged, this, [this] { applyViewSettings(); });
  ResultReader& reader = host_.historyReader();
  connect(&reader, &ResultReader::historyChunk, this, &MainWindow::onHistoryChunk);
  connect(&reader, &ResultReader::progress, historyProgressBar_, &QProgressBar::setValue);
  connect(&reader, &ResultReader::historyFinished, this, &MainWindow::onHistoryFinished);
}

template <typename... Args, typename Slot>
void MainWindow::follow(const Session* session, void (Session::*signal)(Args...), Slot slot) {
  if (RoundReports* reports = host_.session()->roundReports())
    reports->forward(session, signal, std::move(slot));
  else
    connect(session, signal, this, std::move(slot));
}

// Each analyzer's reports are kept for its tile and for when it is selected;
// the window shows those of the one selected.
void MainWindow::connectAnalyzer(int index, const Session* session) {
  const auto on = [this, index] { return index == selected_; };
  follow(session, &Session::stateTextChanged, [this, index, on](const QString& text) {
    shown_[size_t(index)].state = text;
    strip_->setState(index, text);
    if (on()) showState(text);
  });
  follow(session, &Session::linkAlarmChanged, [this, index, on](bool alarm) {
    shown_[size_t(index)].linkAlarm = alarm;
    strip_->setLinkAlarm(index, alarm);
    if (on()) showLinkAlarm(alarm);
  });
  follow(session, &Session::captionChanged, [this, index, on](const QString& caption) {
    shown_[size_t(index)].caption = caption;
    if (on()) setWindowTitle(caption);
  });
  follow(session, &Session::measurementShown, [this, index, on](const Measurement& m) {
    shown_[size_t(index)].caption = measurementCaption(m);
    if (on()) showCaption(m);
  });
  follow(session, &Session::progressChanged, [this, index, on](int percent) {
    shown_[size_t(index)].progress = percent;
    if (on()) progressBar_->setValue(percent);
  });
  follow(session, &Session::progressVisibleChanged, [this, index, on](bool visible) {
    shown_[size_t(index)].progressVisible = visible;
    if (on()) progressBar_->setVisible(visible);
  });
  follow(session, &Session::wantedModeChanged, [this, index, on](ModeRequest mode) {
    shown_[size_t(index)].wanted = mode;
    if (on()) showWantedMode(mode);
  });
  // Whether measuring goes on behind the history shown.
  follow(session, &Session::runStateChanged, [this, index, on](const RunState& state) {
    shown_[size_t(index)].workMode = WorkMode(state.workMode);
    if (!on() || WorkMode(state.workMode) == workMode_) return;
    workMode_ = WorkMode(state.workMode);
    showHistoryBanner();
  });
  follow(session, &Session::analyzerReady, [this, index, on] {
    shown_[size_t(index)].ready = true;
    if (on()) showReady();
  });
  follow(session, &Session::analyzerLost, [this, index, on] {
    shown_[size_t(index)].ready = false;
    // No mode to start again: nothing can be started until the analyzer is back.
    if (on() && wantedMode_ == ModeRequest::None) showStopped();
  });
  follow(session, &Session::statisticsChanged, [this, index, on](const LinkStatistics& s) {
    shown_[size_t(index)].statistics = s;
    if (on()) statisticsView_->onStatistics(s);
  });
  follow(session, &Session::resultsRestored, [this, on](const QVector<Result>& results) {
    if (on()) onResultsRestored(results);
  });
  follow(session, &Session::resultRecorded, [this, index, on](qint64, const Result& r) {
    strip_->setLastResult(index, seams::fromDateTime(r.localDateTime()));
    if (on()) live_.append(r);
  });
  follow(session, &Session::newDay, [this, on](bool clearTable) {
    if (on()) onNewDay(clearTable);
  });
  follow(session, &Session::daysChanged, [this, index, on](const QVector<QDate>& days) {
    shown_[size_t(index)].days = days;
    if (on()) days_ = days;
  });
  follow(session, &Session::emissionsChanged, [this, index, on](const emissions::MonitorState& state) {
    shown_[size_t(index)].emissions = state;
    strip_->setEmissionAlarm(index, state.lamp != emissions::Lamp::Off);
    if (on()) emissionsPanel_->show(state);
  });
  follow(session, &Session::switchesChanged,
          [this, index, on](bool maintenance, bool testGas, bool plantOperating) {
            shown_[size_t(index)].switches = {maintenance, testGas, plantOperating};
            if (on()) onSwitchesChanged(maintenance, testGas, plantOperating);
          });
  follow(session, &Session::databaseOpened,
         [this, index](const QString& path, bool) { shown_[size_t(index)].databasePath = path; });
  // New alarms sound once, whichever analyzer's; the lamp stays on until acknowledged.
  follow(session, &Session::emissionAlarmsRaised, [](const QVector<emissions::AlarmEvent>&) { seams::beep(); });
  if (index > 0) return;
  // The line's own: the disk, the database's backlog, publishing.
  follow(session, &Session::uncommittedChanged, [this](int count) { uncommitted_ = count; });
  follow(session, &Session::diskRoomChanged, [this](bool spaceShort, qint64 bytesFree) {
    spaceShort_ = spaceShort;
    bytesFree_ = bytesFree;
    showPublishing();
  });
  follow(session, &Session::publishingChanged, [this](const QString& state) {
    publishingState_ = state;
    showPublishing();
  });
}

void MainWindow::onAnalyzersAdded() {
  Session* session = host_.session();
  const int count = host_.analyzerCount();
  shown_.resize(size_t(count));
  // Each analyzer's reports come once a round, the first one's too: its
  // own connections are made anew through them.
  if (RoundReports* reports = session->roundReports()) {
    reports->setReceiver(this);
    disconnect(session, nullptr, this, nullptr);
    connectAnalyzer(0, session);
  }
  QStringList titles;
  const publish::ServiceSettings& service = host_.settings().service();
  for (int i = 0; i < count; ++i) {
    Session* s = session->analyzer(i);
    QString title = QStringLiteral(u"%1 — адрес %2").arg(s->slot()).arg(s->measuring().address);
    if (!service.analyzerName.isEmpty()) title += QStringLiteral(", ") + service.nameOf(s->slot());
    titles << title;
    if (i > 0) connectAnalyzer(i, s);
  }
  strip_->setAnalyzers(titles);
}

void MainWindow::showReady() {
  // A mode the session keeps going is started again by itself.
  if (wantedMode_ != ModeRequest::None) return;
  continuousButton_->setEnabled(true);
  singleButton_->setEnabled(true);
  cyclicButton_->setEnabled(true);
}

void MainWindow::selectAnalyzer(int index) {
  if (index < 0 || index >= int(shown_.size()) || index == selected_) return;
  if (showingHistory_) onLiveTriggered();
  selected_ = index;
  const AnalyzerShown& a = shown_[size_t(index)];
  showState(a.state);
  showLinkAlarm(a.linkAlarm);
  setWindowTitle(a.caption.isEmpty() ? QStringLiteral("Korvex") : a.caption);
  progressBar_->setValue(a.progress);
  progressBar_->setVisible(a.progressVisible);
  workMode_ = a.workMode;
  days_ = a.days;
  statisticsView_->onStatistics(a.statistics);
  emissionsPanel_->show(a.emissions);
  onSwitchesChanged(a.switches[0], a.switches[1], a.switches[2]);
  if (a.wanted != ModeRequest::None)
    showWantedMode(a.wanted);
  else if (a.ready) {
    showWantedMode(ModeRequest::None);
    showReady();
  } else {
    showWantedMode(ModeRequest::None);
  }
  // Its history and reports from its own database; its day's results anew.
  host_.historyReader().setDatabase(a.databasePath);
  host_.reportReader().setDatabase(a.databasePath);
  host_.setReportAnalyzer(index);
  live_.clear();
  host_.showToday(index);
}

// ---------------------------------------------------------------------------
// Start-up and closing

void MainWindow::startUp() {
  progressBar_->setVisible(false);
  for (QToolButton* b : {stopButton_, continuousButton_, singleButton_, cyclicButton_}) b->setEnabled(false);
  followButton_->setEnabled(true);
  resetZoomButton_->setEnabled(false);
  // The settings are read here, what is wrong with them told in the notice
  // bar; the session starts in its own thread meanwhile.
  host_.start();
  applyViewSettings();
  showUser();
}

bool MainWindow::event(QEvent* event) {
  // The about box greets the operator once, at the first activation; coming
  // back from a modal dialog activates the window again and must not repeat it.
  if (event->type() == QEvent::WindowActivate && !activated_) {
    activated_ = true;
    QTimer::singleShot(0, this, [this] {
      if (aboutBox_) seams::execModal(aboutBox_);
      // With accounts the program asks who is there; it measures meanwhile.
      const AccessState state = host_.access().state();
      if (state.accountsExist && !state.role) onLoginTriggered();
    });
  }
  return QMainWindow::event(event);
}

void MainWindow::endBySystem() {
  if (closing_) return;
  closing_ = true;
  host_.stop();
  close();
  QCoreApplication::quit();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (closing_ || queryClose()) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type t = event->type();
  if (t == QEvent::KeyPress || t == QEvent::MouseButtonPress || t == QEvent::Wheel) host_.access().noteActivity();
  return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::queryClose() {
  // "No": nothing is saved and the analyzer is not stopped.
  if (!seams::confirmBox(this, QStringLiteral(u"Программа будет закрыта?"))) return false;
  if (showingHistory_) onLiveTriggered();  // the question below is about the results being taken
  // Closing after a failed save would lose the results the operator asked to
  // keep: stay, so the save can be tried again (or declined).
  if (uncommitted_ > 0) {
    // Results the database has not taken (a full disk): the operator hears
    // how many and may save the table first; they are kept for the next
    // start in any case.
    const QString question =
        QStringLiteral(u"Результаты не записаны в базу данных: %1.\r\n"
                       u"Они будут записаны при следующем запуске программы.\r\n"
                       u"Сохранить таблицу в файл данных?")
            .arg(uncommitted_);
    if (seams::confirmBox(this, question) && onSaveTriggered() == SaveOutcome::Failed) return false;
  } else if (live_.unsaved() && seams::confirmBox(this, kNotSavedQuestion) &&
             onSaveTriggered() == SaveOutcome::Failed) {
    return false;
  }
  // The analyzer stopped, publishing ended, the database closed: done in
  // the session's thread, waited for here.
  closing_ = true;
  host_.stop();
  return true;
}

void MainWindow::onAboutTriggered() { seams::execModal(aboutBox_); }

void MainWindow::showPublishing() {
  const QString& state = publishingState_;
  // With nothing enabled the line is shown only to say why.
  QString text = !state.isEmpty() ? QStringLiteral(u"Публикация: ") + state
                 : !publishingMessage_.isEmpty() ? QStringLiteral(u"Публикация: выключена")
                                                 : QString();
  // The disk's room, once the database finds it short.
  if (spaceShort_) {
    const QString room = QStringLiteral(u"Мало места на диске: свободно %1 МБ")
                             .arg(double(std::max<qint64>(0, bytesFree_)) / 1e6, 0, 'f', 1);
    text = text.isEmpty() ? room : room + QStringLiteral("; ") + text;
  }
  publishingLabel_->setText(text);
  publishingLabel_->setToolTip(publishingMessage_);
  publishingLabel_->setVisible(!text.isEmpty());
}

void MainWindow::onPublishTriggered() {
  if (!permitted(Command::Publishing)) return;
  publishDialog_->fill(host_.settings().service());
  seams::execModal(publishDialog_);
}

// ---------------------------------------------------------------------------
// Measurement

void MainWindow::modeClicked(ModeRequest request) {
  if (!permitted(Command::Modes)) return;
  host_.requestMode(request, selected_);
  showWantedMode(request);
}

void MainWindow::onCyclicClicked() { modeClicked(ModeRequest::Cyclic); }
void MainWindow::onSingleClicked() { modeClicked(ModeRequest::Single); }
void MainWindow::onContinuousClicked() { modeClicked(ModeRequest::Continuous); }

void MainWindow::onStopClicked() {
  if (!permitted(Command::Modes)) return;
  host_.requestMode(ModeRequest::Stop, selected_);
  showWantedMode(ModeRequest::None);
}

// A mode kept going shows its lamp and the stop button also while the
// analyzer is away: the session starts it again when the analyzer is back,
// unless the operator stops it.
void MainWindow::showWantedMode(ModeRequest mode) {
  wantedMode_ = mode == ModeRequest::Stop ? ModeRequest::None : mode;
  QToolButton* lamp = nullptr;
  switch (wantedMode_) {
    case ModeRequest::Continuous: lamp = continuousLamp_; break;
    case ModeRequest::Single: lamp = singleLamp_; break;
    case ModeRequest::Cyclic: lamp = cyclicLamp_; break;
    default: break;
  }
  if (!lamp) {
    showStopped();
    return;
  }
  stopButton_->setEnabled(true);
  for (QToolButton* b : {continuousButton_, singleButton_, cyclicButton_, continuousLamp_, singleLamp_, cyclicLamp_})
    b->setEnabled(b == lamp);
  stopLamp_->setEnabled(false);
}

void MainWindow::showStopped() {
  for (QToolButton* b : {stopButton_, continuousButton_, singleButton_, cyclicButton_, continuousLamp_,
                         singleLamp_, cyclicLamp_})
    b->setEnabled(false);
  stopLamp_->setEnabled(true);
}

void MainWindow::showState(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  stateLabel_->setText(shown);
}

void MainWindow::showLinkAlarm(bool alarm) {
  QPalette pal = stateLabel_->palette();
  pal.setColor(QPalette::Window, alarm ? QColor(Qt::red) : palette().color(QPalette::Button));
  stateLabel_->setPalette(pal);
}

void MainWindow::showCaption(const Measurement& measurement) {
  setWindowTitle(measurementCaption(measurement));
}

void MainWindow::onResultsAppended(int, int last) {
  saveAction_->setEnabled(true);
  if (showingHistory_) return;
  // The newest row becomes the current one; the current column stays.
  const int column = std::max(resultsView_->currentIndex().column(), 0);
  const QModelIndex current = model_->index(last, column);
  resultsView_->follow(current);
}

void MainWindow::onResultsRestored(const QVector<Result>& results) {
  // Today's results, as the table held them before the program ended.
  live_.beginLoad();
  for (const Result& r : results) live_.append(r);
  live_.endLoad();
  if (!live_.isEmpty() && !showingHistory_) resultsView_->follow(model_->index(live_.count() - 1, 0));
}

void MainWindow::onNewDay(bool clearTable) {
  // The day's rows are in the database (or its log): the table starts the new day.
  if (clearTable) live_.clear();
}

// ---------------------------------------------------------------------------
// Chart

void MainWindow::applyViewSettings() {
  const ViewSettings& s = host_.settings().view();
  for (int i = 0; i < kChannelCount; ++i) {
    const ChannelLook& look = s.channels[size_t(i)];
    chart_->setShown(i, look.shown);
    chart_->setFactor(i, look.factor);
    chart_->setColor(i, fromColorRef(look.color));
  }
  chart_->set3D(s.view3D);
  chart_->setLogScale(s.logScale);
  chart_->setGradient(fromColorRef(s.chartColorStart), fromColorRef(s.chartColorEnd));
  chart_->setFollowing(false);
  chart_->refresh();
}

void MainWindow::onScrollLaterClicked() {
  chart_->scrollHorizontal(10);
  resetZoomButton_->setEnabled(true);
}

void MainWindow::onScrollDownClicked() {
  chart_->scrollVertical(-10);
  resetZoomButton_->setEnabled(true);
}

void MainWindow::onScrollUpClicked() {
  chart_->scrollVertical(10);
  resetZoomButton_->setEnabled(true);
}

void MainWindow::onScrollEarlierClicked() {
  chart_->scrollHorizontal(-10);
  resetZoomButton_->setEnabled(true);
}

void MainWindow::onZoomInClicked() {
  chart_->zoomPercent(120);
  resetZoomButton_->setEnabled(true);
}

void MainWindow::onZoomOutClicked() {
  chart_->zoomPercent(80);
  resetZoomButton_->setEnabled(true);
}

void MainWindow::onResetZoomClicked() {
  chart_->setFollowing(false);
  chart_->undoZoom();
  chart_->setAxisAutomatic(chart_->xAxis, true);
  // The value axis scales itself again too: after the arrow buttons alone
  // nothing else would ever bring its automatic range back.
  chart_->setAxisAutomatic(chart_->yAxis, true);
  chart_->setAxisAutomatic(chart_->yAxis2, true);
  followButton_->setEnabled(true);
  resetZoomButton_->setEnabled(false);
  chart_->refresh();
}

void MainWindow::onFollowClicked() {
  chart_->setFollowing(true);
  chart_->setAxisAutomatic(chart_->xAxis, false);
  followButton_->setEnabled(false);
  resetZoomButton_->setEnabled(true);
  chart_->applyFollowWindow(chart_->pointCount());
  chart_->refresh();
}

void MainWindow::onClearClicked() {
  if (showingHistory_) return;  // history is never cleared: it is the database's
  saveAction_->setEnabled(false);
  live_.clear();
}

// ---------------------------------------------------------------------------
// History

const ResultsLog& MainWindow::shownLog() const { return showingHistory_ ? historyLog_ : live_; }

void MainWindow::showLog(bool history) {
  showingHistory_ = history;
  chart_->setResultsLog(history ? &historyLog_ : &live_);
  resultsView_->setModel(history ? historyModel_ : model_);
  fitResultColumns(resultsView_, kGridColumnWidths);  // the new model reset them
  historyBanner_->setVisible(history);
  liveAction_->setEnabled(history);
  clearButton_->setEnabled(!history);
  const ResultsLog& log = shownLog();
  if (!log.isEmpty()) {
    const QModelIndex last = resultsView_->model()->index(log.count() - 1, 0);
    resultsView_->follow(last);
  }
  chart_->refresh();
}

void MainWindow::onHistoryTriggered() {
  historyDialog_->setDays(days_);
  if (seams::execModal(historyDialog_) != QDialog::Accepted) return;
  ResultReader& reader = host_.historyReader();
  if (!reader.hasDatabase()) {
    seams::warningBox(this, QStringLiteral(u"Нет доступа к базе данных результатов!"));
    return;
  }
  // Read in the background, step by step; the table and the chart go on
  // showing what they show until the history is there.
  reader.cancel();
  if (showingHistory_) showLog(false);
  historyFrom_ = historyDialog_->from();
  historyTo_ = historyDialog_->to();
  historyLog_.endLoad();
  historyLog_.clear();
  historyLog_.beginLoad();
  historyProgressBar_->setValue(0);
  historyProgress_->setVisible(true);
  reader.readHistory(historyFrom_, historyTo_);
}

void MainWindow::onHistoryChunk(const QVector<Result>& results) {
  for (const Result& r : results) historyLog_.append(r);
  host_.historyReader().take();
}

void MainWindow::onHistoryFinished(ResultReader::Status status, int, const QString&) {
  historyProgress_->setVisible(false);
  historyLog_.endLoad();
  switch (status) {
    case ResultReader::Status::Cancelled:
      historyLog_.clear();
      return;
    case ResultReader::Status::NoDatabase:
      historyLog_.clear();
      seams::warningBox(this, QStringLiteral(u"Нет доступа к базе данных результатов!"));
      return;
    case ResultReader::Status::Done:
    case ResultReader::Status::Truncated:
      break;
  }
  const QDate from = historyFrom_, to = historyTo_;
  const QString range = from == to ? from.toString(QStringLiteral("dd.MM.yyyy"))
                                   : from.toString(QStringLiteral("dd.MM.yyyy")) + QStringLiteral(u" – ") +
                                         to.toString(QStringLiteral("dd.MM.yyyy"));
  historyTruncated_ = status == ResultReader::Status::Truncated;
  historyRange_ = range;
  showLog(true);
  showHistoryBanner();
}

void MainWindow::showHistoryBanner() {
  if (!showingHistory_) return;
  const int n = historyLog_.count();
  const int tens = n % 100, ones = n % 10;
  const QString results = tens >= 11 && tens <= 14 ? QStringLiteral(u"результатов")
                          : ones == 1              ? QStringLiteral(u"результат")
                          : ones >= 2 && ones <= 4 ? QStringLiteral(u"результата")
                                                   : QStringLiteral(u"результатов");
  const WorkMode mode = workMode_;
  const bool measuring = mode == WorkMode::Continuous || mode == WorkMode::Single || mode == WorkMode::Cyclic;
  const QString more = historyTruncated_
                           ? QStringLiteral(u" (показаны первые; выберите меньше дней, чтобы увидеть остальные)")
                           : QString();
  historyBanner_->setText(
      QStringLiteral(u"ИСТОРИЯ %1: %2 %3%4. ").arg(historyRange_).arg(n).arg(results, more) +
      (measuring ? QStringLiteral(u"Измерение продолжается; «Файл → Текущие результаты» возвращает к нему.")
                 : QStringLiteral(u"«Файл → Текущие результаты» возвращает к текущим результатам.")));
}

void MainWindow::onHistoryCancelClicked() {
  host_.historyReader().cancel();
  onHistoryFinished(ResultReader::Status::Cancelled, 0, {});
}

void MainWindow::onLiveTriggered() {
  showLog(false);
  historyLog_.clear();
}

// ---------------------------------------------------------------------------
// Files

MainWindow::SaveOutcome MainWindow::onSaveTriggered() {
  const QString name = seams::getSaveFileName(this, kDataFileFilter,
                                               dataFilePath(seams::currentDateTime().date()));
  if (name.isEmpty()) return SaveOutcome::Cancelled;
  const bool written = writeTableFile(shownLog(), name);
  // The new day of the log begins now.
  host_.restartLogDay();
  if (written) return SaveOutcome::Written;
  seams::beep();
  seams::errorBox(this,
                  QStringLiteral(u"Ошибка записи данных!\r\nЗакройте лишние приложения или перезагрузите компьютер!"));
  return SaveOutcome::Failed;
}

void MainWindow::onOpenTriggered() {
  if (showingHistory_) onLiveTriggered();
  // Results not yet saved are offered for saving before they are replaced;
  // if they were not saved after all, nothing is replaced.
  if (live_.unsaved() && seams::confirmBox(this, kNotSavedQuestion) && onSaveTriggered() != SaveOutcome::Written)
    return;
  const QString name = seams::getOpenFileName(this, kDataFileFilter, QStringLiteral("*.kvx"));
  if (name.isEmpty()) return;
  resultsView_->setVisible(false);
  const TableLoadResult result = loadTableFile(name, live_);
  resultsView_->setVisible(true);
  if (result.pointsLoaded > 0) {
    const QModelIndex current = model_->index(live_.count() - 1, 0);
    resultsView_->follow(current);
  }
  chart_->refresh();
  if (!result.ok)
    seams::warningBox(this, QStringLiteral(u"Файл слишком велик, заблокирован\r\nили содержит ошибки формата!"));
}

// ---------------------------------------------------------------------------
// Printing

QPrinter* MainWindow::printer() {
  if (!printer_) printer_ = seams::newPrinter();
  return printer_.get();
}

void MainWindow::onPrintChartTriggered() {
  QPrinter* p = printer();
  p->setDocName(QStringLiteral(u"Печать графика"));
  QString error;
  if (!printChart(*p, *chart_, &error)) seams::errorBox(this, error);
}

void MainWindow::onPrintTableTriggered() {
  QPrinter* p = printer();
  p->setPageOrientation(QPageLayout::Landscape);  // stays so afterwards
  const PrintSettings& print = host_.settings().print();
  const QFont font = protocolFont(print.fontName, print.fontSize);
  p->setDocName(QStringLiteral(u"Печать базы данных"));
  QString error;
  if (!printLines(*p, protocolLines(shownLog(), seams::now()), font, &error))
    seams::errorBox(this, error);
}

void MainWindow::onChoosePrinterTriggered() { execPrinterSetup(*printer(), this); }

void MainWindow::onChooseFontTriggered() {
  PrintSettings print = host_.settings().print();
  if (choosePrintFont(this, print)) host_.settings().setPrint(print);
}

// ---------------------------------------------------------------------------
// Settings dialogs: each edits a copy and hands it back to the settings

void MainWindow::onOptionsTriggered() {
  if (!permitted(Command::Options)) return;
  MeasuringSettings settings = host_.settings().measuring();
  optionsDialog_->fill(settings);
  if (seams::execModal(optionsDialog_) != QDialog::Accepted) return;
  optionsDialog_->takeOver(settings);
  // Taken in and saved; the port is opened again, also under its old name.
  const bool samePort = settings.portName == host_.settings().measuring().portName;
  host_.settings().setMeasuring(settings);
  if (samePort) host_.reopenPort();
}

void MainWindow::onAnalyzersTriggered() {
  if (!permitted(Command::Options)) return;
  const Settings& settings = host_.settings();
  analyzersDialog_->fill(settings.measuring().address, settings.files().lineAnalyzers(settings.measuring()));
  if (seams::execModal(analyzersDialog_) != QDialog::Accepted) return;
  QString error;
  if (!host_.settings().setLineAnalyzers(analyzersDialog_->chosen(), &error))
    seams::errorBox(this, QStringLiteral(u"Ошибка записи файла настроек анализатора:\r\n%1").arg(error));
}

void MainWindow::onViewParametersTriggered() {
  ViewSettings settings = host_.settings().view();
  viewDialog_->fill(settings);
  if (seams::execModal(viewDialog_) != QDialog::Accepted) return;
  if (!viewDialog_->takeOver(settings)) return;  // the dialog has checked every factor
  host_.settings().setView(settings);
}

void MainWindow::onFuelParametersTriggered() {
  if (!permitted(Command::Fuel)) return;
  fuelDialog_->showFuel(host_.settings().fuels(), uint8_t(host_.settings().fuelIndex()));
  if (seams::execModal(fuelDialog_) != QDialog::Accepted) {
    host_.settings().nameOwnFuel(fuelDialog_->table()[kFuelCount - 1].name);
    return;
  }
  // The dialog has checked every field: all are taken over, or nothing is.
  FuelTable fuels;
  if (!fuelDialog_->takeOver(fuels)) return;
  host_.settings().setFuels(fuels, fuelDialog_->selectedFuel());
}

// ---------------------------------------------------------------------------
// Emissions

void MainWindow::onSubstitutesTriggered() {
  if (!permitted(Command::Substitutes)) return;
  const int slot = host_.session() ? host_.session()->analyzer(selected_)->slot() : 1;
  substitutesDialog_->fill(QStringLiteral(u"Анализатор %1").arg(slot), host_.settings().emissions().validation());
  if (seams::execModal(substitutesDialog_) != QDialog::Accepted) return;
  emissions::SubstituteEntry entry;
  if (!substitutesDialog_->takeOver(&entry)) return;  // the dialog has checked every field
  host_.enterSubstitutes(entry, selected_);
}

void MainWindow::onEmissionLimitsTriggered() {
  if (!permitted(Command::Limits)) return;
  emissions::EmissionSettings settings = host_.settings().emissions();
  emissionLimitsDialog_->fill(settings);
  if (seams::execModal(emissionLimitsDialog_) != QDialog::Accepted) return;
  if (!emissionLimitsDialog_->takeOver(settings)) return;  // the dialog has checked every field
  QString error;
  if (!host_.settings().setEmissions(settings, &error)) {
    seams::beep();
    seams::errorBox(this, QStringLiteral(u"Нормативы выбросов не записаны:\r\n%1\r\n%2")
                              .arg(QDir::toNativeSeparators(host_.settings().emissionsPath()), error));
  }
}

void MainWindow::onSwitchesChanged(bool maintenance, bool testGas, bool plantOperating) {
  maintenanceAction_->setChecked(maintenance);
  testGasAction_->setChecked(testGas);
  // What keeps results out of the averages stays in sight.
  maintenanceLabel_->setText(maintenance && testGas ? QStringLiteral(u"Техобслуживание, проверка газом")
                             : maintenance          ? QStringLiteral(u"Техобслуживание")
                                                    : QStringLiteral(u"Проверка поверочным газом"));
  maintenanceLabel_->setVisible(maintenance || testGas);
  plantAction_->setChecked(plantOperating);
}

void MainWindow::onAcknowledgeAlarmsTriggered() {
  if (permitted(Command::Acknowledge)) host_.acknowledgeAlarms(selected_);
}

void MainWindow::onEmissionReportTriggered() {
  emissionReportDialog_->setSource([this](const QDate& from, const QDate& to) { host_.computeReport(from, to); },
                                   host_.settings().emissions().intervalMinutes);
  emissionReportDialog_->setDays(days_);
  seams::execModal(emissionReportDialog_);
  host_.reportReader().cancel();
}

void MainWindow::printEmissionReport() {
  QPrinter* p = printer();
  QString error;
  emissions::ReportTable table = emissionReportDialog_->table();
  table.trailNote = reportTrailNote_;
  if (!::printEmissionReport(*p, table, &error)) seams::errorBox(emissionReportDialog_, error);
}

void MainWindow::saveEmissionReportPdf() {
  const QString proposed =
      QFileInfo(seams::executablePath()).absoluteDir().filePath(emissionReportDialog_->baseName() + QStringLiteral(".pdf"));
  const QString name = seams::getSaveFileName(emissionReportDialog_, QStringLiteral(u"Файлы PDF(*.pdf)|*.pdf"), proposed);
  if (name.isEmpty()) return;
  // A printer of its own: the program's printer keeps its choice.
  QPrinter pdf(QPrinter::HighResolution);
  pdf.setOutputFormat(QPrinter::PdfFormat);
  pdf.setPageSize(QPageSize(QPageSize::A4));
  pdf.setOutputFileName(name);
  QString error;
  emissions::ReportTable table = emissionReportDialog_->table();
  table.trailNote = reportTrailNote_;
  if (!::printEmissionReport(pdf, table, &error))
    seams::errorBox(emissionReportDialog_, QStringLiteral(u"Отчёт не сохранён:\r\n%1\r\n%2").arg(name, error));
}

void MainWindow::exportEmissionReportCsv() {
  const QString proposed =
      QFileInfo(seams::executablePath()).absoluteDir().filePath(emissionReportDialog_->baseName() + QStringLiteral(".csv"));
  const QString name = seams::getSaveFileName(emissionReportDialog_, QStringLiteral(u"Файлы CSV(*.csv)|*.csv"), proposed);
  if (name.isEmpty()) return;
  QString error;
  if (!emissions::writeReportCsv(name, emissionReportDialog_->report(), emissionReportDialog_->csvFormat(), &error,
                                 reportTrailNote_))
    seams::errorBox(emissionReportDialog_, QStringLiteral(u"Отчёт не сохранён:\r\n%1\r\n%2").arg(name, error));
}

// ---------------------------------------------------------------------------
// Audit trail and accounts

bool MainWindow::permitted(Command command) {
  const AccessState state = host_.access().state();
  if (state.allows(command)) return true;
  seams::warningBox(this, state.refusal(command));
  return false;
}

void MainWindow::showUser() {
  const AccessState state = host_.access().state();
  gate_->apply(state);
  logoutAction_->setEnabled(state.role.has_value());
  userLabel_->setVisible(state.accountsExist);
  userLabel_->setText(state.role ? QStringLiteral(u"Пользователь: %1 (%2)").arg(state.user, roleText(*state.role))
                                 : QStringLiteral(u"Вход не выполнен"));
}

void MainWindow::onAuditLogTriggered() {
  if (!permitted(Command::History)) return;
  // A read-only connection of the window's own: the keeper's is in its thread.
  if (!auditView_) auditView_ = std::make_unique<AuditTrail>();
  if (auditView_->databasePath() != host_.databasePath() || !auditView_->isOpen()) {
    auditView_->close();
    if (!host_.databasePath().isEmpty()) auditView_->openForReading(host_.databasePath());
  }
  auditLogDialog_->setTrail(auditView_->isOpen() ? auditView_.get() : nullptr);
  seams::execModal(auditLogDialog_);
}

void MainWindow::onUsersTriggered() {
  if (!permitted(Command::Users)) return;
  usersDialog_->refresh();
  seams::execModal(usersDialog_);
}

void MainWindow::onLoginTriggered() {
  loginDialog_->prepare(host_.access().state().user);
  seams::execModal(loginDialog_);
}

void MainWindow::onLogoutTriggered() { host_.access().logout(); }
