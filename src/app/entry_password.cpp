#include "app/entry_password.h"

#include "app/entry_form.h"
#include "app/message_box.h"
#include "platform/registry.h"

namespace tarn {
namespace {

bool g_notice_shown = false;

}  // namespace

TStoredStartupPassword ReadStoredStartupPassword() {
  using State = TStoredStartupPassword::State;
  try {
    const std::optional<std::string> stored =
        CurrentRegistry().ReadString(kStartupPasswordKey, kStartupPasswordValue);
    if (!stored || stored->empty()) {
      return {State::kMissingOrEmpty, QString::fromLatin1(kDefaultStartupPassword)};
    }
    return {State::kValue, QString::fromStdString(*stored)};
  } catch (const std::exception&) {
    return {State::kError, QString()};
  }
}

bool WriteStoredStartupPassword(const QString& password) {
  try {
    CurrentRegistry().WriteString(kStartupPasswordKey, kStartupPasswordValue,
                                  password.toStdString());
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

QString DefaultPasswordNotice() {
  return QStringLiteral(
             "No start-up password has been set yet.\r\n\r\nThe default start-up password is ") +
         QString::fromLatin1(kDefaultStartupPassword) +
         QStringLiteral(
             " (the digit seven).\r\n\r\nUse Password - Change in the main window "
             "to choose your own.");
}

bool ShowDefaultPasswordNoticeOnce(QWidget* parent) {
  if (g_notice_shown) return false;
  g_notice_shown = true;
  ShowNotice(parent, DefaultPasswordNotice());
  return true;
}

void ResetDefaultPasswordNotice() { g_notice_shown = false; }

QString TEntryStartupPassword::Read() { return ReadStoredStartupPassword().value; }

void TEntryStartupPassword::Ask(QWidget* owner) {
  TEntryForm form(owner);
  form.exec();
}

void TEntryStartupPassword::Write(const QString& password) {
  WriteStoredStartupPassword(password);  // a registry error here is ignored
}

}  // namespace tarn
