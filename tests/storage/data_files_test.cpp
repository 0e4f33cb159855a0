// "Сохранить" and "Открыть": data files written from the results table and
// read back into table and chart, as the operator uses them.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QAction>
#include <QDir>
#include <QTableView>
#include <csignal>

#include "app/message_timer.h"
#include "storage/table_files.h"
#include "storage_support.h"

namespace {

using namespace storage_test;

class DataFilesTest : public StorageFixture {
 protected:
  // "Открыть" on `path`, with the messages it showed.
  std::vector<RecordedMessage> Open(const QString& path) {
    ChooseFile(path);
    Form1->N9Click();
    fileDialog_ = nullptr;
    return TakeMessages();
  }
  // "Сохранить" to `path`.
  void Save(const QString& path) {
    ChooseFile(path);
    Form1->SaveCharDialog();
    fileDialog_ = nullptr;
  }
};

const QByteArray kHeaderBytes =
    "\xCD\xEE\xEC\xE5\xF0\t\xC4\xE0\xF2\xE0\t\xC2\xF0\xE5\xEC\xFF\tTg,*\xD1\tO2,%\tCO,ppm\tNO,ppm\t"
    "NO2,ppm\tSO2,ppm\tH2S,ppm\tCO2,%\tNOx,ppm\tQa,%\tAlf\tTa,*\xD1\t\xD2\xE5\xF1\xF2\t\r\n";

TEST_F(DataFilesTest, TheHeaderLineIsWindows1251AndARowIsWrittenInTheLocalesForms) {
  SetNow(QDateTime(QDate(2026, 12, 6), QTime(17, 5, 12)));
  AddResult(185);
  Save(InDir(QStringLiteral("a.kvx")));
  const QByteArray bytes = ReadAll(InDir(QStringLiteral("a.kvx")));
  EXPECT_EQ(bytes, kHeaderBytes +
                       "0\t06.12.2026\t17:05:12\t185\t6,1\t42\t118\t3\t0\t0\t10,95\t121\t8,72\t1,41\t24\tOk'\t\r\n");
  EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(DataFilesTest, SaveProposesADatedNameBesideTheProgramAndChangesNothing) {
  AddResult(185);
  const QStringList before = RowTexts();
  ChooseFile(InDir(QStringLiteral("mine")));  // typed without an extension
  Form1->SaveCharDialog();
  ASSERT_EQ(fileDialogs_.size(), 1u);
  EXPECT_TRUE(fileDialogs_[0].save);
  EXPECT_EQ(fileDialogs_[0].filter, QStringLiteral(u"Файлы данных KVX(*.kvx)|*.kvx"));
  EXPECT_EQ(fileDialogs_[0].proposedName, InDir(QStringLiteral("korvex-26-12-06.kvx")));
  EXPECT_TRUE(QFile::exists(InDir(QStringLiteral("mine"))));  // no extension added
  // The results stay, unsaved as far as the day's log is concerned.
  EXPECT_EQ(RowTexts(), before);
  EXPECT_EQ(Form1->Chart1->PointCount(), 1);
  EXPECT_TRUE(Form1->DataNotSaved);
  EXPECT_TRUE(Form1->Timer1->Enabled());

  // Nor does a save set the flag.
  Form1->BitBtn5Click();
  Save(InDir(QStringLiteral("empty.kvx")));
  EXPECT_FALSE(Form1->DataNotSaved);
}

TEST_F(DataFilesTest, AnExistingFileIsReplacedWhole) {
  const QString path = InDir(QStringLiteral("a.kvx"));
  ASSERT_TRUE(WriteAll(path, QByteArray(100000, 'x')));
  Save(path);
  EXPECT_EQ(ReadAll(path), kHeaderBytes + QByteArray(16, '\t') + "\r\n");
}

TEST_F(DataFilesTest, AFileThatCannotBeCreatedIsReportedAndTheTimerRunsAgain) {
  ASSERT_TRUE(WriteAll(InDir(QStringLiteral("plain")), "not a directory"));
  AddResult(185);
  Save(InDir(QStringLiteral("plain/a.kvx")));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, QStringLiteral("Error"));
  EXPECT_EQ(messages_[0].text, kWriteError);
  EXPECT_EQ(beeps_, 1);
  EXPECT_FALSE(messages_[0].timer1Enabled);
  EXPECT_TRUE(Form1->Timer1->Enabled());
  EXPECT_TRUE(Form1->DataNotSaved);
}

TEST_F(DataFilesTest, AFullDiskLeavesTheEarlierFileIntactAndNoTemporaryFile) {
  for (int i = 0; i < 50; ++i) AddResult(100 + i);
  const QString path = InDir(QStringLiteral("a.kvx"));
  ASSERT_TRUE(WriteAll(path, "earlier contents"));
  const QStringList filesBefore = QDir(dir_.path()).entryList(QDir::Files);

  // Files may not grow past 1000 bytes: the write runs out of room half way.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  Save(path);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  const auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, kWriteError);
  EXPECT_EQ(ReadAll(path), QByteArray("earlier contents"));
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), filesBefore);
}

TEST_F(DataFilesTest, SavedResultsOpenAgainWithTheirTextsAndThePointsOfTheirNumbers) {
  TMeasurement cold = Sample(-20);  // shown -20, loads as 0
  cold.Ta = -5;
  cold.CO = 32768;                  // "перег."
  TMeasurement broken = Sample(185);
  broken.O2 = 327.69;               // "ошиб.", and "-----" in CO2, Qa, Alf
  broken.NO = 32770;                // "-----"
  broken.FaultBits = 0x12;
  AddResult(cold);
  AddResult(broken);
  AddResult(Sample(190.5));
  const QStringList saved = RowTexts();
  const QString path = InDir(QStringLiteral("a.kvx"));
  Save(path);
  const QByteArray file = ReadAll(path);

  Form1->BitBtn5Click();
  EXPECT_TRUE(Open(path).empty());
  EXPECT_EQ(RowTexts(), saved);
  EXPECT_EQ(Form1->Grid->Cells(5, 1), QStringLiteral(u"перег."));
  EXPECT_EQ(Form1->Grid->Cells(3, 1), QStringLiteral("-20"));
  TrendChart* chart = Form1->Chart1;
  ASSERT_EQ(chart->PointCount(), 3);
  const double point0[12] = {0, 6.1, 0, 118, 3, 0, 0, 10.95, 121, 8.72, 1.41, 0};
  const double point1[12] = {185, 0, 42, 0, 3, 0, 0, 0, 121, 0, 0, 24};
  const double point2[12] = {190.5, 6.1, 42, 118, 3, 0, 0, 10.95, 121, 8.72, 1.41, 24};
  for (int ch = 0; ch < 12; ++ch) {
    EXPECT_DOUBLE_EQ(chart->StoredValue(ch, 0), point0[ch]) << ch;
    EXPECT_DOUBLE_EQ(chart->StoredValue(ch, 1), point1[ch]) << ch;
    EXPECT_DOUBLE_EQ(chart->StoredValue(ch, 2), point2[ch]) << ch;
  }
  EXPECT_FALSE(Form1->DataNotSaved);
  // The last loaded row is the current one.
  EXPECT_EQ(Form1->StringGrid1->currentIndex().row(), 2);
  EXPECT_TRUE(Form1->StringGrid1->isVisible() || !Form1->isVisible());
  EXPECT_FALSE(Form1->StringGrid1->isHidden());

  // Written again, byte for byte the same file.
  const QString again = InDir(QStringLiteral("b.kvx"));
  Save(again);
  EXPECT_EQ(ReadAll(again), file);
}

TEST_F(DataFilesTest, OpenShowsTheDialogWithTheTimerStoppedAndCancelKeepsEverything) {
  AddResult(185);
  AddResult(186);
  Form1->BitBtn4Click();
  const QStringList before = RowTexts();
  bool timerDuringDialog = true;
  fileDialog_ = [&](const seams::FileDialogRequest&) {
    timerDuringDialog = Form1->Timer1->Enabled();
    return QString();
  };
  answers_.push_back(seams::MsgResult::No);  // not saved first
  Form1->N9Click();
  ASSERT_EQ(fileDialogs_.size(), 1u);
  EXPECT_FALSE(fileDialogs_[0].save);
  EXPECT_EQ(fileDialogs_[0].filter, QStringLiteral(u"Файлы данных KVX(*.kvx)|*.kvx"));
  EXPECT_EQ(fileDialogs_[0].proposedName, QStringLiteral("*.kvx"));
  EXPECT_FALSE(timerDuringDialog);
  EXPECT_TRUE(Form1->Timer1->Enabled());
  EXPECT_EQ(RowTexts(), before);
  EXPECT_EQ(Form1->Chart1->PointCount(), 2);
  EXPECT_TRUE(Form1->DataNotSaved);
  EXPECT_TRUE(Form1->Chart1->FollowLast);
}

TEST_F(DataFilesTest, OpeningOverUnsavedResultsOffersToSaveThemFirst) {
  const QString other = InDir(QStringLiteral("other.kvx"));
  AddResult(300);
  Save(other);
  Form1->BitBtn5Click();
  AddResult(185);
  fileDialogs_.clear();

  // Yes: the save dialog, then the open dialog.
  const QString saved = InDir(QStringLiteral("saved.kvx"));
  fileDialog_ = [&](const seams::FileDialogRequest& r) { return r.save ? saved : other; };
  Form1->N9Click();
  auto messages = TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral("Confirm"));
  EXPECT_EQ(messages[0].text, QStringLiteral(u"Данные не записаны! Сохранить?"));
  ASSERT_EQ(fileDialogs_.size(), 2u);
  EXPECT_TRUE(fileDialogs_[0].save);
  EXPECT_FALSE(fileDialogs_[1].save);
  EXPECT_TRUE(ReadAll(saved).contains("\t185\t"));
  EXPECT_EQ(Form1->Grid->Cells(3, 1), QStringLiteral("300"));

  // No: straight to the open dialog.
  AddResult(186);
  fileDialogs_.clear();
  answers_.push_back(seams::MsgResult::No);
  Form1->N9Click();
  EXPECT_EQ(TakeMessages().size(), 1u);
  ASSERT_EQ(fileDialogs_.size(), 1u);
  EXPECT_FALSE(fileDialogs_[0].save);
  EXPECT_EQ(Form1->Grid->RowCount(), 2);
  EXPECT_EQ(Form1->Grid->Cells(3, 1), QStringLiteral("300"));

  // Yes, but the save is cancelled: nothing is replaced.
  AddResult(187);
  const QStringList before = RowTexts();
  fileDialogs_.clear();
  fileDialog_ = [](const seams::FileDialogRequest&) { return QString(); };
  Form1->N9Click();
  EXPECT_EQ(fileDialogs_.size(), 1u);
  EXPECT_EQ(RowTexts(), before);
  EXPECT_TRUE(Form1->DataNotSaved);
  EXPECT_TRUE(Form1->Timer1->Enabled());

  // Yes, but the save fails: nothing is replaced either.
  ASSERT_TRUE(WriteAll(InDir(QStringLiteral("plain")), "x"));
  fileDialog_ = [&](const seams::FileDialogRequest& r) {
    return r.save ? InDir(QStringLiteral("plain/a.kvx")) : other;
  };
  TakeMessages();
  Form1->N9Click();
  messages = TakeMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, kWriteError);
  EXPECT_EQ(RowTexts(), before);
  EXPECT_TRUE(Form1->Timer1->Enabled());
}

TEST_F(DataFilesTest, TheNextResultAfterALoadIsNumberedOnAndAppended) {
  for (int i = 0; i < 3; ++i) AddResult(100 + i);
  const QString path = InDir(QStringLiteral("a.kvx"));
  Save(path);
  Form1->BitBtn5Click();
  AddResult(50);
  answers_.push_back(seams::MsgResult::No);
  Open(path);
  ASSERT_EQ(Form1->Grid->RowCount(), 4);
  AddResult(200);
  ASSERT_EQ(Form1->Grid->RowCount(), 5);
  EXPECT_EQ(Form1->Grid->Cells(0, 4), QStringLiteral("3"));
  EXPECT_EQ(Form1->Grid->Cells(3, 4), QStringLiteral("200"));
  EXPECT_EQ(Form1->Grid->Cells(3, 3), QStringLiteral("102"));
  EXPECT_EQ(Form1->Chart1->PointCount(), 4);
  EXPECT_DOUBLE_EQ(Form1->Chart1->StoredValue(0, 3), 200);
  EXPECT_TRUE(Form1->DataNotSaved);
}

TEST_F(DataFilesTest, OpenLeavesTheSaveCommandAsItWas) {
  AddResult(100);
  const QString path = InDir(QStringLiteral("a.kvx"));
  Save(path);
  answers_.push_back(seams::MsgResult::No);
  ASSERT_TRUE(Form1->N8->isEnabled());
  Open(path);
  EXPECT_TRUE(Form1->N8->isEnabled());

  Form1->BitBtn5Click();
  ASSERT_FALSE(Form1->N8->isEnabled());
  Open(path);
  EXPECT_FALSE(Form1->N8->isEnabled());
  EXPECT_EQ(Form1->Chart1->PointCount(), 1);
}

TEST_F(DataFilesTest, AnEmptyTablesFileOpensWithoutAMessage) {
  const QString path = InDir(QStringLiteral("empty.kvx"));
  Save(path);
  EXPECT_EQ(ReadAll(path), kHeaderBytes + QByteArray(16, '\t') + "\r\n");
  EXPECT_TRUE(Open(path).empty());
  EXPECT_EQ(Form1->Grid->RowCount(), 2);
  EXPECT_EQ(Form1->Grid->Cells(0, 0), QStringLiteral(u"Номер"));
  EXPECT_TRUE(Form1->Grid->RowText(1).empty());
  EXPECT_EQ(Form1->Chart1->PointCount(), 0);
  AddResult(100);
  EXPECT_EQ(Form1->Grid->RowCount(), 2);
  EXPECT_EQ(Form1->Grid->Cells(0, 1), QStringLiteral("0"));
}

TEST_F(DataFilesTest, AHeaderOnlyFileLeavesRowOneForTheNextResult) {
  const QString path = InDir(QStringLiteral("h.kvx"));
  ASSERT_TRUE(WriteAll(path, "A\tB\tC\t\r\n"));
  EXPECT_TRUE(Open(path).empty());
  EXPECT_EQ(Form1->Grid->RowCount(), 2);
  EXPECT_EQ(Form1->Grid->Cells(1, 0), QStringLiteral("B"));
  AddResult(100);
  EXPECT_EQ(Form1->Grid->Cells(1, 0), QStringLiteral("B"));
  EXPECT_EQ(Form1->Grid->Cells(0, 1), QStringLiteral("0"));
  EXPECT_EQ(Form1->Grid->RowCount(), 2);
}

TEST_F(DataFilesTest, ADecimalPointFileStopsAtItsFirstFractionUnderADecimalComma) {
  seams::SetLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  TMeasurement whole = Sample(151);
  whole.O2 = 6;
  whole.CO2 = 11;
  whole.Qa = 9;
  whole.Alf = 1;
  // Rows 1 and 2 hold only whole numbers, row 3 the first fraction.
  AddResult(whole);
  AddResult(whole);
  AddResult(Sample(152));
  AddResult(whole);
  const QString path = InDir(QStringLiteral("point.kvx"));
  Save(path);
  ASSERT_TRUE(ReadAll(path).contains("\t6.1\t"));

  seams::SetLocale(QLocale(QLocale::Russian, QLocale::Russia));
  answers_.push_back(seams::MsgResult::No);
  const auto messages = Open(path);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].title, QStringLiteral("Warning"));
  EXPECT_EQ(messages[1].text, kReadError);
  EXPECT_EQ(Form1->Grid->RowCount(), 3);
  EXPECT_EQ(Form1->Chart1->PointCount(), 2);
  EXPECT_EQ(Form1->Grid->Cells(0, 2), QStringLiteral("1"));
  EXPECT_TRUE(Form1->Timer1->Enabled());
  EXPECT_FALSE(Form1->StringGrid1->isHidden());
}

TEST_F(DataFilesTest, ATrailingEmptyLineIsReportedAfterEveryRowIsLoaded) {
  for (int i = 0; i < 4; ++i) AddResult(100 + i);
  const QString path = InDir(QStringLiteral("a.kvx"));
  Save(path);
  ASSERT_TRUE(WriteAll(path, ReadAll(path) + "\r\n"));
  answers_.push_back(seams::MsgResult::No);
  const auto messages = Open(path);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, kReadError);
  EXPECT_EQ(Form1->Grid->RowCount(), 5);
  EXPECT_EQ(Form1->Chart1->PointCount(), 4);
  EXPECT_EQ(Form1->Grid->Cells(3, 4), QStringLiteral("103"));
}

TEST_F(DataFilesTest, AMissingFileIsReportedAndLeavesAnEmptyTable) {
  AddResult(100);
  answers_.push_back(seams::MsgResult::No);
  const auto messages = Open(InDir(QStringLiteral("gone.kvx")));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, kReadError);
  EXPECT_EQ(Form1->Grid->RowCount(), 2);
  EXPECT_EQ(Form1->Grid->Cells(0, 0), QStringLiteral(u"Номер"));
  EXPECT_EQ(Form1->Chart1->PointCount(), 0);
  EXPECT_FALSE(Form1->DataNotSaved);
}

}  // namespace
