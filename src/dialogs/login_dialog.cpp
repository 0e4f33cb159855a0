#include "dialogs/login_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/glyphs.h"

LoginDialog::LoginDialog(QWidget* parent)
    : QDialog(parent), name_(new QLineEdit(this)), password_(new QLineEdit(this)), message_(new QLabel(this)) {
  setObjectName(QStringLiteral("FormLogin"));
  setWindowTitle(QStringLiteral(u"Вход в систему"));
  setWindowIcon(glyphs::windowIcon(glyphs::Window::Main));
  name_->setObjectName(QStringLiteral("LoginName"));
  password_->setObjectName(QStringLiteral("LoginPassword"));
  password_->setEchoMode(QLineEdit::Password);
  message_->setObjectName(QStringLiteral("LoginMessage"));
  message_->setWordWrap(true);
  QPalette red = message_->palette();
  red.setColor(QPalette::WindowText, Qt::red);
  message_->setPalette(red);
  auto* root = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral(u"Пользователь"), name_);
  form->addRow(QStringLiteral(u"Пароль"), password_);
  root->addLayout(form);
  root->addWidget(message_);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* enter = buttons->addButton(QStringLiteral(u"Войти"), QDialogButtonBox::AcceptRole);
  QPushButton* cancel = buttons->addButton(QStringLiteral(u"Отмена"), QDialogButtonBox::RejectRole);
  enter->setObjectName(QStringLiteral("ButtonApply"));
  cancel->setObjectName(QStringLiteral("ButtonCancel"));
  enter->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &LoginDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &LoginDialog::reject);
  root->addWidget(buttons);
}

void LoginDialog::prepare(const QString& name) {
  setResult(QDialog::Rejected);
  name_->setText(name);
  password_->clear();
  message_->clear();
  (name.isEmpty() ? name_ : password_)->setFocus();
}

void LoginDialog::accept() {
  const QString why = check_ ? check_(name_->text(), password_->text()) : QStringLiteral(u"вход невозможен");
  password_->clear();
  if (!why.isEmpty()) {
    message_->setText(why);
    password_->setFocus();
    return;
  }
  QDialog::accept();
}

void LoginDialog::done(int result) {
  password_->clear();
  QDialog::done(result);
}
