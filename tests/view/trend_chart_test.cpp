#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <cmath>
#include <limits>
#include <random>

#include "view/value_format.h"
#include "view/view_fixture.h"

namespace {

class TrendChartTest : public ViewFixture {
 protected:
  TrendChart* Chart() const { return Form1->Chart1; }
  QCPRange Bottom() const { return Chart()->xAxis->range(); }
  QCPRange Left() const { return Chart()->yAxis->range(); }

  // Flat chart with a linear value axis: pixels map back to values simply.
  void StartLinear() {
    Start();
    ProgramSettings.LogScale = 0;
    ProgramSettings.View3D = 0;
    Form1->Chart1Init();
  }

  // The value a curve's first drawn point shows at, read back from the screen.
  double DrawnValue(int channel) const {
    const QVector<QLineF> s = Chart()->Series[channel]->ScreenSegments();
    if (s.isEmpty()) return qQNaN();
    return Chart()->yAxis->pixelToCoord(s.first().p1().y());
  }
  double PixelInValues() const { return Left().size() / Chart()->axisRect()->height(); }

  void Mouse(QEvent::Type type, Qt::MouseButton button, QPoint at) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, QPointF(at), Chart()->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(Chart(), &e);
  }
  void Drag(Qt::MouseButton button, QPoint from, QPoint to) {
    Mouse(QEvent::MouseButtonPress, button, from);
    Mouse(QEvent::MouseMove, button, from + (to - from) / 2);
    Mouse(QEvent::MouseMove, button, to);
    Mouse(QEvent::MouseButtonRelease, button, to);
  }
};

TEST_F(TrendChartTest, TwelveCurvesInChannelOrderWithTheirTitlesAndLines) {
  Start();
  const char* titles[kChannelCount] = {"Tg", "O2", "CO", "NO", "NO2", "SO2", "H2S", "CO2", "NOx", "Qa", "Alf", "Ta"};
  const TrendSeries* named[kChannelCount] = {
      Chart()->SeriesTg,  Chart()->SeriesO2,  Chart()->SeriesCO,  Chart()->SeriesNO,
      Chart()->SeriesNO2, Chart()->SeriesSO2, Chart()->SeriesH2S, Chart()->SeriesCO2,
      Chart()->SeriesNOx, Chart()->SeriesQa,  Chart()->SeriesAlf, Chart()->SeriesTa};
  EXPECT_EQ(Chart()->plottableCount(), kChannelCount);
  for (int i = 0; i < kChannelCount; ++i) {
    const TrendSeries* s = Chart()->Series[i];
    EXPECT_EQ(named[i], s);
    EXPECT_EQ(Chart()->plottable(i), s);
    EXPECT_EQ(s->name(), QLatin1String(titles[i]));
    EXPECT_EQ(s->pen().widthF(), 2);
    EXPECT_EQ(s->pen().style(), i == 7 ? Qt::DotLine : Qt::SolidLine) << titles[i];
    // Colours are the settings' 0x00BBGGRR values.
    const uint32_t c = ProgramSettings.SeriesColor[i];
    EXPECT_EQ(s->Color(), QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF)) << titles[i];
  }
  EXPECT_EQ(Chart()->SeriesTg->Color(), QColor(Qt::red));
  EXPECT_EQ(Chart()->SeriesAlf->Color(), QColor(Qt::blue));
}

TEST_F(TrendChartTest, TheLegendListsTheShownCurvesInOrder) {
  Start();
  const auto legendNames = [this] {
    QStringList names;
    for (int i = 0; i < Chart()->legend->itemCount(); ++i)
      names << qobject_cast<QCPPlottableLegendItem*>(Chart()->legend->item(i))->plottable()->name();
    return names;
  };
  EXPECT_EQ(legendNames(), (QStringList{"Tg", "O2", "CO", "NO", "Alf"}));
  // Hidden and shown again, a curve goes back to its own place.
  ProgramSettings.ChannelView[0].Show = 0;
  ProgramSettings.ChannelView[8].Show = 1;
  Form1->Chart1Init();
  EXPECT_EQ(legendNames(), (QStringList{"O2", "CO", "NO", "NOx", "Alf"}));
  ProgramSettings.ChannelView[0].Show = 1;
  Form1->Chart1Init();
  EXPECT_EQ(legendNames(), (QStringList{"Tg", "O2", "CO", "NO", "NOx", "Alf"}));
}

TEST_F(TrendChartTest, AResultAddsTheChartFormOfEachChannel) {
  Start();
  TMeasurement m = Typical();
  m.O2 = 32768 / 100.0;  // overload code: 0 on the chart
  m.CO = 30001;          // above the chart's range: 0 on the chart, in full in the table
  m.Tg = -50;
  m.Ta = 120;
  m.NOx = 12000;
  m.Qa = 123.5;  // derived values go on unchanged
  m.Alf = 45;
  m.CO2 = -3;
  Append(m);
  const double expected[kChannelCount] = {-20, 0, 0, 118, 3, 0, 0, -3, 0, 123.5, 45, 0};
  for (int i = 0; i < kChannelCount; ++i) {
    EXPECT_EQ(Chart()->Series[i]->Count(), 1);
    EXPECT_DOUBLE_EQ(Chart()->StoredValue(i, 0), expected[i]) << i;
  }
  EXPECT_EQ(Form1->Grid->Cells(5, 1), QStringLiteral("30001"));
  Append(Typical(), 1);
  EXPECT_EQ(Chart()->PointCount(), 2);
  EXPECT_DOUBLE_EQ(Chart()->StoredValue(0, 1), 185);
}

TEST_F(TrendChartTest, TheFactorScalesTheDrawingNotTheStoredValues) {
  StartLinear();
  LayOut();
  Append(Typical());
  Chart()->RedrawNow();
  ASSERT_EQ(Chart()->Factor(1), 10);
  EXPECT_NEAR(DrawnValue(1), 61, PixelInValues());
  EXPECT_DOUBLE_EQ(Chart()->StoredValue(1, 0), 6.1);

  ProgramSettings.ChannelView[1].Multiplier = 1;
  Form1->Chart1Init();
  Chart()->RedrawNow();
  EXPECT_NEAR(DrawnValue(1), 6.1, PixelInValues());
  EXPECT_DOUBLE_EQ(Chart()->StoredValue(1, 0), 6.1);
}

TEST_F(TrendChartTest, AHiddenCurveKeepsItsPointsButStaysOutOfTheScaling) {
  StartLinear();
  ASSERT_FALSE(Chart()->Shown(4));  // NO2, factor 10
  for (int i = 0; i < 5; ++i) {
    TMeasurement m = Typical();
    m.NO2 = 900;
    Append(m, i);
  }
  EXPECT_EQ(Chart()->SeriesNO2->Count(), 5);
  EXPECT_DOUBLE_EQ(Left().upper, 185);  // Tg, the highest shown curve
  EXPECT_FALSE(Chart()->SeriesNO2->visible());

  ProgramSettings.ChannelView[4].Show = 1;
  Form1->Chart1Init();
  EXPECT_DOUBLE_EQ(Left().upper, 9000);
  LayOut();
  EXPECT_EQ(Chart()->SeriesNO2->ScreenSegments().size(), 4);  // the whole history is drawn
}

TEST_F(TrendChartTest, AxesScaleToTheDataWithoutWalkingThePoints) {
  StartLinear();
  AppendTypical(20);
  EXPECT_EQ(Bottom(), QCPRange(0, 19));
  EXPECT_DOUBLE_EQ(Left().lower, 42);  // CO
  EXPECT_DOUBLE_EQ(Left().upper, 185);
  // A value that cannot be drawn (an infinite excess-air ratio) is left out.
  TMeasurement m = Typical();
  m.Alf = std::numeric_limits<double>::infinity();
  m.Qa = std::numeric_limits<double>::quiet_NaN();
  Append(m, 20);
  EXPECT_TRUE(std::isfinite(Left().upper));
  EXPECT_DOUBLE_EQ(Left().upper, 185);
  // Logarithmic: only values above 0 count.
  TMeasurement zero = Typical();
  zero.CO = 0;
  Append(zero, 21);
  ProgramSettings.LogScale = 1;
  Form1->Chart1Init();
  EXPECT_EQ(Chart()->yAxis->scaleType(), QCPAxis::stLogarithmic);
  EXPECT_DOUBLE_EQ(Left().lower, 42);
}

TEST_F(TrendChartTest, OnTheLogarithmicAxisZeroLiesOnTheLowerEdge) {
  Start();
  ASSERT_TRUE(Chart()->LogScale());
  LayOut();
  TMeasurement m = Typical();
  m.CO = 0;
  Append(m);
  Append(m, 1);
  Chart()->RedrawNow();
  const QVector<QLineF> s = Chart()->SeriesCO->ScreenSegments();
  ASSERT_EQ(s.size(), 1);
  EXPECT_DOUBLE_EQ(s[0].y1(), Chart()->yAxis->coordToPixel(Left().lower));
  EXPECT_DOUBLE_EQ(s[0].y2(), s[0].y1());
}

TEST_F(TrendChartTest, FollowingShowsTheLastFiftyPoints) {
  Start();
  AppendTypical(10);
  Form1->BitBtn4Click();
  EXPECT_TRUE(Chart()->FollowLast);
  EXPECT_EQ(Bottom(), QCPRange(-40, 10));
  EXPECT_FALSE(Chart()->AxisAutomatic(Chart()->xAxis));
  EXPECT_FALSE(Chart()->AxisAutomaticMinimum(Chart()->xAxis));
  EXPECT_FALSE(Chart()->AxisAutomaticMaximum(Chart()->xAxis));
  for (int i = 10; i < 120; ++i) Append(Typical(), i);
  EXPECT_EQ(Bottom(), QCPRange(70, 120));
}

TEST_F(TrendChartTest, TheFollowWindowMovesTheEndsInAnOrderTheAxisAccepts) {
  Start();
  TrendChart* c = Chart();
  // Maximum at or below n - 50: the maximum goes first (the minimum first would be refused).
  c->SetAxisMinMax(c->xAxis, 0, 10);
  EXPECT_FALSE(c->SetAxisMinimum(c->xAxis, 70));
  EXPECT_TRUE(c->ApplyFollowWindow(120));
  EXPECT_EQ(Bottom(), QCPRange(70, 120));
  c->SetAxisMinMax(c->xAxis, 0, 70);
  EXPECT_TRUE(c->ApplyFollowWindow(120));
  EXPECT_EQ(Bottom(), QCPRange(70, 120));
  // Maximum above n - 50: the minimum goes first (the maximum first would be refused).
  c->SetAxisMinMax(c->xAxis, 500, 600);
  EXPECT_FALSE(c->SetAxisMaximum(c->xAxis, 120));
  EXPECT_TRUE(c->ApplyFollowWindow(120));
  EXPECT_EQ(Bottom(), QCPRange(70, 120));
  // Setting an end does not change the automatic mode.
  c->SetAxisAutomatic(c->xAxis, true);
  EXPECT_TRUE(c->SetAxisMaximum(c->xAxis, 130));
  EXPECT_TRUE(c->AxisAutomatic(c->xAxis));
}

TEST_F(TrendChartTest, ZoomAndUndoRestoreTheSavedRangesAndModes) {
  StartLinear();
  AppendTypical(21);
  const QCPRange x0 = Bottom(), y0 = Left();
  ASSERT_EQ(x0, QCPRange(0, 20));
  QSignalSpy zoomed(Chart(), &TrendChart::Chart1Zoom);

  Form1->BitBtn1Click();  // 120 %: narrower by a fifth at each end
  EXPECT_EQ(zoomed.size(), 1);
  EXPECT_NEAR(Bottom().lower, 4, 1e-9);
  EXPECT_NEAR(Bottom().upper, 16, 1e-9);
  EXPECT_NEAR(Left().lower, y0.lower + y0.size() * 0.2, 1e-9);
  EXPECT_FALSE(Chart()->AxisAutomatic(Chart()->xAxis));
  EXPECT_FALSE(Chart()->AxisAutomatic(Chart()->yAxis));
  EXPECT_TRUE(Form1->BitBtn3->isEnabled());

  Form1->BitBtn2Click();  // 80 %: wider
  EXPECT_NEAR(Bottom().lower, 4 - 12 * 0.2, 1e-9);
  EXPECT_NEAR(Bottom().upper, 16 + 12 * 0.2, 1e-9);
  AppendTypical(5);  // a zoomed axis stays where it is
  EXPECT_NEAR(Bottom().lower, 1.6, 1e-9);

  Chart()->UndoZoom();  // back to the scales before the first zoom
  EXPECT_TRUE(Chart()->AxisAutomatic(Chart()->xAxis));
  EXPECT_TRUE(Chart()->AxisAutomatic(Chart()->yAxis));
  EXPECT_EQ(Bottom(), QCPRange(0, 25));  // automatic again, so it takes in the new points
  EXPECT_FALSE(Chart()->Zoomed());

  // Setting the ends directly saves nothing for the next undo.
  Chart()->SetAxisMinMax(Chart()->xAxis, 3, 8);
  Chart()->UndoZoom();
  EXPECT_EQ(Bottom(), QCPRange(3, 8));
  EXPECT_FALSE(Chart()->AxisAutomatic(Chart()->xAxis));
}

TEST_F(TrendChartTest, ArrowButtonsScrollByATenthOfTheView) {
  StartLinear();
  AppendTypical(11);
  const QCPRange y0 = Left(), top0 = Chart()->xAxis2->range();
  Form1->SpeedButton1Click();  // later points
  EXPECT_NEAR(Bottom().lower, 1, 1e-9);
  EXPECT_NEAR(Bottom().upper, 11, 1e-9);
  EXPECT_NEAR(Chart()->xAxis2->range().lower, top0.lower + top0.size() / 10, 1e-9);
  EXPECT_FALSE(Chart()->AxisAutomatic(Chart()->xAxis));
  EXPECT_TRUE(Form1->BitBtn3->isEnabled());
  Form1->SpeedButton4Click();  // earlier points
  Form1->SpeedButton4Click();
  EXPECT_NEAR(Bottom().lower, -1, 1e-9);
  Form1->SpeedButton3Click();  // higher values
  EXPECT_NEAR(Left().lower, y0.lower + y0.size() / 10, 1e-9);
  Form1->SpeedButton2Click();  // lower values
  Form1->SpeedButton2Click();
  EXPECT_NEAR(Left().upper, y0.upper - y0.size() / 10, 1e-9);
  EXPECT_FALSE(Chart()->AxisAutomatic(Chart()->yAxis));

  // The reset button brings both axes back to automatic scaling (scrolling
  // saves nothing to undo).
  Form1->BitBtn3Click();
  EXPECT_EQ(Bottom(), QCPRange(0, 10));
  EXPECT_EQ(Left(), y0);
  EXPECT_TRUE(Chart()->AxisAutomatic(Chart()->yAxis));
}

TEST_F(TrendChartTest, PadButtonsEnableEachOther) {
  Start();
  QToolButton* pad[] = {Form1->BitBtn1,      Form1->BitBtn2,      Form1->BitBtn3,
                        Form1->BitBtn4,      Form1->BitBtn5,      Form1->SpeedButton1,
                        Form1->SpeedButton2, Form1->SpeedButton3, Form1->SpeedButton4};
  for (QToolButton* b : pad) {
    EXPECT_EQ(b->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(b->size(), QSize(33, 34));
    EXPECT_FALSE(b->icon().isNull());
  }
  EXPECT_TRUE(Form1->BitBtn4->isEnabled());
  EXPECT_FALSE(Form1->BitBtn3->isEnabled());

  Form1->BitBtn4->click();
  EXPECT_FALSE(Form1->BitBtn4->isEnabled());
  EXPECT_TRUE(Form1->BitBtn3->isEnabled());
  // The view dialog's rebuild leaves following but not the buttons.
  Form1->Chart1Init();
  EXPECT_FALSE(Chart()->FollowLast);
  EXPECT_FALSE(Form1->BitBtn4->isEnabled());
  EXPECT_TRUE(Form1->BitBtn3->isEnabled());

  Form1->BitBtn3->click();
  EXPECT_TRUE(Form1->BitBtn4->isEnabled());
  EXPECT_FALSE(Form1->BitBtn3->isEnabled());
  EXPECT_TRUE(Chart()->AxisAutomatic(Chart()->xAxis));

  for (QToolButton* b : {Form1->BitBtn1, Form1->BitBtn2, Form1->SpeedButton1, Form1->SpeedButton2,
                         Form1->SpeedButton3, Form1->SpeedButton4}) {
    Form1->BitBtn3Click();
    ASSERT_FALSE(Form1->BitBtn3->isEnabled());
    b->click();
    EXPECT_TRUE(Form1->BitBtn3->isEnabled());
  }
  Form1->BitBtn3Click();
  emit Chart()->Chart1Scroll();
  EXPECT_TRUE(Form1->BitBtn3->isEnabled());
  Form1->BitBtn3Click();
  emit Chart()->Chart1Zoom();
  EXPECT_TRUE(Form1->BitBtn3->isEnabled());
}

TEST_F(TrendChartTest, ClearingEmptiesChartAndTableButKeepsTheView) {
  Start();
  AppendTypical(30);
  Form1->BitBtn4Click();
  Form1->BitBtn1Click();
  const QCPRange x = Bottom();
  Form1->ChartClear();
  EXPECT_EQ(Chart()->PointCount(), 0);
  for (const TrendSeries* s : Chart()->Series) EXPECT_EQ(s->Count(), 0);
  EXPECT_EQ(Form1->Grid->RowCount(), 2);
  EXPECT_TRUE(Chart()->FollowLast);
  EXPECT_TRUE(Chart()->Zoomed());
  EXPECT_EQ(Bottom(), x);
  Append(Typical());
  EXPECT_EQ(Form1->Grid->Cells(0, 1), QStringLiteral("0"));
  EXPECT_EQ(Chart()->PointCount(), 1);
  EXPECT_EQ(Bottom(), QCPRange(-49, 1));
}

TEST_F(TrendChartTest, DoubleClickGoesBackLikeTheResetButton) {
  Start();
  LayOut();
  AppendTypical(5);
  Form1->BitBtn4Click();
  QTest::mouseDClick(Chart(), Qt::LeftButton, Qt::NoModifier, Chart()->axisRect()->rect().center());
  EXPECT_FALSE(Chart()->FollowLast);
  EXPECT_FALSE(Form1->BitBtn3->isEnabled());
  EXPECT_TRUE(Form1->BitBtn4->isEnabled());
  EXPECT_EQ(Bottom(), QCPRange(0, 4));
}

TEST_F(TrendChartTest, DraggingARectangleZoomsIntoIt) {
  StartLinear();
  LayOut();
  AppendTypical(40);
  Chart()->RedrawNow();
  const QCPRange x0 = Bottom(), y0 = Left();
  const QRect r = Chart()->axisRect()->rect();
  const QPoint a(r.left() + r.width() / 4, r.top() + r.height() / 4);
  const QPoint b(r.left() + r.width() * 3 / 4, r.top() + r.height() * 3 / 4);
  const double xLo = Chart()->xAxis->pixelToCoord(a.x()), xHi = Chart()->xAxis->pixelToCoord(b.x() + 1);
  const double yHi = Chart()->yAxis->pixelToCoord(a.y()), yLo = Chart()->yAxis->pixelToCoord(b.y() + 1);
  QSignalSpy zoomed(Chart(), &TrendChart::Chart1Zoom);

  Drag(Qt::LeftButton, b, a);  // the direction does not matter
  EXPECT_EQ(zoomed.size(), 1);
  EXPECT_NEAR(Bottom().lower, xLo, 1e-9);
  EXPECT_NEAR(Bottom().upper, xHi, 1e-9);
  EXPECT_NEAR(Left().lower, yLo, 1e-9);
  EXPECT_NEAR(Left().upper, yHi, 1e-9);
  EXPECT_TRUE(Form1->BitBtn3->isEnabled());

  // A slip of a few pixels zooms nothing.
  Drag(Qt::LeftButton, a, a + QPoint(5, 30));
  EXPECT_EQ(zoomed.size(), 1);

  Form1->BitBtn3Click();
  EXPECT_EQ(Bottom(), x0);
  EXPECT_EQ(Left(), y0);
  Drag(Qt::LeftButton, a, b);
  EXPECT_EQ(zoomed.size(), 2);
  EXPECT_NEAR(Bottom().lower, xLo, 1e-9);
  EXPECT_NEAR(Left().upper, yHi, 1e-9);
}

TEST_F(TrendChartTest, DraggingWithTheRightButtonScrolls) {
  StartLinear();
  LayOut();
  AppendTypical(40);
  Chart()->RedrawNow();
  const QCPRange x0 = Bottom(), y0 = Left();
  const QRect r = Chart()->axisRect()->rect();
  QSignalSpy scrolled(Chart(), &TrendChart::Chart1Scroll);
  QSignalSpy zoomed(Chart(), &TrendChart::Chart1Zoom);

  Drag(Qt::RightButton, r.center(), r.center() + QPoint(50, 30));
  EXPECT_EQ(scrolled.size(), 1);
  EXPECT_EQ(zoomed.size(), 0);
  // The data follow the pointer: right shows earlier points, down higher values.
  EXPECT_NEAR(Bottom().lower, x0.lower - 50 * x0.size() / r.width(), 1e-9);
  EXPECT_NEAR(Bottom().size(), x0.size(), 1e-9);
  EXPECT_NEAR(Left().lower, y0.lower + 30 * y0.size() / r.height(), 1e-9);
  EXPECT_TRUE(Form1->BitBtn3->isEnabled());

  // The scales before the drag were saved for the undo.
  Chart()->UndoZoom();
  EXPECT_EQ(Bottom(), x0);
  EXPECT_EQ(Left(), y0);
}

TEST_F(TrendChartTest, ViewParametersAreApplied) {
  Start();
  LayOut();
  EXPECT_TRUE(Chart()->Is3D());
  EXPECT_GT(Chart()->Depth(), 0);
  EXPECT_TRUE(Chart()->LogScale());
  EXPECT_EQ(Chart()->GradientBottom(), QColor(Qt::white));
  EXPECT_EQ(Chart()->GradientTop(), QColor(0xA6, 0xCA, 0xF0));

  ProgramSettings.View3D = 0;
  ProgramSettings.LogScale = 0;
  ProgramSettings.ChartColorStart = ColorRef(0x10, 0x20, 0x30);
  ProgramSettings.ChartColorEnd = ColorRef(0xF0, 0xE0, 0xD0);
  ProgramSettings.SeriesColor[3] = ColorRef(0x12, 0x34, 0x56);
  Form1->Chart1Init();
  Chart()->RedrawNow();
  EXPECT_FALSE(Chart()->Is3D());
  EXPECT_EQ(Chart()->Depth(), 0);
  EXPECT_EQ(Chart()->yAxis->scaleType(), QCPAxis::stLinear);
  EXPECT_EQ(Chart()->SeriesNO->Color(), QColor(0x12, 0x34, 0x56));

  // The panel runs from the start colour at the bottom to the end colour at the top.
  const QImage shot = Chart()->grab().toImage();
  const QColor bottom = shot.pixelColor(2, shot.height() - 2), top = shot.pixelColor(2, 1);
  EXPECT_NEAR(bottom.red(), 0x10, 6);
  EXPECT_NEAR(bottom.blue(), 0x30, 6);
  EXPECT_NEAR(top.red(), 0xF0, 6);
  EXPECT_NEAR(top.blue(), 0xD0, 6);
}

TEST_F(TrendChartTest, AxesLegendAndMarginsAsLaidOut) {
  Start();
  LayOut();
  AppendTypical(30);
  Chart()->RedrawNow();
  TrendChart* c = Chart();
  EXPECT_EQ(c->xAxis->basePen().color(), QColor(Qt::blue));
  EXPECT_EQ(c->xAxis->tickLabelFont().family(), QStringLiteral("Courier New"));
  EXPECT_EQ(c->xAxis->tickLabelFont().pointSize(), 8);
  EXPECT_EQ(c->xAxis->tickLengthIn(), 5);
  EXPECT_EQ(c->xAxis->tickPen().width(), 2);
  EXPECT_EQ(c->yAxis->tickLengthIn(), 5);
  EXPECT_EQ(c->yAxis->subTickLengthIn(), 3);
  EXPECT_EQ(c->yAxis->grid()->pen().color(), QColor(Qt::blue));
  EXPECT_FALSE(c->xAxis2->visible());
  EXPECT_FALSE(c->yAxis2->visible());
  // Five minor ticks between two labelled ones.
  for (QCPAxis* axis : {c->xAxis, c->yAxis}) {
    QVector<double> ticks, minor;
    axis->ticker()->generate(axis->range(), c->locale(), QLatin1Char('g'), 6, ticks, &minor, nullptr);
    ASSERT_GE(ticks.size(), 2);
    EXPECT_EQ(std::count_if(minor.begin(), minor.end(), [&](double t) { return t > ticks[0] && t < ticks[1]; }), 5);
  }

  EXPECT_EQ(c->legend->font().family(), QStringLiteral("Arial Narrow"));
  EXPECT_EQ(c->legend->font().pointSize(), 10);
  EXPECT_EQ(c->legend->borderPen().style(), Qt::NoPen);
  EXPECT_EQ(c->legend->outerRect().top(), qRound(c->height() * 0.02));
  EXPECT_GT(c->legend->outerRect().left(), c->axisRect()->rect().right());
  EXPECT_LE(c->legend->outerRect().right(), c->width() - qRound(c->width() * 0.01));
  EXPECT_EQ(c->axisRect()->outerRect().bottom(), c->height() - qRound(c->height() * 0.03) - 1);
}

TEST_F(TrendChartTest, CrowdedPointsAreDrawnAsOneSpanPerPixelColumn) {
  StartLinear();
  LayOut();
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> noise(0, 1000);
  const int n = 86400;
  double lo = 1e9, hi = -1e9;
  for (int i = 0; i < n; ++i) {
    const double v = noise(rng);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    for (int ch = 0; ch < kChannelCount; ++ch) Chart()->AppendValue(ch, ch == 0 ? v : 1);
  }
  Chart()->RedrawNow();
  const QVector<QLineF> s = Chart()->SeriesTg->ScreenSegments();
  const int width = Chart()->axisRect()->width();
  EXPECT_LE(s.size(), 2 * width + 2);
  EXPECT_GE(s.size(), width);
  double top = 1e9, bottom = -1e9;
  for (const QLineF& l : s) {
    top = std::min({top, l.y1(), l.y2()});
    bottom = std::max({bottom, l.y1(), l.y2()});
  }
  EXPECT_NEAR(top, Chart()->yAxis->coordToPixel(hi), 1e-6);
  EXPECT_NEAR(bottom, Chart()->yAxis->coordToPixel(lo), 1e-6);
  // Zoomed in to a few points, every point is drawn.
  Chart()->SetAxisMinMax(Chart()->xAxis, 100, 110);
  Chart()->RedrawNow();
  EXPECT_EQ(Chart()->SeriesTg->ScreenSegments().size(), 12);
}

}  // namespace
