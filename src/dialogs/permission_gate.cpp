#include "dialogs/permission_gate.h"

#include <QAction>
#include <QActionGroup>
#include <QHBoxLayout>
#include <QLayout>
#include <QMenu>
#include <QWidget>

PermissionGate::PermissionGate(QObject* parent) : QObject(parent) {}

void PermissionGate::bind(QAction* action, Command command) {
  ActionBinding b{action, command, nullptr, action->toolTip()};
  actions_.append(b);
}

void PermissionGate::bind(QWidget* widget, Command command) {
  widgets_.append({widget, command, nullptr, widget->toolTip()});
}

// The holder takes the widget's place in its parent: in the parent's layout,
// or at its geometry where the parent places by hand.
QWidget* PermissionGate::holderOf(WidgetBinding& b) {
  if (b.holder || !b.widget) return b.holder;
  QWidget* w = b.widget;
  QWidget* parent = w->parentWidget();
  if (!parent) return nullptr;
  const bool shown = w->isVisibleTo(parent);
  auto* holder = new QWidget(parent);
  holder->setObjectName(w->objectName() + QStringLiteral("Holder"));
  QLayout* layout = parent->layout();
  // The layout hands back the item that held the widget: it is ours to delete
  // (the widget itself goes into the holder).
  if (QLayoutItem* old = layout ? layout->replaceWidget(w, holder) : nullptr)
    delete old;
  else
    holder->setGeometry(w->geometry());
  holder->setSizePolicy(w->sizePolicy());
  auto* inner = new QHBoxLayout(holder);
  inner->setContentsMargins(0, 0, 0, 0);
  inner->addWidget(w);
  if (!shown)
    holder->hide();
  else if (parent->isVisible())
    holder->show();
  b.holder = holder;
  return holder;
}

void PermissionGate::apply(const AccessState& state) {
  for (ActionBinding& b : actions_) {
    if (!b.action) continue;
    const bool allowed = state.allows(b.command);
    if (!b.group && allowed) continue;  // never refused yet: nothing to undo
    if (!b.group) {
      b.group = new QActionGroup(this);
      b.group->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
      b.group->addAction(b.action);
      for (QObject* o : b.action->associatedObjects())
        if (auto* menu = qobject_cast<QMenu*>(o)) menu->setToolTipsVisible(true);
    }
    b.group->setEnabled(allowed);
    b.action->setToolTip(allowed ? b.toolTip : state.refusal(b.command));
  }
  for (WidgetBinding& b : widgets_) {
    if (!b.widget) continue;
    const bool allowed = state.allows(b.command);
    if (!b.holder && allowed) continue;
    if (QWidget* holder = holderOf(b)) holder->setEnabled(allowed);
    b.widget->setToolTip(allowed ? b.toolTip : state.refusal(b.command));
  }
}
