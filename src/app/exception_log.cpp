#include "app/exception_log.h"

#include <QApplication>
#include <QFile>
#include <QWidget>
#include <cstdio>

#include "app/date_formats.h"
#include "app/message_box.h"
#include "platform/program_files.h"

namespace tarn {

QString ExceptionLogPath() { return LogFilePath(); }

QString WithFullStop(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.') return message + QLatin1Char('.');
  return message;
}

QString ExceptionLogLine(const QDateTime& instant, const QString& message) {
  return DateTimeText(instant) + QLatin1Char(':') + message;
}

bool AppendToExceptionLog(const QString& path, const QString& line) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return false;
  const QByteArray bytes = line.toUtf8() + "\r\n";
  return file.write(bytes) == bytes.size() && file.flush();
}

QString ExceptionMessage(const std::exception& e) { return QString::fromUtf8(e.what()); }

QWidget* MessageParent() {
  return qobject_cast<QApplication*>(QCoreApplication::instance()) ? QApplication::activeWindow()
                                                                   : nullptr;
}

void LogException(QObject* sender, const QString& message) {
  const QString path = ExceptionLogPath();
  if (!AppendToExceptionLog(path, ExceptionLogLine(Now(), message))) {
    // Nowhere else to keep it; the user still sees the message below.
    std::fprintf(stderr, "Tarn: could not append to %s\n", qPrintable(path));
  }
  TMessage box{QString::fromLatin1(kApplicationTitle), WithFullStop(message), TMsgIcon::kError,
               TMsgButtons::kOk};
  ShowMessageBox(MessageParent(), box);
}

void LogException(QObject* sender, const std::exception& e) {
  LogException(sender, ExceptionMessage(e));
}

void LogCurrentException(QObject* sender) {
  try {
    throw;
  } catch (const std::exception& e) {
    LogException(sender, e);
  } catch (...) {
    LogException(sender, QStringLiteral("Unknown exception"));
  }
}

}  // namespace tarn
