// The new windows' titles shown whole: the window manager cuts a title to the
// width of its window ("История … ультатов"), so a window with a long title
// is made wide enough for it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <memory>
#include <vector>

#include "dialogs/emission_limits_dialog.h"
#include "dialogs/emission_report_dialog.h"
#include "dialogs/history_dialog.h"
#include "dialogs/link_statistics_dialog.h"
#include "dialogs/publish_dialog.h"
#include "ui/widget_seams.h"

namespace {

TEST(WindowTitlesTest, EachNewDialogIsWideEnoughForItsTitle) {
  const QFont before = QApplication::font();
  QApplication::setFont(QFont(QStringLiteral("MS Sans Serif"), 8));  // the program's
  std::vector<std::unique_ptr<QDialog>> dialogs;
  dialogs.push_back(std::make_unique<HistoryDialog>());
  dialogs.push_back(std::make_unique<EmissionLimitsDialog>());
  dialogs.push_back(std::make_unique<EmissionReportDialog>());
  dialogs.push_back(std::make_unique<LinkStatisticsDialog>());
  dialogs.push_back(std::make_unique<PublishDialog>());
  for (const auto& d : dialogs) {
    d->show();
    QApplication::processEvents();
    EXPECT_GE(d->width(), seams::titleBarWidth(d->windowTitle(), d->font())) << d->windowTitle().toStdString();
    d->hide();
  }
  QApplication::setFont(before);
}

}  // namespace
