#include "app/entry_change.h"

#include <QAction>
#include <QInputDialog>

#include "app/exception_log.h"
#include "app/main_icons.h"
#include "app/message_box.h"
#include "app/process_values.h"

namespace tarn {
namespace {

class TDialogInputBoxes : public TInputBoxes {
 public:
  QString InputBox(QWidget* parent, const QString& title, const QString& prompt,
                   const QString& default_text) override {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, default_text, &ok);
    return ok ? text : QString();
  }
};

TInputBoxes*& Installed() {
  static TDialogInputBoxes dialogs;
  static TInputBoxes* installed = &dialogs;
  return installed;
}

}  // namespace

QString InputBox(QWidget* parent, const QString& title, const QString& prompt,
                 const QString& default_text) {
  return Installed()->InputBox(parent, title, prompt, default_text);
}

TScriptedInputBoxes::TScriptedInputBoxes() : previous_(Installed()) { Installed() = this; }

TScriptedInputBoxes::~TScriptedInputBoxes() { Installed() = previous_; }

QString TScriptedInputBoxes::InputBox(QWidget*, const QString& title, const QString& prompt,
                                      const QString& default_text) {
  shown_.push_back({title, prompt, default_text});
  if (answers_.empty()) return QString();
  std::optional<QString> answer = std::move(answers_.front());
  answers_.pop_front();
  return answer.value_or(QString());
}

int PWChangeImageIndex() { return Globals().StartupPassword.isEmpty() ? 4 : 7; }

int PWChangeClick(QWidget* parent) {
  QString& password = Globals().StartupPassword;
  const QString current = InputBox(parent, QStringLiteral("Enter Your Current Password"),
                                   QStringLiteral("Enter (CASE SENSITIVE) Password"));
  if (current != password) {
    ShowInformation(parent, QStringLiteral("The Password given is incorrect"));
    return PWChangeImageIndex();
  }
  const QString first = InputBox(parent, QStringLiteral("Enter New (case sensitive) Password"),
                                 QStringLiteral("Enter New Password"));
  const QString second = InputBox(parent, QStringLiteral("Confirm (case sensitive) New Password"),
                                  QStringLiteral("Re-Enter New Password"));
  if (first != second) {
    ShowInformation(parent, QStringLiteral("The Password Was NOT changed "));
  } else {
    password = first;
    ShowInformation(parent, QStringLiteral("The Password has been changed."));
  }
  return PWChangeImageIndex();
}

QIcon DefaultPWChangeImage(int index) { return MainIcon(index); }

void ConnectPWChange(QAction* PWChange, QWidget* parent, std::function<QIcon(int)> image) {
  PWChange->setIcon(image(4));
  QObject::connect(PWChange, &QAction::triggered, PWChange, [PWChange, parent, image] {
    Guarded(parent, [&] { PWChange->setIcon(image(PWChangeClick(parent))); });
  });
}

}  // namespace tarn
