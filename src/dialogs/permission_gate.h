#pragma once
// Shows the commands the user at the program may not give as disabled, with
// the reason as their tooltip, and gives them back when the user changes.
// Their own enabled state stays theirs: a menu command sits in an action
// group of its own and a button in a holder widget, and only the group or
// the holder is disabled, so the window's logic (a mode button enabled when
// the analyzer is ready, say) goes on as before. Without accounts nothing is
// touched at all.
//
//   gate->bind(optionsAction, Command::Options);
//   gate->bind(cyclicButton, Command::Modes);
//   connect(&access, &AccessControl::changed, gate, [&] { gate->apply(access.state()); });

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QVector>

#include "storage/permissions.h"

class QAction;
class QActionGroup;
class QWidget;

class PermissionGate : public QObject {
  Q_OBJECT
 public:
  explicit PermissionGate(QObject* parent = nullptr);

  void bind(QAction* action, Command command);
  void bind(QWidget* widget, Command command);
  // Enables and disables by `state`; refused commands get the reason as tooltip.
  void apply(const AccessState& state);

 private:
  struct ActionBinding {
    QPointer<QAction> action;
    Command command;
    QActionGroup* group = nullptr;
    QString toolTip;
  };
  struct WidgetBinding {
    QPointer<QWidget> widget;
    Command command;
    QPointer<QWidget> holder;  // made when first needed
    QString toolTip;
  };
  QWidget* holderOf(WidgetBinding& b);

  QVector<ActionBinding> actions_;
  QVector<WidgetBinding> widgets_;
};
