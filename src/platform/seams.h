#pragma once
// The few places where the program meets the machine: the clock, the locale
// and the executable's path. Each has a default that uses Qt and can be
// replaced, so a test can move the date past midnight or point the program at
// a temporary directory without touching the code that uses them. The
// desktop's seams (message boxes, dialogs, the beep) are the widget side's:
// ui/widget_seams.h.
//
// Replacements are made before the program's threads start and stay while
// they run: the measuring thread reads the clock too.

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <functional>

namespace seams {

// ---- clock -----------------------------------------------------------------
// Date-times of the program are doubles counting days since 30 December 1899,
// the fraction being the time of day, in local time.
QDateTime currentDateTime();
double now();
double toDateTime(const QDateTime& local);
QDateTime fromDateTime(double dateTime);
void setClock(std::function<QDateTime()> clock);  // empty function: the real clock

// ---- locale ----------------------------------------------------------------
QLocale locale();  // QLocale::system() unless replaced
void setLocale(const QLocale& locale);
void resetLocale();

// ---- executable path -------------------------------------------------------------
QString executablePath();
void setExecutablePath(const QString& path);  // empty: QCoreApplication::applicationFilePath()

// Removes every replacement of these, as at program start.
void resetAll();

}  // namespace seams
