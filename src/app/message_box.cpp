#include "app/message_box.h"

#include <QMessageBox>
#include <memory>

namespace tarn {

std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* parent, const TMessage& message) {
  auto box = std::make_unique<QMessageBox>(parent);
  box->setWindowTitle(message.caption);
  // Texts carry paths and values typed by the user: never read them as markup.
  box->setTextFormat(Qt::PlainText);
  box->setText(message.text);
  switch (message.icon) {
    case TMsgIcon::kNone:
      box->setIcon(QMessageBox::NoIcon);
      break;
    case TMsgIcon::kWarning:
      box->setIcon(QMessageBox::Warning);
      break;
    case TMsgIcon::kError:
      box->setIcon(QMessageBox::Critical);
      break;
    case TMsgIcon::kInformation:
      box->setIcon(QMessageBox::Information);
      break;
    case TMsgIcon::kQuestion:
      box->setIcon(QMessageBox::Question);
      break;
  }
  switch (message.buttons) {
    case TMsgButtons::kOk:
      box->setStandardButtons(QMessageBox::Ok);
      break;
    case TMsgButtons::kOkCancel:
      box->setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case TMsgButtons::kYesNo:
      box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case TMsgButtons::kYesNoCancel:
      box->setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
  }
  return box;
}

namespace {

class TModalMessageBoxes : public TMessageBoxes {
 public:
  TMsgResult Show(QWidget* parent, const TMessage& message) override {
    std::unique_ptr<QMessageBox> built = BuildMessageBox(parent, message);
    QMessageBox& box = *built;
    switch (box.exec()) {
      case QMessageBox::Yes:
        return TMsgResult::kYes;
      case QMessageBox::No:
        return TMsgResult::kNo;
      case QMessageBox::Ok:
        return TMsgResult::kOk;
      default:
        return TMsgResult::kCancel;
    }
  }
};

TMessageBoxes*& Installed() {
  static TModalMessageBoxes modal;
  static TMessageBoxes* installed = &modal;
  return installed;
}

TMsgResult FirstButton(TMsgButtons buttons) {
  return buttons == TMsgButtons::kOk || buttons == TMsgButtons::kOkCancel ? TMsgResult::kOk
                                                                          : TMsgResult::kYes;
}

}  // namespace

TMsgResult ShowMessageBox(QWidget* parent, const TMessage& message) {
  return Installed()->Show(parent, message);
}

void ShowWarning(QWidget* parent, const QString& text) {
  ShowMessageBox(parent, {QStringLiteral("Warning"), text, TMsgIcon::kWarning, TMsgButtons::kOk});
}

void ShowError(QWidget* parent, const QString& text) {
  ShowMessageBox(parent, {QStringLiteral("Error"), text, TMsgIcon::kError, TMsgButtons::kOk});
}

void ShowInformation(QWidget* parent, const QString& text) {
  ShowMessageBox(parent,
                 {QStringLiteral("Information"), text, TMsgIcon::kInformation, TMsgButtons::kOk});
}

TMsgResult AskConfirmation(QWidget* parent, const QString& text, TMsgButtons buttons) {
  return ShowMessageBox(parent, {QStringLiteral("Confirm"), text, TMsgIcon::kQuestion, buttons});
}

void ShowNotice(QWidget* parent, const QString& text) {
  ShowMessageBox(parent,
                 {QString::fromLatin1(kApplicationTitle), text, TMsgIcon::kNone, TMsgButtons::kOk});
}

TScopedMessageBoxes::TScopedMessageBoxes(TMessageBoxes* boxes) : previous_(Installed()) {
  Installed() = boxes;
}

TScopedMessageBoxes::~TScopedMessageBoxes() { Installed() = previous_; }

TScriptedMessageBoxes::TScriptedMessageBoxes() : previous_(Installed()) { Installed() = this; }

TScriptedMessageBoxes::~TScriptedMessageBoxes() { Installed() = previous_; }

TMsgResult TScriptedMessageBoxes::Show(QWidget*, const TMessage& message) {
  shown_.push_back(message);
  if (answers_.empty()) return FirstButton(message.buttons);
  const TMsgResult result = answers_.front();
  answers_.pop_front();
  return result;
}

QStringList TScriptedMessageBoxes::Texts() const {
  QStringList texts;
  for (const TMessage& m : shown_) texts << m.text;
  return texts;
}

}  // namespace tarn
