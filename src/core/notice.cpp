#include "core/notice.h"

QString Notice::line() const {
  QString t = text;
  t.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  t.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return title.isEmpty() ? t : title + QStringLiteral(": ") + t;
}

Notice Notice::at(const QDateTime& now, NoticeTopic topic, NoticeLevel level, const QString& title,
                  const QString& text, bool beep) {
  Notice n;
  n.utcMs = now.toMSecsSinceEpoch();
  n.utcOffset = now.offsetFromUtc();
  n.topic = topic;
  n.level = level;
  n.title = title;
  n.text = text;
  n.beep = beep;
  return n;
}
