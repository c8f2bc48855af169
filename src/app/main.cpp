// Program entry: the application object, then the program's run with the
// repository store, the generator dialog and the windows behind the menus.
#include <memory>

#include "app/entry_change.h"
#include "app/entry_password.h"
#include "app/exception_log.h"
#include "app/program.h"
#include "app/pwd_grid.h"
#include "app/record_commands.h"
#include "app/repository_store.h"
#include "app/tarn_application.h"
#include "app/version_check.h"
#include "generator/pw_form.h"
#include "help/about_form.h"
#include "help/colour_form.h"
#include "help/help_topics.h"
#include "help/msg_form.h"
#include "kit/shape_button.h"
#include "reports/pass_form.h"
#include "reports/report_dataset.h"
#include "storage/access/dataset_query.h"

namespace {

// The password list report walks the live query itself.
class TQueryReportDataset : public tarn::TReportDataset {
 public:
  explicit TQueryReportDataset(tarn::TMainForm& form) : form_(form) {}
  void First() override { Query().First(); }
  void Next() override { Query().Next(); }
  bool Eof() const override { return Query().Eof(); }
  QString FieldText(const QString& name) const override {
    return tarn::FieldText(Query(), name.toLatin1().constData());
  }

 private:
  cairn::TCairnQuery& Query() const { return *form_.Query(); }
  tarn::TMainForm& form_;
};

// The help information window and the help-text printout are created here,
// after the main window, once they exist. Until then there is nothing to make.
void CreateHelpWindows(tarn::TMainForm& main_form) {
  // Not a help window: binds Password - Change, which needs the created window.
  tarn::ConnectPWChange(main_form.PWChange, &main_form);
  // The print button: the password list report over the live query.
  auto dataset = std::make_shared<TQueryReportDataset>(main_form);
  QObject::connect(main_form.PWbtn, &QAbstractButton::clicked, &main_form, [&main_form, dataset] {
    tarn::TPassReportCaller caller;
    caller.dataset = dataset.get();
    caller.editing_existing = [&main_form] {
      const cairn::TCairnQuery* q = main_form.Query();
      return q != nullptr && q->State() == cairn::TDataSetState::dsEdit;
    };
    caller.post = [&main_form] { main_form.Query()->Post(); };
    caller.focus_grid = [&main_form] { main_form.PWgrid->setFocus(); };
    tarn::PWbtnClick(&main_form, caller);
  });
}

// The start-up password, the repository and the windows the main window opens.
tarn::TMainFormParts ProgramParts(const void* owner) {
  tarn::TMainFormParts parts;
  parts.startup_password = std::make_unique<tarn::TEntryStartupPassword>();
  parts.repository = std::make_unique<tarn::TRepositoryStore>(owner);
  parts.run_generator = [](QWidget* owner_window) {
    tarn::TPWform form(owner_window);
    form.exec();
  };
  using tarn::TMenuCommand;
  auto topic = [](tarn::THelpTopic t) {
    return [t](tarn::TMainForm& form) { tarn::ShowHelpTopic(&form, t); };
  };
  parts.menu_commands[TMenuCommand::kSplashScreen] = topic(tarn::THelpTopic::kSplashScreen);
  parts.menu_commands[TMenuCommand::kAboutText] = topic(tarn::THelpTopic::kAbout);
  parts.menu_commands[TMenuCommand::kBeginners] = topic(tarn::THelpTopic::kBeginners);
  parts.menu_commands[TMenuCommand::kHints] = topic(tarn::THelpTopic::kHints);
  parts.menu_commands[TMenuCommand::kColors] = [](tarn::TMainForm& form) {
    tarn::ShowColourForm(&form, [&form] { form.ApplyColours(); });
  };
  parts.menu_commands[TMenuCommand::kUpgrade] = [](tarn::TMainForm& form) {
    tarn::UpgradeClick(&form);
  };
  parts.menu_commands[TMenuCommand::kVersionCheck] = [](tarn::TMainForm& form) {
    tarn::VersionCheckClick(&form);
  };
  parts.menu_commands[TMenuCommand::kAboutWindow] = [](tarn::TMainForm& form) {
    tarn::ShowAboutForm(&form);
  };
  return parts;
}

}  // namespace

int main(int argc, char** argv) {
  tarn::TTarnApplication app(argc, argv);
  // The components know their window by an owner identity; the application
  // object stands in for it, as there is one main window per process.
  return tarn::RunProgram(ProgramParts(&app), CreateHelpWindows);
}
