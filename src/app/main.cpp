// Program entry: the application object, the main window, then the event loop
// until the main window closes or termination is requested.
#include <memory>

#include "app/main_form.h"
#include "app/message_box.h"
#include "app/tarn_application.h"
#include "app/termination.h"

namespace {

// The help information window and the help-text printout are created here,
// after the main window, once they exist. Until then there is nothing to make.
void CreateHelpWindows(tarn::TMainForm& /*main_form*/) {}

// The start-up password and the repository of the real program.
tarn::TMainFormParts ProgramParts() { return tarn::TMainFormParts{}; }

}  // namespace

int main(int argc, char** argv) {
  tarn::TTarnApplication app(argc, argv);
  // A request made while the loop runs (the updater launch) leaves it at once,
  // without closing the windows, so the close step is skipped.
  tarn::SetTerminationAction([] { QCoreApplication::exit(0); });

  auto main_form = std::make_unique<tarn::TMainForm>(ProgramParts());
  CreateHelpWindows(*main_form);
  // A request made during creation (a failed entry) ends the program before
  // the user can act; the window is still destroyed.
  if (tarn::TerminationRequested()) return 0;

  main_form->show();
  const int code = app.exec();
  main_form.reset();
  return code;
}
