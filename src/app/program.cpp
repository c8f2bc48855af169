#include "app/program.h"

#include <QCoreApplication>
#include <memory>

#include "app/termination.h"

namespace tarn {

int RunProgram(TMainFormParts parts, const std::function<void(TMainForm&)>& create_help_windows) {
  // exit() rather than quit(): quitting would close the windows first and run
  // the close step, which termination skips.
  SetTerminationAction([] { QCoreApplication::exit(0); });
  auto main_form = std::make_unique<TMainForm>(std::move(parts));
  if (create_help_windows) create_help_windows(*main_form);
  int code = 0;
  if (!TerminationRequested()) {
    main_form->show();
    code = QCoreApplication::exec();
  }
  main_form.reset();
  SetTerminationAction({});
  return code;
}

}  // namespace tarn
