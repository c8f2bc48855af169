#include "kit/glyph.h"

#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

namespace tarn {

void TGlyph::Paint(QPainter& painter, const QPointF& at) const {
  if (IsNull()) return;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(at);
  draw(painter);
  painter.restore();
}

TGlyph PixmapGlyph(const QPixmap& pixmap) {
  if (pixmap.isNull()) return {};
  return {pixmap.deviceIndependentSize(), [pixmap](QPainter& p) { p.drawPixmap(QPointF(0, 0), pixmap); }};
}

namespace {

class TGlyphIconEngine : public QIconEngine {
 public:
  explicit TGlyphIconEngine(TGlyph glyph) : glyph_(std::move(glyph)) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    const qreal scale = std::min(rect.width() / glyph_.size.width(),
                                 rect.height() / glyph_.size.height());
    const QSizeF drawn = glyph_.size * scale;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(rect.x() + (rect.width() - drawn.width()) / 2,
                       rect.y() + (rect.height() - drawn.height()) / 2);
    painter->scale(scale, scale);
    if (mode == QIcon::Disabled) painter->setOpacity(0.4);
    glyph_.draw(*painter);
    painter->restore();
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return scaledPixmap(size, mode, state, 1.0);
  }

  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                       qreal scale) override {
    // `size` is in device pixels already; the glyph is drawn at that resolution.
    QPixmap pixmap(size);
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paint(&painter, QRect(QPoint(0, 0), (QSizeF(size) / scale).toSize()), mode, state);
    return pixmap;
  }

  QIconEngine* clone() const override { return new TGlyphIconEngine(glyph_); }

 private:
  TGlyph glyph_;
};

}  // namespace

QIcon GlyphIcon(const TGlyph& glyph) {
  if (glyph.IsNull()) return QIcon();
  return QIcon(new TGlyphIconEngine(glyph));  // the icon owns its engine
}

}  // namespace tarn
