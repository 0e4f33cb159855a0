// The audit crash test's writer: records audit entries until it is killed,
// telling the test over stdout how far it got.
//
//   korvex_audit_writer DB COUNT
//
// Prints "OPEN <first id>" (the number the next entry gets), then "A <id>"
// once each entry is committed, then "DONE".

#include <QCoreApplication>
#include <cstdio>

#include "data/audit_trail.h"
#include "data/result_store.h"
#include "data/store_rows.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DB COUNT\n", argv[0]);
    return 2;
  }
  const QString path = QString::fromLocal8Bit(argv[1]);
  const long count = std::atol(argv[2]);
  ResultStore store;
  if (!store.open(path, store_rows::kStartUtcMs).isWritable()) return 1;
  AuditTrail trail;
  QString error;
  if (!trail.open(path, true, &error)) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  std::printf("OPEN %lld\n", static_cast<long long>(trail.head().id + 1));
  std::fflush(stdout);
  for (long i = 0; i < count; ++i) {
    // A result between entries, as the program commits them: two
    // connections writing one file in turn.
    store.append(store_rows::Row(store.lastCommittedSeq()));
    const qint64 id = trail.record(AuditKind::SettingChanged, QStringLiteral("Test/Key"), QStringLiteral(u"запись"),
                                   QString::number(i), QString::number(i + 1));
    if (trail.pendingCount() > 0) {
      std::printf("FAILED %s\n", qPrintable(trail.lastError()));
      return 1;
    }
    std::printf("A %lld\n", static_cast<long long>(id));
    std::fflush(stdout);
  }
  std::printf("DONE\n");
  std::fflush(stdout);
  return 0;
}
