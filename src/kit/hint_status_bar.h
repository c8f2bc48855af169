// A status bar that repeats the hint of the control under the mouse and keeps
// showing it after the pop-up hint has gone. It listens to the status tips
// that reach `window`, so it works in dialogs as well as main windows.
#pragma once

#include <QStatusBar>

namespace tarn {

class THintStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  explicit THintStatusBar(QWidget* window);

  QString Hint() const { return hint_; }
  void ShowHint(const QString& hint);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QString hint_;
};

}  // namespace tarn
