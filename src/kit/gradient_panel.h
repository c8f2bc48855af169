// A panel filled with a gradient that runs diagonally from the top-right
// corner (start colour) to the bottom-left corner (end colour) in a fixed
// number of colour steps (50), framed by a raised outer and a lowered inner
// bevel, with a caption centred in it. Child widgets sit on top.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

namespace tarn {

class TGradientPanel : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kColorSteps = 50;
  static constexpr int kBevelWidth = 1;

  explicit TGradientPanel(QWidget* parent = nullptr);

  void SetStartColor(const QColor& color);
  void SetEndColor(const QColor& color);
  void SetColors(const QColor& start, const QColor& end);
  QColor StartColor() const { return start_; }
  QColor EndColor() const { return end_; }

  void SetCaption(const QString& caption);
  QString Caption() const { return caption_; }

  // The colour of step `step` (0 .. kColorSteps - 1).
  QColor StepColor(int step) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor start_ = Qt::blue;
  QColor end_ = Qt::green;
  QString caption_;
};

}  // namespace tarn
