#include "app/repository_store.h"

#include <QApplication>
#include <QCursor>

#include "app/message_box.h"
#include "app/process_values.h"
#include "app/termination.h"
#include "platform/program_files.h"

namespace tarn {
namespace {

constexpr const char* kSelect = "SELECT * FROM Pal";
constexpr const char* kStartOrder = "Order by Item, Date";

// The wait cursor for the length of a scope, always restored.
class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { Restore(); }
  void Restore() {
    if (active_) QApplication::restoreOverrideCursor();
    active_ = false;
  }

 private:
  bool active_ = true;
};

}  // namespace

int PalFieldSize(std::string_view field) {
  for (const TPalField& f : kPalFields)
    if (field == f.name) return f.size;
  return 0;
}

TRepositoryStore::TRepositoryStore(const void* owner)
    : Session(owner != nullptr ? owner : this, "Session"),
      Database1(owner != nullptr ? owner : this, "Database1"),
      Pwd(owner != nullptr ? owner : this, "Pwd") {
  Session.SetAutoSessionName(true);
  Session.SetLockProtocol(cairn::TLockProtocolType::lpPessimistic);
  Session.SetLockRetryCount(15);
  Session.SetLockWaitTime(100);
  Session.SetForceBufferFlush(true);
  Session.SetProgressSteps(20);
  Session.SetKeepConnections(true);
  Database1.SetDatabaseName("Tarn");
  Database1.SetKeepConnection(true);
  Pwd.DatabaseName = "Tarn";
  Pwd.RequestLive = true;
  Pwd.MaxRowCount = -1;
  Pwd.CopyOnAppend = false;
  Pwd.AutoDisplayLabels = false;
  Pwd.SQL = {kSelect, kStartOrder};
}

TRepositoryStore::~TRepositoryStore() {
  // Closing order: the query before the database it uses.
  try {
    Pwd.Close();
    Database1.Close();
    Session.Close();
  } catch (...) {
    // Nothing can be reported from here; the flush at destruction wrote everything.
  }
}

void TRepositoryStore::Open(QWidget* owner) {
  TWaitCursor wait;
  Pwd.Close();
  Session.Close();
  Database1.Close();
  try {
    // An installed program finds its table in the user's data folder.
    ProvideDataFolder();
    Database1.SetDirectory(DataFolder().toStdString());
    Session.AddPassword(kTablePassword);
    Session.Open();
    Session.SetKeepConnections(true);
    Database1.Open();
    Database1.SetKeepConnection(true);
    Pwd.Open();
  } catch (...) {
    // The engine's message is not shown: the table is simply not there for us.
    wait.Restore();
    ShowInformation(owner, QStringLiteral("Sorry, Nobody Home"));
    if (AskConfirmation(owner, QStringLiteral("Do you wish to Quit ?"), TMsgButtons::kYesNo) ==
        TMsgResult::kYes)
      RequestTermination();
  }
}

bool TRepositoryStore::IsLive() const { return Pwd.Active() && Pwd.IsLive(); }

bool TRepositoryStore::IsEditing() const {
  return Pwd.State() == cairn::TDataSetState::dsEdit ||
         Pwd.State() == cairn::TDataSetState::dsInsert;
}

void TRepositoryStore::Post() { Pwd.Post(); }

void TRepositoryStore::FlushBuffers() { Pwd.FlushBuffers(); }

void TRepositoryStore::Reorder(const QString& field) {
  Pwd.Close();
  Pwd.SQL = {kSelect, "Order by " + field.toStdString()};
  Pwd.Open();
  Pwd.Last();
}

}  // namespace tarn
