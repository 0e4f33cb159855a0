#pragma once
// Shared by the storage tests that run the main window: results put straight
// into the table as the poll cycle would, file helpers, and the two texts the
// operator sees when a file cannot be written or read.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>

#include "app/Korvex_ModbusRTU_MainChat.h"
#include "storage/settings_records.h"
#include "support/korvex_fixture.h"
#include "view/results_table.h"
#include "view/trend_chart.h"

#include "support/test_files.h"

namespace storage_test {

inline const QString kWriteError =
    QStringLiteral(u"Ошибка записи данных!\r\nЗакройте лишние приложения или перезагрузите компьютер!");
inline const QString kReadError =
    QStringLiteral(u"Файл слишком велик, заблокирован\r\nили содержит ошибки формата!");

using test_files::ReadAll;
using test_files::WriteAll;

// A plausible measurement; `tg` tells the results apart.
inline TMeasurement Sample(double tg) {
  TMeasurement m{};
  m.Tg = tg;
  m.Ta = 24;
  m.O2 = 6.1;
  m.CO = 42;
  m.NO = 118;
  m.NO2 = 3;
  m.CO2 = 10.95;
  m.NOx = 121;
  m.Qa = 8.72;
  m.Alf = 1.41;
  return m;
}

// The program with default settings, started at the fixture's clock.
class StorageFixture : public KorvexFixture {
 protected:
  void SetUp() override {
    KorvexFixture::SetUp();
    if (!exeName_.isEmpty()) {
      exePath_ = InDir(exeName_);
      seams::SetExecutablePath(exePath_);
    }
    WriteDefaultSettings();
    StartProgram();
    TakeMessages();
  }

  // A result as the poll cycle hands it over: Measurement, ResultTime, WievResult.
  void AddResult(const TMeasurement& m) {
    DeviceRecord.Measurement = m;
    Form1->Poll.ResultTime = seams::ToDateTime(Now());
    Form1->WievResult();
  }
  void AddResult(double tg) { AddResult(Sample(tg)); }

  QStringList RowTexts() const {
    QStringList rows;
    for (int r = 0; r < Form1->Grid->RowCount(); ++r)
      rows << QString::fromUtf8(Form1->Grid->RowText(r).data(), qsizetype(Form1->Grid->RowText(r).size()));
    return rows;
  }

  // Answers the next file dialog with `path`.
  void ChooseFile(const QString& path) {
    fileDialog_ = [path](const seams::FileDialogRequest&) { return path; };
  }

  QString exeName_;  // set before SetUp to run the program under another name
};

}  // namespace storage_test
