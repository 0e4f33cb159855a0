#include "dialogs/users_dialog.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/glyphs.h"
#include "platform/seams.h"
#include "ui/widget_seams.h"
#include "storage/access_control.h"

UsersDialog::UsersDialog(AccessControl& access, QWidget* parent)
    : QDialog(parent),
      access_(access),
      table_(new QTableWidget(0, 3, this)),
      name_(new QLineEdit(this)),
      role_(new QComboBox(this)),
      password_(new QLineEdit(this)),
      repeat_(new QLineEdit(this)),
      idleMinutes_(new QSpinBox(this)),
      lockMinutes_(new QSpinBox(this)),
      message_(new QLabel(this)) {
  setObjectName(QStringLiteral("FormUsers"));
  setWindowTitle(QStringLiteral(u"Пользователи"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Main));
  auto* root = new QVBoxLayout(this);

  table_->setObjectName(QStringLiteral("UsersTable"));
  table_->setHorizontalHeaderLabels({QStringLiteral(u"Имя"), QStringLiteral(u"Роль"), QStringLiteral(u"Состояние")});
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->verticalHeader()->setVisible(false);
  table_->horizontalHeader()->setStretchLastSection(true);
  root->addWidget(table_);
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] {
    if (const UserAccount* a = access_.accounts().find(selectedName())) {
      name_->setText(a->name);
      role_->setCurrentIndex(role_->findData(int(a->role)));
    }
  });

  auto* account = new QGroupBox(QStringLiteral(u"Учётная запись"), this);
  auto* form = new QFormLayout(account);
  name_->setObjectName(QStringLiteral("UserName"));
  role_->setObjectName(QStringLiteral("UserRole"));
  for (Role r : allRoles()) role_->addItem(roleText(r), int(r));
  password_->setObjectName(QStringLiteral("UserPassword"));
  repeat_->setObjectName(QStringLiteral("UserPasswordRepeat"));
  password_->setEchoMode(QLineEdit::Password);
  repeat_->setEchoMode(QLineEdit::Password);
  form->addRow(QStringLiteral(u"Имя"), name_);
  form->addRow(QStringLiteral(u"Роль"), role_);
  form->addRow(QStringLiteral(u"Пароль"), password_);
  form->addRow(QStringLiteral(u"Пароль ещё раз"), repeat_);
  auto* commands = new QGridLayout;
  const struct {
    const char* name;
    QString text;
    void (UsersDialog::*slot)();
    int row, col;
  } buttons[] = {
      {"AddUser", QStringLiteral(u"Добавить"), &UsersDialog::onAdd, 0, 0},
      {"SetRole", QStringLiteral(u"Изменить роль"), &UsersDialog::onSetRole, 0, 1},
      {"SetPassword", QStringLiteral(u"Сменить пароль"), &UsersDialog::onSetPassword, 0, 2},
      {"UnlockUser", QStringLiteral(u"Разблокировать"), &UsersDialog::onUnlock, 1, 1},
      {"RemoveUser", QStringLiteral(u"Удалить"), &UsersDialog::onRemove, 1, 2},
  };
  for (const auto& b : buttons) {
    auto* button = new QPushButton(b.text, account);
    button->setObjectName(QLatin1String(b.name));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, b.slot);
    commands->addWidget(button, b.row, b.col);
  }
  form->addRow(commands);
  root->addWidget(account);

  auto* limits = new QGroupBox(QStringLiteral(u"Вход"), this);
  auto* limitsForm = new QFormLayout(limits);
  idleMinutes_->setObjectName(QStringLiteral("IdleMinutes"));
  idleMinutes_->setRange(0, 24 * 60);
  idleMinutes_->setSpecialValueText(QStringLiteral(u"не выходить"));
  lockMinutes_->setObjectName(QStringLiteral("LockMinutes"));
  lockMinutes_->setRange(1, 24 * 60);
  limitsForm->addRow(QStringLiteral(u"Выход без действий через, мин"), idleMinutes_);
  limitsForm->addRow(QStringLiteral(u"Блокировка после %1 неудачных попыток, мин").arg(AccessSettings::kMaxFailedLogins),
                     lockMinutes_);
  auto* saveSettings = new QPushButton(QStringLiteral(u"Сохранить"), limits);
  saveSettings->setObjectName(QStringLiteral("SaveAccessSettings"));
  saveSettings->setAutoDefault(false);
  connect(saveSettings, &QPushButton::clicked, this, &UsersDialog::onSaveSettings);
  limitsForm->addRow(saveSettings);
  root->addWidget(limits);

  message_->setObjectName(QStringLiteral("UsersMessage"));
  message_->setWordWrap(true);
  root->addWidget(message_);
  auto* close = new QDialogButtonBox(QDialogButtonBox::Close, this);
  close->button(QDialogButtonBox::Close)->setText(QStringLiteral(u"Закрыть"));
  close->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("ButtonClose"));
  connect(close, &QDialogButtonBox::rejected, this, &UsersDialog::reject);
  root->addWidget(close);
  connect(&access_, &AccessControl::changed, this, &UsersDialog::refresh);
  connect(&access_, &AccessControl::accountsSaved, this, &UsersDialog::refresh);  // failed logins, locks
  refresh();
}

void UsersDialog::refresh() {
  const QVector<UserAccount>& accounts = access_.accounts().accounts();
  const QString selected = selectedName();
  table_->setRowCount(int(accounts.size()));
  const qint64 now = seams::currentDateTime().toMSecsSinceEpoch();
  for (int i = 0; i < accounts.size(); ++i) {
    const UserAccount& a = accounts[i];
    const QString state =
        a.lockedUntilUtcMs > now
            ? QStringLiteral(u"заблокирована до %1")
                  .arg(QDateTime::fromMSecsSinceEpoch(a.lockedUntilUtcMs).toLocalTime().toString(QStringLiteral("dd.MM.yyyy hh:mm")))
            : a.failedLogins > 0 ? QStringLiteral(u"неудачных попыток: %1").arg(a.failedLogins)
                                 : QString();
    table_->setItem(i, 0, new QTableWidgetItem(a.name));
    table_->setItem(i, 1, new QTableWidgetItem(roleText(a.role)));
    table_->setItem(i, 2, new QTableWidgetItem(state));
    if (a.name == selected) table_->selectRow(i);
  }
  idleMinutes_->setValue(access_.accounts().settings().idleMinutes);
  lockMinutes_->setValue(access_.accounts().settings().lockMinutes);
  // The first account can only be an administrator's.
  if (accounts.isEmpty()) role_->setCurrentIndex(role_->findData(int(Role::Administrator)));
}

QString UsersDialog::selectedName() const {
  const QList<QTableWidgetItem*> items = table_->selectedItems();
  return items.isEmpty() ? QString() : table_->item(items.first()->row(), 0)->text();
}

void UsersDialog::say(const QString& text, bool error) {
  QPalette p = message_->palette();
  p.setColor(QPalette::WindowText, error ? Qt::red : palette().color(QPalette::WindowText));
  message_->setPalette(p);
  message_->setText(text);
}

bool UsersDialog::passwordsAgree() {
  if (password_->text() == repeat_->text()) return true;
  say(QStringLiteral(u"Пароли не совпадают"), true);
  return false;
}

void UsersDialog::onAdd() {
  if (!passwordsAgree()) return;
  QString error;
  const bool ok = access_.addUser(name_->text(), Role(role_->currentData().toInt()), password_->text(), &error);
  password_->clear();
  repeat_->clear();
  if (!ok) return say(error.isEmpty() ? QStringLiteral(u"Нет права управлять пользователями") : error, true);
  say(QStringLiteral(u"Пользователь %1 добавлен").arg(name_->text().trimmed()), false);
}

void UsersDialog::onSetRole() {
  QString error;
  if (!access_.setRole(name_->text(), Role(role_->currentData().toInt()), &error))
    return say(error.isEmpty() ? QStringLiteral(u"Нет права управлять пользователями") : error, true);
  say(QStringLiteral(u"Роль изменена"), false);
}

void UsersDialog::onSetPassword() {
  if (!passwordsAgree()) return;
  QString error;
  const bool ok = access_.setPassword(name_->text(), password_->text(), &error);
  password_->clear();
  repeat_->clear();
  if (!ok) return say(error.isEmpty() ? QStringLiteral(u"Нет права управлять пользователями") : error, true);
  say(QStringLiteral(u"Пароль изменён"), false);
}

void UsersDialog::onUnlock() {
  QString error;
  if (!access_.unlockUser(name_->text(), &error))
    return say(error.isEmpty() ? QStringLiteral(u"Нет права управлять пользователями") : error, true);
  say(QStringLiteral(u"Учётная запись разблокирована"), false);
}

void UsersDialog::onRemove() {
  const QString name = name_->text().trimmed();
  if (!seams::confirmBox(this, QStringLiteral(u"Удалить пользователя %1?").arg(name))) return;
  QString error;
  if (!access_.removeUser(name, &error))
    return say(error.isEmpty() ? QStringLiteral(u"Нет права управлять пользователями") : error, true);
  say(QStringLiteral(u"Пользователь %1 удалён").arg(name), false);
}

void UsersDialog::onSaveSettings() {
  AccessSettings s = access_.accounts().settings();
  s.idleMinutes = idleMinutes_->value();
  s.lockMinutes = lockMinutes_->value();
  QString error;
  if (!access_.setSettings(s, &error))
    return say(error.isEmpty() ? QStringLiteral(u"Нет права управлять пользователями") : error, true);
  say(QStringLiteral(u"Настройки входа сохранены"), false);
}

void UsersDialog::done(int result) {
  password_->clear();
  repeat_->clear();
  QDialog::done(result);
}
