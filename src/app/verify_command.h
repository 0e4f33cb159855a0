#pragma once
// korvex --verify [--dir DIR]: checks the audit trail of the results
// database and every day sealed in it (trail_check.h), and prints one line:
// the first broken entry or day, what differs, or "цепочка цела: N записей,
// M дней". Exit status 0 when whole, 1 when broken, 2 when the database
// cannot be read (or the command line is wrong). Reads only: an instance
// running on the same database goes on undisturbed.

#include <QString>
#include <QStringList>
#include <functional>

// `arguments` after the program's name; `print` gets the line (stdout by
// default), `warn` a usage or progress message (stderr by default).
int runVerify(const QStringList& arguments, const std::function<void(const QString&)>& print = {},
              const std::function<void(const QString&)>& warn = {});
