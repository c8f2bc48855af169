// Values that live for the whole process: set while the main window is
// created and read by every window. Only the user-interface thread touches them.
#pragma once

#include <QString>

namespace tarn {

struct TProcessValues {
  QString ProgramFolder;  // folder of the program file, trailing separator

  // Colour settings as colour texts (a colour name or "$00BBGGRR").
  QString Grad1Str = QStringLiteral("clBlue");
  QString Grad2Str = QStringLiteral("clLime");
  QString Grad3Str = QStringLiteral("$00BBFFFF");
  QString Grad4Str = QStringLiteral("$00FF9191");
  QString StartColStr = QStringLiteral("clLime");

  // In-memory start-up password; empty means reading the stored one failed.
  QString StartupPassword;
  // Handed over by the generator dialog; empty until the first hand-over.
  QString GeneratedPassword;
  // Text of the current help topic, read by the help window and its printout.
  QString HelpText;
  // Used by the version check.
  QString ProductKey;
  QString VersionDocPath;
  // Main window width when it was last shown or resized; 0 before the first show.
  int PreviousWidth = 0;
};

// The one instance. Tests reset it with `Globals() = TProcessValues{}`.
TProcessValues& Globals();

// The folder of the repository's tables: the program folder followed by "Data"
// (for an installed program, the user's data folder; see platform/program_files.h).
QString DataFolder();

// Step 3 of main window creation: program folder, product key and version
// document path, derived from the program path.
void SetProgramValues();

}  // namespace tarn
