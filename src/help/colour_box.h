// A colour box: a drop-down list of the sixteen standard colours, shown by
// their names without "cl" in bold type beside a swatch, after a custom entry
// that opens the colour chooser. A colour outside the list shows as the
// custom entry and keeps its exact value, so a system colour survives a
// round trip. Values are colour values (00BBGGRR, system colours FF0000nn).
#pragma once

#include <QColor>
#include <QComboBox>
#include <functional>
#include <optional>

#include "app/colour_text.h"

namespace tarn {

// The system's colour chooser, behind a seam so tests can answer it.
// nullopt when the user cancels.
using TColourChooser = std::function<std::optional<QColor>(QWidget* parent, const QColor& initial)>;

// Installs `chooser` for its lifetime; installations nest.
class TScopedColourChooser {
 public:
  explicit TScopedColourChooser(TColourChooser chooser);
  ~TScopedColourChooser();
  TScopedColourChooser(const TScopedColourChooser&) = delete;
  TScopedColourChooser& operator=(const TScopedColourChooser&) = delete;

 private:
  TColourChooser previous_;
};

class TColourBox : public QComboBox {
  Q_OBJECT

 public:
  static constexpr int kCustomIndex = 0;
  static constexpr int kStandardCount = 16;

  explicit TColourBox(QWidget* parent = nullptr);

  // Selects `color`: its standard entry, else the custom entry holding it.
  void SetSelected(TColor color);
  TColor Selected() const;

  // The colour value of the standard entry `index` (1 .. 16).
  static TColor StandardColor(int index);

 signals:
  // Any change of the selected colour, by the user or by SetSelected.
  void ColourChanged();

 private:
  void Activated(int index);
  void SetCustom(TColor color);

  TColor custom_ = 0;
  TColor selected_ = 0;
};

// Colour value of an RGB colour picked in a chooser (00BBGGRR).
TColor QColorToColor(const QColor& color);

}  // namespace tarn
