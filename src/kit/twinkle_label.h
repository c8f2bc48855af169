// A label whose text alternates between two colours on a timer while it is
// visible (500 milliseconds by default).
#pragma once

#include <QColor>
#include <QLabel>
#include <QTimer>

namespace tarn {

class TTwinkleLabel : public QLabel {
  Q_OBJECT

 public:
  explicit TTwinkleLabel(QWidget* parent = nullptr);

  void SetColors(const QColor& first, const QColor& second);
  void SetInterval(int milliseconds);
  int Interval() const { return timer_.interval(); }

  // The colour the text shows now.
  QColor CurrentColor() const { return showing_first_ ? first_ : second_; }
  bool IsTwinkling() const { return timer_.isActive(); }

  // One tick of the timer: swaps the colours.
  void Twinkle();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void ApplyColor();

  QColor first_ = Qt::red;
  QColor second_ = Qt::white;
  bool showing_first_ = true;
  QTimer timer_;
};

}  // namespace tarn
