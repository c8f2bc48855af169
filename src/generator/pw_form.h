// The generator window: the user picks the key file, types the string and the
// number, and sees the derived password, which is also put on the clipboard.
// Every change of the Number box derives again. Copy and Close is the only
// writer of Globals().GeneratedPassword; closing any other way leaves it alone.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace tarn {

class TCaptionShapeButton;
class TGradientPanel;
class THintStatusBar;

class TPWform : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 434;
  static constexpr int kClientHeight = 428;
  static constexpr int kStatusHeight = 19;

  explicit TPWform(QWidget* owner = nullptr);

  void SelectBtnClick();
  void EdOffsetChange();
  void OKbtnClick() { EdOffsetChange(); }
  void CopyBtnClick();
  void HelpBtnClick();
  void BodyPanelClick();

  // The help text shown by the Help button.
  static QString HelpText();

  TGradientPanel* BodyPanel = nullptr;
  QLabel* Label1 = nullptr;
  TCaptionShapeButton* SelectBtn = nullptr;
  QLineEdit* EdFile = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label5 = nullptr;
  QLineEdit* EdModifier = nullptr;
  QLabel* LblOff = nullptr;
  QLabel* Label4 = nullptr;
  QLineEdit* EdOffset = nullptr;
  TCaptionShapeButton* HelpBtn = nullptr;
  TCaptionShapeButton* CopyBtn = nullptr;
  TCaptionShapeButton* OKbtn = nullptr;
  QLabel* Label2 = nullptr;
  QPlainTextEdit* pwdMemo = nullptr;
  THintStatusBar* StatusBar = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  QString MemoText() const;
};

// Creates the window for one use, shows it modally and discards it.
void ShowPasswordGenerator(QWidget* owner);

}  // namespace tarn
