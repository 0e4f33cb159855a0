#include "print/table_protocol.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include "platform/seams.h"
#include "data/results_log.h"
#include "data/value_format.h"
#include "emissions/result_status.h"
#include "platform/text_codec.h"

namespace {

class ProtocolLinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    seams::setLocale(QLocale(QLocale::Russian, QLocale::Russia));
  }
  void TearDown() override { seams::resetAll(); }

  // A row read from a file with these cells.
  void loadRow(const QStringList& cells) {
    log_.beginLoad();
    log_.appendLoaded({}, cp1251::encode(cells.join(QLatin1Char('\t')))->toStdString());
    log_.endLoad();
  }

  double now_ = seams::toDateTime(QDateTime(QDate(2026, 12, 6), QTime(17, 20, 31)));
  ResultsLog log_;
};

TEST_F(ProtocolLinesTest, EmptyTableGivesTheTitleTheHeaderAndALineOfBlanks) {
  const QStringList lines = protocolLines(log_, now_);
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], QStringLiteral(u"Потокол замеров KVX от 06.12.2026 17:20:31"));
  EXPECT_EQ(lines[1], QStringLiteral(u"     Номер          Дата     Время   Tg,*С    O2,%  CO,ppm"
                                     u"  NO,ppm NO2,ppm SO2,ppm H2S,ppm   CO2,% NOx,ppm    Qa,%"
                                     u"     Alf   Ta,*С    Тест"));
  EXPECT_EQ(lines[2], QString(138, QLatin1Char(' ')));
}

TEST_F(ProtocolLinesTest, CellsAreRightAlignedInTheirFields) {
  loadRow({QStringLiteral("0"), QStringLiteral("06.12.2026"), QStringLiteral("17:20:31"),
          QStringLiteral("185"), QStringLiteral("6,1"), QStringLiteral(u"перег."),
          QStringLiteral("118"), QStringLiteral("3"), QStringLiteral("0"), QStringLiteral(u"ошиб."),
          QStringLiteral("11,9"), QStringLiteral("121,5"), QStringLiteral("7,25"),
          QStringLiteral("1,41"), QStringLiteral("21"), QStringLiteral("Ok'")});
  const QString line = protocolLines(log_, now_).at(2);
  ASSERT_EQ(line.size(), 138);
  EXPECT_EQ(line.mid(0, 10), QStringLiteral("         0"));
  EXPECT_EQ(line.mid(10, 14), QStringLiteral("    06.12.2026"));
  EXPECT_EQ(line.mid(24, 10), QStringLiteral("  17:20:31"));
  // Column 5 starts after 10 + 14 + 10 + 8 + 8 characters.
  EXPECT_EQ(line.mid(50, 8), QStringLiteral(u"  перег."));
  EXPECT_EQ(line.right(8), QStringLiteral("     Ok'"));
}

TEST_F(ProtocolLinesTest, ACellLongerThanItsFieldIsWrittenWholeAndShiftsTheRest) {
  QStringList cells(16, QString());
  cells[0] = QStringLiteral("123456789012");  // 12 characters in a field of 10
  cells[3] = QStringLiteral("1,2345678901");  // 12 in a field of 8
  cells[4] = QStringLiteral("5");
  loadRow(cells);
  const QString line = protocolLines(log_, now_).at(2);
  EXPECT_EQ(line.size(), 138 + 2 + 4);
  EXPECT_TRUE(line.startsWith(QStringLiteral("123456789012") + QString(24, QLatin1Char(' ')) +
                              QStringLiteral("1,2345678901       5")));
}

// Taken results print the status they were decided with, and the codes
// used are explained; a file's rows above had no such field.
TEST_F(ProtocolLinesTest, TakenResultsEndWithTheirStatusAndTheCodesUsedAreExplained) {
  Result valid;
  valid.utcMs = QDateTime(QDate(2026, 12, 6), QTime(17, 20, 31)).toMSecsSinceEpoch();
  valid.values[channel::Tg] = 185;
  Result maintenance = valid;
  maintenance.utcMs += 1000;
  maintenance.status = ResultStatus::Maintenance;
  log_.append(valid);
  log_.append(maintenance);
  const QStringList lines = protocolLines(log_, now_);
  ASSERT_EQ(lines.size(), 6);
  EXPECT_TRUE(lines[1].endsWith(QStringLiteral(u"    Тест Статус"))) << lines[1].toStdString();
  ASSERT_EQ(lines[2].size(), 138 + 7);
  EXPECT_TRUE(lines[2].endsWith(QStringLiteral(u"      Д")));
  EXPECT_TRUE(lines[3].endsWith(QStringLiteral(u"     ТО")));
  EXPECT_EQ(lines[4], QString());
  EXPECT_EQ(lines[5], QStringLiteral(u"Статус: Д — достоверно; ТО — ") + emissions::statusTitle(ResultStatus::Maintenance));
}

// Ten pixels a character.
int tenPerChar(QStringView text) { return int(text.size()) * 10; }

std::vector<int> tops(const std::vector<PrintedLine>& placed) {
  std::vector<int> tops;
  for (const PrintedLine& p : placed) tops.push_back(p.top);
  return tops;
}

TEST(LayoutLinesTest, LinesFollowAtTheTextHeightPlusTwoAndAnEmptyLineAtTheFontHeight) {
  const auto placed = layoutLines({QStringLiteral("a"), QStringLiteral("b"), QString(),
                                   QStringLiteral(" "), QStringLiteral("c")},
                                  10, 1000, 1000, tenPerChar);
  EXPECT_EQ(tops(placed), (std::vector<int>{0, 12, 24, 34, 46}));
  for (const PrintedLine& p : placed) EXPECT_EQ(p.page, 0);
  EXPECT_EQ(placed[2].text, QString());
  EXPECT_EQ(placed[3].text, QStringLiteral(" "));
}

TEST(LayoutLinesTest, ANewPageBeginsWhenTheNextTopLiesBelowPageHeightMinusTwiceTheLine) {
  const QStringList lines(10, QStringLiteral("x"));
  // Lines of 12: after six lines the next top is 72 = 96 - 2 x 12, not below,
  // so a seventh fits; after it 84 lies below and the eighth starts page 2.
  auto placed = layoutLines(lines, 10, 1000, 96, tenPerChar);
  ASSERT_EQ(placed.size(), 10u);
  EXPECT_EQ(placed[6].page, 0);
  EXPECT_EQ(placed[6].top, 72);
  EXPECT_EQ(placed[7].page, 1);
  EXPECT_EQ(placed[7].top, 0);
  EXPECT_EQ(placed[9].page, 1);
  EXPECT_EQ(placed[9].top, 24);
  // One pixel less and 72 lies below 71: only six lines go on the page.
  placed = layoutLines(lines, 10, 1000, 95, tenPerChar);
  EXPECT_EQ(placed[5].page, 0);
  EXPECT_EQ(placed[6].page, 1);
  EXPECT_EQ(placed[6].top, 0);
}

TEST(LayoutLinesTest, AnEmptyLineJudgesThePageEndByItsOwnHeight) {
  // Six lines of 12 end at 72; the empty line of 10 there ends at 82.
  QStringList lines(6, QStringLiteral("x"));
  lines << QString() << QStringLiteral("y");
  // 82 lies below 100 - 2 x 10: the next line starts a new page.
  const auto placed = layoutLines(lines, 10, 1000, 100, tenPerChar);
  EXPECT_EQ(placed[6].page, 0);
  EXPECT_EQ(placed[6].top, 72);
  EXPECT_EQ(placed[7].page, 1);
  // 82 does not lie below 103 - 2 x 10 (it would below 103 - 2 x 12).
  const auto taller = layoutLines(lines, 10, 1000, 103, tenPerChar);
  EXPECT_EQ(taller[7].page, 0);
  EXPECT_EQ(taller[7].top, 82);
}

TEST(LayoutLinesTest, AFullLastPageIsNotFollowedByABlankOne) {
  const auto placed = layoutLines(QStringList(7, QStringLiteral("x")), 10, 1000, 96, tenPerChar);
  EXPECT_EQ(placed.back().page, 0);
  EXPECT_EQ(placed.size(), 7u);
}

TEST(LayoutLinesTest, TextPastTheRightEdgeContinuesOnTheNextLine) {
  const auto placed = layoutLines({QStringLiteral("abcdefghijklmnopqrst"), QStringLiteral("next")},
                                  10, 95, 1000, tenPerChar);
  ASSERT_EQ(placed.size(), 4u);
  EXPECT_EQ(placed[0].text, QStringLiteral("abcdefghi"));
  EXPECT_EQ(placed[1].text, QStringLiteral("jklmnopqr"));
  EXPECT_EQ(placed[2].text, QStringLiteral("st"));
  EXPECT_EQ(placed[3].text, QStringLiteral("next"));
  EXPECT_EQ(tops(placed), (std::vector<int>{0, 12, 24, 36}));
}

TEST(LayoutLinesTest, ACharacterWiderThanThePageStillGoesOutOneAtATime) {
  const auto placed = layoutLines({QStringLiteral("abc")}, 10, 5, 1000, tenPerChar);
  ASSERT_EQ(placed.size(), 3u);
  EXPECT_EQ(placed[2].text, QStringLiteral("c"));
}

TEST(LayoutLinesTest, ASurrogatePairIsNeverSplitAtTheRightEdge) {
  const QString text =
      QStringLiteral("ab") + QString::fromUcs4(U"\U0001F600") + QStringLiteral("cd");
  // Three code units fit: "ab" and the first half of the pair.
  const auto placed = layoutLines({text}, 10, 30, 1000, tenPerChar);
  ASSERT_EQ(placed.size(), 3u);
  EXPECT_EQ(placed[0].text, QStringLiteral("ab"));
  EXPECT_EQ(placed[1].text, QString::fromUcs4(U"\U0001F600") + QStringLiteral("c"));
  EXPECT_EQ(placed[2].text, QStringLiteral("d"));
}

}  // namespace
