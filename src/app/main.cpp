// Program entry: the application object, then the program's run.
#include "app/program.h"
#include "app/tarn_application.h"

namespace {

// The help information window and the help-text printout are created here,
// after the main window, once they exist. Until then there is nothing to make.
void CreateHelpWindows(tarn::TMainForm& /*main_form*/) {}

// The start-up password and the repository of the real program.
tarn::TMainFormParts ProgramParts() { return tarn::TMainFormParts{}; }

}  // namespace

int main(int argc, char** argv) {
  tarn::TTarnApplication app(argc, argv);
  return tarn::RunProgram(ProgramParts(), CreateHelpWindows);
}
