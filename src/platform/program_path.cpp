#include "platform/program_path.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace tarn {
namespace {

QString& Override() {
  static QString path;
  return path;
}

}  // namespace

QString ProgramPath() {
  if (!Override().isEmpty()) return Override();
  QString path = QCoreApplication::applicationFilePath();
  if (path.isEmpty()) path = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
  return path;
}

QString ProgramFolder() {
  const QString path = ProgramPath();
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  return slash < 0 ? QString() : path.left(slash + 1);
}

QString ChangeFileExt(const QString& path, const QString& ext) {
  const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
  const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
  if (dot > slash) return path.left(dot) + ext;
  return path + ext;
}

TScopedProgramPath::TScopedProgramPath(const QString& path) : previous_(Override()) {
  Override() = path;
}

TScopedProgramPath::~TScopedProgramPath() { Override() = previous_; }

}  // namespace tarn
