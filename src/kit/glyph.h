// A small picture drawn with vectors each time it is painted, so it stays
// sharp at any screen scale. `draw` paints into a box of `size` logical
// pixels whose top-left corner is the painter's origin.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSizeF>
#include <functional>

class QPainter;

namespace tarn {

struct TGlyph {
  QSizeF size;
  std::function<void(QPainter&)> draw;

  bool IsNull() const { return !draw || size.isEmpty(); }
  // Paints the glyph with its top-left corner at `at`.
  void Paint(QPainter& painter, const QPointF& at) const;
};

// A bitmap as a glyph, for pictures that are not drawn (it scales like one).
TGlyph PixmapGlyph(const QPixmap& pixmap);

// An icon that draws the glyph at whatever size and scale it is asked for.
QIcon GlyphIcon(const TGlyph& glyph);

}  // namespace tarn
