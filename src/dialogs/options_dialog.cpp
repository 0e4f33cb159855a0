#include "dialogs/options_dialog.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <algorithm>
#include <QVBoxLayout>

#include "ui/glyphs.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"
#include "device/serial_backend.h"
#include "dialogs/dialog_controls.h"
#include "platform/text_codec.h"
#include "storage/settings_records.h"

namespace {

QFrame* sunkenFrame(QWidget* parent) {
  auto* frame = new QFrame(parent);
  frame->setFrameShape(QFrame::Panel);
  frame->setFrameShadow(QFrame::Sunken);
  return frame;
}

QSlider* trackBar(int minimum, int maximum, int tickInterval, QWidget* parent) {
  auto* bar = new QSlider(Qt::Horizontal, parent);
  bar->setRange(minimum, maximum);
  bar->setTickPosition(QSlider::TicksBelow);
  bar->setTickInterval(tickInterval);
  bar->setPageStep(tickInterval);
  return bar;
}

QLabel* valueLabel(QWidget* parent) {
  auto* label = new QLabel(QStringLiteral("0"), parent);
  QFont bold = label->font();
  bold.setBold(true);
  label->setFont(bold);
  label->setMinimumWidth(26);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

const QString kTcpPortExample = QStringLiteral("tcp://192.168.0.10:4001");
const QString kWidestPortName = QStringLiteral("tcp://255.255.255.255:65535");

const QString kPortNameError = QStringLiteral(
    u"Имя порта \"%1\" содержит символы, которые нельзя записать в файл настроек!\r\n"
    u"Введите имя латинскими буквами и цифрами.");

}  // namespace

OptionsDialog::OptionsDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral(u"Опции"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Options));
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
  QFrame* left = sunkenFrame(this);
  leftColumn->addWidget(left, 1);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(3, 3, 3, 8);
  leftLayout->setSpacing(8);
  leftLayout->addWidget(headingPanel(QStringLiteral(u"Параметры обмена"), left));
  auto* exchange = new QGridLayout;
  exchange->setContentsMargins(5, 0, 5, 0);
  exchange->setHorizontalSpacing(6);
  exchange->setVerticalSpacing(8);
  leftLayout->addLayout(exchange);

  portCombo_ = new QComboBox(left);
  portCombo_->setEditable(true);
  portCombo_->setInsertPolicy(QComboBox::NoInsert);
  portCombo_->addItems(portList());
  portCombo_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  portCombo_->setMinimumContentsLength(1);
  // The list is wider than the field: an address must show whole there.
  portCombo_->view()->setMinimumWidth(portCombo_->fontMetrics().horizontalAdvance(kTcpPortExample) + 24);
  // The frame is as wide as the field needs to show a device server's whole
  // address, "tcp://255.255.255.255:65535", in the font the dialog has.
  {
    QStyleOptionComboBox option;
    option.initFrom(portCombo_);
    option.editable = true;
    const QFontMetrics metrics = portCombo_->fontMetrics();
    const QSize text(metrics.horizontalAdvance(kWidestPortName) + 8, metrics.height());  // 8: the line's margins
    const int field = portCombo_->style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, portCombo_).width();
    left->setFixedWidth(std::max(176, field + 18));  // 18: the frame's and the grid's margins
  }
  refreshPeriodSpin_ = new SpinEdit(1, 60, 2, left);
  refreshPeriodSpin_->setFixedWidth(50);
  addressSpin_ = new SpinEdit(1, 247, 2, left);
  addressSpin_->setFixedWidth(50);

  auto addRow = [&](int row, const QString& text, QWidget* control) {
    auto* label = new QLabel(text, left);
    label->setWordWrap(true);
    label->setBuddy(control);
    exchange->addWidget(label, row, 0);
    exchange->addWidget(control, row, 1, Qt::AlignRight);
  };
  // The port's name on a line of its own, the frame's width: a device
  // server's address is long.
  auto* portLabel = new QLabel(QStringLiteral(u"Порт обмена"), left);
  portLabel->setBuddy(portCombo_);
  exchange->addWidget(portLabel, 0, 0, 1, 2);
  exchange->addWidget(portCombo_, 1, 0, 1, 2);
  addRow(2, QStringLiteral(u"Период обновления, сек"), refreshPeriodSpin_);
  addRow(3, QStringLiteral(u"Адрес прибора в сети"), addressSpin_);
  leftLayout->addStretch(1);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  auto* applyButton = new QPushButton(QStringLiteral(u"Применить"), this);
  auto* cancelButton = new QPushButton(QStringLiteral(u"Отмена"), this);
  applyButton->setDefault(true);
  applyButton->setFixedSize(82, 27);
  cancelButton->setFixedSize(82, 27);
  buttons->addWidget(applyButton);
  buttons->addWidget(cancelButton);
  buttons->addStretch(1);
  leftColumn->addLayout(buttons);

  // ---- right: the times of the measuring cycle ----
  QFrame* right = sunkenFrame(this);
  root->addWidget(right, 1);
  auto* rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(3, 3, 3, 3);
  rightLayout->setSpacing(2);
  rightLayout->addWidget(headingPanel(QStringLiteral(u"Временные интервалы цикла измерения (мин)"), right));

  auto* times = new QGridLayout;
  times->setContentsMargins(5, 4, 3, 0);
  times->setHorizontalSpacing(6);
  times->setVerticalSpacing(0);
  rightLayout->addLayout(times);

  cyclePeriodSpin_ = new SpinEdit(20, 999, 3, right);
  cyclePeriodSpin_->setFixedWidth(56);
  auto* cyclic = new QLabel(QStringLiteral(u"Период циклического измерения, 20..999 мин"), right);
  cyclic->setWordWrap(true);
  cyclic->setBuddy(cyclePeriodSpin_);
  times->addWidget(cyclic, 0, 0, 1, 2);
  times->addWidget(cyclePeriodSpin_, 0, 2, 1, 1, Qt::AlignLeft);
  times->setRowMinimumHeight(0, 34);

  continuousPeriodBar_ = trackBar(10, 120, 10, right);
  zeroSettingBar_ = trackBar(3, 10, 1, right);
  drainBar_ = trackBar(0, 10, 1, right);
  measuringBar_ = trackBar(3, 10, 1, right);
  continuousPeriodLabel_ = valueLabel(right);
  zeroSettingLabel_ = valueLabel(right);
  drainLabel_ = valueLabel(right);
  measuringLabel_ = valueLabel(right);

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
  addBar(1, QStringLiteral(u"Непрерыв. измер."), QStringLiteral(u"(10..120) мин"), continuousPeriodBar_,
         continuousPeriodLabel_, false);
  addBar(2, QStringLiteral(u"Установки \"0\""), QStringLiteral(u"3..10 мин"), zeroSettingBar_,
         zeroSettingLabel_, true);
  addBar(3, QStringLiteral(u"Дренажа пробы"), QStringLiteral(u"0..10 мин"), drainBar_, drainLabel_, true);
  addBar(4, QStringLiteral(u"Измерения"), QStringLiteral(u"3..10 мин"), measuringBar_, measuringLabel_,
         true);
  times->setColumnStretch(1, 1);
  rightLayout->addStretch(1);

  // Each value label shows its track bar's position.
  for (auto [bar, label] : {std::pair{zeroSettingBar_, zeroSettingLabel_}, std::pair{drainBar_, drainLabel_},
                            std::pair{measuringBar_, measuringLabel_},
                            std::pair{continuousPeriodBar_, continuousPeriodLabel_}})
    connect(bar, &QSlider::valueChanged, label, [label = label](int v) { label->setText(QString::number(v)); });
  connect(applyButton, &QPushButton::clicked, this, &OptionsDialog::accept);
  connect(cancelButton, &QPushButton::clicked, this, &OptionsDialog::reject);
  confirmOnEnter(portCombo_, applyButton);

  setObjectName(QStringLiteral("FormControl"));
  portCombo_->setObjectName(QStringLiteral("ComboBoxPort"));
  refreshPeriodSpin_->setObjectName(QStringLiteral("SpinEditPediodWiev"));
  addressSpin_->setObjectName(QStringLiteral("SpinEditNetAddr"));
  cyclePeriodSpin_->setObjectName(QStringLiteral("SpinEditCiklMeasurement"));
  continuousPeriodBar_->setObjectName(QStringLiteral("TrackBarBetweenCalibration"));
  zeroSettingBar_->setObjectName(QStringLiteral("TrackBarCalibration"));
  drainBar_->setObjectName(QStringLiteral("TrackBarDrain"));
  measuringBar_->setObjectName(QStringLiteral("TrackBarMeasurement"));
  continuousPeriodLabel_->setObjectName(QStringLiteral("LabelBetweenCalibration"));
  zeroSettingLabel_->setObjectName(QStringLiteral("LabelCalibration"));
  drainLabel_->setObjectName(QStringLiteral("LabelDrain"));
  measuringLabel_->setObjectName(QStringLiteral("LabelMeasurement"));
  applyButton->setObjectName(QStringLiteral("ButtonApply"));
  cancelButton->setObjectName(QStringLiteral("ButtonCancel"));

  setTabOrder(portCombo_, refreshPeriodSpin_);
  setTabOrder(refreshPeriodSpin_, addressSpin_);
  setTabOrder(addressSpin_, cyclePeriodSpin_);
  setTabOrder(cyclePeriodSpin_, continuousPeriodBar_);
  setTabOrder(continuousPeriodBar_, applyButton);
  setTabOrder(applyButton, cancelButton);
}

QStringList OptionsDialog::portList() {
  QStringList ports;
  for (int i = 1; i <= 8; ++i) ports << QStringLiteral("COM%1").arg(i);
  QStringList devices;
  for (const QString& name : ports) devices << serialDeviceName(name);
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
#ifdef Q_OS_WIN
    const QString name = info.portName();
#else
    const QString name = info.systemLocation();
#endif
    // COM1..COM8 already stand for the first eight devices.
    if (name.isEmpty() || ports.contains(name, Qt::CaseInsensitive) || devices.contains(name)) continue;
    ports << name;
    devices << serialDeviceName(name);
  }
  // The analyzer behind a serial device server, as an example to edit.
  ports << kTcpPortExample;
  return ports;
}

void OptionsDialog::fill(const MeasuringSettings& settings) {
  setResult(QDialog::Rejected);
  // Adapters come and go: the list is built afresh for each showing.
  portCombo_->clear();
  portCombo_->addItems(portList());
  const QString port = settings.portName;
  portCombo_->setCurrentIndex(portCombo_->findText(port));
  portCombo_->setEditText(port);

  refreshPeriodSpin_->setValue(settings.refreshPeriod);
  addressSpin_->setValue(settings.address);
  const CycleTimes& t = settings.times;
  zeroSettingBar_->setValue(t.zeroSetting);
  drainBar_->setValue(t.drain);
  measuringBar_->setValue(t.measuring);
  continuousPeriodBar_->setValue(t.continuousPeriod);
  cyclePeriodSpin_->setValue(t.cyclePeriod);

  zeroSettingLabel_->setText(QString::number(t.zeroSetting));
  drainLabel_->setText(QString::number(t.drain));
  measuringLabel_->setText(QString::number(t.measuring));
  continuousPeriodLabel_->setText(QString::number(t.continuousPeriod));
  portCombo_->setFocus();
}

void OptionsDialog::takeOver(MeasuringSettings& settings) const {
  // accept() has made sure the name can be stored; a name that cannot keeps
  // the stored one rather than being written altered.
  ShortString30 port{};
  if (setShortString(port, portCombo_->currentText())) settings.portName = shortStringText(port);
  settings.refreshPeriod = refreshPeriodSpin_->boundedValue();
  settings.address = uint8_t(addressSpin_->boundedValue());
  CycleTimes& t = settings.times;
  t.zeroSetting = uint8_t(zeroSettingBar_->value());
  t.drain = uint8_t(drainBar_->value());
  t.measuring = uint8_t(measuringBar_->value());
  t.continuousPeriod = continuousPeriodBar_->value();
  t.cyclePeriod = cyclePeriodSpin_->boundedValue();
}

void OptionsDialog::accept() {
  const QString port = portCombo_->currentText();
  if (!cp1251::canEncode(port.left(30))) {
    seams::errorBox(this, kPortNameError.arg(port));
    portCombo_->setFocus();
    portCombo_->lineEdit()->selectAll();
    return;
  }
  QDialog::accept();
}
