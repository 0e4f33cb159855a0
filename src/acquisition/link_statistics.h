#pragma once
// The figures of the exchange with the analyzer since the program started or
// the operator reset them: what the poll cycle asked and got, what the line
// carried, and how long the analyzer took to answer.

#include <QDateTime>
#include <QString>
#include <cstdint>

struct LinkStatistics {
  QDateTime since;         // counting began
  int64_t requests = 0;    // requests the poll cycle sent
  int64_t replies = 0;     // replies that passed the acceptance test
  int64_t errors = 0;      // replies that failed it (CRC, broken off, noise)
  int64_t silences = 0;    // ticks that found no reply to their request
  int64_t reconnects = 0;  // a lost line opened again
  int64_t bytesSent = 0;
  int64_t bytesReceived = 0;
  // From the request written to the last byte of an accepted reply.
  int64_t timedReplies = 0;
  double lastReplyMs = 0;
  double maxReplyMs = 0;
  double totalReplyMs = 0;

  double meanReplyMs() const { return timedReplies > 0 ? totalReplyMs / double(timedReplies) : 0; }
  void addReplyTime(double ms);
};

// The status bar line: "Запросов 120, ответов 118, ошибок CRC 1, ...".
QString linkStatisticsLine(const LinkStatistics& s);
// A reply time as shown: whole milliseconds, "—" before any reply was timed.
QString replyTimeText(const LinkStatistics& s, double ms);
