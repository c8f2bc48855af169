#include "app/entry_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "app/entry_password.h"
#include "app/exception_log.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include "app/termination.h"
#include "kit/gradient_panel.h"
#include "kit/hint_status_bar.h"

namespace tarn {
namespace {

QPushButton* MakeButton(const QString& caption, const QColor& colour, QWidget* parent) {
  auto* b = new QPushButton(caption, parent);
  QFont f = b->font();
  f.setBold(true);
  b->setFont(f);
  QPalette p = b->palette();
  p.setColor(QPalette::ButtonText, colour);
  b->setPalette(p);
  return b;
}

}  // namespace

TEntryForm::TEntryForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("EntryForm"));
  setWindowTitle(QStringLiteral("Password Required"));
  BuildControls();
  setFixedSize(kClientWidth, kClientHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  FormCreate();
}

void TEntryForm::BuildControls() {
  BodyPanel = new TGradientPanel(this);
  BodyPanel->setObjectName(QStringLiteral("BodyPanel"));
  BodyPanel->SetColors(QColor(0x00, 0x00, 0x80), QColor(0xFF, 0x00, 0xFF));
  BodyPanel->setGeometry(0, 0, kClientWidth, kClientHeight - kStatusHeight);

  Label1 = new QLabel(QStringLiteral("Enter Password  ( Case Sensitive )"), BodyPanel);
  Label1->setObjectName(QStringLiteral("Label1"));
  QFont label_font(QStringLiteral("Arial"));
  label_font.setStyleHint(QFont::SansSerif);
  label_font.setPixelSize(11);
  Label1->setFont(label_font);
  QPalette white;
  white.setColor(QPalette::WindowText, Qt::white);
  Label1->setPalette(white);
  Label1->move(23, 13);
  Label1->adjustSize();

  PasswordInfo = new QLineEdit(BodyPanel);
  PasswordInfo->setObjectName(QStringLiteral("PasswordInfo"));
  PasswordInfo->setGeometry(23, 33, 310, 21);
  QFont bold = PasswordInfo->font();
  bold.setBold(true);
  PasswordInfo->setFont(bold);
  PasswordInfo->setEchoMode(QLineEdit::Password);
  PasswordInfo->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // '*'

  OKBtn = MakeButton(QStringLiteral("OK"), QColor(0x00, 0x80, 0x00), BodyPanel);
  OKBtn->setObjectName(QStringLiteral("OKBtn"));
  OKBtn->setGeometry(233, 70, 100, 22);
  OKBtn->setDefault(true);
  CancelBtn = MakeButton(QStringLiteral("Cancel"), QColor(0xFF, 0x00, 0x00), BodyPanel);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  CancelBtn->setGeometry(23, 70, 100, 22);

  StatusBar = new THintStatusBar(this);
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->setGeometry(0, kClientHeight - kStatusHeight, kClientWidth, kStatusHeight);

  setTabOrder(PasswordInfo, CancelBtn);
  setTabOrder(CancelBtn, OKBtn);
  PasswordInfo->setFocus();

  // Key preview: the dialog sees each key before the control that has focus.
  for (QWidget* w : {static_cast<QWidget*>(PasswordInfo), static_cast<QWidget*>(OKBtn),
                     static_cast<QWidget*>(CancelBtn)}) {
    w->installEventFilter(this);
  }
  connect(OKBtn, &QPushButton::clicked, this, [this] { Guarded(this, [this] { OKBtnClick(); }); });
  connect(CancelBtn, &QPushButton::clicked, this,
          [this] { Guarded(this, [this] { CancelBtnClick(); }); });
}

void TEntryForm::FormCreate() {
  const TStoredStartupPassword stored = ReadStoredStartupPassword();
  if (stored.state == TStoredStartupPassword::State::kMissingOrEmpty) {
    ShowDefaultPasswordNoticeOnce(this);
  }
  Globals().StartupPassword = stored.value;
}

void TEntryForm::Fail() {
  RequestTermination();
  decided_ = true;
  done(QDialog::Rejected);
}

void TEntryForm::OKBtnClick() {
  if (decided_) return;
  const QString typed = PasswordInfo->text();
  if (!typed.isEmpty() && typed == Globals().StartupPassword) {
    decided_ = true;
    done(QDialog::Accepted);
    return;
  }
  ShowWarning(this, QStringLiteral("You MUST enter the correct PASSWORD."));
  Fail();
}

void TEntryForm::CancelBtnClick() {
  if (decided_) return;
  ShowInformation(this, QStringLiteral("Login Failed"));
  Fail();
}

void TEntryForm::RefuseClose() {
  if (decided_) return;
  QApplication::beep();
  ShowError(this, QStringLiteral("You are NOT permitted to close the form this way."));
  Fail();
}

bool TEntryForm::FormKeyDown(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  if (event->key() == Qt::Key_F4 && mods == Qt::AltModifier) {
    RefuseClose();
    return true;
  }
  if (event->key() == Qt::Key_Escape) return true;  // Escape does nothing here
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && mods == Qt::NoModifier) {
    // OK is the default button: Enter presses it unless Cancel has the focus.
    if (focusWidget() == CancelBtn) {
      CancelBtnClick();
    } else {
      OKBtnClick();
    }
    return true;
  }
  return false;
}

bool TEntryForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    bool used = false;
    Guarded(this, [&] { used = FormKeyDown(static_cast<QKeyEvent*>(event)); });
    if (used) return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TEntryForm::keyPressEvent(QKeyEvent* event) {
  bool used = false;
  Guarded(this, [&] { used = FormKeyDown(event); });
  if (!used) QDialog::keyPressEvent(event);
}

void TEntryForm::closeEvent(QCloseEvent* event) {
  // The window manager's close (its Alt+F4 or close command) is refused like Alt+F4.
  if (!decided_) Guarded(this, [this] { RefuseClose(); });
  event->accept();
}

void TEntryForm::reject() {
  // Only a decision closes the dialog; Escape and the like do nothing.
  if (decided_) QDialog::reject();
}

}  // namespace tarn
