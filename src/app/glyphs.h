#pragma once
// The program's pictures, drawn in code so that they scale cleanly and need no
// binary files: the mode buttons, the lamps, the chart pad, window icons and
// the maker's logo. Each button icon carries its own disabled image.

#include <QIcon>
#include <QPixmap>

namespace glyphs {

enum class Mode { Cyclic, Single, Continuous, Stop };
QIcon ModeIcon(Mode mode);

// Normal image: a lit red lamp; disabled image: a grey outline.
QIcon LampIcon();

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
QIcon PadIcon(Pad pad);

enum class Window { Main, About, Fuel, View, Options };
QIcon WindowIcon(Window window);

// 250 x 75 logo of the about box.
QPixmap Logo();
// Glyph of the about box's EXIT button.
QIcon ExitIcon();

}  // namespace glyphs
