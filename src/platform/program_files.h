// Where this process keeps its files. A program whose folder can be written
// (a build folder, a copy in the user's home) keeps them beside itself: the
// settings file and the log named after the program file, and the Data
// folder. An installed program (its folder not writable, as under /usr)
// keeps the settings file in $XDG_CONFIG_HOME/tarn and the log, the version
// document and the Data folder in $XDG_DATA_HOME/tarn, and copies the
// delivered table there on first start.
#pragma once

#include <QString>

namespace tarn {

// True when the program folder can be written by this process.
bool ProgramFolderWritable();
// Folder for the log, the version document and the data folder, with a
// trailing separator: the program folder, or $XDG_DATA_HOME/tarn/.
QString WritableFolder();
// The settings file: program path with ".INI", or $XDG_CONFIG_HOME/tarn/<name>.INI.
QString SettingsFilePath();
// The exception log: WritableFolder() + <program name>.Log.
QString LogFilePath();
// WritableFolder() + "Data", without a trailing separator.
QString DataFolderPath();
// Where the delivered table lies beside an installed program: its own Data
// folder, else ../share/tarn/Data. Empty when neither holds Pal.DAT.
QString DeliveredDataFolder();

// For an installed program whose data folder has no table yet, copies the
// delivered table files (Pal.DAT, Pal.IDX, Pal.BLB) there. Each file is
// written under a temporary name and renamed, so a failed copy leaves no
// half-written table. Returns an empty text, or what failed.
QString ProvideDataFolder();

// Makes ProgramFolderWritable() answer `writable` for its lifetime (tests run
// as a user who may write anywhere).
class TScopedProgramFolderWritable {
 public:
  explicit TScopedProgramFolderWritable(bool writable);
  ~TScopedProgramFolderWritable();
  TScopedProgramFolderWritable(const TScopedProgramFolderWritable&) = delete;
  TScopedProgramFolderWritable& operator=(const TScopedProgramFolderWritable&) = delete;

 private:
  int previous_;
};

}  // namespace tarn
