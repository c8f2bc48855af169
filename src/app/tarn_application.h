// The application object. Every exception that escapes an event handler is
// caught here and handed to LogException; no exception ends the process.
#pragma once

#include <QApplication>

namespace tarn {

class TTarnApplication : public QApplication {
  Q_OBJECT

 public:
  TTarnApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace tarn
