#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QTableView>
#include <QToolButton>

#include "view/view_fixture.h"

namespace {

class ResultsViewTest : public ViewFixture {
 protected:
  QStringList rowCells(int gridRow) const {
    QStringList cells;
    for (int c = 0; c < 16; ++c) cells << cell(c, gridRow);
    return cells;
  }
};

TEST_F(ResultsViewTest, FirstResultGoesIntoRowOneAndTheNextIntoNewRows) {
  startWithDefaults();
    for (int round = 0; round < 2; ++round) {
    append(typical(), 0);
    EXPECT_EQ(gridRows(), 2);
    EXPECT_EQ(cell(0, 1), QStringLiteral("0"));
    append(typical(), 1);
    EXPECT_EQ(gridRows(), 3);
    EXPECT_EQ(cell(0, 2), QStringLiteral("1"));
    EXPECT_EQ(cell(2, 2), QStringLiteral("17:05:13"));
    EXPECT_EQ(chart()->pointCount(), 2);
    // The clear button: back to the header and one empty row, and again from 0.
    window().onClearClicked();
    EXPECT_EQ(gridRows(), 2);
    for (int c = 0; c < 16; ++c) EXPECT_TRUE(cell(c, 1).isEmpty());
    EXPECT_EQ(cell(0, 0), QStringLiteral(u"Номер"));
    EXPECT_EQ(chart()->pointCount(), 0);
  }
}

TEST_F(ResultsViewTest, AResultFillsAllSixteenCells) {
  startWithDefaults();
  append(typical());
  const QStringList expected = {
      QStringLiteral("0"),    QStringLiteral("06.12.2026"), QStringLiteral("17:05:12"),
      QStringLiteral("185"),  QStringLiteral("6,1"),        QStringLiteral("42"),
      QStringLiteral("118"),  QStringLiteral("3"),          QStringLiteral("0"),
      QStringLiteral("0"),    QStringLiteral("10,75"),      QStringLiteral("121"),
      QStringLiteral("7,5"),  QStringLiteral("1,41"),       QStringLiteral("21"),
      QStringLiteral("Ok'")};
  EXPECT_EQ(rowCells(1), expected);
  // What the operator sees is the same text.
  EXPECT_EQ(find<QTableView>("StringGrid1")->model()->index(0, 2).data().toString(), QStringLiteral("17:05:12"));
}

TEST_F(ResultsViewTest, SpecialCodesAndOutOfRangeReadingsInTheTable) {
  startWithDefaults();
  Measurement m = typical();
  m[channel::CO] = 32768;
  m[channel::NO] = 10000;
  m[channel::NO2] = 1500;
  m[channel::Tg] = -35;
  m[channel::Ta] = 150;
  m.faultBits = 0x12;
  append(m);
    EXPECT_EQ(cell(5, 1), QStringLiteral(u"перег."));
  EXPECT_EQ(cell(6, 1), QStringLiteral("9999"));
  EXPECT_EQ(cell(7, 1), QStringLiteral("999"));
  EXPECT_EQ(cell(3, 1), QStringLiteral("-20"));
  EXPECT_EQ(cell(14, 1), QStringLiteral("99"));
  EXPECT_EQ(cell(15, 1), QStringLiteral("E0012"));

  m = typical();
  m[channel::O2] = 32769 / 100.0;  // the error code, stored in percent
  m[channel::NOx] = 120.5;
  append(m, 1);
  EXPECT_EQ(cell(4, 2), QStringLiteral(u"ошиб."));
  EXPECT_EQ(cell(10, 2), QStringLiteral("-----"));
  EXPECT_EQ(cell(11, 2), QStringLiteral("120,5"));
  EXPECT_EQ(cell(12, 2), QStringLiteral("-----"));
  EXPECT_EQ(cell(13, 2), QStringLiteral("-----"));
  EXPECT_EQ(cell(15, 2), QStringLiteral("Ok'"));
}

TEST_F(ResultsViewTest, TheNewestRowBecomesCurrentAndIsScrolledTo) {
  startWithDefaults();
  layOut();
  appendTypical(60);
  QTableView* v = find<QTableView>("StringGrid1");
  EXPECT_EQ(v->currentIndex().row(), 59);
  EXPECT_EQ(v->currentIndex().column(), 0);
  QApplication::processEvents();
  const QRect last = v->visualRect(v->currentIndex());
  EXPECT_TRUE(v->viewport()->rect().contains(last)) << last.y() << " " << v->viewport()->height();

  // The current column stays where the operator put it.
  v->setCurrentIndex(v->model()->index(10, 4));
  append(typical(), 61);
  EXPECT_EQ(v->currentIndex().row(), 60);
  EXPECT_EQ(v->currentIndex().column(), 4);
}

TEST_F(ResultsViewTest, RowsHaveAFixedHeight) {
  startWithDefaults();
  QHeaderView* rows = find<QTableView>("StringGrid1")->verticalHeader();
  EXPECT_EQ(rows->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(rows->defaultSectionSize(), 20);
  EXPECT_TRUE(find<QTableView>("StringGrid1")->showGrid());
  appendTypical(3);
  EXPECT_EQ(find<QTableView>("StringGrid1")->rowHeight(2), 20);
}

TEST_F(ResultsViewTest, UnsavedResultsAreFlaggedAndTheSaveCommandOffered) {
  startWithDefaults();
  EXPECT_FALSE(results().unsaved());
  EXPECT_FALSE(find<QAction>("N8")->isEnabled());
  append(typical());
  EXPECT_TRUE(results().unsaved());
  EXPECT_TRUE(find<QAction>("N8")->isEnabled());
  window().onClearClicked();
  EXPECT_FALSE(results().unsaved());
  EXPECT_FALSE(find<QAction>("N8")->isEnabled());
  append(typical());
  // Clearing for the day's log or before a file is opened leaves the command alone.
  session().clearResults();
  EXPECT_FALSE(results().unsaved());
  EXPECT_TRUE(find<QAction>("N8")->isEnabled());
}

TEST_F(ResultsViewTest, CaptionShowsTheCurrentValues) {
  startWithDefaults();
  Measurement m = typical();
  m[channel::H2S] = 32768;
  emit poll().measurementShown(m);
  EXPECT_EQ(window().windowTitle(),
            QStringLiteral(u"Korvex (Tg:185; O2:6,1; CO:42; NO:118; NO2:3; SO2:0; H2S:перег.)"));
}

}  // namespace
