#pragma once

#include <QProxyStyle>

// The application's style with its scroll bars painted once per look.
//
// The table's scroll bars are repainted with every result. The raster
// engine hands each fill of more than about a hundred spans (a long line with
// a gradient pen, a tall gradient area) to Qt's thread pool and waits for it:
// some eighty thread wake-ups a repaint for a picture that, once the day has
// more rows than the bar has pixels, is the same as the second before. Each
// look (size, handle, state, palette) is painted once into the pixmap cache
// and copied from there.
class CachedScrollBarStyle : public QProxyStyle {
 public:
  // Wraps the style of that name (QStyle::name()); an unknown name, the
  // platform's default style.
  explicit CachedScrollBarStyle(const QString& baseStyleName);

  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                          const QWidget* widget = nullptr) const override;

  // How many scroll bar pictures the base style has painted.
  int paintedLooks() const { return paintedLooks_; }

 private:
  mutable int paintedLooks_ = 0;
};
