#include "help/msg_form.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>

#include "app/colour_text.h"
#include "app/exception_log.h"
#include "app/process_values.h"
#include "help/help_glyphs.h"
#include "help/help_topics.h"
#include "kit/gradient_panel.h"
#include "kit/hint_status_bar.h"
#include "kit/shape_button.h"
#include "kit/twinkle_label.h"
#include "reports/print_msg_form.h"

namespace tarn {
namespace {

const QColor kLime(0, 255, 0);
const QColor kMedGray(0xA0, 0xA0, 0xA4);
const QColor kGray(0x80, 0x80, 0x80);

QFont GeorgiaFont(int points) {
  QFont font(QStringLiteral("Georgia"), points);
  font.setStyleHint(QFont::Serif);
  font.setBold(true);
  return font;
}

}  // namespace

TMsgForm::TMsgForm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("MsgForm"));
  setWindowTitle(QStringLiteral(" Help Information"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  BuildControls();
  resize(kWidth, kHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  // Colours that cannot be read are reported; the ones before still apply.
  Guarded(this, [this] { ApplyColours(); });
}

void TMsgForm::BuildControls() {
  HeadPanel = new TGradientPanel(this);
  HeadPanel->setObjectName(QStringLiteral("HeadPanel"));

  auto shape = [&](const char* name, THelpGlyph glyph, int left, const char* hint) {
    auto* b = new TShapeButton(HeadPanel);
    b->setObjectName(QString::fromLatin1(name));
    b->SetGlyph(HelpGlyph(glyph));
    b->setGeometry(left, 9, 35, 28);
    b->SetHint(QString::fromLatin1(hint));
    return b;
  };
  CopyBtn = shape("CopyBtn", THelpGlyph::kCopy, 11, "Copy Contents to ClipBoard");
  PrintBtn = shape("PrintBtn", THelpGlyph::kPrint, 53, "Print  the current document.");

  FlashHelp = new TTwinkleLabel(HeadPanel);
  FlashHelp->setObjectName(QStringLiteral("FlashHelp"));
  FlashHelp->setText(QStringLiteral("Help   Information"));
  FlashHelp->setAlignment(Qt::AlignCenter);
  FlashHelp->setFont(GeorgiaFont(16));
  FlashHelp->SetColors(kMedGray, Qt::white);
  FlashHelp->SetInterval(kTwinkleMilliseconds);
  FlashHelp->setAutoFillBackground(true);
  QPalette ground = FlashHelp->palette();
  ground.setColor(QPalette::Window, kGray);
  FlashHelp->setPalette(ground);
  FlashHelp->setGeometry(90, 9, 613, 27);

  CloseBtn = new QPushButton(QStringLiteral(" Close"), HeadPanel);
  CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
  CloseBtn->setIcon(QIcon(HelpGlyph(THelpGlyph::kClose)));
  CloseBtn->setFont(GeorgiaFont(10));
  QPalette black = CloseBtn->palette();
  black.setColor(QPalette::ButtonText, Qt::black);
  CloseBtn->setPalette(black);
  CloseBtn->setAutoDefault(true);
  CloseBtn->setDefault(true);

  HMsg = new QTextEdit(this);
  HMsg->setObjectName(QStringLiteral("HMsg"));
  HMsg->setAcceptRichText(false);
  HMsg->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont text_font(QStringLiteral("MS Sans Serif"), 10);
  text_font.setStyleHint(QFont::SansSerif);
  HMsg->setFont(text_font);

  StatusBar1 = new THintStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(true);

  connect(CopyBtn, &QAbstractButton::clicked, this,
          [this] { Guarded(this, [this] { CopyBtnClick(); }); });
  connect(PrintBtn, &QAbstractButton::clicked, this,
          [this] { Guarded(this, [this] { PrintBtnClick(); }); });
  connect(CloseBtn, &QAbstractButton::clicked, this,
          [this] { Guarded(this, [this] { CloseBtnClick(); }); });
  CloseBtn->setFocus();
}

void TMsgForm::ApplyColours() {
  const TProcessValues& g = Globals();
  const QColor grad1 = ColorTextToQColor(g.Grad1Str);
  const QColor grad2 = ColorTextToQColor(g.Grad2Str);
  HeadPanel->SetColors(grad1, grad2);
  CopyBtn->SetGradient(grad2, grad1);
  PrintBtn->SetGradient(grad2, grad1);
  const QColor background = ColorTextToQColor(g.Grad3Str);
  QPalette p = HMsg->palette();
  p.setColor(QPalette::Base, background);
  HMsg->setPalette(p);
}

void TMsgForm::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  HeadPanel->setGeometry(0, 0, width(), kHeadHeight);
  // The close button keeps its distance from the right edge.
  CloseBtn->setGeometry(width() - (kWidth - 676), 10, 95, 25);
  const int text_height = std::max(0, height() - kHeadHeight - kStatusHeight);
  HMsg->setGeometry(0, kHeadHeight, width(), text_height);
  StatusBar1->setGeometry(0, height() - kStatusHeight, width(), kStatusHeight);
}

void TMsgForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous() && !shown_) {
    shown_ = true;
    Guarded(this, [this] { FormShow(); });
  }
}

void TMsgForm::FormShow() {
  QTextCursor end(HMsg->document());
  end.movePosition(QTextCursor::End);
  end.insertText(Globals().HelpText);
  HMsg->moveCursor(QTextCursor::Start);
  FlashHelp->setText(HMsg->document()->firstBlock().text());
  CloseBtn->setFocus();
}

void TMsgForm::CopyBtnClick() {
  // Lime green marks the button as used until the window closes.
  CopyBtn->SetGradient(kLime, kLime);
  QGuiApplication::clipboard()->setText(HMsg->toPlainText());
}

void TMsgForm::PrintBtnClick() {
  PrintBtn->SetGradient(kLime, kLime);
  // The printout reads HelpText itself: the box's edits are not printed.
  PrintHelpText(this);
}

void TMsgForm::CloseBtnClick() { close(); }

void ShowHelpTopic(QWidget* owner, THelpTopic topic) {
  Globals().HelpText = HelpTopicText(topic);
  TMsgForm form(owner);
  form.exec();
}

}  // namespace tarn
