#include "core/notice.h"

QString Notice::line() const {
  QString t = text;
  t.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
  t.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return title.isEmpty() ? t : title + QStringLiteral(": ") + t;
}
