// The running program's file path, from which the settings file, the exception
// log and the data folder are derived. Tests replace it with TScopedProgramPath
// so that nothing is ever written beside the real binary.
#pragma once

#include <QString>

namespace tarn {

// Absolute path of the program file (the executable, or the override).
QString ProgramPath();

// Folder of ProgramPath() with a trailing separator.
QString ProgramFolder();

// `path` with the extension of its last component replaced by `ext` (which
// includes the dot); a path without extension gets `ext` appended.
QString ChangeFileExt(const QString& path, const QString& ext);

// Overrides ProgramPath() for its lifetime; overrides nest.
class TScopedProgramPath {
 public:
  explicit TScopedProgramPath(const QString& path);
  ~TScopedProgramPath();
  TScopedProgramPath(const TScopedProgramPath&) = delete;
  TScopedProgramPath& operator=(const TScopedProgramPath&) = delete;

 private:
  QString previous_;
};

}  // namespace tarn
