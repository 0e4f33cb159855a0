#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <cmath>
#include <limits>
#include <random>

#include "data/value_format.h"
#include "view/view_fixture.h"

namespace {

class TrendChartTest : public ViewFixture {
 protected:
  QCPRange bottom() const { return chart()->xAxis->range(); }
  QCPRange left() const { return chart()->yAxis->range(); }

  // Flat chart with a linear value axis: pixels map back to values simply.
  void startLinear() {
    startWithDefaults();
    viewEdit().logScale = false;
    viewEdit().view3D = false;
    applyView();
  }

  // The value a curve's first drawn point shows at, read back from the screen.
  double drawnValue(int channel) const {
    const QVector<QLineF> s = chart()->series(channel)->screenSegments();
    if (s.isEmpty()) return qQNaN();
    return chart()->yAxis->pixelToCoord(s.first().p1().y());
  }
  double pixelInValues() const { return left().size() / chart()->axisRect()->height(); }

  void mouse(QEvent::Type type, Qt::MouseButton button, QPoint at) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent e(type, QPointF(at), chart()->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(chart(), &e);
  }
  // `n` rows as a data file brings them: every curve drifting and noisy,
  // CO with peaks, and now and then an excess-air ratio that cannot be drawn.
  void loadRows(int n) {
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0, 1);
    results().beginLoad();
    for (int i = 0; i < n; ++i) {
      ChannelValues v = typical().values;
      for (int ch = 0; ch < kChannelCount; ++ch)
        v[size_t(ch)] *= 1 + 0.2 * std::sin(i / 700.0 + ch) + 0.03 * noise(rng);
      if (i % 900 < 20) v[channel::CO] = 400 + 50 * noise(rng);
      if (i % 4001 == 17) v[channel::Alf] = qQNaN();
      results().appendLoaded(v, {});
    }
    results().endLoad();
  }

  // A result as the poll cycle hands it over, and the redraw it queues.
  void appendAndDraw(int i) {
    Measurement m = typical();
    m[channel::CO] = 30 + (i * 7) % 25;
    m[channel::Tg] = 170 + (i * 3) % 20;
    if (i % 9 == 4) m[channel::Alf] = std::numeric_limits<double>::infinity();
    append(m, i);
    QApplication::processEvents();
  }

  void Drag(Qt::MouseButton button, QPoint from, QPoint to) {
    mouse(QEvent::MouseButtonPress, button, from);
    mouse(QEvent::MouseMove, button, from + (to - from) / 2);
    mouse(QEvent::MouseMove, button, to);
    mouse(QEvent::MouseButtonRelease, button, to);
  }
};

TEST_F(TrendChartTest, TwelveCurvesInChannelOrderWithTheirTitlesAndLines) {
  startWithDefaults();
  const char* titles[kChannelCount] = {"Tg", "O2", "CO", "NO", "NO2", "SO2", "H2S", "CO2", "NOx", "Qa", "Alf", "Ta"};
  const TrendSeries* named[kChannelCount] = {
      chart()->series(channel::Tg),  chart()->series(channel::O2),  chart()->series(channel::CO),  chart()->series(channel::NO),
      chart()->series(channel::NO2), chart()->series(channel::SO2), chart()->series(channel::H2S), chart()->series(channel::CO2),
      chart()->series(channel::NOx), chart()->series(channel::Qa),  chart()->series(channel::Alf), chart()->series(channel::Ta)};
  EXPECT_EQ(chart()->plottableCount(), kChannelCount);
  for (int i = 0; i < kChannelCount; ++i) {
    const TrendSeries* s = chart()->series(i);
    EXPECT_EQ(named[i], s);
    EXPECT_EQ(chart()->plottable(i), s);
    EXPECT_EQ(s->name(), QLatin1String(titles[i]));
    EXPECT_EQ(s->pen().widthF(), 2);
    EXPECT_EQ(s->pen().style(), i == 7 ? Qt::DotLine : Qt::SolidLine) << titles[i];
    // Colours are the settings' 0x00BBGGRR values.
    const uint32_t c = settings().view().channels[size_t(i)].color;
    EXPECT_EQ(s->color(), QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF)) << titles[i];
  }
  EXPECT_EQ(chart()->series(channel::Tg)->color(), QColor(Qt::red));
  EXPECT_EQ(chart()->series(channel::Alf)->color(), QColor(Qt::blue));
}

TEST_F(TrendChartTest, TheLegendListsTheShownCurvesInOrder) {
  startWithDefaults();
  const auto legendNames = [this] {
    QStringList names;
    for (int i = 0; i < chart()->legend->itemCount(); ++i)
      names << qobject_cast<QCPPlottableLegendItem*>(chart()->legend->item(i))->plottable()->name();
    return names;
  };
  EXPECT_EQ(legendNames(), (QStringList{"Tg", "O2", "CO", "NO", "Alf"}));
  // Hidden and shown again, a curve goes back to its own place.
  viewEdit().channels[size_t(0)].shown = false;
  viewEdit().channels[size_t(8)].shown = true;
  applyView();
  EXPECT_EQ(legendNames(), (QStringList{"O2", "CO", "NO", "NOx", "Alf"}));
  viewEdit().channels[size_t(0)].shown = true;
  applyView();
  EXPECT_EQ(legendNames(), (QStringList{"Tg", "O2", "CO", "NO", "NOx", "Alf"}));
}

TEST_F(TrendChartTest, AResultAddsTheChartFormOfEachChannel) {
  startWithDefaults();
  Measurement m = typical();
  m[channel::O2] = 32768 / 100.0;  // overload code: 0 on the chart
  m[channel::CO] = 30001;          // above the chart's range: 0 on the chart, in full in the table
  m[channel::Tg] = -50;
  m[channel::Ta] = 120;
  m[channel::NOx] = 12000;
  m[channel::Qa] = 123.5;  // derived values go on unchanged
  m[channel::Alf] = 45;
  m[channel::CO2] = -3;
  append(m);
  const double expected[kChannelCount] = {-20, 0, 0, 118, 3, 0, 0, -3, 0, 123.5, 45, 0};
  for (int i = 0; i < kChannelCount; ++i) {
    EXPECT_EQ(chart()->series(i)->pointCount(), 1);
    EXPECT_DOUBLE_EQ(results().plottedValue(0, i), expected[i]) << i;
  }
  EXPECT_EQ(cell(5, 1), QStringLiteral("30001"));
  append(typical(), 1);
  EXPECT_EQ(chart()->pointCount(), 2);
  EXPECT_DOUBLE_EQ(results().plottedValue(1, 0), 185);
}

// What does not count in the averages is shaded behind the curves, one band
// a stretch.
TEST_F(TrendChartTest, StretchesOfResultsThatDoNotCountAreShaded) {
  startLinear();
  appendTypical(2);
  session().setMaintenance(true, QString());
  append(typical(), 2);
  append(typical(), 3);
  session().setMaintenance(false, QString());
  append(typical(), 4);
  Measurement faulty = typical();
  faulty.faultBits = 0x0010;
  append(faulty, 5);
  using Stretches = std::vector<std::pair<int, int>>;
  EXPECT_EQ(chart()->invalidStretches(), (Stretches{{2, 3}, {5, 5}}));

  // Drawn: the band's middle differs from the plot beside it at the same height.
  chart()->redrawNow();
  const QImage shot = chart()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QRect plot = chart()->axisRect()->rect();
  const int y = plot.top() + 2;
  const int inBand = int(std::lround(chart()->xAxis->coordToPixel(2.5)));
  const int beside = int(std::lround(chart()->xAxis->coordToPixel(0.5)));
  const qreal ratio = shot.devicePixelRatio();
  EXPECT_NE(shot.pixel(QPoint(int(inBand * ratio), int(y * ratio))), shot.pixel(QPoint(int(beside * ratio), int(y * ratio))));

  // A data file opened: its rows have no status and nothing is shaded.
  results().beginLoad();
  results().appendLoaded(typical().values, {});
  results().endLoad();
  EXPECT_TRUE(chart()->invalidStretches().empty());
}

TEST_F(TrendChartTest, TheFactorScalesTheDrawingNotTheStoredValues) {
  startLinear();
  layOut();
  append(typical());
  chart()->redrawNow();
  ASSERT_EQ(chart()->factor(1), 10);
  EXPECT_NEAR(drawnValue(1), 61, pixelInValues());
  EXPECT_DOUBLE_EQ(results().plottedValue(0, 1), 6.1);

  viewEdit().channels[size_t(1)].factor = 1;
  applyView();
  chart()->redrawNow();
  EXPECT_NEAR(drawnValue(1), 6.1, pixelInValues());
  EXPECT_DOUBLE_EQ(results().plottedValue(0, 1), 6.1);
}

TEST_F(TrendChartTest, AHiddenCurveKeepsItsPointsButStaysOutOfTheScaling) {
  startLinear();
  ASSERT_FALSE(chart()->isShown(4));  // NO2, factor 10
  for (int i = 0; i < 5; ++i) {
    Measurement m = typical();
    m[channel::NO2] = 900;
    append(m, i);
  }
  EXPECT_EQ(chart()->series(channel::NO2)->pointCount(), 5);
  EXPECT_DOUBLE_EQ(left().upper, 185);  // Tg, the highest shown curve
  EXPECT_FALSE(chart()->series(channel::NO2)->visible());

  viewEdit().channels[size_t(4)].shown = true;
  applyView();
  EXPECT_DOUBLE_EQ(left().upper, 9000);
  layOut();
  EXPECT_EQ(chart()->series(channel::NO2)->screenSegments().size(), 4);  // the whole history is drawn
}

TEST_F(TrendChartTest, AxesScaleToTheDataWithoutWalkingThePoints) {
  startLinear();
  appendTypical(20);
  EXPECT_EQ(bottom(), QCPRange(0, 19));
  EXPECT_DOUBLE_EQ(left().lower, 42);  // CO
  EXPECT_DOUBLE_EQ(left().upper, 185);
  // A value that cannot be drawn (an infinite excess-air ratio) is left out.
  Measurement m = typical();
  m[channel::Alf] = std::numeric_limits<double>::infinity();
  m[channel::Qa] = std::numeric_limits<double>::quiet_NaN();
  append(m, 20);
  EXPECT_TRUE(std::isfinite(left().upper));
  EXPECT_DOUBLE_EQ(left().upper, 185);
  // Logarithmic: only values above 0 count.
  Measurement zero = typical();
  zero[channel::CO] = 0;
  append(zero, 21);
  viewEdit().logScale = true;
  applyView();
  EXPECT_EQ(chart()->yAxis->scaleType(), QCPAxis::stLogarithmic);
  EXPECT_DOUBLE_EQ(left().lower, 42);
}

TEST_F(TrendChartTest, OnTheLogarithmicAxisZeroLiesOnTheLowerEdge) {
  startWithDefaults();
  ASSERT_TRUE(chart()->logScale());
  layOut();
  Measurement m = typical();
  m[channel::CO] = 0;
  append(m);
  append(m, 1);
  chart()->redrawNow();
  const QVector<QLineF> s = chart()->series(channel::CO)->screenSegments();
  ASSERT_EQ(s.size(), 1);
  EXPECT_DOUBLE_EQ(s[0].y1(), chart()->yAxis->coordToPixel(left().lower));
  EXPECT_DOUBLE_EQ(s[0].y2(), s[0].y1());
}

TEST_F(TrendChartTest, FollowingShowsTheLastFiftyPoints) {
  startWithDefaults();
  appendTypical(10);
  window().onFollowClicked();
  EXPECT_TRUE(chart()->isFollowing());
  EXPECT_EQ(bottom(), QCPRange(-40, 10));
  EXPECT_FALSE(chart()->axisAutomatic(chart()->xAxis));
  EXPECT_FALSE(chart()->axisAutomaticMinimum(chart()->xAxis));
  EXPECT_FALSE(chart()->axisAutomaticMaximum(chart()->xAxis));
  for (int i = 10; i < 120; ++i) append(typical(), i);
  EXPECT_EQ(bottom(), QCPRange(70, 120));
}

TEST_F(TrendChartTest, TheFollowWindowMovesTheEndsInAnOrderTheAxisAccepts) {
  startWithDefaults();
  TrendChart* c = chart();
  // Maximum at or below n - 50: the maximum goes first (the minimum first would be refused).
  c->setAxisMinMax(c->xAxis, 0, 10);
  EXPECT_FALSE(c->setAxisMinimum(c->xAxis, 70));
  EXPECT_TRUE(c->applyFollowWindow(120));
  EXPECT_EQ(bottom(), QCPRange(70, 120));
  c->setAxisMinMax(c->xAxis, 0, 70);
  EXPECT_TRUE(c->applyFollowWindow(120));
  EXPECT_EQ(bottom(), QCPRange(70, 120));
  // Maximum above n - 50: the minimum goes first (the maximum first would be refused).
  c->setAxisMinMax(c->xAxis, 500, 600);
  EXPECT_FALSE(c->setAxisMaximum(c->xAxis, 120));
  EXPECT_TRUE(c->applyFollowWindow(120));
  EXPECT_EQ(bottom(), QCPRange(70, 120));
  // Setting an end does not change the automatic mode.
  c->setAxisAutomatic(c->xAxis, true);
  EXPECT_TRUE(c->setAxisMaximum(c->xAxis, 130));
  EXPECT_TRUE(c->axisAutomatic(c->xAxis));
}

TEST_F(TrendChartTest, ZoomAndUndoRestoreTheSavedRangesAndModes) {
  startLinear();
  appendTypical(21);
  const QCPRange x0 = bottom(), y0 = left();
  ASSERT_EQ(x0, QCPRange(0, 20));
  QSignalSpy zoomed(chart(), &TrendChart::zoomed);

  window().onZoomInClicked();  // 120 %: narrower by a fifth at each end
  EXPECT_EQ(zoomed.size(), 1);
  EXPECT_NEAR(bottom().lower, 4, 1e-9);
  EXPECT_NEAR(bottom().upper, 16, 1e-9);
  EXPECT_NEAR(left().lower, y0.lower + y0.size() * 0.2, 1e-9);
  EXPECT_FALSE(chart()->axisAutomatic(chart()->xAxis));
  EXPECT_FALSE(chart()->axisAutomatic(chart()->yAxis));
  EXPECT_TRUE(find<QToolButton>("BitBtn3")->isEnabled());

  window().onZoomOutClicked();  // 80 %: wider
  EXPECT_NEAR(bottom().lower, 4 - 12 * 0.2, 1e-9);
  EXPECT_NEAR(bottom().upper, 16 + 12 * 0.2, 1e-9);
  appendTypical(5);  // a zoomed axis stays where it is
  EXPECT_NEAR(bottom().lower, 1.6, 1e-9);

  chart()->undoZoom();  // back to the scales before the first zoom
  EXPECT_TRUE(chart()->axisAutomatic(chart()->xAxis));
  EXPECT_TRUE(chart()->axisAutomatic(chart()->yAxis));
  EXPECT_EQ(bottom(), QCPRange(0, 25));  // automatic again, so it takes in the new points
  EXPECT_FALSE(chart()->isZoomed());

  // Setting the ends directly saves nothing for the next undo.
  chart()->setAxisMinMax(chart()->xAxis, 3, 8);
  chart()->undoZoom();
  EXPECT_EQ(bottom(), QCPRange(3, 8));
  EXPECT_FALSE(chart()->axisAutomatic(chart()->xAxis));
}

TEST_F(TrendChartTest, ArrowButtonsScrollByATenthOfTheView) {
  startLinear();
  appendTypical(11);
  const QCPRange y0 = left(), top0 = chart()->xAxis2->range();
  window().onScrollLaterClicked();  // later points
  EXPECT_NEAR(bottom().lower, 1, 1e-9);
  EXPECT_NEAR(bottom().upper, 11, 1e-9);
  EXPECT_NEAR(chart()->xAxis2->range().lower, top0.lower + top0.size() / 10, 1e-9);
  EXPECT_FALSE(chart()->axisAutomatic(chart()->xAxis));
  EXPECT_TRUE(find<QToolButton>("BitBtn3")->isEnabled());
  window().onScrollEarlierClicked();  // earlier points
  window().onScrollEarlierClicked();
  EXPECT_NEAR(bottom().lower, -1, 1e-9);
  window().onScrollUpClicked();  // higher values
  EXPECT_NEAR(left().lower, y0.lower + y0.size() / 10, 1e-9);
  window().onScrollDownClicked();  // lower values
  window().onScrollDownClicked();
  EXPECT_NEAR(left().upper, y0.upper - y0.size() / 10, 1e-9);
  EXPECT_FALSE(chart()->axisAutomatic(chart()->yAxis));

  // The reset button brings both axes back to automatic scaling (scrolling
  // saves nothing to undo).
  window().onResetZoomClicked();
  EXPECT_EQ(bottom(), QCPRange(0, 10));
  EXPECT_EQ(left(), y0);
  EXPECT_TRUE(chart()->axisAutomatic(chart()->yAxis));
}

TEST_F(TrendChartTest, ScrollingALogarithmicAxisMovesItByATenthOfItsDecades) {
  startWithDefaults();
  ASSERT_TRUE(chart()->logScale());
  appendTypical(11);
  const QCPRange y0 = left();
  ASSERT_GT(y0.lower, 0);
  const double decades = std::log10(y0.upper / y0.lower);
  for (int i = 0; i < 12; ++i) window().onScrollDownClicked();  // lower values
  EXPECT_GT(left().lower, 0);
  EXPECT_NEAR(std::log10(left().upper / left().lower), decades, 1e-9);
  EXPECT_NEAR(std::log10(left().lower), std::log10(y0.lower) - 1.2 * decades, 1e-9);
  window().onScrollUpClicked();  // higher values
  EXPECT_NEAR(std::log10(left().upper), std::log10(y0.upper) - 1.1 * decades, 1e-9);
  // The right axis stays linear and scrolls as such.
  EXPECT_EQ(chart()->yAxis2->scaleType(), QCPAxis::stLinear);
}

TEST_F(TrendChartTest, AValueTooLargeToScaleLeavesTheOtherCurvesInView) {
  startWithDefaults();
  layOut();
  ASSERT_TRUE(chart()->logScale());
  // A data file whose Tg holds 1e300 in one row.
  results().beginLoad();
  for (int i = 0; i < 20; ++i) {
    ChannelValues v = typical().values;
    if (i == 7) v[channel::Tg] = 1e300;
    results().appendLoaded(v, {});
  }
  results().endLoad();
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  for (int ch = 0; ch < kChannelCount; ++ch) {
    if (!chart()->isShown(ch)) continue;
    const double v = typical().values[size_t(ch)] * chart()->factor(ch);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  for (const bool log : {true, false}) {
    viewEdit().logScale = log;
    applyView();
    chart()->redrawNow();
    EXPECT_DOUBLE_EQ(left().lower, lo) << "log " << log;
    EXPECT_DOUBLE_EQ(left().upper, hi) << "log " << log;
    for (int ch = 0; ch < kChannelCount; ++ch) {
      if (!chart()->isShown(ch)) continue;
      EXPECT_FALSE(chart()->series(ch)->screenSegments().isEmpty()) << ch << " log " << log;
    }
    // Tg's line runs up out of the plot at the huge value and back.
    const QVector<QLineF> tg = chart()->series(channel::Tg)->screenSegments();
    ASSERT_FALSE(tg.isEmpty());
    double top = HUGE_VAL;
    for (const QLineF& l : tg) top = std::min({top, l.y1(), l.y2()});
    EXPECT_LT(top, chart()->axisRect()->top()) << "log " << log;
  }
}

TEST_F(TrendChartTest, PadButtonsEnableEachOther) {
  startWithDefaults();
  QToolButton* pad[] = {find<QToolButton>("BitBtn1"),      find<QToolButton>("BitBtn2"),      find<QToolButton>("BitBtn3"),
                        find<QToolButton>("BitBtn4"),      find<QToolButton>("BitBtn5"),      find<QToolButton>("SpeedButton1"),
                        find<QToolButton>("SpeedButton2"), find<QToolButton>("SpeedButton3"), find<QToolButton>("SpeedButton4")};
  for (QToolButton* b : pad) {
    EXPECT_EQ(b->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(b->size(), QSize(33, 34));
    EXPECT_FALSE(b->icon().isNull());
  }
  EXPECT_TRUE(find<QToolButton>("BitBtn4")->isEnabled());
  EXPECT_FALSE(find<QToolButton>("BitBtn3")->isEnabled());

  find<QToolButton>("BitBtn4")->click();
  EXPECT_FALSE(find<QToolButton>("BitBtn4")->isEnabled());
  EXPECT_TRUE(find<QToolButton>("BitBtn3")->isEnabled());
  // The view dialog's rebuild leaves following but not the buttons.
  applyView();
  EXPECT_FALSE(chart()->isFollowing());
  EXPECT_FALSE(find<QToolButton>("BitBtn4")->isEnabled());
  EXPECT_TRUE(find<QToolButton>("BitBtn3")->isEnabled());

  find<QToolButton>("BitBtn3")->click();
  EXPECT_TRUE(find<QToolButton>("BitBtn4")->isEnabled());
  EXPECT_FALSE(find<QToolButton>("BitBtn3")->isEnabled());
  EXPECT_TRUE(chart()->axisAutomatic(chart()->xAxis));

  for (QToolButton* b : {find<QToolButton>("BitBtn1"), find<QToolButton>("BitBtn2"), find<QToolButton>("SpeedButton1"), find<QToolButton>("SpeedButton2"),
                         find<QToolButton>("SpeedButton3"), find<QToolButton>("SpeedButton4")}) {
    window().onResetZoomClicked();
    ASSERT_FALSE(find<QToolButton>("BitBtn3")->isEnabled());
    b->click();
    EXPECT_TRUE(find<QToolButton>("BitBtn3")->isEnabled());
  }
  window().onResetZoomClicked();
  emit chart()->scrolled();
  EXPECT_TRUE(find<QToolButton>("BitBtn3")->isEnabled());
  window().onResetZoomClicked();
  emit chart()->zoomed();
  EXPECT_TRUE(find<QToolButton>("BitBtn3")->isEnabled());
}

TEST_F(TrendChartTest, ClearingEmptiesChartAndTableButKeepsTheView) {
  startWithDefaults();
  appendTypical(30);
  window().onFollowClicked();
  window().onZoomInClicked();
  const QCPRange x = bottom();
  results().clear();
  EXPECT_EQ(chart()->pointCount(), 0);
  for (int ch = 0; ch < kChannelCount; ++ch) EXPECT_EQ(chart()->series(ch)->pointCount(), 0);
  EXPECT_EQ(gridRows(), 2);
  EXPECT_TRUE(chart()->isFollowing());
  EXPECT_TRUE(chart()->isZoomed());
  EXPECT_EQ(bottom(), x);
  append(typical());
  EXPECT_EQ(cell(0, 1), QStringLiteral("0"));
  EXPECT_EQ(chart()->pointCount(), 1);
  EXPECT_EQ(bottom(), QCPRange(-49, 1));
}

TEST_F(TrendChartTest, DoubleClickGoesBackLikeTheResetButton) {
  startWithDefaults();
  layOut();
  appendTypical(5);
  window().onFollowClicked();
  QTest::mouseDClick(chart(), Qt::LeftButton, Qt::NoModifier, chart()->axisRect()->rect().center());
  EXPECT_FALSE(chart()->isFollowing());
  EXPECT_FALSE(find<QToolButton>("BitBtn3")->isEnabled());
  EXPECT_TRUE(find<QToolButton>("BitBtn4")->isEnabled());
  EXPECT_EQ(bottom(), QCPRange(0, 4));
}

TEST_F(TrendChartTest, DraggingARectangleZoomsIntoIt) {
  startLinear();
  layOut();
  appendTypical(40);
  chart()->redrawNow();
  const QCPRange x0 = bottom(), y0 = left();
  const QRect r = chart()->axisRect()->rect();
  const QPoint a(r.left() + r.width() / 4, r.top() + r.height() / 4);
  const QPoint b(r.left() + r.width() * 3 / 4, r.top() + r.height() * 3 / 4);
  const double xLo = chart()->xAxis->pixelToCoord(a.x()), xHi = chart()->xAxis->pixelToCoord(b.x() + 1);
  const double yHi = chart()->yAxis->pixelToCoord(a.y()), yLo = chart()->yAxis->pixelToCoord(b.y() + 1);
  QSignalSpy zoomed(chart(), &TrendChart::zoomed);

  Drag(Qt::LeftButton, b, a);  // the direction does not matter
  EXPECT_EQ(zoomed.size(), 1);
  EXPECT_NEAR(bottom().lower, xLo, 1e-9);
  EXPECT_NEAR(bottom().upper, xHi, 1e-9);
  EXPECT_NEAR(left().lower, yLo, 1e-9);
  EXPECT_NEAR(left().upper, yHi, 1e-9);
  EXPECT_TRUE(find<QToolButton>("BitBtn3")->isEnabled());

  // A slip of a few pixels zooms nothing.
  Drag(Qt::LeftButton, a, a + QPoint(5, 30));
  EXPECT_EQ(zoomed.size(), 1);

  window().onResetZoomClicked();
  EXPECT_EQ(bottom(), x0);
  EXPECT_EQ(left(), y0);
  Drag(Qt::LeftButton, a, b);
  EXPECT_EQ(zoomed.size(), 2);
  EXPECT_NEAR(bottom().lower, xLo, 1e-9);
  EXPECT_NEAR(left().upper, yHi, 1e-9);
}

TEST_F(TrendChartTest, DraggingWithTheRightButtonScrolls) {
  startLinear();
  layOut();
  appendTypical(40);
  chart()->redrawNow();
  const QCPRange x0 = bottom(), y0 = left();
  const QRect r = chart()->axisRect()->rect();
  QSignalSpy scrolled(chart(), &TrendChart::scrolled);
  QSignalSpy zoomed(chart(), &TrendChart::zoomed);

  Drag(Qt::RightButton, r.center(), r.center() + QPoint(50, 30));
  EXPECT_EQ(scrolled.size(), 1);
  EXPECT_EQ(zoomed.size(), 0);
  // The data follow the pointer: right shows earlier points, down higher values.
  EXPECT_NEAR(bottom().lower, x0.lower - 50 * x0.size() / r.width(), 1e-9);
  EXPECT_NEAR(bottom().size(), x0.size(), 1e-9);
  EXPECT_NEAR(left().lower, y0.lower + 30 * y0.size() / r.height(), 1e-9);
  EXPECT_TRUE(find<QToolButton>("BitBtn3")->isEnabled());

  // The scales before the drag were saved for the undo.
  chart()->undoZoom();
  EXPECT_EQ(bottom(), x0);
  EXPECT_EQ(left(), y0);
}

TEST_F(TrendChartTest, ViewParametersAreApplied) {
  startWithDefaults();
  layOut();
  EXPECT_TRUE(chart()->is3D());
  EXPECT_GT(chart()->depth(), 0);
  EXPECT_TRUE(chart()->logScale());
  EXPECT_EQ(chart()->gradientBottom(), QColor(Qt::white));
  EXPECT_EQ(chart()->gradientTop(), QColor(0xA6, 0xCA, 0xF0));

  viewEdit().view3D = false;
  viewEdit().logScale = false;
  viewEdit().chartColorStart = colorRef(0x10, 0x20, 0x30);
  viewEdit().chartColorEnd = colorRef(0xF0, 0xE0, 0xD0);
  viewEdit().channels[size_t(3)].color = colorRef(0x12, 0x34, 0x56);
  applyView();
  chart()->redrawNow();
  EXPECT_FALSE(chart()->is3D());
  EXPECT_EQ(chart()->depth(), 0);
  EXPECT_EQ(chart()->yAxis->scaleType(), QCPAxis::stLinear);
  EXPECT_EQ(chart()->series(channel::NO)->color(), QColor(0x12, 0x34, 0x56));

  // The panel runs from the start colour at the bottom to the end colour at the top.
  const QImage shot = chart()->grab().toImage();
  const QColor bottom = shot.pixelColor(2, shot.height() - 2), top = shot.pixelColor(2, 1);
  EXPECT_NEAR(bottom.red(), 0x10, 6);
  EXPECT_NEAR(bottom.blue(), 0x30, 6);
  EXPECT_NEAR(top.red(), 0xF0, 6);
  EXPECT_NEAR(top.blue(), 0xD0, 6);
}

TEST_F(TrendChartTest, AxesLegendAndMarginsAsLaidOut) {
  startWithDefaults();
  layOut();
  appendTypical(30);
  chart()->redrawNow();
  TrendChart* c = chart();
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
  startLinear();
  layOut();
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> noise(0, 1000);
  const int n = 86400;
  double lo = 1e9, hi = -1e9;
  // Loaded from a file, so the values are plotted as they are.
  results().beginLoad();
  for (int i = 0; i < n; ++i) {
    const double v = noise(rng);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    ChannelValues values;
    values.fill(1);
    values[channel::Tg] = v;
    results().appendLoaded(values, {});
  }
  results().endLoad();
  chart()->redrawNow();
  const QVector<QLineF> s = chart()->series(channel::Tg)->screenSegments();
  const int width = chart()->axisRect()->width();
  EXPECT_LE(s.size(), 2 * width + 2);
  EXPECT_GE(s.size(), width);
  double top = 1e9, bottom = -1e9;
  for (const QLineF& l : s) {
    top = std::min({top, l.y1(), l.y2()});
    bottom = std::max({bottom, l.y1(), l.y2()});
  }
  EXPECT_NEAR(top, chart()->yAxis->coordToPixel(hi), 1e-6);
  EXPECT_NEAR(bottom, chart()->yAxis->coordToPixel(lo), 1e-6);
  // Zoomed in to a few points, every point is drawn.
  chart()->setAxisMinMax(chart()->xAxis, 100, 110);
  chart()->redrawNow();
  EXPECT_EQ(chart()->series(channel::Tg)->screenSegments().size(), 12);
}

TEST_F(TrendChartTest, AResultAppendedToADayInViewRedrawsOnlyTheNewEnd) {
  startWithDefaults();
  layOut();
  loadRows(40000);
  for (const bool view3D : {true, false}) {
    viewEdit().view3D = view3D;
    applyView();
    chart()->redrawNow();
    int onlyTheEnd = 0;
    for (int i = 0; i < 30; ++i) {
      const TrendSeries::KeyMapping across = chart()->drawingMapping();
      const QCPRange values = left();
      appendAndDraw(i);
      // Unless the points moved across or the values' scale changed, only
      // the last columns are drawn anew.
      const TrendSeries::KeyMapping now = chart()->drawingMapping();
      if (now.offset != across.offset || now.scale != across.scale || left() != values) continue;
      EXPECT_GT(chart()->curvesRedrawnFrom(), chart()->axisRect()->right() - 10) << i << " 3-D " << view3D;
      ++onlyTheEnd;
    }
    EXPECT_GE(onlyTheEnd, 15) << "3-D " << view3D;
    // What the appends drew is what drawing everything draws.
    const QImage grown = chart()->grab().toImage();
    chart()->redrawNow();
    EXPECT_TRUE(grown == chart()->grab().toImage()) << "3-D " << view3D;
  }
}

TEST_F(TrendChartTest, CurvesGrownPointByPointShowWhatAPageOfThemShows) {
  startWithDefaults();
  layOut();
  loadRows(30000);
  for (int ch = 0; ch < kChannelCount; ++ch) viewEdit().channels[size_t(ch)].shown = true;
  int next = 0;
  for (const bool view3D : {true, false}) {
    viewEdit().view3D = view3D;
    applyView();
    // A fixed view the new points grow into, across new pixel columns.
    chart()->setAxisMinMax(chart()->xAxis, 0, 36000);
    chart()->redrawNow();
    for (int i = 0; i < 120; ++i) appendAndDraw(next++);
    // Drawn for a page of the screen's size through toPainter, as the
    // printout draws: the columns taken anew, no picture kept.
    const double ratio = chart()->devicePixelRatioF();
    const QImage screen = chart()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage page = chart()->toPixmap(chart()->width(), chart()->height(), ratio).toImage();
    const QImage pageRgb = page.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(screen.size(), pageRgb.size());
    // Blending the picture over the panel rounds a level or two off here and there.
    const QRectF logical = chart()->axisRect()->rect();
    const QRect area(QPoint(qCeil(logical.left() * ratio), qCeil(logical.top() * ratio)),
                     QPoint(qFloor(logical.right() * ratio), qFloor(logical.bottom() * ratio)));
    int differing = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) {
        const QRgb a = screen.pixel(x, y), b = pageRgb.pixel(x, y);
        differing += std::abs(qRed(a) - qRed(b)) > 3 || std::abs(qGreen(a) - qGreen(b)) > 3 ||
                     std::abs(qBlue(a) - qBlue(b)) > 3;
      }
    }
    EXPECT_EQ(differing, 0) << "3-D " << view3D;
    EXPECT_GT(chart()->series(channel::Tg)->screenSegments().size(), logical.width() / 2);  // crowded
  }
}

}  // namespace
