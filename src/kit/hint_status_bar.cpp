#include "kit/hint_status_bar.h"

#include <QStatusTipEvent>

namespace tarn {

THintStatusBar::THintStatusBar(QWidget* window) : QStatusBar(window) {
  setSizeGripEnabled(false);
  window->installEventFilter(this);
}

void THintStatusBar::ShowHint(const QString& hint) {
  hint_ = hint;
  showMessage(hint);
}

bool THintStatusBar::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::StatusTip) {
    const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
    // An empty tip means the mouse left a control: keep the last hint.
    if (!tip.isEmpty()) ShowHint(tip);
    return true;
  }
  return QStatusBar::eventFilter(watched, event);
}

}  // namespace tarn
