#include "app/link_statistics_view.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>

#include "acquisition/poll_cycle.h"
#include "dialogs/link_statistics_dialog.h"

LinkStatisticsView::LinkStatisticsView(QMainWindow* window, QMenu* serviceMenu, PollCycle& poll)
    : QObject(window), poll_(poll) {
  statusLine_ = new QLabel(window);
  statusLine_->setObjectName(QStringLiteral("LabelLinkStatistics"));
  statusLine_->setToolTip(QStringLiteral(u"Обмен с газоанализатором с начала счёта"));
  window->statusBar()->addWidget(statusLine_, 1);
  dialog_ = new LinkStatisticsDialog(window);

  QAction* action = serviceMenu->addAction(QStringLiteral(u"Статистика связи"));
  action->setObjectName(QStringLiteral("ActionLinkStatistics"));
  connect(action, &QAction::triggered, this, &LinkStatisticsView::open);
  connect(&poll, &PollCycle::statisticsChanged, this, &LinkStatisticsView::onTick);
  connect(dialog_, &LinkStatisticsDialog::resetRequested, this, [this] {
    poll_.resetStatistics();
    showNow();
  });
  showNow();
}

void LinkStatisticsView::onTick() {
  if (++ticksSinceShown_ >= kStatusLineTicks) showNow();
  if (dialog_->isVisible()) dialog_->showStatistics(poll_.statistics());
}

void LinkStatisticsView::showNow() {
  ticksSinceShown_ = 0;
  const LinkStatistics s = poll_.statistics();
  statusLine_->setText(linkStatisticsLine(s));
  if (dialog_->isVisible()) dialog_->showStatistics(s);
}

void LinkStatisticsView::open() {
  dialog_->showStatistics(poll_.statistics());
  dialog_->show();
  dialog_->raise();
  dialog_->activateWindow();
}
