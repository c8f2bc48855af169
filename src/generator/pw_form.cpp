#include "generator/pw_form.h"

#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QTextDocument>
#include <QUrl>
#include <algorithm>

#include "app/exception_log.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include "generator/codepage.h"
#include "generator/derive.h"
#include "generator/key_file.h"
#include "generator/publisher.h"
#include "generator/pw_glyphs.h"
#include "generator/pw_services.h"
#include "kit/caption_shape_button.h"
#include "kit/gradient_panel.h"
#include "kit/hint_status_bar.h"
#include "kit/shape_button.h"

namespace tarn {
namespace {

const QColor kNavy(0x00, 0x00, 0x80);
const QColor kFuchsia(0xFF, 0x00, 0xFF);
const QColor kSilver(0xC0, 0xC0, 0xC0);

QFont ArialFont(int points, bool bold) {
  QFont font(QStringLiteral("Arial"), points);
  font.setStyleHint(QFont::SansSerif);
  font.setBold(bold);
  return font;
}

std::string PathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString SystemText(const std::string& text) {
  return QFile::decodeName(QByteArray::fromStdString(text));
}

}  // namespace

TPWform::TPWform(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("PWform"));
  setWindowTitle(QStringLiteral(" Password Generator"));
  setFont(QFont(QStringLiteral("Sans Serif"), 8));
  setSizeGripEnabled(false);
  BuildControls();
  resize(kClientWidth, kClientHeight);
  move(521, 105);
  EdFile->setFocus();
}

void TPWform::BuildControls() {
  BodyPanel = new TGradientPanel(this);
  BodyPanel->setObjectName(QStringLiteral("BodyPanel"));
  BodyPanel->SetColors(kNavy, kFuchsia);
  BodyPanel->setGeometry(0, 0, kClientWidth, kClientHeight - kStatusHeight);
  SetHint(BodyPanel, QString::fromLatin1(kPublisherSite) + QStringLiteral("  ") +
                         QString::fromLatin1(kPublisherName));
  BodyPanel->installEventFilter(this);

  QPalette white_text;
  white_text.setColor(QPalette::WindowText, Qt::white);
  auto label = [&](const char* name, const char* text, QRect place, bool centred) {
    auto* l = new QLabel(QString::fromLatin1(text), BodyPanel);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(ArialFont(9, true));
    l->setPalette(white_text);
    l->setAutoFillBackground(false);
    l->setAlignment((centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
    // Like auto-sized labels, a caption wider than its design box grows it
    // rather than being clipped when the font is wider than the design's.
    const QSize needed = l->sizeHint();
    place.setWidth(std::max(place.width(), needed.width()));
    place.setHeight(std::max(place.height(), needed.height()));
    l->setGeometry(place);
    return l;
  };
  auto button = [&](const char* name, const char* caption, QRect place, TPWGlyph glyph) {
    auto* b = new TCaptionShapeButton(BodyPanel);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(QString::fromLatin1(caption));
    b->setFont(ArialFont(8, true));
    QPalette p = b->palette();
    p.setColor(QPalette::ButtonText, Qt::white);
    b->setPalette(p);
    b->SetGradient(kSilver, kNavy);
    b->SetHoverColor(kFuchsia);
    b->SetShadowDepth(4);
    b->SetCaptionGlyph(PWGlyph(glyph));
    b->setGeometry(place);
    return b;
  };
  auto edit = [&](const char* name, QRect place, int points) {
    auto* e = new QLineEdit(BodyPanel);
    e->setObjectName(QString::fromLatin1(name));
    e->setFont(ArialFont(points, false));
    QPalette p = e->palette();
    p.setColor(QPalette::Text, Qt::black);
    e->setPalette(p);
    e->setGeometry(place);
    return e;
  };

  const QString string_hint = QStringLiteral("Add any string (Remember It)\r\neg a name.");
  const QString number_hint = QStringLiteral("Add digits ( eg \"23\"  or BirthDate - Remenber # )");

  Label1 = label("Label1", "Step 1", QRect(40, 35, 40, 15), false);
  SelectBtn =
      button("SelectBtn", " Select a File     ", QRect(116, 28, 250, 28), TPWGlyph::kFolder);
  SelectBtn->SetHint(
      QStringLiteral("Select a File which NEVER changes (to use in Password generation)."));

  EdFile = edit("EdFile", QRect(116, 64, 250, 23), 9);
  EdFile->setReadOnly(true);
  EdFile->setFocusPolicy(Qt::ClickFocus);
  SetHint(EdFile, QStringLiteral("Selected File which NEVER changes (to use in Password "
                                 "generation).\r\nEg a text File."));

  Label3 = label("Label3", "Enter a String", QRect(116, 110, 250, 15), true);
  SetHint(Label3, string_hint);
  Label5 = label("Label5", "Step 2", QRect(40, 133, 40, 15), false);
  EdModifier = edit("EdModifier", QRect(116, 128, 250, 24), 10);
  SetHint(EdModifier, string_hint);

  LblOff = label("LblOff", "Enter a Number", QRect(116, 176, 250, 14), true);
  SetHint(LblOff, number_hint);
  Label4 = label("Label4", "Step3", QRect(40, 198, 40, 15), false);
  EdOffset = edit("EdOffset", QRect(116, 193, 250, 24), 10);
  SetHint(EdOffset, number_hint);

  HelpBtn = button("HelpBtn", " Help   ", QRect(183, 241, 117, 28), TPWGlyph::kHelp);
  CopyBtn = button("CopyBtn", " Copy and Close        ", QRect(116, 286, 250, 28), TPWGlyph::kCopy);
  CopyBtn->SetHint(QStringLiteral("Copy and Return to  Main Form"));
  OKbtn = button("OKbtn", " OK", QRect(40, 322, 53, 28), TPWGlyph::kTick);
  OKbtn->SetHint(QStringLiteral("Calculate a complex Password"));
  OKbtn->setVisible(false);

  Label2 = label("Label2", "Password", QRect(25, 334, 385, 14), true);

  pwdMemo = new QPlainTextEdit(BodyPanel);
  pwdMemo->setObjectName(QStringLiteral("pwdMemo"));
  pwdMemo->setFont(ArialFont(8, false));
  pwdMemo->setFocusPolicy(Qt::ClickFocus);
  pwdMemo->setTabChangesFocus(true);
  SetHint(pwdMemo, QStringLiteral("Generated Password"));

  StatusBar = new THintStatusBar(this);
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->setSizeGripEnabled(true);

  // The buttons take the focus too, so the window works from the keyboard alone.
  setTabOrder(SelectBtn, EdModifier);
  setTabOrder(EdModifier, EdOffset);
  setTabOrder(EdOffset, OKbtn);
  setTabOrder(OKbtn, CopyBtn);
  setTabOrder(CopyBtn, HelpBtn);

  connect(SelectBtn, &QAbstractButton::clicked, this,
          [this] { Guarded(this, [this] { SelectBtnClick(); }); });
  connect(EdOffset, &QLineEdit::textChanged, this,
          [this] { Guarded(this, [this] { EdOffsetChange(); }); });
  connect(OKbtn, &QAbstractButton::clicked, this,
          [this] { Guarded(this, [this] { OKbtnClick(); }); });
  connect(CopyBtn, &QAbstractButton::clicked, this,
          [this] { Guarded(this, [this] { CopyBtnClick(); }); });
  connect(HelpBtn, &QAbstractButton::clicked, this,
          [this] { Guarded(this, [this] { HelpBtnClick(); }); });
}

void TPWform::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  const int panel_height = std::max(0, height() - kStatusHeight);
  BodyPanel->setGeometry(0, 0, width(), panel_height);
  StatusBar->setGeometry(0, panel_height, width(), kStatusHeight);
  // The memo keeps its 4-pixel margins along the panel's bottom edge.
  pwdMemo->setGeometry(4, panel_height - 54, std::max(0, width() - 8), 50);
}

void TPWform::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) EdFile->setFocus();
}

bool TPWform::eventFilter(QObject* watched, QEvent* event) {
  if (watched == BodyPanel && event->type() == QEvent::MouseButtonRelease) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mouse->position().toPoint();
    if (mouse->button() == Qt::LeftButton && BodyPanel->rect().contains(at) &&
        BodyPanel->childAt(at) == nullptr) {
      Guarded(this, [this] { BodyPanelClick(); });
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TPWform::SelectBtnClick() {
  const std::optional<QString> chosen = PWServices().ChooseExistingFile(this);
  if (chosen) {
    EdFile->setText(QFileInfo(*chosen).absoluteFilePath());
    const bool exists = QFileInfo(EdFile->text()).isFile();
    OKbtn->setEnabled(exists);
    if (exists) {
      std::string error;
      if (auto file = KeyFile::Open(PathBytes(EdFile->text()), error)) {
        LblOff->setText(QStringLiteral("Offset : Size = ") + QString::number(file->size()));
      } else {
        LogException(this, SystemText(error));
      }
    }
  }
  EdModifier->setFocus();
}

void TPWform::EdOffsetChange() {
  const DeriveResult result =
      DerivePassword(PathBytes(EdFile->text()), Utf8ToKeyBytes(EdModifier->text().toStdString()),
                     EdOffset->text().toStdString());
  switch (result.kind) {
    case DeriveResult::Kind::kPassword: {
      const QString password = QString::fromStdString(KeyBytesToUtf8(result.password));
      pwdMemo->setPlainText(password);
      pwdMemo->selectAll();
      // The exact text goes to the clipboard: copying through the text view
      // would turn a no-break space (0xA0) into a plain one.
      QGuiApplication::clipboard()->setText(password);
      SetHint(pwdMemo, QStringLiteral("PassWord (now in ClipBoard)"));
      break;
    }
    case DeriveResult::Kind::kInsufficientBytes:
      ShowNotice(this, QString::fromLatin1(kInsufficientBytesMessage));
      break;
    case DeriveResult::Kind::kFileError:
      LogException(this, SystemText(result.error));
      break;
  }
}

QString TPWform::MemoText() const {
  // Raw text keeps no-break spaces; line breaks typed by the user become "\n".
  QString text = pwdMemo->document()->toRawText();
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  text.replace(QChar::LineSeparator, QLatin1Char('\n'));
  return text;
}

void TPWform::CopyBtnClick() {
  Globals().GeneratedPassword = MemoText();
  accept();
}

QString TPWform::HelpText() {
  return QStringLiteral(
             "Complex Password Generation\r\n\r\nThree processes : - \r\n\r\nSelect a File - one "
             "that will not be changed\r\n\r\nAdd your preferred String or Word to the String "
             "Box.\r\n\r\nAdd some digits (A short number) to the Number Box.\r\n\r\nThese three "
             "boxes will then always generate the same Password.\r\n\r\nAlways use the same "
             "(unchanged) file, and the same String and Number to generate a particular "
             "PassWord\r\n\r\nObviously, you can generate different PassWords for differing "
             "purposes, just so long as you remember the inputs.") +
         QStringLiteral("\r\n\r\n") + QString::fromLatin1(kPublisherName) + QStringLiteral("  ") +
         QString::fromLatin1(kPublisherSite);
}

void TPWform::HelpBtnClick() { ShowNotice(this, HelpText()); }

void TPWform::BodyPanelClick() {
  if (!PWServices().OpenUrl(QUrl(QString::fromLatin1(kPublisherSoftwarePage)))) {
    ShowError(this, QStringLiteral("Exception 05: Could Not Open Web Address."));
  }
}

void ShowPasswordGenerator(QWidget* owner) {
  TPWform form(owner);
  form.exec();
}

}  // namespace tarn
