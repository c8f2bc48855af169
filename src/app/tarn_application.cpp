#include "app/tarn_application.h"

#include "app/exception_log.h"
#include "app/message_box.h"

namespace tarn {

TTarnApplication::TTarnApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QString::fromLatin1(kApplicationTitle));
  // An empty display name: window titles are shown exactly as the windows set
  // them, with no application name appended.
  setApplicationDisplayName(QString());
}

bool TTarnApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    LogCurrentException(receiver);
    return false;
  }
}

}  // namespace tarn
