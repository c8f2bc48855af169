// The application-wide handler for exceptions nothing else catches. It appends
// "<date-and-time text>:<message>" and CR LF to the log beside the program
// (program path with ".Log"), then shows the message in a box captioned
// "Tarn" with an error icon, and the program carries on. A log that cannot be
// written never hides the message.
#pragma once

#include <QDateTime>
#include <QString>
#include <exception>

class QObject;
class QWidget;

namespace tarn {

// Path of the exception log.
QString ExceptionLogPath();

// The text shown for `message`: a full stop is added when the message is not
// empty and its last character's code is above that of the full stop.
QString WithFullStop(const QString& message);

// The log line for `message` at `instant`, without the line end.
QString ExceptionLogLine(const QDateTime& instant, const QString& message);

// Appends one line (with CR LF) to the log file; false when it cannot.
bool AppendToExceptionLog(const QString& path, const QString& line);

// The message of any exception: std::exception::what() read as UTF-8.
QString ExceptionMessage(const std::exception& e);

// `sender` names where the exception surfaced; it may be null.
void LogException(QObject* sender, const QString& message);
void LogException(QObject* sender, const std::exception& e);
// For use inside a catch block: logs whatever is in flight.
void LogCurrentException(QObject* sender);

// Parent widget for the box: the active window, if any.
QWidget* MessageParent();

}  // namespace tarn

namespace tarn {

// Runs `handler`; an exception escaping it goes to LogException and the
// program goes on. Event handlers wired to signals use this, so that their
// failures are reported the same way with or without the application object.
template <typename F>
void Guarded(QObject* sender, F&& handler) {
  try {
    handler();
  } catch (...) {
    LogCurrentException(sender);
  }
}

}  // namespace tarn
