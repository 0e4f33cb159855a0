#include "dialogs/Korvex_ModbusRTU_SetUnit.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSlider>
#include <QVBoxLayout>

#include "app/glyphs.h"
#include "app/platform_seams.h"
#include "device/serial_backend.h"
#include "dialogs/dialog_controls.h"
#include "storage/text_codec.h"

namespace {

QFrame* Frame(QWidget* parent) {
  auto* frame = new QFrame(parent);
  frame->setFrameShape(QFrame::Panel);
  frame->setFrameShadow(QFrame::Sunken);
  return frame;
}

QSlider* TrackBar(int minimum, int maximum, int tickInterval, QWidget* parent) {
  auto* bar = new QSlider(Qt::Horizontal, parent);
  bar->setRange(minimum, maximum);
  bar->setTickPosition(QSlider::TicksBelow);
  bar->setTickInterval(tickInterval);
  bar->setPageStep(tickInterval);
  return bar;
}

QLabel* ValueLabel(QWidget* parent) {
  auto* label = new QLabel(QStringLiteral("0"), parent);
  QFont bold = label->font();
  bold.setBold(true);
  label->setFont(bold);
  label->setMinimumWidth(26);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

const QString kPortNameError = QStringLiteral(
    u"Имя порта \"%1\" содержит символы, которые нельзя записать в файл настроек!\r\n"
    u"Введите имя латинскими буквами и цифрами.");

}  // namespace

TFormControl::TFormControl(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral(u"Опции"));
  setWindowIcon(glyphs::WindowIcon(glyphs::Window::Options));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                 Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  // 500 x 306 with the frame of a dialog window.
  setFixedSize(492, 272);

  auto* root = new QHBoxLayout(this);
  root->setContentsMargins(6, 6, 6, 6);
  root->setSpacing(6);

  // ---- left: exchange ----
  auto* leftColumn = new QVBoxLayout;
  leftColumn->setSpacing(6);
  root->addLayout(leftColumn, 0);
  QFrame* left = Frame(this);
  left->setFixedWidth(176);
  leftColumn->addWidget(left, 1);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(3, 3, 3, 8);
  leftLayout->setSpacing(8);
  leftLayout->addWidget(HeadingPanel(QStringLiteral(u"Параметры обмена"), left));
  auto* exchange = new QGridLayout;
  exchange->setContentsMargins(5, 0, 5, 0);
  exchange->setHorizontalSpacing(6);
  exchange->setVerticalSpacing(8);
  leftLayout->addLayout(exchange);

  ComboBoxPort = new QComboBox(left);
  ComboBoxPort->setEditable(true);
  ComboBoxPort->setInsertPolicy(QComboBox::NoInsert);
  ComboBoxPort->addItems(PortList());
  ComboBoxPort->setFixedWidth(70);
  SpinEditPediodWiev = new TSpinEdit(1, 60, 2, left);
  SpinEditPediodWiev->setFixedWidth(50);
  SpinEditNetAddr = new TSpinEdit(1, 247, 2, left);
  SpinEditNetAddr->setFixedWidth(50);

  auto addRow = [&](int row, const QString& text, QWidget* control) {
    auto* label = new QLabel(text, left);
    label->setWordWrap(true);
    label->setBuddy(control);
    exchange->addWidget(label, row, 0);
    exchange->addWidget(control, row, 1, Qt::AlignRight);
  };
  addRow(0, QStringLiteral(u"Порт обмена"), ComboBoxPort);
  addRow(1, QStringLiteral(u"Период обновления, сек"), SpinEditPediodWiev);
  addRow(2, QStringLiteral(u"Адрес прибора в сети"), SpinEditNetAddr);
  leftLayout->addStretch(1);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  ButtonApply = new QPushButton(QStringLiteral(u"Применить"), this);
  ButtonCancel = new QPushButton(QStringLiteral(u"Отмена"), this);
  ButtonApply->setDefault(true);
  ButtonApply->setFixedSize(82, 27);
  ButtonCancel->setFixedSize(82, 27);
  buttons->addWidget(ButtonApply);
  buttons->addWidget(ButtonCancel);
  buttons->addStretch(1);
  leftColumn->addLayout(buttons);

  // ---- right: the times of the measuring cycle ----
  QFrame* right = Frame(this);
  root->addWidget(right, 1);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(3, 3, 3, 3);
  rightLayout->setSpacing(2);
  rightLayout->addWidget(HeadingPanel(QStringLiteral(u"Временные интервалы цикла измерения (мин)"), right));

  auto* times = new QGridLayout;
  times->setContentsMargins(5, 4, 3, 0);
  times->setHorizontalSpacing(6);
  times->setVerticalSpacing(0);
  rightLayout->addLayout(times);

  SpinEditCiklMeasurement = new TSpinEdit(20, 999, 3, right);
  SpinEditCiklMeasurement->setFixedWidth(56);
  auto* cyclic = new QLabel(QStringLiteral(u"Период циклического измерения, 20..999 мин"), right);
  cyclic->setWordWrap(true);
  cyclic->setBuddy(SpinEditCiklMeasurement);
  times->addWidget(cyclic, 0, 0, 1, 2);
  times->addWidget(SpinEditCiklMeasurement, 0, 2, 1, 1, Qt::AlignLeft);
  times->setRowMinimumHeight(0, 34);

  TrackBarBetweenCalibration = TrackBar(10, 120, 10, right);
  TrackBarCalibration = TrackBar(3, 10, 1, right);
  TrackBarDrain = TrackBar(0, 10, 1, right);
  TrackBarMeasurement = TrackBar(3, 10, 1, right);
  LabelBetweenCalibration = ValueLabel(right);
  LabelCalibration = ValueLabel(right);
  LabelDrain = ValueLabel(right);
  LabelMeasurement = ValueLabel(right);

  auto addBar = [&](int row, const QString& name, const QString& range, QSlider* bar, QLabel* value,
                    bool shownOnly) {
    auto* names = new QWidget(right);
    auto* column = new QVBoxLayout(names);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* first = new QLabel(name, names);
    auto* second = new QLabel(range, names);
    column->addWidget(first);
    column->addWidget(second);
    names->setFixedWidth(96);
    if (shownOnly) {
      first->setEnabled(false);
      second->setEnabled(false);
      bar->setEnabled(false);
    }
    times->addWidget(names, row, 0);
    times->addWidget(bar, row, 1);
    times->addWidget(value, row, 2);
    times->setRowMinimumHeight(row, 48);
  };
  addBar(1, QStringLiteral(u"Непрерыв. измер."), QStringLiteral(u"(10..120) мин"), TrackBarBetweenCalibration,
         LabelBetweenCalibration, false);
  addBar(2, QStringLiteral(u"Установки \"0\""), QStringLiteral(u"3..10 мин"), TrackBarCalibration,
         LabelCalibration, true);
  addBar(3, QStringLiteral(u"Дренажа пробы"), QStringLiteral(u"0..10 мин"), TrackBarDrain, LabelDrain, true);
  addBar(4, QStringLiteral(u"Измерения"), QStringLiteral(u"3..10 мин"), TrackBarMeasurement, LabelMeasurement,
         true);
  times->setColumnStretch(1, 1);
  rightLayout->addStretch(1);

  connect(TrackBarCalibration, &QSlider::valueChanged, this, &TFormControl::TrackBarCalibrationChange);
  connect(TrackBarDrain, &QSlider::valueChanged, this, &TFormControl::TrackBarDrainChange);
  connect(TrackBarMeasurement, &QSlider::valueChanged, this, &TFormControl::TrackBarMeasurementChange);
  connect(TrackBarBetweenCalibration, &QSlider::valueChanged, this,
          &TFormControl::TrackBarBetweenCalibrationChange);
  connect(ButtonApply, &QPushButton::clicked, this, &TFormControl::accept);
  connect(ButtonCancel, &QPushButton::clicked, this, &TFormControl::reject);
  ConfirmOnEnter(ComboBoxPort, ButtonApply);

  setTabOrder(ComboBoxPort, SpinEditPediodWiev);
  setTabOrder(SpinEditPediodWiev, SpinEditNetAddr);
  setTabOrder(SpinEditNetAddr, SpinEditCiklMeasurement);
  setTabOrder(SpinEditCiklMeasurement, TrackBarBetweenCalibration);
  setTabOrder(TrackBarBetweenCalibration, ButtonApply);
  setTabOrder(ButtonApply, ButtonCancel);
}

void TFormControl::TrackBarCalibrationChange() {
  LabelCalibration->setText(QString::number(TrackBarCalibration->value()));
}

void TFormControl::TrackBarDrainChange() { LabelDrain->setText(QString::number(TrackBarDrain->value())); }

void TFormControl::TrackBarMeasurementChange() {
  LabelMeasurement->setText(QString::number(TrackBarMeasurement->value()));
}

void TFormControl::TrackBarBetweenCalibrationChange() {
  LabelBetweenCalibration->setText(QString::number(TrackBarBetweenCalibration->value()));
}

QStringList TFormControl::PortList() {
  QStringList ports;
  for (int i = 1; i <= 8; ++i) ports << QStringLiteral("COM%1").arg(i);
  QStringList devices;
  for (const QString& name : ports) devices << SerialDeviceName(name);
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
    const QString name = info.portName();
#else
    const QString name = info.systemLocation();
#endif
    // COM1..COM8 already stand for the first eight devices.
    if (name.isEmpty() || ports.contains(name, Qt::CaseInsensitive) || devices.contains(name)) continue;
    ports << name;
    devices << SerialDeviceName(name);
  }
  return ports;
}

void TFormControl::Fill(const TProgramSettings& settings, const TDeviceRecord& device) {
  setResult(QDialog::Rejected);
  // Adapters come and go: the list is built afresh for each showing.
  ComboBoxPort->clear();
  ComboBoxPort->addItems(PortList());
  const QString port = ShortStringText(settings.PortName);
  ComboBoxPort->setCurrentIndex(ComboBoxPort->findText(port));
  ComboBoxPort->setEditText(port);

  SpinEditPediodWiev->setValue(settings.RefreshPeriod);
  SpinEditNetAddr->setValue(settings.NetAddress);
  const int slot = SlotIndex(device);
  TrackBarCalibration->setValue(device.CalibrationTime[slot]);
  TrackBarDrain->setValue(device.DrainTime[slot]);
  TrackBarMeasurement->setValue(device.MeasurementTime[slot]);
  TrackBarBetweenCalibration->setValue(device.CalibrationInterval[slot]);
  SpinEditCiklMeasurement->setValue(device.CyclePeriod[slot]);

  LabelCalibration->setText(QString::number(device.CalibrationTime[slot]));
  LabelDrain->setText(QString::number(device.DrainTime[slot]));
  LabelMeasurement->setText(QString::number(device.MeasurementTime[slot]));
  LabelBetweenCalibration->setText(QString::number(device.CalibrationInterval[slot]));
  ComboBoxPort->setFocus();
}

void TFormControl::TakeOver(TProgramSettings& settings, TDeviceRecord& device) const {
  // accept() has made sure the name can be stored; a name that cannot keeps
  // the stored one rather than being written altered.
  SetShortString(settings.PortName, ComboBoxPort->currentText());
  settings.RefreshPeriod = SpinEditPediodWiev->BoundedValue();
  settings.NetAddress = uint8_t(SpinEditNetAddr->BoundedValue());
  const int slot = SlotIndex(device);
  device.CalibrationTime[slot] = uint8_t(TrackBarCalibration->value());
  device.DrainTime[slot] = uint8_t(TrackBarDrain->value());
  device.MeasurementTime[slot] = uint8_t(TrackBarMeasurement->value());
  device.CalibrationInterval[slot] = TrackBarBetweenCalibration->value();
  device.CyclePeriod[slot] = SpinEditCiklMeasurement->BoundedValue();
}

void TFormControl::accept() {
  const QString port = ComboBoxPort->currentText();
  if (!cp1251::CanEncode(port.left(30))) {
    seams::ErrorBox(this, kPortNameError.arg(port));
    ComboBoxPort->setFocus();
    ComboBoxPort->lineEdit()->selectAll();
    return;
  }
  QDialog::accept();
}
