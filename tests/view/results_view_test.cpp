#include <gtest/gtest.h>

#include <QAction>
#include <QHeaderView>
#include <QTableView>
#include <QToolButton>

#include "view/view_fixture.h"

namespace {

class ResultsViewTest : public ViewFixture {};

TEST_F(ResultsViewTest, FirstResultGoesIntoRowOneAndTheNextIntoNewRows) {
  Start();
  ResultsTable* g = Form1->Grid;
  for (int round = 0; round < 2; ++round) {
    Append(Typical(), 0);
    EXPECT_EQ(g->RowCount(), 2);
    EXPECT_EQ(g->Cells(0, 1), QStringLiteral("0"));
    Append(Typical(), 1);
    EXPECT_EQ(g->RowCount(), 3);
    EXPECT_EQ(g->Cells(0, 2), QStringLiteral("1"));
    EXPECT_EQ(g->Cells(2, 2), QStringLiteral("17:05:13"));
    EXPECT_EQ(Form1->Chart1->PointCount(), 2);
    // The clear button: back to the header and one empty row, and again from 0.
    Form1->BitBtn5Click();
    EXPECT_EQ(g->RowCount(), 2);
    for (int c = 0; c < 16; ++c) EXPECT_TRUE(g->Cells(c, 1).isEmpty());
    EXPECT_EQ(g->Cells(0, 0), QStringLiteral(u"Номер"));
    EXPECT_EQ(Form1->Chart1->PointCount(), 0);
  }
}

TEST_F(ResultsViewTest, AResultFillsAllSixteenCells) {
  Start();
  Append(Typical());
  const QStringList expected = {
      QStringLiteral("0"),    QStringLiteral("06.12.2026"), QStringLiteral("17:05:12"),
      QStringLiteral("185"),  QStringLiteral("6,1"),        QStringLiteral("42"),
      QStringLiteral("118"),  QStringLiteral("3"),          QStringLiteral("0"),
      QStringLiteral("0"),    QStringLiteral("10,75"),      QStringLiteral("121"),
      QStringLiteral("7,5"),  QStringLiteral("1,41"),       QStringLiteral("21"),
      QStringLiteral("Ok'")};
  EXPECT_EQ(Form1->Grid->Row(1), expected);
  // What the operator sees is the same text.
  EXPECT_EQ(Form1->StringGrid1->model()->index(0, 2).data().toString(), QStringLiteral("17:05:12"));
}

TEST_F(ResultsViewTest, SpecialCodesAndOutOfRangeReadingsInTheTable) {
  Start();
  TMeasurement m = Typical();
  m.CO = 32768;
  m.NO = 10000;
  m.NO2 = 1500;
  m.Tg = -35;
  m.Ta = 150;
  m.FaultBits = 0x12;
  Append(m);
  ResultsTable* g = Form1->Grid;
  EXPECT_EQ(g->Cells(5, 1), QStringLiteral(u"перег."));
  EXPECT_EQ(g->Cells(6, 1), QStringLiteral("9999"));
  EXPECT_EQ(g->Cells(7, 1), QStringLiteral("999"));
  EXPECT_EQ(g->Cells(3, 1), QStringLiteral("-20"));
  EXPECT_EQ(g->Cells(14, 1), QStringLiteral("99"));
  EXPECT_EQ(g->Cells(15, 1), QStringLiteral("E0012"));

  m = Typical();
  m.O2 = 32769 / 100.0;  // the error code, stored in percent
  m.NOx = 120.5;
  Append(m, 1);
  EXPECT_EQ(g->Cells(4, 2), QStringLiteral(u"ошиб."));
  EXPECT_EQ(g->Cells(10, 2), QStringLiteral("-----"));
  EXPECT_EQ(g->Cells(11, 2), QStringLiteral("120,5"));
  EXPECT_EQ(g->Cells(12, 2), QStringLiteral("-----"));
  EXPECT_EQ(g->Cells(13, 2), QStringLiteral("-----"));
  EXPECT_EQ(g->Cells(15, 2), QStringLiteral("Ok'"));
}

TEST_F(ResultsViewTest, TheNewestRowBecomesCurrentAndIsScrolledTo) {
  Start();
  LayOut();
  AppendTypical(60);
  QTableView* v = Form1->StringGrid1;
  EXPECT_EQ(v->currentIndex().row(), 59);
  EXPECT_EQ(v->currentIndex().column(), 0);
  QApplication::processEvents();
  const QRect last = v->visualRect(v->currentIndex());
  EXPECT_TRUE(v->viewport()->rect().contains(last)) << last.y() << " " << v->viewport()->height();

  // The current column stays where the operator put it.
  v->setCurrentIndex(v->model()->index(10, 4));
  Append(Typical(), 61);
  EXPECT_EQ(v->currentIndex().row(), 60);
  EXPECT_EQ(v->currentIndex().column(), 4);
}

TEST_F(ResultsViewTest, RowsHaveAFixedHeight) {
  Start();
  QHeaderView* rows = Form1->StringGrid1->verticalHeader();
  EXPECT_EQ(rows->sectionResizeMode(0), QHeaderView::Fixed);
  EXPECT_EQ(rows->defaultSectionSize(), 20);
  EXPECT_TRUE(Form1->StringGrid1->showGrid());
  AppendTypical(3);
  EXPECT_EQ(Form1->StringGrid1->rowHeight(2), 20);
}

TEST_F(ResultsViewTest, UnsavedResultsAreFlaggedAndTheSaveCommandOffered) {
  Start();
  EXPECT_FALSE(Form1->DataNotSaved);
  EXPECT_FALSE(Form1->N8->isEnabled());
  Append(Typical());
  EXPECT_TRUE(Form1->DataNotSaved);
  EXPECT_TRUE(Form1->N8->isEnabled());
  Form1->BitBtn5Click();
  EXPECT_FALSE(Form1->DataNotSaved);
  EXPECT_FALSE(Form1->N8->isEnabled());
  Append(Typical());
  // Clearing for the day's log or before a file is opened leaves the command alone.
  Form1->ChartClear();
  EXPECT_FALSE(Form1->DataNotSaved);
  EXPECT_TRUE(Form1->N8->isEnabled());
}

TEST_F(ResultsViewTest, CaptionShowsTheCurrentValues) {
  Start();
  TMeasurement m = Typical();
  m.H2S = 32768;
  DeviceRecord.Measurement = m;
  Form1->DataToCaption();
  EXPECT_EQ(Form1->windowTitle(),
            QStringLiteral(u"Korvex (Tg:185; O2:6,1; CO:42; NO:118; NO2:3; SO2:0; H2S:перег.)"));
}

}  // namespace
