#pragma once
// The logging category of publishing and of the central database:
// "korvex.publish". Whoever keeps the program's log installs a message
// handler; nothing logged here holds a password.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(korvexPublish)
