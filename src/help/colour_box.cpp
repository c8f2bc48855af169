#include "help/colour_box.h"

#include <QColorDialog>
#include <QPainter>
#include <array>

namespace tarn {
namespace {

// The standard colours in the order the list shows them.
constexpr std::array<TColor, TColourBox::kStandardCount> kStandard = {
    0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0x808080,
    0xC0C0C0, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};

std::optional<QColor> SystemChooser(QWidget* parent, const QColor& initial) {
  const QColor chosen = QColorDialog::getColor(initial, parent);
  if (!chosen.isValid()) return std::nullopt;
  return chosen;
}

TColourChooser& Chooser() {
  static TColourChooser chooser = SystemChooser;
  return chooser;
}

QIcon Swatch(const QColor& color) {
  QPixmap pixmap(16, 12);
  pixmap.fill(color);
  QPainter painter(&pixmap);
  painter.setPen(Qt::black);
  painter.drawRect(0, 0, 15, 11);
  return QIcon(pixmap);
}

}  // namespace

TScopedColourChooser::TScopedColourChooser(TColourChooser chooser) : previous_(Chooser()) {
  Chooser() = std::move(chooser);
}

TScopedColourChooser::~TScopedColourChooser() { Chooser() = std::move(previous_); }

TColor QColorToColor(const QColor& color) {
  return static_cast<TColor>(color.red()) | (static_cast<TColor>(color.green()) << 8) |
         (static_cast<TColor>(color.blue()) << 16);
}

TColor TColourBox::StandardColor(int index) { return kStandard.at(index - 1); }

TColourBox::TColourBox(QWidget* parent) : QComboBox(parent) {
  QFont bold(QStringLiteral("Sans Serif"), 8);
  bold.setBold(true);
  setFont(bold);
  addItem(QStringLiteral("Custom..."));
  for (int i = 1; i <= kStandardCount; ++i) {
    const TColor value = StandardColor(i);
    addItem(Swatch(ColorToQColor(value)), ColorToIdent(value).value_or(QString()).mid(2));
  }
  SetSelected(0);
  connect(this, &QComboBox::activated, this, &TColourBox::Activated);
}

void TColourBox::SetCustom(TColor color) {
  custom_ = color;
  setItemIcon(kCustomIndex, Swatch(ColorToQColor(color)));
}

void TColourBox::SetSelected(TColor color) {
  int index = kCustomIndex;
  for (int i = 1; i <= kStandardCount; ++i) {
    if (StandardColor(i) == color) index = i;
  }
  if (index == kCustomIndex) SetCustom(color);
  selected_ = color;
  setCurrentIndex(index);
  emit ColourChanged();
}

TColor TColourBox::Selected() const { return selected_; }

void TColourBox::Activated(int index) {
  if (index == kCustomIndex) {
    const std::optional<QColor> chosen = Chooser()(this, ColorToQColor(custom_));
    // A cancelled chooser leaves the selection as it was.
    SetSelected(chosen ? QColorToColor(*chosen) : selected_);
    return;
  }
  SetSelected(StandardColor(index));
}

}  // namespace tarn
