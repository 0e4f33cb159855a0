#include "app/Korvex_ModbusRTU_MainChat.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QScreen>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/glyphs.h"
#include "app/message_timer.h"
#include "acquisition/state_texts.h"
#include "app/platform_seams.h"
#include "device/Korvex_ModbusRTU_IOPort.h"
#include "device/fuel_table.h"
#include "dialogs/Korvex_ModbusRTU_About.h"
#include "dialogs/Korvex_ModbusRTU_SetFuel.h"
#include "dialogs/Korvex_ModbusRTU_SetParam.h"
#include "dialogs/Korvex_ModbusRTU_SetUnit.h"
#include "print/chart_print.h"
#include "print/printer_setup.h"
#include "print/table_protocol.h"
#include "storage/settings_files.h"
#include "storage/table_files.h"
#include "view/results_table.h"
#include "view/trend_chart.h"
#include "view/value_format.h"

TForm1* Form1 = nullptr;
TAboutBox* AboutBox = nullptr;
TFormFuel* FormFuel = nullptr;
TFormSetView* FormSetView = nullptr;
TFormControl* FormControl = nullptr;

void CreateForms() {
  Form1 = new TForm1;
  AboutBox = new TAboutBox(Form1);
  FormFuel = new TFormFuel(Form1);
  FormSetView = new TFormSetView(Form1);
  FormControl = new TFormControl(Form1);
}

void DestroyForms() {
  delete FormControl;
  FormControl = nullptr;
  delete FormSetView;
  FormSetView = nullptr;
  delete FormFuel;
  FormFuel = nullptr;
  delete AboutBox;
  AboutBox = nullptr;
  delete Form1;
  Form1 = nullptr;
}

namespace {

const int kGridColumnWidths[16] = {48, 66, 53, 46, 45, 48, 48, 50, 50, 50, 45, 50, 44, 38, 38, 38};
const QString kDataFileFilter = QStringLiteral(u"Файлы данных KVX(*.kvx)|*.kvx");

QToolButton* PictureButton(QWidget* parent, const QIcon& icon, const QSize& size, const QString& tip,
                           const QString& accessibleName) {
  auto* b = new QToolButton(parent);
  b->setIcon(icon);
  b->setIconSize(QSize(size.width() - 10, size.height() - 10).expandedTo(QSize(16, 16)));
  b->setFixedSize(size);
  b->setToolTip(tip);
  b->setAccessibleName(accessibleName);
  return b;
}

QColor FromColorRef(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent), Poll(*this, DeviceRecord, ProgramSettings, Reply, FuelTable) {
  setWindowTitle(QStringLiteral("ModbusRTU"));
  setWindowIcon(glyphs::WindowIcon(glyphs::Window::Main));
  Timer1 = new TTimer(this);
  Timer1->SetInterval(1000);
  Timer1->OnTimer = [this] { Timer1Timer(); };
  Timer2 = new TTimer(this);
  Timer2->SetInterval(10);
  Timer2->OnTimer = [this] { Timer2Timer(); };
  BuildLayout();
  BuildMenu();
  ConnectHandlers();
  FormCreate();
}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::BuildLayout() {
  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  auto* top = new QHBoxLayout;
  top->setContentsMargins(0, 0, 0, 0);
  top->setSpacing(0);
  outer->addLayout(top, 1);

  // Left column: the measurement controls, the state, the chart pad.
  Panel1 = new QWidget(central);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFixedWidth(133);
  auto* left = new QVBoxLayout(Panel1);
  left->setContentsMargins(0, 0, 0, 0);
  left->setSpacing(0);
  top->addWidget(Panel1);

  auto* modes = new QWidget(Panel1);
  modes->setFixedSize(133, 290);
  left->addWidget(modes);
  left->addStretch(1);

  PanelIzm = new QLabel(QStringLiteral(u"ИЗМЕРЕНИЕ"), modes);
  PanelIzm->setGeometry(1, 1, 131, 22);
  PanelIzm->setAlignment(Qt::AlignCenter);
  PanelIzm->setFrameShape(QFrame::Panel);
  PanelIzm->setFrameShadow(QFrame::Raised);
  QFont heading = PanelIzm->font();
  heading.setBold(true);
  PanelIzm->setFont(heading);

  struct ModeRow {
    QToolButton** button;
    QLabel** label;
    QToolButton** lamp;
    glyphs::Mode glyph;
    QString text;
    QString tip;
    QString lampTip;
    int height;
  };
  const ModeRow rows[4] = {
      {&BitBtnCikl, &Label1, &SpeedButtonLedCikl, glyphs::Mode::Cyclic, QStringLiteral(u"Циклически"),
       QStringLiteral(u"Запустить циклическое измерение"),
       QStringLiteral(u"Горит, пока выбрано циклическое измерение"), 37},
      {&BitBtnOdnokr, &Label2, &SpeedButtonLedOdnok, glyphs::Mode::Single,
       QStringLiteral(u"Однократно"), QStringLiteral(u"Запустить однократное измерение"),
       QStringLiteral(u"Горит, пока выбрано однократное измерение"), 37},
      {&BitBtnPost, &Label3, &SpeedButtonLedConst, glyphs::Mode::Continuous,
       QStringLiteral(u"Постоянно"), QStringLiteral(u"Запустить непрерывное измерение"),
       QStringLiteral(u"Горит, пока выбрано непрерывное измерение"), 41},
      {&BitBtnStop, &Label4, &SpeedButtonStop, glyphs::Mode::Stop, QStringLiteral(u"Стоп"),
       QStringLiteral(u"Остановить измерение"), QStringLiteral(u"Горит после остановки измерения"),
       37},
  };
  const QIcon lamp = glyphs::LampIcon();
  int y = 28;
  for (const ModeRow& row : rows) {
    QToolButton* b = PictureButton(modes, glyphs::ModeIcon(row.glyph), QSize(41, row.height), row.tip,
                                   row.tip);
    b->move(4, y);
    b->setIconSize(QSize(28, 28));
    b->setEnabled(false);
    *row.button = b;
    auto* label = new QLabel(row.text, modes);
    label->setGeometry(50, y + 2, 82, 16);
    *row.label = label;
    auto* led = new QToolButton(modes);
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

  LabelMode = new QLabel(QStringLiteral(u"ПРИБОР НЕ ПОДКЛЮЧЕН "), modes);
  LabelMode->setGeometry(2, y + 2, 128, 61);
  LabelMode->setAlignment(Qt::AlignCenter);
  LabelMode->setWordWrap(true);
  LabelMode->setAutoFillBackground(true);
  QFont small = LabelMode->font();
  small.setPointSize(6);
  LabelMode->setFont(small);
  LabelMode->setToolTip(QStringLiteral(u"Состояние газоанализатора"));

  ProgressBar1 = new QProgressBar(modes);
  ProgressBar1->setGeometry(8, y + 67, 116, 14);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setVisible(false);

  // Chart pad, three by three.
  Panel3 = new QWidget(Panel1);
  Panel3->setFixedSize(133, 125);
  left->addWidget(Panel3);
  auto* pad = new QGridLayout(Panel3);
  pad->setContentsMargins(12, 8, 12, 8);
  pad->setSpacing(4);
  struct PadButton {
    QToolButton** button;
    glyphs::Pad glyph;
    QString tip;
    int row, col;
  };
  const PadButton padButtons[9] = {
      {&BitBtn2, glyphs::Pad::ZoomOut, QStringLiteral(u"Уменьшить масштаб графика"), 0, 0},
      {&SpeedButton2, glyphs::Pad::ScrollDown, QStringLiteral(u"Сдвинуть график к меньшим значениям"), 0, 1},
      {&BitBtn1, glyphs::Pad::ZoomIn, QStringLiteral(u"Увеличить масштаб графика"), 0, 2},
      {&SpeedButton1, glyphs::Pad::ScrollRight, QStringLiteral(u"Сдвинуть график к более поздним точкам"), 1, 0},
      {&BitBtn3, glyphs::Pad::Reset, QStringLiteral(u"Отменить масштаб и сдвиг (двойной щелчок по графику)"), 1, 1},
      {&SpeedButton4, glyphs::Pad::ScrollLeft, QStringLiteral(u"Сдвинуть график к более ранним точкам"), 1, 2},
      {&BitBtn5, glyphs::Pad::Clear, QStringLiteral(u"Очистить график и таблицу"), 2, 0},
      {&SpeedButton3, glyphs::Pad::ScrollUp, QStringLiteral(u"Сдвинуть график к большим значениям"), 2, 1},
      {&BitBtn4, glyphs::Pad::Follow, QStringLiteral(u"Следить за последними точками"), 2, 2},
  };
  for (const PadButton& p : padButtons) {
    QToolButton* b = PictureButton(Panel3, glyphs::PadIcon(p.glyph), QSize(33, 34), p.tip, p.tip);
    b->setIconSize(QSize(22, 22));
    b->setFocusPolicy(Qt::NoFocus);
    *p.button = b;
    pad->addWidget(b, p.row, p.col);
  }

  Chart1 = new TrendChart(central);
  Chart1->setObjectName(QStringLiteral("Chart1"));
  top->addWidget(Chart1, 1);

  // Results table along the bottom edge.
  Grid = new ResultsTable(this);
  Grid->SetRowCount(2);
  StringGrid1 = new QTableView(central);
  StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
  StringGrid1->setModel(Grid);
  StringGrid1->setFixedHeight(85);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setShowGrid(true);
  StringGrid1->setFrameShape(QFrame::NoFrame);
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid1->setToolTip(QStringLiteral(u"Таблица полученных данных от АСК ЗВ"));
  StringGrid1->setWordWrap(false);
  StringGrid1->verticalHeader()->setVisible(false);
  // A fixed row height: sizing rows to their contents costs seconds a row at a day's size.
  StringGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  StringGrid1->verticalHeader()->setDefaultSectionSize(20);
  StringGrid1->verticalHeader()->setMinimumSectionSize(20);
  StringGrid1->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  StringGrid1->horizontalHeader()->setMinimumSectionSize(10);
  StringGrid1->horizontalHeader()->setFixedHeight(20);
  StringGrid1->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  StringGrid1->horizontalHeader()->setHighlightSections(false);
  for (int c = 0; c < 16; ++c) StringGrid1->setColumnWidth(c, kGridColumnWidths[c]);
  QPalette gridPalette = StringGrid1->palette();
  gridPalette.setColor(QPalette::Base, gridPalette.color(QPalette::Button));
  StringGrid1->setPalette(gridPalette);
  outer->addWidget(StringGrid1);

  resize(808, 510);
}

void TForm1::BuildMenu() {
  QMenuBar* bar = menuBar();
  N1 = bar->addMenu(QStringLiteral(u"Файл"));
  N8 = N1->addAction(QStringLiteral(u"Сохранить"));
  N9 = N1->addAction(QStringLiteral(u"Открыть"));
  N11 = N1->addSeparator();
  N12 = N1->addMenu(QStringLiteral(u"Печать"));
  N13 = N12->addAction(QStringLiteral(u"Графика"));
  N14 = N12->addAction(QStringLiteral(u"Таблицы"));
  N15 = N1->addMenu(QStringLiteral(u"Установки печати"));
  N16 = N15->addAction(QStringLiteral(u"Выбор принтера"));
  N17 = N15->addAction(QStringLiteral(u"Выбор шрифта"));
  N10 = N1->addSeparator();
  N4 = N1->addAction(QStringLiteral(u"Выход"));
  N3 = bar->addMenu(QStringLiteral(u"Сервис"));
  N6 = N3->addAction(QStringLiteral(u"Опции"));
  N5 = N3->addAction(QStringLiteral(u"Параметры просмотра"));
  N7 = N3->addAction(QStringLiteral(u"Параметры топлива и расчетов"));
  N2 = bar->addAction(QStringLiteral(u"О программе"));
  N8->setEnabled(false);
}

void TForm1::ConnectHandlers() {
  connect(BitBtnCikl, &QToolButton::clicked, this, &TForm1::BitBtnCiklClick);
  connect(BitBtnOdnokr, &QToolButton::clicked, this, &TForm1::BitBtnOdnokrClick);
  connect(BitBtnPost, &QToolButton::clicked, this, &TForm1::BitBtnPostClick);
  connect(BitBtnStop, &QToolButton::clicked, this, &TForm1::BitBtnStopClick);
  connect(SpeedButton1, &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
  connect(SpeedButton2, &QToolButton::clicked, this, &TForm1::SpeedButton2Click);
  connect(SpeedButton3, &QToolButton::clicked, this, &TForm1::SpeedButton3Click);
  connect(SpeedButton4, &QToolButton::clicked, this, &TForm1::SpeedButton4Click);
  connect(BitBtn1, &QToolButton::clicked, this, &TForm1::BitBtn1Click);
  connect(BitBtn2, &QToolButton::clicked, this, &TForm1::BitBtn2Click);
  connect(BitBtn3, &QToolButton::clicked, this, &TForm1::BitBtn3Click);
  connect(BitBtn4, &QToolButton::clicked, this, &TForm1::BitBtn4Click);
  connect(BitBtn5, &QToolButton::clicked, this, &TForm1::BitBtn5Click);
  connect(Chart1, &TrendChart::Chart1Scroll, this, &TForm1::Chart1Scroll);
  connect(Chart1, &TrendChart::Chart1Zoom, this, &TForm1::Chart1Zoom);
  connect(Chart1, &TrendChart::ChartDoubleClick, this, &TForm1::BitBtn3Click);
  connect(N8, &QAction::triggered, this, [this] { SaveCharDialog(); });
  connect(N9, &QAction::triggered, this, &TForm1::N9Click);
  connect(N13, &QAction::triggered, this, &TForm1::N13Click);
  connect(N14, &QAction::triggered, this, &TForm1::N14Click);
  connect(N16, &QAction::triggered, this, &TForm1::N16Click);
  connect(N17, &QAction::triggered, this, &TForm1::N17Click);
  connect(N4, &QAction::triggered, this, &TForm1::N4Click);
  connect(N6, &QAction::triggered, this, &TForm1::N6Click);
  connect(N5, &QAction::triggered, this, &TForm1::N5Click);
  connect(N7, &QAction::triggered, this, &TForm1::N7Click);
  connect(N2, &QAction::triggered, this, &TForm1::N2Click);
}

// ---------------------------------------------------------------------------
// Life cycle

void TForm1::FormCreate() {
  // 1
  ProgressBar1->setVisible(false);
  BitBtnStop->setEnabled(false);
  BitBtnPost->setEnabled(false);
  BitBtnOdnokr->setEnabled(false);
  BitBtnCikl->setEnabled(false);
  DataNotSaved = false;
  BitBtn4->setEnabled(true);
  BitBtn3->setEnabled(false);
  // 2
  for (int c = 0; c < 16; ++c) Grid->SetCell(c, 0, ResultHeaders[c]);
  // 3-5
  DeviceRecord.DeviceSlot = 1;
  DeviceRecord.DeviceAddress = 1;
  if (!SettingsLoad()) {
    seams::Beep();
    seams::ErrorBox(this, QStringLiteral(u"Файл конфигурации отсутствует!\r\nСброс конфигурации!"));
    SettingsReset();
    SettingsSave();
  }
  // 6
  CreatePort();
  // 7
  DeviceRecord.DeviceAddress = ProgramSettings.NetAddress;
  DeviceRecord.LogDate = seams::Now();
  DeviceRecord.DeviceState = kStateNotConnected;
  DeviceRecord.WorkMode = kModeStartUp;
  DeviceRecord.FuelIndex = 0;
  // 8
  Timer1->SetInterval(1000);
  Timer1->SetEnabled(true);
  // 9
  Chart1Init();
  // 10
  DeviceRecord.Measurement.FaultBits = 0;
}

void TForm1::FormActivate() { seams::ExecModal(AboutBox); }

bool TForm1::event(QEvent* event) {
  // The about box greets the operator once, at the first activation; returning
  // from a modal dialog activates the window again and must not repeat it.
  if (event->type() == QEvent::WindowActivate && !activated_) {
    activated_ = true;
    QTimer::singleShot(0, this, [this] {
      if (AboutBox) FormActivate();
    });
  }
  return QMainWindow::event(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
  bool CanClose = true;
  FormCloseQuery(CanClose);
  if (CanClose)
    event->accept();
  else
    event->ignore();
}

void TForm1::FormCloseQuery(bool& CanClose) {
  if (!seams::ConfirmBox(this, QStringLiteral(u"Программа будет закрыта?"))) {
    // The operator stays: nothing is saved and the analyzer is not stopped.
    CanClose = false;
    return;
  }
  if (DataNotSaved && seams::ConfirmBox(this, QStringLiteral(u"Данные не записаны! Сохранить?")) &&
      SaveCharDialog() == SaveOutcome::Failed) {
    // Closing now would lose the results the operator asked to keep: stay,
    // so the save can be tried again (or declined).
    CanClose = false;
    return;
  }
  DeviceRecord.RequestKind = kRequestStop;
  SendRequest(kRequestStop);
  QThread::msleep(100);
}

void TForm1::FormDestroy() { DestoryPort(); }

void TForm1::N4Click() { close(); }

void TForm1::N2Click() { seams::ExecModal(AboutBox); }

// ---------------------------------------------------------------------------
// Serial port

void TForm1::CreatePort() {
  Timer1->SetEnabled(false);
  if (!ComPort) {
    ComPort = new TIOPort(ShortStringText(ProgramSettings.PortName));
    ComPort->SetParameters(QStringLiteral("9600,N,8,2"));
    ComPort->Tag = QStringLiteral("KVX");
    ComPort->AuxValue = 0;
    ComPort->OnReceive = [this](TIOPort* Sender, uint8_t Value, bool LineError) {
      Recieve(Sender, Value, LineError);
    };
  }
  Timer1->SetEnabled(true);
  Timer2->SetEnabled(true);
}

void TForm1::DestoryPort() {
  if (!ComPort) return;
  ComPort->SetDtr(false);
  ComPort->SetRts(false);
  delete ComPort;
  ComPort = nullptr;
}

void TForm1::OpenPort() {
  DestoryPort();
  CreatePort();
}

void TForm1::Timer2Timer() {
  if (ComPort) ComPort->Poll();
}

void TForm1::Recieve(TIOPort*, uint8_t Value, bool LineError) {
  Reply.Recieve(Value, LineError, DeviceRecord.LinkState);
}

void TForm1::SendRequest(uint8_t kind) {
  ::SendRequest(ComPort, DeviceRecord.DeviceAddress, kind, DeviceRecord.LinkState);
}

// ---------------------------------------------------------------------------
// Poll cycle and modes

void TForm1::Timer1Timer() { Poll.Tick(); }

void TForm1::ModeButtonClicked(uint8_t request, QToolButton* lamp) {
  Poll.ModeRequest = request;
  BitBtnStop->setEnabled(true);
  BitBtnPost->setEnabled(false);
  BitBtnOdnokr->setEnabled(false);
  BitBtnCikl->setEnabled(false);
  lamp->setEnabled(true);
  SpeedButtonStop->setEnabled(false);
}

void TForm1::BitBtnCiklClick() { ModeButtonClicked(kAskCyclic, SpeedButtonLedCikl); }
void TForm1::BitBtnPostClick() { ModeButtonClicked(kAskContinuous, SpeedButtonLedConst); }
void TForm1::BitBtnOdnokrClick() { ModeButtonClicked(kAskSingle, SpeedButtonLedOdnok); }

void TForm1::BitBtnStopClick() {
  Poll.ModeRequest = kAskStop;
  BitBtnStop->setEnabled(false);
  BitBtnPost->setEnabled(false);
  BitBtnOdnokr->setEnabled(false);
  BitBtnCikl->setEnabled(false);
  SpeedButtonLedConst->setEnabled(false);
  SpeedButtonLedOdnok->setEnabled(false);
  SpeedButtonLedCikl->setEnabled(false);
  SpeedButtonStop->setEnabled(true);
}

void TForm1::ShowState(const QString& text) {
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  LabelMode->setText(shown);
}

void TForm1::ShowLinkAlarm(bool alarm) {
  QPalette pal = LabelMode->palette();
  pal.setColor(QPalette::Window, alarm ? QColor(Qt::red) : palette().color(QPalette::Button));
  LabelMode->setPalette(pal);
}

void TForm1::SetCaption(const QString& caption) { setWindowTitle(caption); }

void TForm1::SetProgressVisible(bool visible) { ProgressBar1->setVisible(visible); }

void TForm1::SetProgress(int position) { ProgressBar1->setValue(position); }

void TForm1::EnableModeButtons() {
  BitBtnPost->setEnabled(true);
  BitBtnOdnokr->setEnabled(true);
  BitBtnCikl->setEnabled(true);
}

void TForm1::LinkLost() {
  Timer1->SetEnabled(false);
  seams::ErrorBox(
      this, QStringLiteral(u"ВНИМАНИЕ!\r\nСБОЙ В РАБОТЕ ПРИБОРА!\r\nПРОВЕРТЕ ПОДКЛЮЧЕНИЕ И ПИТАНИЕ!"));
  BitBtnStopClick();
  Timer1->SetEnabled(true);
}

// ---------------------------------------------------------------------------
// Results

void TForm1::WievResult() {
  const TMeasurement& m = DeviceRecord.Measurement;
  Chart1->AppendResult(ResultChartValues(m));
  if (!Grid->Cells(0, 1).isEmpty()) Grid->AddRow();
  const int last = Grid->RowCount() - 1;
  // The new row becomes the current one; the current column stays.
  const int column = std::max(StringGrid1->currentIndex().column(), 0);
  const QModelIndex current = Grid->index(last - 1, column);
  StringGrid1->setCurrentIndex(current);
  StringGrid1->scrollTo(current);
  Grid->SetRow(last, ResultRowCells(m, Poll.ResultTime, Chart1->PointCount() - 1));
  if (Chart1->FollowLast) {
    Chart1->ApplyFollowWindow(Chart1->PointCount());
    Chart1->Refresh();
  }
  DataNotSaved = true;
  N8->setEnabled(true);
}

void TForm1::DataToCaption() { setWindowTitle(MeasurementCaption(DeviceRecord.Measurement)); }

// ---------------------------------------------------------------------------
// Chart

void TForm1::Chart1Init() {
  for (int i = 0; i < kChannelCount; ++i) {
    Chart1->SetShown(i, ProgramSettings.ChannelView[i].Show != 0);
    Chart1->SetFactor(i, ProgramSettings.ChannelView[i].Multiplier);
  }
  Chart1->Set3D(ProgramSettings.View3D != 0);
  Chart1->SetLogScale(ProgramSettings.LogScale != 0);
  Chart1->SetGradient(FromColorRef(ProgramSettings.ChartColorStart),
                      FromColorRef(ProgramSettings.ChartColorEnd));
  for (int i = 0; i < kChannelCount; ++i) Chart1->SetColor(i, FromColorRef(ProgramSettings.SeriesColor[i]));
  Chart1->FollowLast = false;
  Chart1->Refresh();
}

void TForm1::ChartClear() {
  Chart1->ClearSeries();
  Grid->SetRowCount(2);
  Grid->SetRow(1, QStringList());
  DataNotSaved = false;
}

void TForm1::SpeedButton1Click() {
  Chart1->ScrollHorizontal(10);
  BitBtn3->setEnabled(true);
}
void TForm1::SpeedButton2Click() {
  Chart1->ScrollVertical(-10);
  BitBtn3->setEnabled(true);
}
void TForm1::SpeedButton3Click() {
  Chart1->ScrollVertical(10);
  BitBtn3->setEnabled(true);
}
void TForm1::SpeedButton4Click() {
  Chart1->ScrollHorizontal(-10);
  BitBtn3->setEnabled(true);
}

void TForm1::BitBtn1Click() {
  Chart1->ZoomPercent(120);
  BitBtn3->setEnabled(true);
}

void TForm1::BitBtn2Click() {
  Chart1->ZoomPercent(80);
  BitBtn3->setEnabled(true);
}

void TForm1::BitBtn3Click() {
  Chart1->FollowLast = false;
  Chart1->UndoZoom();
  Chart1->SetAxisAutomatic(Chart1->xAxis, true);
  // The value axis scales itself again too: after the arrow buttons alone
  // nothing else would ever bring its automatic range back.
  Chart1->SetAxisAutomatic(Chart1->yAxis, true);
  Chart1->SetAxisAutomatic(Chart1->yAxis2, true);
  BitBtn4->setEnabled(true);
  BitBtn3->setEnabled(false);
  Chart1->Refresh();
}

void TForm1::BitBtn4Click() {
  Chart1->FollowLast = true;
  Chart1->SetAxisAutomatic(Chart1->xAxis, false);
  BitBtn4->setEnabled(false);
  BitBtn3->setEnabled(true);
  Chart1->ApplyFollowWindow(Chart1->PointCount());
  Chart1->Refresh();
}

void TForm1::BitBtn5Click() {
  N8->setEnabled(false);
  ChartClear();
}

void TForm1::Chart1Scroll() { BitBtn3->setEnabled(true); }
void TForm1::Chart1Zoom() { BitBtn3->setEnabled(true); }

// ---------------------------------------------------------------------------
// Files

void TForm1::SaveChartToFile(const QString& fileName, bool clear) { WriteResults(fileName, clear); }

bool TForm1::WriteResults(const QString& fileName, bool clear) {
  // Restores the timer's state rather than starting it, so a write inside
  // "Открыть" leaves the timer stopped until the load is done.
  const bool timerWasOn = Timer1->Enabled();
  Timer1->SetEnabled(false);
  const bool written = WriteTableFile(*Grid, fileName);
  if (!written) {
    seams::Beep();
    seams::ErrorBox(this, QStringLiteral(
                              u"Ошибка записи данных!\r\nЗакройте лишние приложения или перезагрузите компьютер!"));
  }
  // A log that could not be written keeps the day's results in the table and
  // DataNotSaved set: they go into the next log or the save offered on
  // closing. LogDate moves on either way, so the failed write is not repeated
  // every tick and the next log carries the name of the day it closes.
  if (clear && written) ChartClear();
  DeviceRecord.LogDate = seams::Now();
  Timer1->SetEnabled(timerWasOn);
  return written;
}

TForm1::SaveOutcome TForm1::SaveCharDialog() {
  const QString proposed = PathWithoutExtension(seams::ExecutablePath()) + QLatin1Char('-') +
                           seams::CurrentDateTime().date().toString(QStringLiteral("yy-MM-dd")) +
                           QStringLiteral(".kvx");
  const QString name = seams::GetSaveFileName(this, kDataFileFilter, proposed);
  if (name.isEmpty()) return SaveOutcome::Cancelled;
  return WriteResults(name, false) ? SaveOutcome::Written : SaveOutcome::Failed;
}

void TForm1::N9Click() {
  Timer1->SetEnabled(false);
  // Results not yet saved are offered for saving before they are replaced;
  // if they were not saved after all, nothing is replaced.
  if (DataNotSaved && seams::ConfirmBox(this, QStringLiteral(u"Данные не записаны! Сохранить?")) &&
      SaveCharDialog() != SaveOutcome::Written) {
    Timer1->SetEnabled(true);
    return;
  }
  const QString name = seams::GetOpenFileName(this, kDataFileFilter, QStringLiteral("*.kvx"));
  if (!name.isEmpty()) {
    ChartClear();
    StringGrid1->setVisible(false);
    const TableLoadResult result = LoadTableFile(name, *Grid, *Chart1);
    StringGrid1->setVisible(true);
    if (result.pointsLoaded > 0) {
      const QModelIndex current = Grid->index(Grid->RowCount() - 2, 0);
      StringGrid1->setCurrentIndex(current);
      StringGrid1->scrollTo(current);
    }
    Chart1->Refresh();
    if (!result.ok)
      seams::WarningBox(this, QStringLiteral(
                                  u"Файл слишком велик, заблокирован\r\nили содержит ошибки формата!"));
  }
  Timer1->SetEnabled(true);
}

// ---------------------------------------------------------------------------
// Printing

QPrinter* TForm1::Printer() {
  if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return printer_.get();
}

void TForm1::N13Click() {
  QPrinter* printer = Printer();
  printer->setDocName(QStringLiteral(u"Печать графика"));
  QString error;
  if (!PrintChart(*printer, *Chart1, &error)) seams::ErrorBox(this, error);
}

void TForm1::N14Click() {
  QPrinter* printer = Printer();
  printer->setPageOrientation(QPageLayout::Landscape);  // stays so afterwards
  const QFont font =
      ProtocolFont(ShortStringText(ProgramSettings.PrintFontName), ProgramSettings.PrintFontSize);
  printer->setDocName(QStringLiteral(u"Печать базы данных"));
  QString error;
  if (!PrintLines(*printer, ProtocolLines(*Grid, seams::Now()), font, &error))
    seams::ErrorBox(this, error);
}

void TForm1::N16Click() { ExecPrinterSetup(*Printer(), this); }

void TForm1::N17Click() { ChoosePrintFont(this); }

// ---------------------------------------------------------------------------
// Settings dialogs

void TForm1::N6Click() {
  FormControl->Fill(ProgramSettings, DeviceRecord);
  if (seams::ExecModal(FormControl) != QDialog::Accepted) return;
  FormControl->TakeOver(ProgramSettings, DeviceRecord);
  Timer2->SetEnabled(false);
  DeviceRecord.DeviceAddress = ProgramSettings.NetAddress;
  OpenPort();
  SettingsSave();
  if (ComPort) Timer2->SetEnabled(true);
}

void TForm1::N5Click() {
  FormSetView->Fill(ProgramSettings);
  if (seams::ExecModal(FormSetView) != QDialog::Accepted) return;
  if (!FormSetView->TakeOver(ProgramSettings)) return;  // the dialog has checked every factor
  SettingsSave();
  Chart1Init();
}

void TForm1::N7Click() {
  FormFuel->FuelChange(uint8_t(DeviceRecord.FuelIndex));
  if (seams::ExecModal(FormFuel) != QDialog::Accepted) return;
  // The dialog has checked every field: all are taken over, or nothing is.
  if (!FormFuel->TakeOver(FuelTable[FormFuel->SelectedFuel])) return;
  DeviceRecord.FuelIndex = FormFuel->SelectedFuel;
  SettingsSave();
}
