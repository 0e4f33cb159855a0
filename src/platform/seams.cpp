#include "platform/seams.h"

#include <QCoreApplication>
#include <cmath>
#include <optional>

namespace seams {
namespace {

std::function<QDateTime()> g_clock;
std::optional<QLocale> g_locale;
QString g_executablePath;

const QDate kDateTimeEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;

}  // namespace

QDateTime currentDateTime() {
  return g_clock ? g_clock() : QDateTime::currentDateTime();
}

double now() { return toDateTime(currentDateTime()); }

double toDateTime(const QDateTime& local) {
  const QDateTime l = local.toLocalTime();
  return double(kDateTimeEpoch.daysTo(l.date())) + l.time().msecsSinceStartOfDay() / kMsPerDay;
}

QDateTime fromDateTime(double dateTime) {
  const double day = std::floor(dateTime);
  qint64 ms = qint64(std::llround((dateTime - day) * kMsPerDay));
  QDate date = kDateTimeEpoch.addDays(qint64(day));
  if (ms >= qint64(kMsPerDay)) {  // rounding up to the next midnight
    ms = 0;
    date = date.addDays(1);
  }
  return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)));
}

void setClock(std::function<QDateTime()> clock) { g_clock = std::move(clock); }

QLocale locale() { return g_locale ? *g_locale : QLocale::system(); }
void setLocale(const QLocale& locale) { g_locale = locale; }
void resetLocale() { g_locale.reset(); }

QString executablePath() {
  return g_executablePath.isEmpty() ? QCoreApplication::applicationFilePath() : g_executablePath;
}

void setExecutablePath(const QString& path) { g_executablePath = path; }

void resetAll() {
  g_clock = nullptr;
  g_locale.reset();
  g_executablePath.clear();
}

}  // namespace seams
