#include "acquisition/link_statistics.h"

#include <algorithm>
#include <cmath>

void LinkStatistics::addReplyTime(double ms) {
  ++timedReplies;
  lastReplyMs = ms;
  maxReplyMs = std::max(maxReplyMs, ms);
  totalReplyMs += ms;
}

QString replyTimeText(const LinkStatistics& s, double ms) {
  if (s.timedReplies == 0) return QStringLiteral(u"—");
  return QString::number(std::llround(ms));
}

QString linkStatisticsLine(const LinkStatistics& s) {
  return QStringLiteral(u"Запросов %1, ответов %2, ошибок CRC %3, без ответа %4, переподключений %5, "
                        u"ответ %6 мс (ср. %7, макс. %8)")
      .arg(s.requests)
      .arg(s.replies)
      .arg(s.errors)
      .arg(s.silences)
      .arg(s.reconnects)
      .arg(replyTimeText(s, s.lastReplyMs), replyTimeText(s, s.meanReplyMs()),
           replyTimeText(s, s.maxReplyMs));
}
