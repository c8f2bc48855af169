// Program entry: the application object, then the program's run.
#include "app/entry_change.h"
#include "app/entry_password.h"
#include "app/program.h"
#include "app/tarn_application.h"

#include <memory>

namespace {

// The help information window and the help-text printout are created here,
// after the main window, once they exist. Until then there is nothing to make.
void CreateHelpWindows(tarn::TMainForm& main_form) {
  // Not a help window: binds Password - Change, which needs the created window.
  tarn::ConnectPWChange(main_form.PWChange, &main_form);
}

// The start-up password and the repository of the real program.
tarn::TMainFormParts ProgramParts() {
  tarn::TMainFormParts parts;
  parts.startup_password = std::make_unique<tarn::TEntryStartupPassword>();
  return parts;
}

}  // namespace

int main(int argc, char** argv) {
  tarn::TTarnApplication app(argc, argv);
  return tarn::RunProgram(ProgramParts(), CreateHelpWindows);
}
