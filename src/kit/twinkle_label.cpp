#include "kit/twinkle_label.h"

namespace tarn {

TTwinkleLabel::TTwinkleLabel(QWidget* parent) : QLabel(parent) {
  timer_.setInterval(500);
  connect(&timer_, &QTimer::timeout, this, &TTwinkleLabel::Twinkle);
  ApplyColor();
}

void TTwinkleLabel::SetColors(const QColor& first, const QColor& second) {
  first_ = first;
  second_ = second;
  ApplyColor();
}

void TTwinkleLabel::SetInterval(int milliseconds) { timer_.setInterval(milliseconds); }

void TTwinkleLabel::Twinkle() {
  showing_first_ = !showing_first_;
  ApplyColor();
}

void TTwinkleLabel::ApplyColor() {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, CurrentColor());
  setPalette(p);
}

void TTwinkleLabel::showEvent(QShowEvent* event) {
  timer_.start();
  QLabel::showEvent(event);
}

void TTwinkleLabel::hideEvent(QHideEvent* event) {
  timer_.stop();
  QLabel::hideEvent(event);
}

}  // namespace tarn
