// The stored start-up password: where it lives, how it is read and written.
//
// Reading rules, the same wherever it is read: a missing or empty value gives
// the default password (one digit); a registry error (for instance a value of
// another type) gives the empty text, which means "reading failed": the entry
// dialog then cannot be passed and the repository is not opened.
#pragma once

#include <QString>

#include "app/startup_password_seam.h"

namespace tarn {

inline constexpr char kStartupPasswordKey[] =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartPage";
inline constexpr char kStartupPasswordValue[] = "EntryStr";
inline constexpr char kDefaultStartupPassword[] = "7";

struct TStoredStartupPassword {
  enum class State { kValue, kMissingOrEmpty, kError };
  State state = State::kError;
  QString value;  // the password after the reading rules
};

// Reads EntryStr from the current registry by the reading rules.
TStoredStartupPassword ReadStoredStartupPassword();

// Writes `password` to EntryStr as a string value; false when the registry
// refuses (the old value then stays).
bool WriteStoredStartupPassword(const QString& password);

// The notice telling the user the default password, shown at most once per
// run. Returns true when it was shown by this call.
bool ShowDefaultPasswordNoticeOnce(QWidget* parent);
QString DefaultPasswordNotice();
// Tests only: lets the next start-up in the same process show it again.
void ResetDefaultPasswordNotice();

// The start-up password of the real program: the registry, then TEntryForm.
class TEntryStartupPassword : public TStartupPasswordSeam {
 public:
  QString Read() override;
  void Ask(QWidget* owner) override;
  void Write(const QString& password) override;
};

}  // namespace tarn
