// The link statistics as the operator sees them: counted tick by tick from
// the replies the poll cycle finds, the line's bytes and reopens, shown in the
// status bar and in the window of the "Сервис" menu, and reset there.

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "acquisition/link_statistics.h"
#include "app/link_statistics_view.h"
#include "dialogs/link_statistics_dialog.h"
#include "support/korvex_fixture.h"

namespace {

class LinkStatisticsTest : public KorvexFixture {
 protected:
  LinkStatistics stats() const { return poll().statistics(); }
  QString statusLine() const { return find<QLabel>("LabelLinkStatistics")->text(); }
  QString figure(const char* name) const {
    return find<QLabel>(name, find<LinkStatisticsDialog>("FormLinkStatistics"))->text();
  }
};

TEST_F(LinkStatisticsTest, EveryTickCountsItsRequestAndWhatTheNextTickFoundForIt) {
  startWithDefaults();
  const Frame reply = statusReply(1, 0);
  tick();                             // the start-up stop goes out
  tickWith(commandEcho(1, 3));        // accepted
  tick();                             // nothing came
  Frame spoilt = reply;
  spoilt.back() ^= 0xFF;
  tickWith(spoilt);                   // wrong CRC
  tickWith(Frame(reply.begin(), reply.begin() + 16));  // broken off
  tickWith(reply);                    // accepted
  tickWith(withCrc({0x01, 0x84, 0x02}));  // an exception reply fails the test too

  const LinkStatistics s = stats();
  EXPECT_EQ(s.requests, 7);
  EXPECT_EQ(s.replies, 2);
  EXPECT_EQ(s.errors, 3);
  EXPECT_EQ(s.silences, 1);
  EXPECT_EQ(s.bytesSent, 7 * 8);
  EXPECT_EQ(s.bytesReceived, 8 + 33 + 16 + 33 + 5);
  EXPECT_EQ(s.timedReplies, 2);
  EXPECT_GE(s.lastReplyMs, 0);
  EXPECT_GE(s.maxReplyMs, s.lastReplyMs);
  EXPECT_EQ(s.since, now());

  // The status line follows every tenth tick.
  tickWith(reply);
  tickWith(reply);
  EXPECT_TRUE(statusLine().startsWith(QStringLiteral(u"Запросов 0, ответов 0, "))) << statusLine().toStdString();
  tickWith(reply);
  EXPECT_TRUE(statusLine().startsWith(
      QStringLiteral(u"Запросов 10, ответов 5, ошибок CRC 3, без ответа 1, переподключений 0, ответ ")))
      << statusLine().toStdString();
}

TEST_F(LinkStatisticsTest, APortThatCannotBeOpenedSendsNothingAndIsTriedAgainQuietly) {
  writeDefaultSettings(QStringLiteral("COM3"));
  serial_.refuseOpen = true;
  startProgram();
  ASSERT_EQ(takeNotices().size(), 1u);
  for (int i = 0; i < 10; ++i) tick();
  // Requests the closed port did not take were not sent: neither requests
  // nor silences.
  const LinkStatistics s = stats();
  EXPECT_EQ(s.requests, 0);
  EXPECT_EQ(s.silences, 0);
  EXPECT_EQ(s.bytesSent, 0);
  EXPECT_EQ(s.timedReplies, 0);
  EXPECT_EQ(statusLine(), QStringLiteral(u"Запросов 0, ответов 0, ошибок CRC 0, без ответа 0, "
                                         u"переподключений 0, ответ — мс (ср. —, макс. —)"));

  // The port is tried again every three seconds without a box; once there,
  // the event log says so and the requests go out.
  Timer* retry = session().link().port()->reopenTimer();
  ASSERT_TRUE(retry->isEnabled());
  EXPECT_EQ(retry->interval(), 3000);
  retry->fire();
  retry->fire();
  EXPECT_TRUE(takeMessages().empty());
  serial_.refuseOpen = false;
  retry->fire();
  EXPECT_TRUE(session().link().isOpen());
  EXPECT_FALSE(retry->isEnabled());
  EXPECT_TRUE(takeMessages().empty());
  const QVector<StoredEvent> opened = events(EventKind::PortOpened);
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened[0].text, QStringLiteral(u"Порт открыт: COM3"));
  EXPECT_TRUE(events(EventKind::PortReopened).isEmpty());
  tick();
  tickWith(commandEcho(1, 3));
  EXPECT_EQ(stats().requests, 2);
  EXPECT_EQ(stats().replies, 1);
  EXPECT_EQ(stats().silences, 0);
}

TEST_F(LinkStatisticsTest, ALostLineOpenedAgainCountsAsAReconnect) {
  writeDefaultSettings(QStringLiteral("/dev/ttyUSB0"));
  startProgram();
  ASSERT_TRUE(takeMessages().empty());
  serial_.refuseOpen = true;
  serial_.fail();
  ASSERT_FALSE(session().link().isOpen());
  Timer* reopen = session().link().port()->reopenTimer();
  ASSERT_TRUE(reopen->isEnabled());
  reopen->fire();
  EXPECT_EQ(stats().reconnects, 0);
  serial_.broken = serial_.refuseOpen = false;
  reopen->fire();
  EXPECT_TRUE(session().link().isOpen());
  EXPECT_EQ(stats().reconnects, 1);
  for (int i = 0; i < 10; ++i) tick();
  EXPECT_TRUE(statusLine().contains(QStringLiteral(u"переподключений 1,"))) << statusLine().toStdString();
}

TEST_F(LinkStatisticsTest, TheServiceMenuOpensTheFiguresAndResetStartsTheCountAfresh) {
  startWithDefaults();
  QAction* item = find<QAction>("ActionLinkStatistics");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text(), QStringLiteral(u"Статистика связи"));
  EXPECT_TRUE(find<QMenu>("N3")->actions().contains(item));
  tick();
  tickWith(commandEcho(1, 3));
  tick();

  item->trigger();
  auto* dialog = find<LinkStatisticsDialog>("FormLinkStatistics");
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(dialog->isModal());
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral(u"Статистика связи"));
  EXPECT_EQ(figure("LabelSince"), QStringLiteral("06.12.2026 10:00:00"));
  EXPECT_EQ(figure("LabelRequests"), QStringLiteral("3"));
  EXPECT_EQ(figure("LabelReplies"), QStringLiteral("1"));
  EXPECT_EQ(figure("LabelSilences"), QStringLiteral("1"));
  EXPECT_EQ(figure("LabelBytesSent"), QStringLiteral("24"));
  EXPECT_EQ(figure("LabelBytesReceived"), QStringLiteral("8"));
  // An open window follows the ticks.
  tickWith(commandEcho(1, 3));
  EXPECT_EQ(figure("LabelRequests"), QStringLiteral("4"));
  EXPECT_EQ(figure("LabelReplies"), QStringLiteral("2"));

  advance(60);
  find<QPushButton>("ButtonReset", dialog)->click();
  EXPECT_EQ(figure("LabelRequests"), QStringLiteral("0"));
  EXPECT_EQ(figure("LabelReplies"), QStringLiteral("0"));
  EXPECT_EQ(figure("LabelBytesSent"), QStringLiteral("0"));
  EXPECT_EQ(figure("LabelLastReply"), QStringLiteral(u"—"));
  EXPECT_EQ(figure("LabelSince"), QStringLiteral("06.12.2026 10:01:00"));
  EXPECT_TRUE(statusLine().startsWith(QStringLiteral(u"Запросов 0, ответов 0,"))) << statusLine().toStdString();
  // A reply to a request from before the reset is not counted.
  tickWith(commandEcho(1, 3));
  EXPECT_EQ(stats().requests, 1);
  EXPECT_EQ(stats().replies, 0);
  tickWith(commandEcho(1, 3));
  EXPECT_EQ(stats().requests, 2);
  EXPECT_EQ(stats().replies, 1);
  find<QPushButton>("ButtonClose", dialog)->click();
  EXPECT_FALSE(dialog->isVisible());
}

}  // namespace
