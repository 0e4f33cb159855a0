#pragma once
// The program's pictures, drawn in code so that they scale cleanly and need no
// binary files: the mode buttons, the lamps, the chart pad, window icons and
// the maker's logo. Each button icon carries its own disabled image.

#include <QIcon>
#include <QPixmap>

namespace glyphs {

enum class Mode { Cyclic, Single, Continuous, Stop };
QIcon modeIcon(Mode mode);

// Normal image: a lit red lamp; disabled image: a grey outline.
QIcon lampIcon();

enum class Pad {
  ZoomOut,    // magnifier with minus: widen the view
  ZoomIn,     // magnifier with plus: narrow the view
  ScrollUp,
  ScrollDown,
  ScrollLeft,
  ScrollRight,
  Reset,      // back to automatic scaling
  Follow,     // follow the newest points
  Clear,      // clear chart and table
};
QIcon padIcon(Pad pad);

enum class Window { Main, About, Fuel, View, Options };
QIcon windowIcon(Window window);

// 250 x 75 logo of the about box.
QPixmap logo();
// Glyph of the about box's EXIT button.
QIcon exitIcon();

}  // namespace glyphs
