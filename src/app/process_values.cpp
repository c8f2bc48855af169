#include "app/process_values.h"

#include "platform/program_path.h"

namespace tarn {

TProcessValues& Globals() {
  static TProcessValues values;
  return values;
}

QString DataFolder() { return Globals().ProgramFolder + QStringLiteral("Data"); }

void SetProgramValues() {
  TProcessValues& g = Globals();
  g.ProgramFolder = ProgramFolder();
  g.ProductKey = QStringLiteral("Quellfen");
  g.VersionDocPath =
      g.ProgramFolder + QStringLiteral("CurrentVersion") + g.ProductKey + QStringLiteral(".txt");
}

}  // namespace tarn
