// "Сохранить" and "Открыть": data files written from the results table and
// read back into table and chart, as the operator uses them.

#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QTableView>

#include "platform/timer.h"
#include "storage/table_files.h"
#include "storage_support.h"
#include "support/file_size_limit.h"

namespace {

using namespace storage_test;

class DataFilesTest : public StorageFixture {
 protected:
  // "Открыть" on `path`, with the messages it showed.
  std::vector<RecordedMessage> open(const QString& path) {
    chooseFile(path);
    window().onOpenTriggered();
    fileDialog_ = nullptr;
    return takeMessages();
  }
  // "Сохранить" to `path`.
  void save(const QString& path) {
    chooseFile(path);
    window().onSaveTriggered();
    fileDialog_ = nullptr;
  }
};

const QByteArray kHeaderBytes =
    "\xCD\xEE\xEC\xE5\xF0\t\xC4\xE0\xF2\xE0\t\xC2\xF0\xE5\xEC\xFF\tTg,*\xD1\tO2,%\tCO,ppm\tNO,ppm\t"
    "NO2,ppm\tSO2,ppm\tH2S,ppm\tCO2,%\tNOx,ppm\tQa,%\tAlf\tTa,*\xD1\t\xD2\xE5\xF1\xF2\t\r\n";

TEST_F(DataFilesTest, TheHeaderLineIsWindows1251AndARowIsWrittenInTheLocalesForms) {
  setNow(QDateTime(QDate(2026, 12, 6), QTime(17, 5, 12)));
  addResult(185);
  save(inDir(QStringLiteral("a.kvx")));
  const QByteArray bytes = readAll(inDir(QStringLiteral("a.kvx")));
  EXPECT_EQ(bytes, kHeaderBytes +
                       "0\t06.12.2026\t17:05:12\t185\t6,1\t42\t118\t3\t0\t0\t10,95\t121\t8,72\t1,41\t24\tOk'\t\r\n");
  EXPECT_TRUE(takeMessages().empty());
}

TEST_F(DataFilesTest, SaveProposesADatedNameBesideTheProgramAndChangesNothing) {
  addResult(185);
  const QStringList before = rowTexts();
  chooseFile(inDir(QStringLiteral("mine")));  // typed without an extension
  window().onSaveTriggered();
  ASSERT_EQ(fileDialogs_.size(), 1u);
  EXPECT_TRUE(fileDialogs_[0].save);
  EXPECT_EQ(fileDialogs_[0].filter, QStringLiteral(u"Файлы данных KVX(*.kvx)|*.kvx"));
  EXPECT_EQ(fileDialogs_[0].proposedName, inDir(QStringLiteral("korvex-26-12-06.kvx")));
  EXPECT_TRUE(QFile::exists(inDir(QStringLiteral("mine"))));  // no extension added
  // The results stay, unsaved as far as the day's log is concerned.
  EXPECT_EQ(rowTexts(), before);
  EXPECT_EQ(chart()->pointCount(), 1);
  EXPECT_TRUE(results().unsaved());
  EXPECT_TRUE(pollTimer()->isEnabled());

  // Nor does a save set the flag.
  window().onClearClicked();
  save(inDir(QStringLiteral("empty.kvx")));
  EXPECT_FALSE(results().unsaved());
}

TEST_F(DataFilesTest, AnExistingFileIsReplacedWhole) {
  const QString path = inDir(QStringLiteral("a.kvx"));
  ASSERT_TRUE(writeAll(path, QByteArray(100000, 'x')));
  save(path);
  EXPECT_EQ(readAll(path), kHeaderBytes + QByteArray(16, '\t') + "\r\n");
}

TEST_F(DataFilesTest, AFileThatCannotBeCreatedIsReportedAndTheTimerRunsOn) {
  ASSERT_TRUE(writeAll(inDir(QStringLiteral("plain")), "not a directory"));
  addResult(185);
  save(inDir(QStringLiteral("plain/a.kvx")));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, QStringLiteral("Error"));
  EXPECT_EQ(messages_[0].text, kWriteError);
  EXPECT_EQ(beeps_, 1);
  // The operator's own command: told in a box, while the poll cycle runs on.
  EXPECT_TRUE(messages_[0].pollTimerOn);
  EXPECT_TRUE(pollTimer()->isEnabled());
  EXPECT_TRUE(results().unsaved());
}

TEST_F(DataFilesTest, AFullDiskLeavesTheEarlierFileIntactAndNoTemporaryFile) {
  for (int i = 0; i < 50; ++i) addResult(100 + i);
  const QString path = inDir(QStringLiteral("a.kvx"));
  ASSERT_TRUE(writeAll(path, "earlier contents"));
  const QStringList filesBefore = QDir(dir_.path()).entryList(QDir::Files);

  // Files may not grow past 1000 bytes: the write runs out of room half way.
  {
    FileSizeLimit full(1000);
    ASSERT_TRUE(full.set());
    save(path);
  }

  const auto messages = takeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, kWriteError);
  EXPECT_EQ(readAll(path), QByteArray("earlier contents"));
  EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files), filesBefore);
}

TEST_F(DataFilesTest, SavedResultsOpenAgainWithTheirTextsAndThePointsOfTheirNumbers) {
  Measurement cold = sample(-20);  // shown -20, loads as 0
  cold[channel::Ta] = -5;
  cold[channel::CO] = 32768;                  // "перег."
  Measurement broken = sample(185);
  broken[channel::O2] = 327.69;               // "ошиб.", and "-----" in CO2, Qa, Alf
  broken[channel::NO] = 32770;                // "-----"
  broken.faultBits = 0x12;
  addResult(cold);
  addResult(broken);
  addResult(sample(190.5));
  const QStringList saved = rowTexts();
  const QString path = inDir(QStringLiteral("a.kvx"));
  save(path);
  const QByteArray file = readAll(path);

  window().onClearClicked();
  EXPECT_TRUE(open(path).empty());
  EXPECT_EQ(rowTexts(), saved);
  EXPECT_EQ(cell(5, 1), QStringLiteral(u"перег."));
  EXPECT_EQ(cell(3, 1), QStringLiteral("-20"));
  ASSERT_EQ(chart()->pointCount(), 3);
  const double point0[12] = {0, 6.1, 0, 118, 3, 0, 0, 10.95, 121, 8.72, 1.41, 0};
  const double point1[12] = {185, 0, 42, 0, 3, 0, 0, 0, 121, 0, 0, 24};
  const double point2[12] = {190.5, 6.1, 42, 118, 3, 0, 0, 10.95, 121, 8.72, 1.41, 24};
  for (int ch = 0; ch < 12; ++ch) {
    EXPECT_DOUBLE_EQ(results().plottedValue(0, ch), point0[ch]) << ch;
    EXPECT_DOUBLE_EQ(results().plottedValue(1, ch), point1[ch]) << ch;
    EXPECT_DOUBLE_EQ(results().plottedValue(2, ch), point2[ch]) << ch;
  }
  EXPECT_FALSE(results().unsaved());
  // The last loaded row is the current one.
  EXPECT_EQ(find<QTableView>("StringGrid1")->currentIndex().row(), 2);
  EXPECT_TRUE(find<QTableView>("StringGrid1")->isVisible() || !window().isVisible());
  EXPECT_FALSE(find<QTableView>("StringGrid1")->isHidden());

  // Written again, byte for byte the same file.
  const QString again = inDir(QStringLiteral("b.kvx"));
  save(again);
  EXPECT_EQ(readAll(again), file);
}

TEST_F(DataFilesTest, OpenShowsTheDialogWhileThePollCycleRunsAndCancelKeepsEverything) {
  addResult(185);
  addResult(186);
  window().onFollowClicked();
  const QStringList before = rowTexts();
  bool timerDuringDialog = false;
  fileDialog_ = [&](const seams::FileDialogRequest&) {
    timerDuringDialog = pollTimer()->isEnabled();
    return QString();
  };
  answers_.push_back(seams::MsgResult::No);  // not saved first
  window().onOpenTriggered();
  ASSERT_EQ(fileDialogs_.size(), 1u);
  EXPECT_FALSE(fileDialogs_[0].save);
  EXPECT_EQ(fileDialogs_[0].filter, QStringLiteral(u"Файлы данных KVX(*.kvx)|*.kvx"));
  EXPECT_EQ(fileDialogs_[0].proposedName, QStringLiteral("*.kvx"));
  EXPECT_TRUE(timerDuringDialog);
  EXPECT_TRUE(pollTimer()->isEnabled());
  EXPECT_EQ(rowTexts(), before);
  EXPECT_EQ(chart()->pointCount(), 2);
  EXPECT_TRUE(results().unsaved());
  EXPECT_TRUE(chart()->isFollowing());
}

TEST_F(DataFilesTest, OpeningOverUnsavedResultsOffersToSaveThemFirst) {
  const QString other = inDir(QStringLiteral("other.kvx"));
  addResult(300);
  save(other);
  window().onClearClicked();
  addResult(185);
  fileDialogs_.clear();

  // Yes: the save dialog, then the open dialog.
  const QString saved = inDir(QStringLiteral("saved.kvx"));
  fileDialog_ = [&](const seams::FileDialogRequest& r) { return r.save ? saved : other; };
  window().onOpenTriggered();
  auto messages = takeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].title, QStringLiteral("Confirm"));
  EXPECT_EQ(messages[0].text, QStringLiteral(u"Данные не записаны! Сохранить?"));
  ASSERT_EQ(fileDialogs_.size(), 2u);
  EXPECT_TRUE(fileDialogs_[0].save);
  EXPECT_FALSE(fileDialogs_[1].save);
  EXPECT_TRUE(readAll(saved).contains("\t185\t"));
  EXPECT_EQ(cell(3, 1), QStringLiteral("300"));

  // No: straight to the open dialog.
  addResult(186);
  fileDialogs_.clear();
  answers_.push_back(seams::MsgResult::No);
  window().onOpenTriggered();
  EXPECT_EQ(takeMessages().size(), 1u);
  ASSERT_EQ(fileDialogs_.size(), 1u);
  EXPECT_FALSE(fileDialogs_[0].save);
  EXPECT_EQ(gridRows(), 2);
  EXPECT_EQ(cell(3, 1), QStringLiteral("300"));

  // Yes, but the save is cancelled: nothing is replaced.
  addResult(187);
  const QStringList before = rowTexts();
  fileDialogs_.clear();
  fileDialog_ = [](const seams::FileDialogRequest&) { return QString(); };
  window().onOpenTriggered();
  EXPECT_EQ(fileDialogs_.size(), 1u);
  EXPECT_EQ(rowTexts(), before);
  EXPECT_TRUE(results().unsaved());
  EXPECT_TRUE(pollTimer()->isEnabled());

  // Yes, but the save fails: nothing is replaced either.
  ASSERT_TRUE(writeAll(inDir(QStringLiteral("plain")), "x"));
  fileDialog_ = [&](const seams::FileDialogRequest& r) {
    return r.save ? inDir(QStringLiteral("plain/a.kvx")) : other;
  };
  takeMessages();
  window().onOpenTriggered();
  messages = takeMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, kWriteError);
  EXPECT_EQ(rowTexts(), before);
  EXPECT_TRUE(pollTimer()->isEnabled());
}

TEST_F(DataFilesTest, TheNextResultAfterALoadIsNumberedOnAndAppended) {
  for (int i = 0; i < 3; ++i) addResult(100 + i);
  const QString path = inDir(QStringLiteral("a.kvx"));
  save(path);
  window().onClearClicked();
  addResult(50);
  answers_.push_back(seams::MsgResult::No);
  open(path);
  ASSERT_EQ(gridRows(), 4);
  addResult(200);
  ASSERT_EQ(gridRows(), 5);
  EXPECT_EQ(cell(0, 4), QStringLiteral("3"));
  EXPECT_EQ(cell(3, 4), QStringLiteral("200"));
  EXPECT_EQ(cell(3, 3), QStringLiteral("102"));
  EXPECT_EQ(chart()->pointCount(), 4);
  EXPECT_DOUBLE_EQ(results().plottedValue(3, 0), 200);
  EXPECT_TRUE(results().unsaved());
}

TEST_F(DataFilesTest, OpenLeavesTheSaveCommandAsItWas) {
  addResult(100);
  const QString path = inDir(QStringLiteral("a.kvx"));
  save(path);
  answers_.push_back(seams::MsgResult::No);
  ASSERT_TRUE(find<QAction>("N8")->isEnabled());
  open(path);
  EXPECT_TRUE(find<QAction>("N8")->isEnabled());

  window().onClearClicked();
  ASSERT_FALSE(find<QAction>("N8")->isEnabled());
  open(path);
  EXPECT_FALSE(find<QAction>("N8")->isEnabled());
  EXPECT_EQ(chart()->pointCount(), 1);
}

TEST_F(DataFilesTest, AnEmptyTablesFileOpensWithoutAMessage) {
  const QString path = inDir(QStringLiteral("empty.kvx"));
  save(path);
  EXPECT_EQ(readAll(path), kHeaderBytes + QByteArray(16, '\t') + "\r\n");
  EXPECT_TRUE(open(path).empty());
  EXPECT_EQ(gridRows(), 2);
  EXPECT_EQ(cell(0, 0), QStringLiteral(u"Номер"));
  EXPECT_TRUE(results().isEmpty());
  EXPECT_EQ(chart()->pointCount(), 0);
  addResult(100);
  EXPECT_EQ(gridRows(), 2);
  EXPECT_EQ(cell(0, 1), QStringLiteral("0"));
}

TEST_F(DataFilesTest, AHeaderOnlyFileLeavesRowOneForTheNextResult) {
  const QString path = inDir(QStringLiteral("h.kvx"));
  ASSERT_TRUE(writeAll(path, "A\tB\tC\t\r\n"));
  EXPECT_TRUE(open(path).empty());
  EXPECT_EQ(gridRows(), 2);
  EXPECT_EQ(cell(1, 0), QStringLiteral("B"));
  addResult(100);
  EXPECT_EQ(cell(1, 0), QStringLiteral("B"));
  EXPECT_EQ(cell(0, 1), QStringLiteral("0"));
  EXPECT_EQ(gridRows(), 2);
}

TEST_F(DataFilesTest, ADecimalPointFileStopsAtItsFirstFractionUnderADecimalComma) {
  seams::setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  Measurement whole = sample(151);
  whole[channel::O2] = 6;
  whole[channel::CO2] = 11;
  whole[channel::Qa] = 9;
  whole[channel::Alf] = 1;
  // Rows 1 and 2 hold only whole numbers, row 3 the first fraction.
  addResult(whole);
  addResult(whole);
  addResult(sample(152));
  addResult(whole);
  const QString path = inDir(QStringLiteral("point.kvx"));
  save(path);
  ASSERT_TRUE(readAll(path).contains("\t6.1\t"));

  seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  answers_.push_back(seams::MsgResult::No);
  const auto messages = open(path);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].title, QStringLiteral("Warning"));
  EXPECT_EQ(messages[1].text, kReadError);
  EXPECT_EQ(gridRows(), 3);
  EXPECT_EQ(chart()->pointCount(), 2);
  EXPECT_EQ(cell(0, 2), QStringLiteral("1"));
  EXPECT_TRUE(pollTimer()->isEnabled());
  EXPECT_FALSE(find<QTableView>("StringGrid1")->isHidden());
}

TEST_F(DataFilesTest, ATrailingEmptyLineIsReportedAfterEveryRowIsLoaded) {
  for (int i = 0; i < 4; ++i) addResult(100 + i);
  const QString path = inDir(QStringLiteral("a.kvx"));
  save(path);
  ASSERT_TRUE(writeAll(path, readAll(path) + "\r\n"));
  answers_.push_back(seams::MsgResult::No);
  const auto messages = open(path);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, kReadError);
  EXPECT_EQ(gridRows(), 5);
  EXPECT_EQ(chart()->pointCount(), 4);
  EXPECT_EQ(cell(3, 4), QStringLiteral("103"));
}

TEST_F(DataFilesTest, AMissingFileIsReportedAndLeavesAnEmptyTable) {
  addResult(100);
  answers_.push_back(seams::MsgResult::No);
  const auto messages = open(inDir(QStringLiteral("gone.kvx")));
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].text, kReadError);
  EXPECT_EQ(gridRows(), 2);
  EXPECT_EQ(cell(0, 0), QStringLiteral(u"Номер"));
  EXPECT_EQ(chart()->pointCount(), 0);
  EXPECT_FALSE(results().unsaved());
}

}  // namespace
