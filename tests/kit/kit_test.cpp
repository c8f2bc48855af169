#include <gtest/gtest.h>

#include <QDialog>
#include <QEnterEvent>
#include <QImage>
#include <QSet>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include "kit/gradient_panel.h"
#include "kit/hint_status_bar.h"
#include "kit/glyph.h"
#include "kit/shape_button.h"
#include "kit/twinkle_label.h"

namespace tarn {
namespace {

QImage Render(QWidget& w) { return w.grab().toImage().convertToFormat(QImage::Format_RGB32); }

TEST(GradientPanelTest, RunsFromTheTopRightCornerInFiftySteps) {
  TGradientPanel panel;
  panel.resize(300, 46);
  panel.SetColors(QColor(0, 0, 255), QColor(0, 255, 0));
  EXPECT_EQ(panel.StepColor(0), QColor(0, 0, 255));
  EXPECT_EQ(panel.StepColor(TGradientPanel::kColorSteps - 1), QColor(0, 255, 0));

  const QImage image = Render(panel);
  const int w = image.width();
  const int h = image.height();
  // Inside the two bevel lines: the top-right corner holds the start colour,
  // the bottom-left corner the end colour.
  EXPECT_EQ(QColor(image.pixel(w - 3, 2)), QColor(0, 0, 255));
  EXPECT_EQ(QColor(image.pixel(2, h - 3)), QColor(0, 255, 0));
  // Along a row the colour only ever moves towards the end colour, in at most
  // fifty distinct bands.
  QSet<QRgb> bands;
  int previous_green = -1;
  for (int x = w - 3; x >= 2; --x) {
    const QColor c(image.pixel(x, h / 2));
    EXPECT_GE(c.green(), previous_green);
    previous_green = c.green();
    bands.insert(c.rgb());
  }
  EXPECT_LE(bands.size(), TGradientPanel::kColorSteps);
  EXPECT_GT(bands.size(), 40);
  // Bands are diagonal: one step right and one step down give the same colour.
  EXPECT_EQ(image.pixel(100, 10), image.pixel(101, 11));
}

TEST(GradientPanelTest, RaisedOuterAndLoweredInnerBevel) {
  TGradientPanel panel;
  panel.resize(120, 40);
  const QColor light = panel.palette().color(QPalette::Light);
  const QColor dark = panel.palette().color(QPalette::Dark);
  const QImage image = Render(panel);
  EXPECT_EQ(image.pixel(10, 0), light.rgb());
  EXPECT_EQ(image.pixel(0, 10), light.rgb());
  EXPECT_EQ(image.pixel(10, 39), dark.rgb());
  EXPECT_EQ(image.pixel(119, 10), dark.rgb());
  EXPECT_EQ(image.pixel(10, 1), dark.rgb());
  EXPECT_EQ(image.pixel(10, 38), light.rgb());
}

TEST(ShapeButtonTest, TurnsTheHoverColourUnderTheMouseAndClicks) {
  TShapeButton button;
  button.resize(40, 24);
  button.SetGradient(QColor(0, 0, 128), QColor(0, 0, 128));
  button.SetHoverColor(QColor(255, 0, 255));
  button.SetHint("Copy");
  EXPECT_EQ(button.toolTip(), "Copy");
  EXPECT_EQ(button.statusTip(), "Copy");
  button.show();

  const QPoint middle(18, 10);
  EXPECT_EQ(QColor(Render(button).pixel(middle)), QColor(0, 0, 128));
  const QPointF at(middle);
  QEnterEvent enter(at, at, at);
  QCoreApplication::sendEvent(&button, &enter);
  EXPECT_TRUE(button.IsHovered());
  EXPECT_EQ(QColor(Render(button).pixel(middle)), QColor(255, 0, 255));
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(&button, &leave);
  EXPECT_EQ(QColor(Render(button).pixel(middle)), QColor(0, 0, 128));

  QSignalSpy clicked(&button, &QAbstractButton::clicked);
  QTest::mouseClick(&button, Qt::LeftButton, {}, middle);
  EXPECT_EQ(clicked.count(), 1);
}

TEST(ShapeButtonTest, CornersAreRoundedAndShadowed) {
  TShapeButton button;
  button.resize(40, 24);
  button.SetGradient(Qt::white, Qt::white);
  const QImage image = Render(button);
  const QColor background = button.palette().color(QPalette::Window);
  // The top-left corner lies outside the rounded shape.
  EXPECT_EQ(QColor(image.pixel(0, 0)), background);
  // The shadow shows below and right of the face, darker than the background.
  const QColor shadow(image.pixel(20, 23));
  EXPECT_LT(shadow.lightness(), background.lightness());
}

TEST(ShapeButtonTest, TakesTheFocusFromTheKeyboardAndSpaceOrEnterPressesIt) {
  // In a dialog, Enter on a focused button must press that button, not
  // close the dialog or go looking for a default push button.
  QDialog window;
  QSignalSpy closed(&window, &QDialog::finished);
  auto* first = new QLineEdit(&window);
  auto* button = new TShapeButton(&window);
  button->setGeometry(0, 30, 40, 24);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  first->setFocus();
  QTest::keyClick(first, Qt::Key_Tab);
  ASSERT_TRUE(button->hasFocus());
  QSignalSpy clicked(button, &QAbstractButton::clicked);
  QTest::keyClick(button, Qt::Key_Space);
  EXPECT_EQ(clicked.count(), 1);
  QTest::keyClick(button, Qt::Key_Return);
  QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(clicked.count(), 3);
  // Enter with a modifier is left to the window.
  QTest::keyClick(button, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(clicked.count(), 3);
  EXPECT_EQ(closed.count(), 0);
}

TEST(ShapeButtonTest, GlyphIsDrawnAtTheScreenScale) {
  // Half a logical pixel is one whole device pixel at 200 %: a glyph painted
  // from a 100 % bitmap would smear it into grey.
  TShapeButton button;
  button.resize(40, 24);
  button.SetGradient(Qt::white, Qt::white);
  button.SetGlyph(TGlyph{QSizeF(4, 4), [](QPainter& p) {
                           p.fillRect(QRectF(0, 0, 0.5, 0.5), Qt::black);
                         }});
  QImage image(button.size() * 2, QImage::Format_ARGB32);
  image.setDevicePixelRatio(2);
  image.fill(Qt::white);
  button.render(&image);
  // The glyph's box is centred on the face: its corner is device pixel 2 * (face centre - 2).
  const QPointF corner = QRectF(0.5, 0.5, 40 - 2 - 1.0, 24 - 2 - 1.0).center() - QPointF(2, 2);
  const QPoint device = (corner * 2).toPoint();
  EXPECT_EQ(QColor(image.pixel(device)), QColor(Qt::black));
  EXPECT_EQ(QColor(image.pixel(device + QPoint(1, 0))), QColor(Qt::white));
  // Icons draw the same glyph at the size they are asked for.
  const QIcon icon = GlyphIcon(button.Glyph());
  EXPECT_EQ(icon.pixmap(QSize(8, 8), 2.0).size(), QSize(16, 16));
}

TEST(TwinkleLabelTest, AlternatesWhileVisible) {
  QWidget window;
  auto* label = new TTwinkleLabel(&window);
  label->SetColors(Qt::red, Qt::white);
  EXPECT_EQ(label->Interval(), 500);
  EXPECT_FALSE(label->IsTwinkling());
  window.show();
  EXPECT_TRUE(label->IsTwinkling());
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::red));
  label->Twinkle();
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(Qt::white));
  label->Twinkle();
  EXPECT_EQ(label->CurrentColor(), QColor(Qt::red));
  label->hide();
  EXPECT_FALSE(label->IsTwinkling());
}

TEST(HintStatusBarTest, KeepsTheLastHint) {
  QWidget window;
  auto* bar = new THintStatusBar(&window);
  auto* child = new QWidget(&window);
  QStatusTipEvent tip("Hello");
  QCoreApplication::sendEvent(child, &tip);
  EXPECT_EQ(bar->Hint(), "Hello");
  QStatusTipEvent empty("");
  QCoreApplication::sendEvent(child, &empty);
  EXPECT_EQ(bar->currentMessage(), "Hello");
}

}  // namespace
}  // namespace tarn
