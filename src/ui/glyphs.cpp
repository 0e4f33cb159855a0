#include "ui/glyphs.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace glyphs {
namespace {

constexpr qreal kPi = 3.14159265358979323846;

QPixmap canvas(int w, int h) {
  QPixmap pm(w, h);
  pm.fill(Qt::transparent);
  return pm;
}

// A grey, flat copy of a picture for the disabled state.
QPixmap greyed(const QPixmap& src) {
  QImage img = src.toImage().convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < img.height(); ++y) {
    QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < img.width(); ++x) {
      const int a = qAlpha(line[x]);
      const int g = 150 + qGray(line[x]) / 4;
      line[x] = qRgba(g, g, g, a * 3 / 4);
    }
  }
  return QPixmap::fromImage(img);
}

QIcon withDisabled(const QPixmap& normal) {
  QIcon icon;
  icon.addPixmap(normal, QIcon::Normal);
  icon.addPixmap(greyed(normal), QIcon::Disabled);
  return icon;
}

void arrowhead(QPainter& p, QPointF tip, qreal angle, qreal size) {
  QPolygonF head;
  head << tip << tip + QPointF(std::cos(angle + 2.6) * size, std::sin(angle + 2.6) * size)
       << tip + QPointF(std::cos(angle - 2.6) * size, std::sin(angle - 2.6) * size);
  p.drawPolygon(head);
}

QPixmap modePixmap(Mode mode) {
  const int s = 30;
  QPixmap pm = canvas(s, s);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor green(0x1E, 0x8C, 0x3A), blue(0x1F, 0x5F, 0xB8), red(0xC8, 0x1E, 0x1E);
  switch (mode) {
    case Mode::Cyclic: {
      // Two arrows chasing each other round a circle.
      p.setPen(QPen(blue, 3, Qt::SolidLine, Qt::RoundCap));
      const QRectF r(6, 6, 18, 18);
      p.drawArc(r, 30 * 16, 140 * 16);
      p.drawArc(r, 210 * 16, 140 * 16);
      p.setPen(Qt::NoPen);
      p.setBrush(blue);
      const QPointF c = r.center();
      const qreal rad = 9;
      for (qreal deg : {170.0, 350.0}) {
        const qreal a = -deg * kPi / 180;
        arrowhead(p, c + QPointF(std::cos(a) * rad, std::sin(a) * rad), a - kPi / 2, 6.5);
      }
      break;
    }
    case Mode::Single: {
      // One play triangle with a bar: a single run.
      p.setPen(Qt::NoPen);
      p.setBrush(green);
      QPolygonF tri;
      tri << QPointF(8, 6) << QPointF(21, 15) << QPointF(8, 24);
      p.drawPolygon(tri);
      p.drawRect(QRectF(22, 6, 3, 18));
      break;
    }
    case Mode::Continuous: {
      // Two play triangles: running on.
      p.setPen(Qt::NoPen);
      p.setBrush(green.darker(115));
      QPolygonF a, b;
      a << QPointF(4, 7) << QPointF(15, 15) << QPointF(4, 23);
      b << QPointF(14, 7) << QPointF(25, 15) << QPointF(14, 23);
      p.drawPolygon(a);
      p.drawPolygon(b);
      break;
    }
    case Mode::Stop: {
      p.setPen(QPen(red.darker(130), 1));
      p.setBrush(red);
      p.drawRoundedRect(QRectF(7.5, 7.5, 15, 15), 2, 2);
      break;
    }
  }
  return pm;
}

QPixmap padPixmap(Pad pad) {
  const int s = 22;
  QPixmap pm = canvas(s, s);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink(0x20, 0x40, 0x80);
  QPen pen(ink, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  const auto arrow = [&](QPointF from, QPointF to) {
    p.setPen(pen);
    p.drawLine(from, to);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    arrowhead(p, to, std::atan2(to.y() - from.y(), to.x() - from.x()), 7);
  };
  switch (pad) {
    case Pad::ZoomOut:
    case Pad::ZoomIn:
      p.setBrush(QColor(0xE6, 0xF0, 0xFF));
      p.drawEllipse(QRectF(2.5, 2.5, 12, 12));
      p.drawLine(QPointF(13, 13), QPointF(19.5, 19.5));
      p.drawLine(QPointF(5.5, 8.5), QPointF(11.5, 8.5));
      if (pad == Pad::ZoomIn) p.drawLine(QPointF(8.5, 5.5), QPointF(8.5, 11.5));
      break;
    case Pad::ScrollUp: arrow(QPointF(11, 19), QPointF(11, 3)); break;
    case Pad::ScrollDown: arrow(QPointF(11, 3), QPointF(11, 19)); break;
    case Pad::ScrollLeft: arrow(QPointF(19, 11), QPointF(3, 11)); break;
    case Pad::ScrollRight: arrow(QPointF(3, 11), QPointF(19, 11)); break;
    case Pad::Reset: {
      // A frame with four arrows pointing out: the whole range again.
      p.setBrush(Qt::NoBrush);
      p.drawRect(QRectF(6.5, 6.5, 9, 9));
      pen.setWidthF(1.8);
      arrow(QPointF(6, 6), QPointF(2.5, 2.5));
      arrow(QPointF(16, 6), QPointF(19.5, 2.5));
      arrow(QPointF(6, 16), QPointF(2.5, 19.5));
      arrow(QPointF(16, 16), QPointF(19.5, 19.5));
      break;
    }
    case Pad::Follow: {
      // Arrow to a bar at the right end: jump to and follow the newest points.
      arrow(QPointF(2, 11), QPointF(15, 11));
      p.setPen(QPen(ink, 2.6));
      p.drawLine(QPointF(18.5, 4), QPointF(18.5, 18));
      break;
    }
    case Pad::Clear: {
      // A waste bin.
      const QColor bin(0xA0, 0x20, 0x20);
      p.setPen(QPen(bin, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(QColor(0xFF, 0xE8, 0xE8));
      QPolygonF body;
      body << QPointF(5, 7) << QPointF(17, 7) << QPointF(15.5, 20) << QPointF(6.5, 20);
      p.drawPolygon(body);
      p.drawLine(QPointF(3, 5), QPointF(19, 5));
      p.drawLine(QPointF(9, 5), QPointF(9.5, 2.5));
      p.drawLine(QPointF(9.5, 2.5), QPointF(12.5, 2.5));
      p.drawLine(QPointF(12.5, 2.5), QPointF(13, 5));
      p.drawLine(QPointF(9, 10), QPointF(9.4, 17));
      p.drawLine(QPointF(13, 10), QPointF(12.6, 17));
      break;
    }
  }
  return pm;
}

}  // namespace

QIcon modeIcon(Mode mode) { return withDisabled(modePixmap(mode)); }

QIcon lampIcon() {
  QPixmap lit = canvas(16, 16);
  {
    QPainter p(&lit);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(6, 6), 8);
    g.setColorAt(0, QColor(0xFF, 0xC8, 0xC8));
    g.setColorAt(0.45, QColor(0xF0, 0x20, 0x20));
    g.setColorAt(1, QColor(0x90, 0x00, 0x00));
    p.setBrush(g);
    p.setPen(QPen(QColor(0x60, 0, 0), 1));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  }
  QPixmap dark = canvas(16, 16);
  {
    QPainter p(&dark);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x80, 0x80, 0x80), 1.2));
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
  }
  QIcon icon;
  icon.addPixmap(lit, QIcon::Normal);
  icon.addPixmap(dark, QIcon::Disabled);
  return icon;
}

QIcon padIcon(Pad pad) { return withDisabled(padPixmap(pad)); }

QIcon windowIcon(Window window) {
  QPixmap pm = canvas(32, 32);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  QColor base;
  switch (window) {
    case Window::Main: base = QColor(0x1F, 0x5F, 0xB8); break;
    case Window::About: base = QColor(0x40, 0x70, 0x40); break;
    case Window::Fuel: base = QColor(0xC0, 0x60, 0x10); break;
    case Window::View: base = QColor(0x60, 0x40, 0xA0); break;
    case Window::Options: base = QColor(0x50, 0x50, 0x50); break;
  }
  p.setPen(Qt::NoPen);
  p.setBrush(base);
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 5, 5);
  p.setPen(QPen(Qt::white, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPolygonF trend;
  trend << QPointF(5, 22) << QPointF(11, 14) << QPointF(16, 18) << QPointF(22, 8) << QPointF(27, 12);
  p.drawPolyline(trend);
  p.setPen(QPen(QColor(255, 255, 255, 160), 1.2));
  p.drawLine(QPointF(5, 26), QPointF(27, 26));
  return QIcon(pm);
}

QPixmap logo() {
  QPixmap pm(250, 75);
  pm.fill(Qt::white);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QLinearGradient band(0, 0, 250, 0);
  band.setColorAt(0, QColor(0x12, 0x3F, 0x80));
  band.setColorAt(1, QColor(0x3A, 0x8F, 0xD8));
  p.setPen(Qt::NoPen);
  p.setBrush(band);
  p.drawRoundedRect(QRectF(2, 6, 246, 63), 8, 8);
  // A flue with a plume: the analyzer's trade.
  p.setBrush(QColor(255, 255, 255, 230));
  p.drawRect(QRectF(18, 30, 12, 32));
  p.setBrush(QColor(255, 255, 255, 120));
  p.drawEllipse(QRectF(22, 16, 16, 14));
  p.drawEllipse(QRectF(32, 10, 12, 10));
  p.setPen(Qt::white);
  QFont f(QStringLiteral("Arial"), 26, QFont::Bold);
  f.setLetterSpacing(QFont::PercentageSpacing, 108);
  p.setFont(f);
  p.drawText(QRectF(52, 10, 190, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("KORVEX"));
  QFont small(QStringLiteral("Arial"), 8);
  p.setFont(small);
  p.drawText(QRectF(54, 46, 190, 18), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral(u"газоанализаторы дымовых газов"));
  return pm;
}

QIcon exitIcon() {
  QPixmap pm = canvas(20, 20);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0x60, 0x40, 0x20), 1.5));
  p.setBrush(QColor(0xD8, 0xB0, 0x80));
  p.drawRect(QRectF(3, 2, 10, 16));
  p.setPen(QPen(QColor(0xB0, 0x20, 0x20), 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(9, 10), QPointF(18, 10));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xB0, 0x20, 0x20));
  arrowhead(p, QPointF(19, 10), 0, 5);
  return withDisabled(pm);
}

}  // namespace glyphs
