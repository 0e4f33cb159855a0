#include "app/link_statistics_view.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QStatusBar>

#include "dialogs/link_statistics_dialog.h"

LinkStatisticsView::LinkStatisticsView(QMainWindow* window, QMenu* serviceMenu) : QObject(window) {
  statusLine_ = new QLabel(window);
  statusLine_->setObjectName(QStringLiteral("LabelLinkStatistics"));
  statusLine_->setToolTip(QStringLiteral(u"Обмен с газоанализатором с начала счёта"));
  window->statusBar()->addWidget(statusLine_, 1);
  dialog_ = new LinkStatisticsDialog(window);

  QAction* action = serviceMenu->addAction(QStringLiteral(u"Статистика связи"));
  action->setObjectName(QStringLiteral("ActionLinkStatistics"));
  connect(action, &QAction::triggered, this, &LinkStatisticsView::open);
  // The reset comes back as figures from the session; shown at once then.
  connect(dialog_, &LinkStatisticsDialog::resetRequested, this, [this] {
    ticksSinceShown_ = kStatusLineTicks;
    emit resetRequested();
  });
  showNow();
}

void LinkStatisticsView::onStatistics(const LinkStatistics& statistics) {
  statistics_ = statistics;
  if (++ticksSinceShown_ >= kStatusLineTicks) showNow();
  if (dialog_->isVisible()) dialog_->showStatistics(statistics_);
}

void LinkStatisticsView::showNow() {
  ticksSinceShown_ = 0;
  statusLine_->setText(linkStatisticsLine(statistics_));
  if (dialog_->isVisible()) dialog_->showStatistics(statistics_);
}

void LinkStatisticsView::open() {
  dialog_->showStatistics(statistics_);
  dialog_->show();
  dialog_->raise();
  dialog_->activateWindow();
}
