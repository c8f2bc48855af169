// The colour dialog: five colour boxes for the five colour settings, a live
// preview of all five on any change, Save (the settings in order, Grad1Str
// first) and Quit. It changes only the in-memory settings; the main window
// writes them to the settings file when it closes.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <functional>

class QLabel;
class QWidget;

namespace tarn {

class TColourBox;
class TGradientPanel;
class THintStatusBar;
class TLargeLabel;
class TShapeButton;

class TColourForm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kWidth = 360;
  static constexpr int kHeight = 342;
  static constexpr int kHeadHeight = 112;
  static constexpr int kStatusHeight = 19;

  explicit TColourForm(QWidget* owner = nullptr);

  void FormShow();
  // The one handler for a change of any of the five boxes.
  void ColorBoxChange();
  void SaveBtnClick();
  void QuitBtnClick();

  // The colour texts Save would store, Grad1Str first, StartColStr last.
  std::array<QString, 5> ChosenTexts() const;

  TGradientPanel* HeadPanel = nullptr;
  TLargeLabel* GraphicLabel3 = nullptr;
  TColourBox* ColorBox1 = nullptr;
  TColourBox* ColorBox2 = nullptr;
  TShapeButton* SaveBtn = nullptr;
  QWidget* GridNotes = nullptr;
  TLargeLabel* GraphicLabel1 = nullptr;
  TColourBox* ColorBox3 = nullptr;
  QLabel* AltLabel = nullptr;
  TColourBox* ColorBox4 = nullptr;
  QLabel* CurrentCol = nullptr;
  TColourBox* ColorBox5 = nullptr;
  TShapeButton* QuitBtn = nullptr;
  THintStatusBar* StatusBar = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void FormCreate();
  std::array<TColourBox*, 5> Boxes() const;

  // The settings as they were when the dialog opened, and whether each box
  // was touched since: a text the boxes cannot show is kept when untouched.
  std::array<QString, 5> original_;
  std::array<bool, 5> readable_{};
  std::array<bool, 5> touched_{};
};

// The Colors command: shows the dialog modally with `owner` as its owner,
// then, however it closed, calls `reapply` so the owner repaints with the
// settings. Returns whether the user saved.
bool ShowColourForm(QWidget* owner, const std::function<void()>& reapply = {});

}  // namespace tarn
