#pragma once
// What the program tells the operator without asking anything: a port that
// would not open, the analyzer lost, a database or a settings file that
// cannot be used as it should, data that could not be written, publishing
// that lost its broker. Measuring goes on meanwhile; the window shows a
// notice without stopping anything, the service prints it, and the event log
// records it. A notice is a value: it travels from the measuring thread to
// whoever shows it.

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <cstdint>

enum class NoticeTopic : uint8_t {
  Port,              // the port would not open
  Analyzer,          // the analyzer stopped answering
  Database,          // the results database is not in full use
  Settings,          // the settings files were missing or could not be written
  DataWrite,         // results could not be written to a file
  EmissionSettings,  // the emissions settings file could not be used as it is
  Publishing,        // the broker or the central database is away, or refused
  Audit,             // the audit trail or the accounts could not be used, or the trail is broken
};

enum class NoticeLevel : uint8_t { Info, Warning, Error };

struct Notice {
  qint64 utcMs = 0;       // when it happened
  int32_t utcOffset = 0;  // seconds east of UTC of the local clock then
  NoticeTopic topic = NoticeTopic::Port;
  NoticeLevel level = NoticeLevel::Info;
  QString title;      // a heading of its own ("Не могу открыть порт"); may be empty
  QString text;       // as the program words it, lines ended by CR LF
  bool beep = false;  // the operator is called to it

  // "title: text" on one line, the line ends as blanks: for a status line, a
  // list or a log.
  QString line() const;

  // A notice given `now` (the local clock, for its offset).
  static Notice at(const QDateTime& now, NoticeTopic topic, NoticeLevel level, const QString& title,
                   const QString& text, bool beep);
};

Q_DECLARE_METATYPE(Notice)
