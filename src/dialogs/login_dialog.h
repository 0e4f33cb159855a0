#pragma once
// "Вход в систему": a name and a password, checked by whoever the window
// hands it (AccessControl); a wrong one is said in the dialog, which stays
// open. The password field is emptied whenever the dialog closes, so the
// text does not stay in memory longer than the check.

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;

class LoginDialog : public QDialog {
  Q_OBJECT
 public:
  // Checks a name and a password: empty when logged in, else what to say.
  using Check = std::function<QString(const QString& name, const QString& password)>;

  explicit LoginDialog(QWidget* parent = nullptr);
  void setCheck(Check check) { check_ = std::move(check); }
  // Opens with the name filled in (the last user's), the message cleared.
  void prepare(const QString& name);

  void accept() override;
  void done(int result) override;

 private:
  Check check_;
  QLineEdit* name_;
  QLineEdit* password_;
  QLabel* message_;
};
