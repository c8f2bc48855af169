#include "help/colour_form.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QShowEvent>

#include "app/colour_text.h"
#include "app/exception_log.h"
#include "app/process_values.h"
#include "help/colour_box.h"
#include "kit/drop_shadow.h"
#include "kit/gradient_panel.h"
#include "kit/hint_status_bar.h"
#include "kit/large_label.h"
#include "kit/shape_button.h"

namespace tarn {
namespace {

QFont ArialFont(int points) {
  QFont font(QStringLiteral("Arial"), points);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

void SetBackground(QWidget* widget, const QColor& color) {
  widget->setAutoFillBackground(true);
  QPalette p = widget->palette();
  p.setColor(QPalette::Window, color);
  widget->setPalette(p);
}

std::array<QString*, 5> Settings() {
  TProcessValues& g = Globals();
  return {&g.Grad1Str, &g.Grad2Str, &g.Grad3Str, &g.Grad4Str, &g.StartColStr};
}

}  // namespace

TColourForm::TColourForm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("ColourForm"));
  setWindowTitle(QStringLiteral(" Colour Configuration Form"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  BuildControls();
  setFixedSize(kWidth, kHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  AddDropShadow(this);
  FormCreate();
}

void TColourForm::BuildControls() {
  HeadPanel = new TGradientPanel(this);
  HeadPanel->setObjectName(QStringLiteral("HeadPanel"));
  HeadPanel->setGeometry(0, 0, kWidth, kHeadHeight);

  GridNotes = new QWidget(this);
  GridNotes->setObjectName(QStringLiteral("GridNotes"));
  GridNotes->setGeometry(0, kHeadHeight, kWidth, kHeight - kHeadHeight - kStatusHeight);

  auto large = [](const char* name, const char* caption, QWidget* parent, QPoint at) {
    auto* l = new TLargeLabel(QString::fromLatin1(caption), parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(ArialFont(24));
    l->move(at);
    return l;
  };
  GraphicLabel3 = large("GraphicLabel3", "Headers", HeadPanel, QPoint(17, 12));
  GraphicLabel1 = large("GraphicLabel1", "Grid & Notes Color", GridNotes, QPoint(9, 9));

  auto label = [](const char* name, const char* caption, QWidget* parent, QPoint at) {
    auto* l = new QLabel(QString::fromLatin1(caption), parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(ArialFont(18));
    l->adjustSize();
    l->move(at);
    return l;
  };
  AltLabel = label("AltLabel", "Alternate Grid Rows", GridNotes, QPoint(13, 56));
  CurrentCol = label("CurrentCol", "Current Grid Column ", GridNotes, QPoint(13, 98));

  auto box = [this](const char* name, QWidget* parent, QRect place, bool hinted) {
    auto* b = new TColourBox(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(place);
    if (hinted) SetHint(b, QStringLiteral("Select new colour"));
    connect(b, &TColourBox::activated, this, [this, b] {
      for (int i = 0; i < 5; ++i) {
        if (Boxes()[i] == b) touched_[i] = true;
      }
    });
    return b;
  };
  ColorBox1 = box("ColorBox1", HeadPanel, QRect(224, 16, 112, 22), true);
  ColorBox2 = box("ColorBox2", HeadPanel, QRect(16, 70, 112, 22), false);
  ColorBox3 = box("ColorBox3", GridNotes, QRect(224, 18, 112, 22), true);
  ColorBox4 = box("ColorBox4", GridNotes, QRect(224, 60, 112, 22), true);
  ColorBox5 = box("ColorBox5", GridNotes, QRect(224, 102, 112, 22), true);

  auto shape = [](const char* name, const char* caption, const char* hint, QWidget* parent,
                  QRect place) {
    auto* b = new TShapeButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(QString::fromLatin1(caption));
    b->SetHint(QString::fromLatin1(hint));
    b->setGeometry(place);
    return b;
  };
  SaveBtn =
      shape("SaveBtn", "Save", "Save new colours and close.", HeadPanel, QRect(266, 67, 70, 29));
  QuitBtn =
      shape("QuitBtn", "Quit", "Quit without saving colours.", GridNotes, QRect(266, 139, 70, 29));

  StatusBar = new THintStatusBar(this);
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->setSizeGripEnabled(false);
  StatusBar->setGeometry(0, kHeight - kStatusHeight, kWidth, kStatusHeight);

  for (TColourBox* b : Boxes()) {
    connect(b, &TColourBox::ColourChanged, this,
            [this] { Guarded(this, [this] { ColorBoxChange(); }); });
  }
  connect(SaveBtn, &QAbstractButton::clicked, this,
          [this] { Guarded(this, [this] { SaveBtnClick(); }); });
  connect(QuitBtn, &QAbstractButton::clicked, this,
          [this] { Guarded(this, [this] { QuitBtnClick(); }); });
}

std::array<TColourBox*, 5> TColourForm::Boxes() const {
  return {ColorBox1, ColorBox2, ColorBox3, ColorBox4, ColorBox5};
}

void TColourForm::FormCreate() {
  const std::array<QString*, 5> settings = Settings();
  for (int i = 0; i < 5; ++i) {
    original_[i] = *settings[i];
    try {
      Boxes()[i]->SetSelected(StringToColor(original_[i]));
      readable_[i] = true;
    } catch (...) {
      // Reported; the box shows black and the text is kept unless changed.
      LogCurrentException(this);
    }
  }
  ColorBoxChange();
}

void TColourForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) Guarded(this, [this] { FormShow(); });
}

void TColourForm::FormShow() {
  const TProcessValues& g = Globals();
  const QColor grad1 = ColorTextToQColor(g.Grad1Str);
  const QColor grad2 = ColorTextToQColor(g.Grad2Str);
  SaveBtn->SetGradient(grad2, grad1);
  QuitBtn->SetGradient(grad2, grad1);
  SetBackground(AltLabel, ColorTextToQColor(g.Grad4Str));
  SetBackground(CurrentCol, ColorTextToQColor(g.StartColStr));
}

void TColourForm::ColorBoxChange() {
  if (ColorBox5 == nullptr) return;  // still building
  const QColor c1 = ColorToQColor(ColorBox1->Selected());
  const QColor c2 = ColorToQColor(ColorBox2->Selected());
  HeadPanel->SetColors(c1, c2);
  SetBackground(GridNotes, ColorToQColor(ColorBox3->Selected()));
  SetBackground(AltLabel, ColorToQColor(ColorBox4->Selected()));
  SetBackground(CurrentCol, ColorToQColor(ColorBox5->Selected()));
  SaveBtn->SetGradient(c2, c1);
  QuitBtn->SetGradient(c2, c1);
}

std::array<QString, 5> TColourForm::ChosenTexts() const {
  std::array<QString, 5> texts;
  for (int i = 0; i < 5; ++i) {
    texts[i] = (readable_[i] || touched_[i]) ? ColorToString(Boxes()[i]->Selected()) : original_[i];
  }
  return texts;
}

void TColourForm::SaveBtnClick() {
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  const std::array<QString, 5> texts = ChosenTexts();
  const std::array<QString*, 5> settings = Settings();
  for (int i = 0; i < 5; ++i) *settings[i] = texts[i];
  QGuiApplication::restoreOverrideCursor();
  accept();
}

void TColourForm::QuitBtnClick() { reject(); }

bool ShowColourForm(QWidget* owner, const std::function<void()>& reapply) {
  int result = QDialog::Rejected;
  {
    TColourForm form(owner);
    result = form.exec();
  }
  if (reapply) Guarded(owner, reapply);
  return result == QDialog::Accepted;
}

}  // namespace tarn
