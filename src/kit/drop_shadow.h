// A drop shadow for a top-level window: a separate, input-transparent window
// that lies under the right and bottom edges of its target, offset by the
// shadow depth, and follows the target as it moves, resizes, shows and hides.
// A mask limits it to the visible strips, and it paints opaque greys, so it
// looks the same with or without a compositing window manager. The target owns the shadow.
#pragma once

#include <QColor>
#include <QPointer>
#include <QWidget>

namespace tarn {

class TDropShadow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kDepth = 6;

  // Attaches a shadow to the top-level window `target`.
  explicit TDropShadow(QWidget* target, int depth = kDepth);

  int Depth() const { return depth_; }
  // Where the shadow lies for the target's current frame.
  QRect ShadowGeometry() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void Follow();

  QPointer<QWidget> target_;
  int depth_;
};

// Gives `window` a drop shadow; the window owns it.
TDropShadow* AddDropShadow(QWidget* window, int depth = TDropShadow::kDepth);

}  // namespace tarn
