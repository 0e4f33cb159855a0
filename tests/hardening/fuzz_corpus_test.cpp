// Every seed of the fuzz corpora and every input a fuzzer ever found a fault
// with runs through the same harness here, so a fixed fault stays fixed.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "fuzz/harnesses.h"

namespace {

using Harness = int (*)(const uint8_t*, size_t);

int replayAll(const QString& target, Harness harness) {
  int inputs = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    QDir dir(QStringLiteral(KORVEX_FUZZ_DIR) + QLatin1Char('/') + QLatin1String(kind) + QLatin1Char('/') + target);
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
      QFile f(dir.filePath(name));
      if (!f.open(QIODevice::ReadOnly)) continue;
      const QByteArray bytes = f.readAll();
      SCOPED_TRACE(name.toStdString());
      EXPECT_EQ(harness(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())), 0);
      ++inputs;
    }
  }
  return inputs;
}

TEST(FuzzCorpus, PollTickInputsRunClean) { EXPECT_GT(replayAll(QStringLiteral("poll_tick"), fuzzPollTick), 0); }
TEST(FuzzCorpus, DataFileInputsRunClean) { EXPECT_GT(replayAll(QStringLiteral("data_file"), fuzzDataFile), 0); }
TEST(FuzzCorpus, SettingsInputsRunClean) { EXPECT_GT(replayAll(QStringLiteral("settings"), fuzzSettings), 0); }

}  // namespace
