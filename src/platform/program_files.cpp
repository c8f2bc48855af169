#include "platform/program_files.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/program_path.h"

namespace tarn {
namespace {

const char* const kTableFiles[] = {"Pal.DAT", "Pal.IDX", "Pal.BLB"};

// $NAME when it is an absolute path, else $HOME + fallback (the XDG rules).
QString XdgFolder(const char* name, const char* fallback) {
  const QString value = qEnvironmentVariable(name);
  if (!value.isEmpty() && QDir::isAbsolutePath(value)) return value;
  return QDir::homePath() + QLatin1Char('/') + QLatin1String(fallback);
}

int& WritableOverride() {  // -1: ask the file system
  static int value = -1;
  return value;
}

QString ProgramName() { return QFileInfo(ProgramPath()).completeBaseName(); }

QString EnsureFolder(const QString& folder) {
  QDir().mkpath(folder);
  return folder + QLatin1Char('/');
}

}  // namespace

bool ProgramFolderWritable() {
  if (WritableOverride() >= 0) return WritableOverride() == 1;
  const QByteArray folder = QFile::encodeName(ProgramFolder());
  return !folder.isEmpty() && ::access(folder.constData(), W_OK) == 0;
}

QString WritableFolder() {
  if (ProgramFolderWritable()) return ProgramFolder();
  return EnsureFolder(XdgFolder("XDG_DATA_HOME", ".local/share") + QStringLiteral("/tarn"));
}

QString SettingsFilePath() {
  if (ProgramFolderWritable()) return ChangeFileExt(ProgramPath(), QStringLiteral(".INI"));
  return EnsureFolder(XdgFolder("XDG_CONFIG_HOME", ".config") + QStringLiteral("/tarn")) +
         ProgramName() + QStringLiteral(".INI");
}

QString LogFilePath() {
  if (ProgramFolderWritable()) return ChangeFileExt(ProgramPath(), QStringLiteral(".Log"));
  return WritableFolder() + ProgramName() + QStringLiteral(".Log");
}

QString DataFolderPath() { return WritableFolder() + QStringLiteral("Data"); }

QString DeliveredDataFolder() {
  for (const QString& folder :
       {ProgramFolder() + QStringLiteral("Data"), ProgramFolder() + QStringLiteral("../share/tarn/Data")}) {
    if (QFileInfo::exists(folder + QStringLiteral("/Pal.DAT"))) return QDir::cleanPath(folder);
  }
  return QString();
}

QString ProvideDataFolder() {
  if (ProgramFolderWritable()) return QString();  // the table lies beside the program
  const QString target = DataFolderPath();
  if (QFileInfo::exists(target + QStringLiteral("/Pal.DAT"))) return QString();
  const QString source = DeliveredDataFolder();
  if (source.isEmpty()) return QStringLiteral("No delivered table beside ") + ProgramFolder();
  if (!QDir().mkpath(target)) return QStringLiteral("Cannot create ") + target;
  // Pal.DAT last: its presence marks a complete copy for the next start.
  for (const char* name : {kTableFiles[2], kTableFiles[1], kTableFiles[0]}) {
    const QString from = source + QLatin1Char('/') + QLatin1String(name);
    const QString to = target + QLatin1Char('/') + QLatin1String(name);
    const QString part = to + QStringLiteral(".part");
    QFile::remove(part);
    if (!QFile::copy(from, part)) return QStringLiteral("Cannot copy ") + from + " to " + target;
    QFile written(part);
    written.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QFile::remove(to);
    if (!QFile::rename(part, to)) return QStringLiteral("Cannot write ") + to;
  }
  return QString();
}

TScopedProgramFolderWritable::TScopedProgramFolderWritable(bool writable)
    : previous_(WritableOverride()) {
  WritableOverride() = writable ? 1 : 0;
}

TScopedProgramFolderWritable::~TScopedProgramFolderWritable() { WritableOverride() = previous_; }

}  // namespace tarn
