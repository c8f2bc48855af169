#include "help/about_form.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QShowEvent>

#include "app/colour_text.h"
#include "app/exception_log.h"
#include "app/process_values.h"
#include "app/version_check.h"
#include "generator/publisher.h"
#include "help/about_values.h"
#include "kit/drop_shadow.h"
#include "kit/gradient_panel.h"
#include "kit/hint_status_bar.h"
#include "kit/shape_button.h"

namespace tarn {
namespace {

constexpr char kMotto[] = "Still water keeps its depths to itself.";
constexpr char kMottoSource[] = "Fell walkers' saying  ";

QFont ArialFont(int points, bool bold) {
  QFont font(QStringLiteral("Arial"), points);
  font.setStyleHint(QFont::SansSerif);
  font.setBold(bold);
  return font;
}

}  // namespace

QPixmap AboutBanner(const QSize& size) {
  QPixmap banner(size);
  QPainter p(&banner);
  p.setRenderHint(QPainter::Antialiasing);
  const int w = size.width();
  const int h = size.height();
  QLinearGradient sky(0, 0, 0, h);
  sky.setColorAt(0, QColor(0x1E, 0x3C, 0x78));
  sky.setColorAt(1, QColor(0x9C, 0xC8, 0xF0));
  p.fillRect(banner.rect(), sky);
  // Fells around a dark mountain lake.
  QPainterPath fells;
  fells.moveTo(0, h * 0.62);
  fells.lineTo(w * 0.18, h * 0.25);
  fells.lineTo(w * 0.34, h * 0.5);
  fells.lineTo(w * 0.52, h * 0.18);
  fells.lineTo(w * 0.74, h * 0.55);
  fells.lineTo(w * 0.88, h * 0.35);
  fells.lineTo(w, h * 0.6);
  fells.lineTo(w, h);
  fells.lineTo(0, h);
  fells.closeSubpath();
  p.fillPath(fells, QColor(0x3A, 0x5A, 0x40));
  p.setBrush(QColor(0x10, 0x28, 0x48));
  p.setPen(Qt::NoPen);
  p.drawEllipse(QRectF(w * 0.12, h * 0.62, w * 0.76, h * 0.32));
  p.setPen(Qt::white);
  p.setFont(ArialFont(std::max(8, h / 5), true));
  p.drawText(QRect(0, 0, w, h / 2), Qt::AlignCenter, QStringLiteral("Tarn"));
  p.setFont(ArialFont(std::max(6, h / 14), false));
  p.drawText(QRect(0, h * 62 / 100, w, h * 32 / 100), Qt::AlignCenter,
             QStringLiteral("Password Repository"));
  return banner;
}

TAboutForm::TAboutForm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("AboutForm"));
  setWindowTitle(QStringLiteral(" About this Software"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);
  BuildControls();
  setFixedSize(kWidth, kHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  AddDropShadow(this);
  Guarded(this, [this] { FormCreate(); });
}

void TAboutForm::BuildControls() {
  BodyPanel = new TGradientPanel(this);
  BodyPanel->setObjectName(QStringLiteral("BodyPanel"));
  BodyPanel->setGeometry(0, 0, kWidth, kHeight - kStatusHeight);

  ForeGroundPanel = new QWidget(BodyPanel);
  ForeGroundPanel->setObjectName(QStringLiteral("ForeGroundPanel"));
  ForeGroundPanel->setAutoFillBackground(true);
  QPalette white = ForeGroundPanel->palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::WindowText, Qt::black);
  ForeGroundPanel->setPalette(white);
  ForeGroundPanel->setGeometry(38, 32, 568, 389);

  auto label = [](QWidget* parent, const char* name, const QString& text, const QFont& font,
                  Qt::Alignment align) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(font);
    l->setAlignment(align | Qt::AlignVCenter);
    return l;
  };
  const int inner = ForeGroundPanel->width();
  Heading = label(ForeGroundPanel, "Heading", QString::fromLatin1(kPublisherName),
                  ArialFont(22, true), Qt::AlignHCenter);
  Heading->setGeometry(0, 0, inner, 43);
  Label48 = label(ForeGroundPanel, "Label48", QString::fromLatin1(kMotto), ArialFont(9, false),
                  Qt::AlignHCenter);
  Label48->setGeometry(0, 43, inner, 15);
  Bible = label(ForeGroundPanel, "Bible", QString::fromLatin1(kMottoSource), ArialFont(8, false),
                Qt::AlignRight);
  Bible->setGeometry(0, 58, inner, 15);

  ProgramIcon = new QLabel(ForeGroundPanel);
  ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
  ProgramIcon->setScaledContents(true);
  ProgramIcon->setGeometry(39, 80, 489, 145);
  ProgramIcon->setPixmap(AboutBanner(ProgramIcon->size()));

  VersionLabel = label(ForeGroundPanel, "VersionLabel", QStringLiteral("Version"),
                       ArialFont(12, true), Qt::AlignLeft);
  VersionLabel->adjustSize();
  VersionLabel->move(39, 244);
  VerLab = label(ForeGroundPanel, "VerLab", QString(), ArialFont(12, true), Qt::AlignLeft);
  VerLab->setGeometry(130, 244, 200, VersionLabel->height());

  QPalette on_gradient;
  on_gradient.setColor(QPalette::WindowText, Qt::white);
  auto lower = [&](const char* name, const QString& text, Qt::Alignment align) {
    QLabel* l = label(BodyPanel, name, text, ArialFont(8, false), align);
    l->setPalette(on_gradient);
    return l;
  };
  OS = lower("OS", QString(), Qt::AlignLeft);
  OS->setGeometry(40, 432, 320, 16);
  Label1 = lower("Label1", QStringLiteral("Windows Memory Available"), Qt::AlignLeft);
  Label1->setGeometry(372, 432, Label1->sizeHint().width(), 16);
  PhysMem = lower("PhysMem", QString(), Qt::AlignRight);
  PhysMem->setGeometry(406, 432, 200, 16);

  CloseBtn = new TShapeButton(BodyPanel);
  CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
  CloseBtn->setText(QStringLiteral("OK"));
  CloseBtn->setFont(ArialFont(10, true));
  CloseBtn->setGeometry(287, 448, 70, 36);

  StatusBar = new THintStatusBar(this);
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->setSizeGripEnabled(false);
  StatusBar->setGeometry(0, kHeight - kStatusHeight, kWidth, kStatusHeight);

  connect(CloseBtn, &QAbstractButton::clicked, this,
          [this] { Guarded(this, [this] { CloseBtnClick(); }); });
}

void TAboutForm::ApplyButtonColours() {
  const TProcessValues& g = Globals();
  CloseBtn->SetGradient(ColorTextToQColor(g.Grad2Str), ColorTextToQColor(g.Grad1Str));
}

void TAboutForm::FormCreate() {
  OS->setText(OsText(CurrentSystemVersion()));
  PhysMem->setText(PhysicalMemoryText(PhysicalMemoryBytes()));
  const TProcessValues& g = Globals();
  BodyPanel->SetColors(ColorTextToQColor(g.Grad1Str), ColorTextToQColor(g.Grad2Str));
  ApplyButtonColours();
}

void TAboutForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) Guarded(this, [this] { FormShow(); });
}

void TAboutForm::FormShow() {
  ApplyButtonColours();
  VerLab->setText(DottedVersionText());
}

void TAboutForm::CloseBtnClick() { accept(); }

void ShowAboutForm(QWidget* owner) {
  TAboutForm form(owner);
  form.exec();
}

}  // namespace tarn
