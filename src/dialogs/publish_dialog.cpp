#include "dialogs/publish_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/dialog_controls.h"
#include "ui/glyphs.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"

namespace {

// The modes of Service/Mode, as the file names them, and as the window does.
struct ModeItem {
  const char* name;
  const char16_t* text;
};
const ModeItem kModes[] = {
    {"continuous", u"Непрерывное измерение"},
    {"single", u"Однократное измерение"},
    {"cyclic", u"Циклическое измерение"},
    {"none", u"Не запускать"},
};

const QString kCaFileFilter =
    QStringLiteral(u"Сертификаты (*.pem *.crt *.cer)|*.pem;*.crt;*.cer|Все файлы (*)|*");

QFrame* sunkenFrame(QWidget* parent) {
  auto* frame = new QFrame(parent);
  frame->setFrameShape(QFrame::Panel);
  frame->setFrameShadow(QFrame::Sunken);
  return frame;
}

// A framed group with its heading and a grid of label/field rows.
QGridLayout* group(QVBoxLayout* root, const QString& heading, QWidget* parent) {
  QFrame* frame = sunkenFrame(parent);
  root->addWidget(frame);
  auto* layout = new QVBoxLayout(frame);
  layout->setContentsMargins(3, 3, 3, 6);
  layout->setSpacing(6);
  layout->addWidget(headingPanel(heading, frame));
  auto* grid = new QGridLayout;
  grid->setContentsMargins(5, 0, 5, 0);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(5);
  grid->setColumnStretch(1, 1);
  layout->addLayout(grid);
  return grid;
}

void addRow(QGridLayout* grid, const QString& text, QWidget* field, QWidget* extra = nullptr) {
  const int row = grid->rowCount();
  auto* label = new QLabel(text, field->parentWidget());
  label->setBuddy(field);
  grid->addWidget(label, row, 0);
  if (extra) {
    grid->addWidget(field, row, 1);
    grid->addWidget(extra, row, 2);
  } else {
    grid->addWidget(field, row, 1, 1, 2);
  }
}

}  // namespace

PublishDialog::PublishDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormPublish"));
  setWindowTitle(QStringLiteral(u"Публикация результатов"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Options));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setMinimumWidth(460);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(6, 6, 6, 6);
  root->setSpacing(6);

  // ---- names and the service's mode ----
  QGridLayout* names = group(root, QStringLiteral(u"Газоанализатор"), this);
  siteEdit_ = new QLineEdit(this);
  analyzerEdit_ = new QLineEdit(this);
  modeCombo_ = new QComboBox(this);
  for (const ModeItem& m : kModes) modeCombo_->addItem(QString::fromUtf16(m.text), QLatin1String(m.name));
  siteEdit_->setToolTip(QStringLiteral(u"Имя площадки в темах MQTT и в центральной базе данных; без '/', '+', '#'"));
  analyzerEdit_->setToolTip(QStringLiteral(u"Имя газоанализатора в темах MQTT и в центральной базе данных; без '/', '+', '#'"));
  modeCombo_->setToolTip(QStringLiteral(u"Режим, который служба (korvex --headless) запускает сама"));
  addRow(names, QStringLiteral(u"Площадка"), siteEdit_);
  addRow(names, QStringLiteral(u"Газоанализатор"), analyzerEdit_);
  addRow(names, QStringLiteral(u"Режим службы"), modeCombo_);

  // ---- MQTT ----
  QGridLayout* mqtt = group(root, QStringLiteral(u"Брокер MQTT"), this);
  mqttCheck_ = new QCheckBox(QStringLiteral(u"Публиковать результаты и события"), this);
  mqtt->addWidget(mqttCheck_, 0, 0, 1, 3);
  hostEdit_ = new QLineEdit(this);
  portSpin_ = new SpinEdit(0, 65535, 5, this);
  portSpin_->setToolTip(QStringLiteral(u"0 — порт по умолчанию: 1883, с TLS 8883"));
  addRow(mqtt, QStringLiteral(u"Адрес брокера"), hostEdit_);
  addRow(mqtt, QStringLiteral(u"Порт (0 — по умолчанию)"), portSpin_);
  tlsCheck_ = new QCheckBox(QStringLiteral(u"TLS (шифрованное соединение)"), this);
  mqtt->addWidget(tlsCheck_, mqtt->rowCount(), 0, 1, 3);
  caFileEdit_ = new QLineEdit(this);
  caFileEdit_->setPlaceholderText(QStringLiteral(u"системные центры сертификации"));
  caFileButton_ = new QPushButton(QStringLiteral(u"Обзор..."), this);
  addRow(mqtt, QStringLiteral(u"Файл центра сертификации"), caFileEdit_, caFileButton_);
  insecureCheck_ = new QCheckBox(QStringLiteral(u"Не проверять сертификат брокера"), this);
  mqtt->addWidget(insecureCheck_, mqtt->rowCount(), 0, 1, 3);
  insecureWarning_ = new QLabel(
      QStringLiteral(u"ВНИМАНИЕ! Сертификат брокера не проверяется: соединение может перехватить "
                     u"и подменить кто угодно в сети. Только для проверки на стенде!"),
      this);
  insecureWarning_->setWordWrap(true);
  QPalette red = insecureWarning_->palette();
  red.setColor(QPalette::WindowText, Qt::red);
  insecureWarning_->setPalette(red);
  mqtt->addWidget(insecureWarning_, mqtt->rowCount(), 0, 1, 3);
  userEdit_ = new QLineEdit(this);
  passwordEdit_ = new QLineEdit(this);
  passwordEdit_->setEchoMode(QLineEdit::Password);
  addRow(mqtt, QStringLiteral(u"Пользователь"), userEdit_);
  addRow(mqtt, QStringLiteral(u"Пароль"), passwordEdit_);

  // ---- central database ----
  QGridLayout* central = group(root, QStringLiteral(u"Центральная база данных PostgreSQL"), this);
  centralCheck_ = new QCheckBox(QStringLiteral(u"Копировать результаты и события"), this);
  central->addWidget(centralCheck_, 0, 0, 1, 3);
  connectionEdit_ = new QLineEdit(this);
  // A password in the string is shown only while it is being edited
  // (updateEnabled: the field is masked while it holds one).
  connectionEdit_->setEchoMode(QLineEdit::PasswordEchoOnEdit);
  connectionEdit_->setPlaceholderText(QStringLiteral("host=db.example dbname=korvex user=korvex password=..."));
  addRow(central, QStringLiteral(u"Строка подключения"), connectionEdit_);
  connectionLabel_ = new QLabel(this);
  connectionLabel_->setWordWrap(true);
  central->addWidget(connectionLabel_, central->rowCount(), 0, 1, 3);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  auto* applyButton = new QPushButton(QStringLiteral(u"Применить"), this);
  auto* cancelButton = new QPushButton(QStringLiteral(u"Отмена"), this);
  applyButton->setDefault(true);
  applyButton->setFixedSize(82, 27);
  cancelButton->setFixedSize(82, 27);
  buttons->addStretch(1);
  buttons->addWidget(applyButton);
  buttons->addWidget(cancelButton);
  root->addLayout(buttons);

  connect(applyButton, &QPushButton::clicked, this, &PublishDialog::accept);
  connect(cancelButton, &QPushButton::clicked, this, &PublishDialog::reject);
  connect(caFileButton_, &QPushButton::clicked, this, &PublishDialog::chooseCaFile);
  for (QCheckBox* box : {mqttCheck_, tlsCheck_, insecureCheck_, centralCheck_})
    connect(box, &QCheckBox::toggled, this, &PublishDialog::updateEnabled);
  connect(connectionEdit_, &QLineEdit::textChanged, this, &PublishDialog::updateEnabled);

  siteEdit_->setObjectName(QStringLiteral("EditSite"));
  analyzerEdit_->setObjectName(QStringLiteral("EditAnalyzer"));
  modeCombo_->setObjectName(QStringLiteral("ComboBoxServiceMode"));
  mqttCheck_->setObjectName(QStringLiteral("CheckBoxMqtt"));
  hostEdit_->setObjectName(QStringLiteral("EditMqttHost"));
  portSpin_->setObjectName(QStringLiteral("SpinEditMqttPort"));
  tlsCheck_->setObjectName(QStringLiteral("CheckBoxTls"));
  caFileEdit_->setObjectName(QStringLiteral("EditCaFile"));
  caFileButton_->setObjectName(QStringLiteral("ButtonCaFile"));
  insecureCheck_->setObjectName(QStringLiteral("CheckBoxInsecure"));
  insecureWarning_->setObjectName(QStringLiteral("LabelInsecureWarning"));
  userEdit_->setObjectName(QStringLiteral("EditMqttUser"));
  passwordEdit_->setObjectName(QStringLiteral("EditMqttPassword"));
  centralCheck_->setObjectName(QStringLiteral("CheckBoxCentral"));
  connectionEdit_->setObjectName(QStringLiteral("EditConnection"));
  connectionLabel_->setObjectName(QStringLiteral("LabelConnection"));
  applyButton->setObjectName(QStringLiteral("ButtonApply"));
  cancelButton->setObjectName(QStringLiteral("ButtonCancel"));

  fill(publish::ServiceSettings{});
}

void PublishDialog::fill(const publish::ServiceSettings& s) {
  setResult(QDialog::Rejected);
  base_ = s;
  siteEdit_->setText(s.site);
  analyzerEdit_->setText(s.analyzerName);
  const int mode = modeCombo_->findData(s.mode);
  modeCombo_->setCurrentIndex(mode >= 0 ? mode : 0);
  mqttCheck_->setChecked(s.mqtt.enabled);
  hostEdit_->setText(s.mqtt.host);
  portSpin_->setValue(s.mqtt.port);
  tlsCheck_->setChecked(s.mqtt.tls);
  caFileEdit_->setText(QDir::toNativeSeparators(s.mqtt.caFile));
  insecureCheck_->setChecked(s.mqtt.insecure);
  userEdit_->setText(s.mqtt.user);
  passwordEdit_->setText(s.mqtt.password);
  centralCheck_->setChecked(s.central.enabled);
  connectionEdit_->setText(s.central.connection);
  updateEnabled();
  siteEdit_->setFocus();
}

publish::ServiceSettings PublishDialog::settings() const {
  publish::ServiceSettings s = base_;
  s.site = siteEdit_->text().trimmed();
  s.analyzerName = analyzerEdit_->text().trimmed();
  s.mode = modeCombo_->currentData().toString();
  s.mqtt.enabled = mqttCheck_->isChecked();
  s.mqtt.host = hostEdit_->text().trimmed();
  s.mqtt.port = portSpin_->boundedValue();
  s.mqtt.tls = tlsCheck_->isChecked();
  s.mqtt.caFile = QDir::fromNativeSeparators(caFileEdit_->text().trimmed());
  s.mqtt.insecure = insecureCheck_->isChecked();
  s.mqtt.user = userEdit_->text().trimmed();
  s.mqtt.password = passwordEdit_->text();  // spaces are part of a password
  s.central.enabled = centralCheck_->isChecked();
  s.central.connection = connectionEdit_->text().trimmed();
  return s;
}

QStringList PublishDialog::problems() const {
  // What the service would switch off at its next start is refused here.
  const publish::ServiceSettings s = settings();
  QStringList p;
  if (s.mqtt.enabled || s.central.enabled) p += publish::identityProblems(s.site, s.analyzerName);
  if (s.mqtt.enabled) p += publish::mqttProblems(s.mqtt);
  if (s.central.enabled) p += publish::centralProblems(s.central);
  return p;
}

void PublishDialog::accept() {
  const QStringList p = problems();
  if (!p.isEmpty()) {
    seams::errorBox(this, QStringLiteral(u"Настройки публикации не приняты:\r\n") + p.join(QStringLiteral("\r\n")));
    return;
  }
  if (applier_) {
    QString error;
    if (!applier_(settings(), &error)) {
      seams::errorBox(this, QStringLiteral(u"Не могу записать настройки публикации!\r\n") + error);
      return;
    }
  }
  QDialog::accept();
}

void PublishDialog::updateEnabled() {
  const bool mqtt = mqttCheck_->isChecked();
  const bool tls = mqtt && tlsCheck_->isChecked();
  for (QWidget* w : {static_cast<QWidget*>(hostEdit_), static_cast<QWidget*>(portSpin_),
                     static_cast<QWidget*>(tlsCheck_), static_cast<QWidget*>(userEdit_),
                     static_cast<QWidget*>(passwordEdit_)})
    w->setEnabled(mqtt);
  for (QWidget* w : {static_cast<QWidget*>(caFileEdit_), static_cast<QWidget*>(caFileButton_),
                     static_cast<QWidget*>(insecureCheck_)})
    w->setEnabled(tls);
  // Shown whenever the broker's certificate would go unchecked.
  insecureWarning_->setVisible(tlsCheck_->isChecked() && insecureCheck_->isChecked());
  connectionEdit_->setEnabled(centralCheck_->isChecked());
  // What the server will be asked, without the password; a string libpq
  // cannot read asks nothing.
  const QString connection = connectionEdit_->text().trimmed();
  const bool secret = publish::connectionHasPassword(connection);
  connectionLabel_->setText(connection.isEmpty()
                                ? QString()
                                : QStringLiteral(u"Подключение: %1%2")
                                      .arg(publish::describeConnection(connection),
                                           secret && publish::isConnectionString(connection)
                                               ? QStringLiteral(u", с паролем")
                                               : QString()));
  // Masked while a password is in it, and only then.
  const QLineEdit::EchoMode echo = secret ? QLineEdit::PasswordEchoOnEdit : QLineEdit::Normal;
  if (connectionEdit_->echoMode() != echo) connectionEdit_->setEchoMode(echo);
}

void PublishDialog::chooseCaFile() {
  const QString name = seams::getOpenFileName(this, kCaFileFilter, caFileEdit_->text());
  if (!name.isEmpty()) caFileEdit_->setText(QDir::toNativeSeparators(name));
}
