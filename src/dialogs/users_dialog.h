#pragma once
// "Пользователи": the program's accounts for an administrator (or, while
// there is none, for whoever makes the first one, an administrator): add an
// account, change its role or password, unlock it, remove it, and the idle
// time and the lock time. Each change is saved and recorded by
// AccessControl at once; what it refuses is said in the dialog.

#include <QDialog>

class AccessControl;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTableWidget;

class UsersDialog : public QDialog {
  Q_OBJECT
 public:
  explicit UsersDialog(AccessControl& access, QWidget* parent = nullptr);

  // The table and the settings from the accounts as they are.
  void refresh();

  // The commands, as the buttons give them.
  void onAdd();
  void onSetRole();
  void onSetPassword();
  void onUnlock();
  void onRemove();
  void onSaveSettings();

  void done(int result) override;

 private:
  QString selectedName() const;
  // The two password fields agree; false (and said) when they do not.
  bool passwordsAgree();
  void say(const QString& text, bool error);

  AccessControl& access_;
  QTableWidget* table_;
  QLineEdit* name_;
  QComboBox* role_;
  QLineEdit* password_;
  QLineEdit* repeat_;
  QSpinBox* idleMinutes_;
  QSpinBox* lockMinutes_;
  QLabel* message_;
};
