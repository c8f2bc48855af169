// The main window: creation (settings, program values, date formats, start-up
// password, repository), showing (panel gradients, grid colour, today's long
// date), resizing (grid columns follow the window width), closing (post, save
// settings) and destruction (write the start-up password, flush the table).
// The start-up password and the repository plug in through their seams.
#pragma once

#include <QMainWindow>
#include <memory>

#include "app/repository_seam.h"
#include "app/startup_password_seam.h"

class QAction;
class QMenu;
class QPlainTextEdit;
class QTableWidget;

namespace tarn {

class TGradientPanel;
class THintStatusBar;
class TShapeButton;
class TTwinkleLabel;

// A column width scaled from the previous to the current window width,
// rounded to the nearest pixel with halves away from zero.
int ScaleColumnWidth(int width, int current_window_width, int previous_window_width);

// The window size: the design size, but never larger than the available
// screen area less the window frame.
QSize FitWindowSize(QSize design, QSize frame, QSize available);

struct TMainFormParts {
  std::unique_ptr<TStartupPasswordSeam> startup_password = std::make_unique<TNoStartupPassword>();
  std::unique_ptr<TRepositorySeam> repository = std::make_unique<TNoRepository>();
};

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kDesignWidth = 1020;
  static constexpr int kDesignHeight = 760;
  // Frame assumed before the window is shown and its real frame is known.
  static constexpr int kFrameAllowanceWidth = 8;
  static constexpr int kFrameAllowanceHeight = 32;

  // Builds the controls, then runs FormCreate.
  explicit TMainForm(TMainFormParts parts = {}, QWidget* parent = nullptr);
  // Runs FormDestroy.
  ~TMainForm() override;

  void FormCreate();
  void FormShow();
  void FormResize();
  // Returns false when the window must stay open (a failed post).
  bool FormClose();
  void FormDestroy();

  TRepositorySeam& Repository() { return *parts_.repository; }
  TStartupPasswordSeam& StartupPassword() { return *parts_.startup_password; }

  // Controls, named by their role.
  TGradientPanel* HeadPanel = nullptr;
  TShapeButton* CopyBtn = nullptr;
  TShapeButton* GoBtn = nullptr;
  QTableWidget* PWgrid = nullptr;
  TGradientPanel* SubHead = nullptr;
  TTwinkleLabel* FlashPwd = nullptr;
  TShapeButton* PWbtn = nullptr;
  QPlainTextEdit* PWnote = nullptr;
  THintStatusBar* StatusBar = nullptr;

  // Main menu; the commands behind the entries are connected by their owners.
  QMenu* File1 = nullptr;
  QAction* SplashScreen = nullptr;
  QMenu* Config1 = nullptr;
  QAction* Colors1 = nullptr;
  QAction* UpGrade1 = nullptr;
  QAction* VersionCheck1 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* Tarn1 = nullptr;
  QAction* N11 = nullptr;
  QAction* Hints1 = nullptr;
  QMenu* Password1 = nullptr;
  QAction* Delete1 = nullptr;
  QAction* PWChange = nullptr;
  QAction* About1 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void BuildMenus();
  void PlaceRightAnchored();
  // Shrinks the window to the screen's available area and centres it there.
  void FitToScreen(QSize frame);

  TMainFormParts parts_;
  bool destroyed_ = false;
};

}  // namespace tarn
