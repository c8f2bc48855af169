// A large caption drawn with a perspective effect: the text leans back (its
// top edge narrower than its base) and stands on an extruded side in the
// depth colour, offset down and to the right. The label sizes itself to its
// text, like an auto-sized label, and paints nothing behind the text.
#pragma once

#include <QColor>
#include <QPainterPath>
#include <QString>
#include <QWidget>

namespace tarn {

class TLargeLabel : public QWidget {
  Q_OBJECT

 public:
  // How much narrower the top edge is than the base, as a share of the width.
  static constexpr double kLean = 0.08;

  explicit TLargeLabel(const QString& caption = QString(), QWidget* parent = nullptr);

  void SetCaption(const QString& caption);
  QString Caption() const { return caption_; }

  void SetTextColor(const QColor& color);
  QColor TextColor() const { return text_; }
  void SetDepthColor(const QColor& color);
  QColor DepthColor() const { return depth_color_; }
  // Pixels the extruded side reaches down and right (0: a flat caption).
  void SetDepth(int depth);
  int Depth() const { return depth_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

  // The caption's outline after the perspective, in widget coordinates.
  QPainterPath FacePath() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Fit();

  QString caption_;
  QColor text_ = Qt::black;
  QColor depth_color_ = Qt::gray;
  int depth_ = 3;
};

}  // namespace tarn
