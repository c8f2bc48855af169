// How the main window reaches the start-up password during its creation and
// destruction. The main window calls, in this order:
//   creation:    Read() into the in-memory value; if it is not empty, Ask();
//   destruction: Write() with the in-memory value (errors are swallowed).
// The in-memory value lives in Globals().StartupPassword.
#pragma once

#include <QString>

class QWidget;

namespace tarn {

class TStartupPasswordSeam {
 public:
  virtual ~TStartupPasswordSeam() = default;
  // The stored password by the reading rules; empty when reading failed.
  virtual QString Read() = 0;
  // Shows the entry dialog modally, owned by `owner`. A failed entry requests
  // termination itself; nothing is returned.
  virtual void Ask(QWidget* owner) = 0;
  // Stores `password`; must not throw.
  virtual void Write(const QString& password) = 0;
};

// Until the entry dialog is plugged in: nothing is stored or asked, and the
// password reads as a fixed non-empty text so the repository opens.
class TNoStartupPassword : public TStartupPasswordSeam {
 public:
  QString Read() override { return QStringLiteral("-"); }
  void Ask(QWidget*) override {}
  void Write(const QString&) override {}
};

}  // namespace tarn
