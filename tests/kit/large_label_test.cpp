#include "kit/large_label.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTest>

#include "kit/drop_shadow.h"

namespace tarn {
namespace {

TEST(LargeLabelTest, LeansBackOnAnExtrudedSideAndFitsItsText) {
  QWidget ground;
  ground.setStyleSheet("background: white");
  ground.resize(400, 100);
  auto* label = new TLargeLabel("Headers", &ground);
  label->setFont(QFont("Arial", 24));
  label->SetTextColor(Qt::black);
  label->SetDepthColor(Qt::red);
  label->SetDepth(3);
  const QSize fitted = label->size();
  EXPECT_EQ(fitted, label->sizeHint());
  label->SetCaption("Grid & Notes Color");
  EXPECT_GT(label->width(), fitted.width());

  // The face is narrower at the top than at the base.
  const QRectF face = label->FacePath().boundingRect();
  EXPECT_TRUE(label->rect().contains(face.toAlignedRect()));
  const QImage image = ground.grab().toImage();
  auto row_span = [&](int y) {
    int first = -1, last = -1;
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.red() < 60 && c.green() < 60) {
        if (first < 0) first = x;
        last = x;
      }
    }
    return std::make_pair(first, last);
  };
  const auto top = row_span(static_cast<int>(face.top()) + 3);
  const auto base = row_span(static_cast<int>(face.bottom()) - 8);
  ASSERT_GE(top.first, 0);
  ASSERT_GE(base.first, 0);
  EXPECT_GT(top.first, base.first);
  // The depth colour shows below and right of the face.
  bool depth_seen = false;
  for (int y = 0; y < image.height() && !depth_seen; ++y)
    for (int x = 0; x < image.width() && !depth_seen; ++x) {
      const QColor c = image.pixelColor(x, y);
      depth_seen = c.red() > 200 && c.green() < 60 && c.blue() < 60;
    }
  EXPECT_TRUE(depth_seen);
}

TEST(DropShadowTest, FollowsItsWindowOffsetByItsDepth) {
  QWidget window;
  window.setGeometry(100, 120, 300, 200);
  TDropShadow* shadow = AddDropShadow(&window, 5);
  EXPECT_EQ(shadow->parent(), &window);
  EXPECT_FALSE(shadow->isVisible());
  window.show();
  EXPECT_TRUE(shadow->isVisible());
  EXPECT_EQ(shadow->geometry(), window.frameGeometry().translated(5, 5));
  EXPECT_FALSE(shadow->isActiveWindow());
  window.move(140, 160);
  window.resize(320, 240);
  EXPECT_EQ(shadow->geometry(), window.frameGeometry().translated(5, 5));
  // Only the strips beyond the window's right and bottom edges.
  const QRegion mask = shadow->mask();
  EXPECT_FALSE(mask.contains(QPoint(10, 10)));
  EXPECT_TRUE(mask.contains(QPoint(shadow->width() - 1, shadow->height() / 2)));
  EXPECT_TRUE(mask.contains(QPoint(shadow->width() / 2, shadow->height() - 1)));
  EXPECT_FALSE(mask.contains(QPoint(shadow->width() - 1, 0)));
  EXPECT_FALSE(mask.contains(QPoint(0, shadow->height() - 1)));
  window.hide();
  EXPECT_FALSE(shadow->isVisible());
}

}  // namespace
}  // namespace tarn
