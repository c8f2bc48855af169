// A shape button that carries a caption with a small picture to its left,
// and a shadow of any depth. Drawn like TShapeButton: a rounded rectangle
// (35 % rounding) filled with a top-to-bottom gradient, the hover colour while
// the mouse is over it.
#pragma once

#include "kit/shape_button.h"

namespace tarn {

class TCaptionShapeButton : public TShapeButton {
  Q_OBJECT

 public:
  explicit TCaptionShapeButton(QWidget* parent = nullptr);

  void SetShadowDepth(int depth);
  int ShadowDepth() const { return shadow_depth_; }

  // Drawn left of the caption; the caption and picture are centred together.
  void SetCaptionGlyph(TGlyph glyph);
  const TGlyph& CaptionGlyph() const { return caption_glyph_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int shadow_depth_ = kShadow;
  TGlyph caption_glyph_;
};

}  // namespace tarn
