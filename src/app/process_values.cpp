#include "app/process_values.h"

#include "platform/program_files.h"
#include "platform/program_path.h"

namespace tarn {

TProcessValues& Globals() {
  static TProcessValues values;
  return values;
}

QString DataFolder() { return DataFolderPath(); }

void SetProgramValues() {
  TProcessValues& g = Globals();
  g.ProgramFolder = ProgramFolder();
  g.ProductKey = QStringLiteral("Quellfen");
  g.VersionDocPath =
      WritableFolder() + QStringLiteral("CurrentVersion") + g.ProductKey + QStringLiteral(".txt");
}

}  // namespace tarn
