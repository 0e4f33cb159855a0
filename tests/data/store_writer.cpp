// The crash test's writer: commits results to the database until it is
// killed, telling the test over stdout how far it got.
//
//   korvex_store_writer DB SINGLES BATCH PAUSE_AT [HOLD | LATER]
//
// Prints "OPEN <status>", then "C <seq>" once each of SINGLES results is
// committed, one by one. Then writes BATCH results in one transaction; after
// PAUSE_AT of them it prints "PAUSE <written>" and waits for a line on stdin.
// "DONE" at the end. With HOLD it also prints "WAIT" and waits for a line
// before the batch, and waits for another line after "DONE" before it
// closes the database. With LATER the single results are committed for a
// later sync, none of which comes. Result number s is store_rows::Row(s - 1).

#include <QCoreApplication>
#include <cstdio>

#include "data/result_store.h"
#include "data/store_rows.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: %s DB SINGLES BATCH PAUSE_AT [HOLD | LATER]\n", argv[0]);
    return 2;
  }
  const QString path = QString::fromLocal8Bit(argv[1]);
  const long singles = std::atol(argv[2]), batch = std::atol(argv[3]), pauseAt = std::atol(argv[4]);

  ResultStore store;
  const auto opened = store.open(path, store_rows::kStartUtcMs);
  std::printf("OPEN %d\n", int(opened.status));
  std::fflush(stdout);
  if (!opened.isWritable()) return 1;

  const QByteArray option = argc == 6 ? QByteArray(argv[5]) : QByteArray();
  const auto sync = option == "LATER" ? ResultStore::Sync::Later : ResultStore::Sync::Now;
  qint64 next = store.lastCommittedSeq();
  for (long i = 0; i < singles; ++i, ++next) {
    const auto out = store.append(store_rows::Row(next), sync);
    if (out.state != ResultStore::AppendState::Committed) {
      std::printf("FAILED %s\n", qPrintable(out.error));
      return 1;
    }
    std::printf("C %lld\n", static_cast<long long>(out.id));
    std::fflush(stdout);
  }
  const bool hold = option == "HOLD";
  const auto waitForLine = [] {
    char line[16];
    return std::fgets(line, sizeof line, stdin) != nullptr;
  };
  if (hold) {
    std::printf("WAIT\n");
    std::fflush(stdout);
    if (!waitForLine()) return 0;
  }
  if (batch > 0) {
    std::vector<Result> rows;
    for (long i = 0; i < batch; ++i) rows.push_back(store_rows::Row(next + i));
    bool paused = false;
    store.appendBatch(rows, [&](int written) {
      if (paused || written < pauseAt) return;
      paused = true;
      std::printf("PAUSE %d\n", written);
      std::fflush(stdout);
      char line[16];
      if (!std::fgets(line, sizeof line, stdin)) return;
    });
  }
  std::printf("DONE\n");
  std::fflush(stdout);
  if (hold) waitForLine();
  return 0;
}
