// The scroll bar's pictures from the cache look exactly as the style paints
// them, and a look already painted is not painted again.

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmapCache>
#include <QScrollBar>
#include <QStyleOptionSlider>

#include "view/cached_scroll_bar_style.h"

namespace {

QImage paint(QStyle* style, QScrollBar& bar) {
  QStyleOptionSlider option;
  option.initFrom(&bar);
  option.subControls = QStyle::SC_All;
  option.orientation = bar.orientation();
  option.minimum = bar.minimum();
  option.maximum = bar.maximum();
  option.sliderPosition = option.sliderValue = bar.value();
  option.pageStep = bar.pageStep();
  option.singleStep = bar.singleStep();
  if (bar.orientation() == Qt::Horizontal) option.state |= QStyle::State_Horizontal;
  QImage image(bar.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::magenta);
  QPainter painter(&image);
  style->drawComplexControl(QStyle::CC_ScrollBar, &option, &painter, &bar);
  return image;
}

TEST(CachedScrollBarStyleTest, PaintsEachLookOnceAndAsTheStyleDoes) {
  QPixmapCache::clear();
  const QString base = QApplication::style()->name();
  CachedScrollBarStyle cached(base);
  QScrollBar bar(Qt::Vertical);
  bar.resize(16, 300);
  bar.setPageStep(4);

  struct Case {
    int maximum, value;
  } cases[] = {{0, 0}, {10, 0}, {10, 5}, {10, 10}, {1000, 999}, {1000, 1000}};
  for (const Case& c : cases) {
    bar.setRange(0, c.maximum);
    bar.setValue(c.value);
    SCOPED_TRACE(testing::Message() << "range 0.." << c.maximum << ", at " << c.value);
    EXPECT_EQ(paint(&cached, bar), paint(QApplication::style(), bar));
  }
  const int looks = cached.paintedLooks();
  EXPECT_EQ(looks, int(std::size(cases)));

  // A day's worth of rows: the handle is at its smallest at the bottom, as
  // with a thousand, and the next row changes no pixel of it.
  bar.setRange(0, 86000);
  bar.setValue(86000);
  paint(&cached, bar);
  bar.setRange(0, 86001);
  bar.setValue(86001);
  EXPECT_EQ(paint(&cached, bar), paint(QApplication::style(), bar));
  EXPECT_EQ(cached.paintedLooks(), looks);

  // Another size is another look.
  bar.resize(300, 16);
  bar.setOrientation(Qt::Horizontal);
  EXPECT_EQ(paint(&cached, bar), paint(QApplication::style(), bar));
  EXPECT_EQ(cached.paintedLooks(), looks + 1);
}

}  // namespace
