// The about window: the publisher, the program's banner and version on a
// white panel over the colour gradient, the operating system and the
// machine's physical memory below it, and OK.
#pragma once

#include <QDialog>

class QLabel;

namespace tarn {

class TGradientPanel;
class THintStatusBar;
class TShapeButton;

class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kWidth = 644;
  static constexpr int kHeight = 523;
  static constexpr int kStatusHeight = 19;

  explicit TAboutForm(QWidget* owner = nullptr);

  void FormCreate();
  void FormShow();
  void CloseBtnClick();

  TGradientPanel* BodyPanel = nullptr;
  QWidget* ForeGroundPanel = nullptr;
  QLabel* Heading = nullptr;
  QLabel* Label48 = nullptr;
  QLabel* Bible = nullptr;
  QLabel* ProgramIcon = nullptr;
  QLabel* VersionLabel = nullptr;
  QLabel* VerLab = nullptr;
  QLabel* OS = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* PhysMem = nullptr;
  TShapeButton* CloseBtn = nullptr;
  THintStatusBar* StatusBar = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void ApplyButtonColours();
};

// The About command: a new window, modal, owned by `owner`, then discarded.
void ShowAboutForm(QWidget* owner);

// The banner picture drawn on the about window.
QPixmap AboutBanner(const QSize& size);

}  // namespace tarn
