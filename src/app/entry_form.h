// The start-up password dialog. Created during main window creation; it
// reads the stored password into the in-memory value (showing the default
// password's notice once when none is stored) and asks for it once. Every
// failure (wrong text, Cancel, Alt+F4 or any other attempt to close it)
// requests termination and closes the dialog; there is no second attempt.
#pragma once

#include <QDialog>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarn {

class TGradientPanel;
class THintStatusBar;

class TEntryForm : public QDialog {
  Q_OBJECT

 public:
  // The dialog is 366 x 169 with the status bar along its bottom.
  static constexpr int kClientWidth = 366;
  static constexpr int kClientHeight = 169;
  static constexpr int kStatusHeight = 19;

  explicit TEntryForm(QWidget* owner = nullptr);

  void FormCreate();
  void OKBtnClick();
  void CancelBtnClick();
  // Key preview: sees every key before the controls. Returns true when the
  // key was used up here.
  bool FormKeyDown(QKeyEvent* event);

  TGradientPanel* BodyPanel = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* PasswordInfo = nullptr;
  QPushButton* OKBtn = nullptr;
  QPushButton* CancelBtn = nullptr;
  THintStatusBar* StatusBar = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void BuildControls();
  void Fail();
  void RefuseClose();

  bool decided_ = false;
};

}  // namespace tarn
