#pragma once
// Form1: the main window. It holds the controls, the two timers, the serial
// port and the results; its handlers are thin and hand the work to the module
// that owns it (poll cycle, results table, chart, files, dialogs, printing).

#include <QMainWindow>
#include <memory>

#include "acquisition/poll_cycle.h"
#include "device/modbus_rtu.h"

class QAction;
class QLabel;
class QMenu;
class QPrinter;
class QProgressBar;
class QTableView;
class QToolButton;
class QWidget;
class ResultsTable;
class TIOPort;
class TTimer;
class TrendChart;
class TAboutBox;
class TFormFuel;
class TFormSetView;
class TFormControl;

class TForm1 : public QMainWindow, public PollCycleHost {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // ---- left column ----
  QWidget* Panel1;
  QLabel* PanelIzm;
  QToolButton* BitBtnCikl;
  QToolButton* BitBtnOdnokr;
  QToolButton* BitBtnPost;
  QToolButton* BitBtnStop;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label4;
  QToolButton* SpeedButtonLedCikl;
  QToolButton* SpeedButtonLedOdnok;
  QToolButton* SpeedButtonLedConst;
  QToolButton* SpeedButtonStop;
  QLabel* LabelMode;
  QProgressBar* ProgressBar1;
  // Chart pad.
  QWidget* Panel3;
  QToolButton* SpeedButton1;  // later points
  QToolButton* SpeedButton2;  // lower values
  QToolButton* SpeedButton3;  // higher values
  QToolButton* SpeedButton4;  // earlier points
  QToolButton* BitBtn1;       // narrow the view
  QToolButton* BitBtn2;       // widen the view
  QToolButton* BitBtn3;       // undo zoom and scroll
  QToolButton* BitBtn4;       // follow the newest points
  QToolButton* BitBtn5;       // clear chart and table

  // ---- chart and table ----
  TrendChart* Chart1;
  QTableView* StringGrid1;
  ResultsTable* Grid;  // the results table's contents (StringGrid1's cells)

  // ---- menu ----
  QMenu* N1;     // Файл
  QAction* N8;   // Сохранить
  QAction* N9;   // Открыть
  QAction* N11;  // -
  QMenu* N12;    // Печать
  QAction* N13;  // Графика
  QAction* N14;  // Таблицы
  QMenu* N15;    // Установки печати
  QAction* N16;  // Выбор принтера
  QAction* N17;  // Выбор шрифта
  QAction* N10;  // -
  QAction* N4;   // Выход
  QMenu* N3;     // Сервис
  QAction* N6;   // Опции
  QAction* N5;   // Параметры просмотра
  QAction* N7;   // Параметры топлива и расчетов
  QAction* N2;   // О программе

  // ---- non-visual ----
  TTimer* Timer1;  // poll cycle, 1000 ms
  TTimer* Timer2;  // port service, 10 ms
  TIOPort* ComPort = nullptr;
  QPrinter* Printer();  // the current printer (the default one until chosen)

  ReplyCollector Reply;
  PollCycle Poll;
  bool DataNotSaved = false;

  // ---- life cycle ----
  void FormCreate();
  void FormActivate();
  void FormCloseQuery(bool& CanClose);
  void FormDestroy();

  // ---- serial port ----
  void CreatePort();
  void DestoryPort();
  void OpenPort();
  void Timer2Timer();
  void Recieve(TIOPort* Sender, uint8_t Value, bool LineError);

  // ---- poll cycle and modes ----
  void Timer1Timer();
  void BitBtnCiklClick();
  void BitBtnOdnokrClick();
  void BitBtnPostClick();
  void BitBtnStopClick() override;

  // ---- results ----
  void WievResult() override;
  void DataToCaption() override;

  // ---- chart ----
  void Chart1Init();
  void ChartClear();
  void SpeedButton1Click();
  void SpeedButton2Click();
  void SpeedButton3Click();
  void SpeedButton4Click();
  void BitBtn1Click();
  void BitBtn2Click();
  void BitBtn3Click();
  void BitBtn4Click();
  void BitBtn5Click();
  void Chart1Scroll();
  void Chart1Zoom();

  // ---- files ----
  void SaveChartToFile(const QString& fileName, bool clear) override;
  enum class SaveOutcome { Written, Cancelled, Failed };
  SaveOutcome SaveCharDialog();
  void N9Click();

  // ---- printing ----
  void N13Click();
  void N14Click();
  void N16Click();
  void N17Click();

  // ---- dialogs and shell ----
  void N4Click();
  void N6Click();
  void N5Click();
  void N7Click();
  void N2Click();

  // The rest of PollCycleHost.
  void ShowState(const QString& text) override;
  void ShowLinkAlarm(bool alarm) override;
  void SetCaption(const QString& caption) override;
  void SetProgressVisible(bool visible) override;
  void SetProgress(int position) override;
  void EnableModeButtons() override;
  void LinkLost() override;
  void SendRequest(uint8_t kind) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void BuildLayout();
  void BuildMenu();
  void ConnectHandlers();
  void ModeButtonClicked(uint8_t request, QToolButton* lamp);
  bool WriteResults(const QString& fileName, bool clear);

  std::unique_ptr<QPrinter> printer_;
  bool activated_ = false;
};

// The program's five windows, created in this order at start and kept until exit.
extern TForm1* Form1;
extern TAboutBox* AboutBox;
extern TFormFuel* FormFuel;
extern TFormSetView* FormSetView;
extern TFormControl* FormControl;

void CreateForms();
void DestroyForms();
