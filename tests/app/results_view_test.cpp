#include <gtest/gtest.h>

#include <QSignalSpy>

#include <QAction>
#include <QFile>
#include <QFontInfo>
#include <QHeaderView>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <utility>
#include <vector>

#include "platform/text_codec.h"
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

// The width a cell of `grid` needs to draw `text` whole in the grid's font:
// the text, the margins the style draws it within, the grid line.
int neededWidth(const QTableView* grid, const QString& text) {
  const int margin = grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
  return grid->fontMetrics().horizontalAdvance(text) + 2 * margin + (grid->showGrid() ? 1 : 0);
}

// The widest texts of each column, as the program makes them.
std::vector<std::pair<int, QString>> widestTexts() {
  std::vector<std::pair<int, QString>> texts = {
      {0, QStringLiteral("1000000")}, {0, QStringLiteral("9999999")}, {0, QStringLiteral("31536000")},
      {15, QStringLiteral("EFFFF")},  {15, QStringLiteral("E0FFF")},   {15, QStringLiteral("Ok'")},
      {3, QStringLiteral("-20")},     {3, QStringLiteral("999")},      {4, QStringLiteral("29,99")},
      {5, QStringLiteral("99999")},   {6, QStringLiteral("9999")},     {7, QStringLiteral("999")},
      {8, QStringLiteral("9999")},    {9, QStringLiteral("999")},      {11, QStringLiteral("10996")},
      {14, QStringLiteral("-20")},    {14, QStringLiteral("99")},      {13, QStringLiteral("0,9876")},
  };
  // CO2, Qa, Alf in the short number form, or without a value.
  for (int c : {10, 12, 13})
    for (double v : {12350.0, 0.0009999, 0.00001235, 0.9999})
      texts.emplace_back(c, shortForm(v));
  for (int c : {10, 12, 13}) texts.emplace_back(c, QStringLiteral("-----"));
  // The measured channels' markers.
  for (int c : {3, 4, 5, 6, 7, 8, 9, 14})
    for (const char16_t* marker : {u"перег.", u"ошиб.", u"-----"}) texts.emplace_back(c, QString::fromUtf16(marker));
  // Every month's date and every hour's time in the locale.
  for (int month = 1; month <= 12; ++month)
    texts.emplace_back(1, shortDateText(seams::toDateTime(QDateTime(QDate(2026, month, 28), QTime(12, 0)))));
  for (int hour = 0; hour < 24; ++hour)
    texts.emplace_back(2, longTimeText(seams::toDateTime(QDateTime(QDate(2026, 12, 6), QTime(hour, 58, 58)))));
  return texts;
}

TEST_F(ResultsViewTest, EveryColumnIsWideEnoughForTheWidestTextItCanHold) {
  startWithDefaults();
  QTableView* grid = find<QTableView>("StringGrid1");
  const int designed[16] = {48, 66, 53, 46, 45, 48, 48, 50, 50, 50, 45, 50, 44, 38, 38, 38};
  for (int c = 0; c < 16; ++c) EXPECT_GE(grid->columnWidth(c), designed[c]) << c;
  EXPECT_EQ(shortForm(12350), QStringLiteral("1,235E004"));
  for (const auto& [column, text] : widestTexts())
    EXPECT_GE(grid->columnWidth(column), neededWidth(grid, text)) << column << " " << text.toStdString();

  // In a larger font the columns grow with it.
  QFont larger = grid->font();
  larger.setPixelSize(QFontInfo(grid->font()).pixelSize() * 8 / 5);
  grid->setFont(larger);
  ASSERT_GT(QFontInfo(grid->font()).pixelSize(), QFontInfo(QFont()).pixelSize());
  for (const auto& [column, text] : widestTexts())
    EXPECT_GE(grid->columnWidth(column), neededWidth(grid, text)) << column << " " << text.toStdString();
}

TEST_F(ResultsViewTest, TheColumnsStillFitAfterHistoryWasShownAndLeft) {
  startWithDefaults();
  QTableView* grid = find<QTableView>("StringGrid1");
  const auto fits = [&](const char* when) {
    for (const auto& [column, text] : widestTexts())
      EXPECT_GE(grid->columnWidth(column), neededWidth(grid, text)) << when << " " << column << " " << text.toStdString();
  };
  modal_ = [](QDialog* d) {
    d->accept();
    return int(QDialog::Accepted);
  };
  QSignalSpy finished(&host().historyReader(), &ResultReader::historyFinished);
  find<QAction>("HistoryAction")->trigger();
  ASSERT_TRUE(finished.wait(30000));
  QCoreApplication::processEvents();
  ASSERT_TRUE(find<QWidget>("LabelHistory")->isVisibleTo(&window()));
  fits("history");
  find<QAction>("LiveAction")->trigger();
  ASSERT_FALSE(find<QWidget>("LabelHistory")->isVisibleTo(&window()));
  fits("back");
}

TEST_F(ResultsViewTest, TheColumnsFitTheDatesTimesAndNumbersOfTheLocale) {
  seams::setLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  startWithDefaults();
  QTableView* grid = find<QTableView>("StringGrid1");
  EXPECT_TRUE(longTimeText(seams::toDateTime(QDateTime(QDate(2026, 12, 6), QTime(23, 58, 58))))
                  .endsWith(QStringLiteral("PM")));
  for (const auto& [column, text] : widestTexts()) {
    QString shown = text;
    shown.replace(QLatin1Char(','), QLatin1Char('.'));
    EXPECT_GE(grid->columnWidth(column), neededWidth(grid, shown)) << column << " " << shown.toStdString();
  }
}

TEST_F(ResultsViewTest, FaultCodesSmallRatiosAndLongRowNumbersAreDrawnWhole) {
  startWithDefaults();
  // A data file as the program writes them, its rows numbered in the millions.
  QByteArray file;
  for (int c = 0; c < 16; ++c) file += *cp1251::encode(kResultHeaders[c]) + '\t';
  file += "\r\n";
  const char* faults[] = {"EFFFF", "E0FFF", "E0888"};
  for (int r = 0; r < 3; ++r)
    file += QByteArray::number(1000000 + r * 4444444) + "\t28.12.2026\t23:59:58\t-20\t29,99\t99999\t9999\t999\t"
            "9999\t" + *cp1251::encode(QStringLiteral(u"перег.")) + "\t1,235E004\t10996\t0,0009999\t0,9876\t"
            "-20\t" + faults[r] + "\t\r\n";
  QFile f(inDir(QStringLiteral("wide.kvx")));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(file);
  f.close();
  fileDialog_ = [&](const seams::FileDialogRequest&) { return f.fileName(); };
  window().onOpenTriggered();
  ASSERT_TRUE(takeMessages().empty());
  ASSERT_EQ(results().count(), 3);
  // And a result taken now, with every fault bit the analyzer has and Alf below 1.
  Measurement m = typical();
  m.faultBits = 0x0FFF;
  m[channel::Alf] = 0.98765;
  append(m);
  EXPECT_EQ(cell(15, 4), QStringLiteral("E0FFF"));
  EXPECT_EQ(cell(13, 4), QStringLiteral("0,9877"));

  layOut();
  QTableView* grid = find<QTableView>("StringGrid1");
  const int margin = grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 16; ++c) {
      const QModelIndex index = grid->model()->index(r, c);
      const QString text = index.data().toString();
      EXPECT_GE(grid->visualRect(index).width() - 2 * margin, grid->fontMetrics().horizontalAdvance(text))
          << r << " " << c << " " << text.toStdString();
    }
}

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
  results().clear();
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
