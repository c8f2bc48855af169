// The help information window: one topic as editable text under a twinkling
// heading, with copy, print and close. A new window serves each showing; it
// starts with an empty box, appends HelpText when shown and takes the box's
// first line as its heading. Copy puts the box's current text (edits
// included) on the clipboard; print hands HelpText, not the box, to the help
// printout. The close button holds the focus, so Enter closes the window
// until the user clicks into the text.
#pragma once

#include <QDialog>

class QPushButton;
class QTextEdit;

namespace tarn {

class TGradientPanel;
class THintStatusBar;
class TShapeButton;
class TTwinkleLabel;

class TMsgForm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kWidth = 800;
  static constexpr int kHeight = 600;
  static constexpr int kHeadHeight = 45;
  static constexpr int kStatusHeight = 19;
  static constexpr int kTwinkleMilliseconds = 2000;

  explicit TMsgForm(QWidget* owner = nullptr);

  void FormShow();
  void CopyBtnClick();
  void PrintBtnClick();
  void CloseBtnClick();

  TGradientPanel* HeadPanel = nullptr;
  TShapeButton* CopyBtn = nullptr;
  TShapeButton* PrintBtn = nullptr;
  TTwinkleLabel* FlashHelp = nullptr;
  QPushButton* CloseBtn = nullptr;
  QTextEdit* HMsg = nullptr;
  THintStatusBar* StatusBar1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildControls();
  void ApplyColours();
  bool shown_ = false;
};

enum class THelpTopic;

// A help command: sets HelpText to the topic, shows a new window modally with
// `owner` as its owner and discards it.
void ShowHelpTopic(QWidget* owner, THelpTopic topic);

}  // namespace tarn
