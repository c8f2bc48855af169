// The main window: creation (settings, program values, date formats, start-up
// password, repository), showing (panel gradients, grid colour, today's long
// date), resizing (grid columns follow the window width), closing (post, save
// settings) and destruction (write the start-up password, flush the table).
// The start-up password and the repository plug in through their seams.
#pragma once

#include <QMainWindow>
#include <functional>
#include <map>
#include <memory>

#include "app/repository_seam.h"
#include "app/startup_password_seam.h"

class QAction;
class QMenu;
class QPlainTextEdit;
class QToolButton;

namespace cairn {
class TCairnQuery;
}

namespace tarn {

class TGradientPanel;
class THintStatusBar;
class TMainForm;
class TPwdGrid;
class TShapeButton;
class TTwinkleLabel;

// A column width scaled from the previous to the current window width,
// rounded to the nearest pixel with halves away from zero.
int ScaleColumnWidth(int width, int current_window_width, int previous_window_width);

// The window size: the design size, but never larger than the available
// screen area less the window frame.
QSize FitWindowSize(QSize design, QSize frame, QSize available);

// Menu entries whose windows live outside the main window's library.
enum class TMenuCommand {
  kSplashScreen,  // File - Splash Screen: the compatibility text
  kColors,        // Configure - Colors: the colour dialog
  kUpgrade,       // Configure - Upgrade: the updater
  kVersionCheck,  // Configure - Version Check
  kAboutText,     // Help - About: the about-the-program text
  kBeginners,     // Help - Beginners
  kHints,         // Help - Hints
  kAboutWindow,   // About: the about window
};

struct TMainFormParts {
  std::unique_ptr<TStartupPasswordSeam> startup_password = std::make_unique<TNoStartupPassword>();
  std::unique_ptr<TRepositorySeam> repository = std::make_unique<TNoRepository>();
  // Shows the generator dialog modally (GoBtn); none: the question only.
  std::function<void(QWidget* owner)> run_generator;
  // What the menu entries open; an entry without a command does nothing.
  std::map<TMenuCommand, std::function<void(TMainForm&)>> menu_commands;
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
  // Panel gradients, grid and memo backgrounds from the colour settings.
  void ApplyColours();
  void FormResize();
  // Returns false when the window must stay open (a failed post).
  bool FormClose();
  void FormDestroy();

  TRepositorySeam& Repository() { return *parts_.repository; }
  // The live query `Pwd`, or none.
  cairn::TCairnQuery* Query() const;

  // Event handlers (each also reachable from its control).
  void PWgridEnter();
  void PWgridExit();
  void PWgridTitleClick();
  void PwdAfterScroll();
  void NavigatorClick(int button);
  void CopyBtnClick();
  void GoBtnClick();
  void Delete1Click();
  void PWnoteDblClick();
  void PopUpCopyClick();
  void PopUpCutClick();
  void PopUpPasteClick();
  void MenuCommandClick(TMenuCommand command);
  // The control the pop-up menu acts on (PWgrid or PWnote).
  void SetPopupTarget(QWidget* control) { popup_target_ = control; }
  TStartupPasswordSeam& StartupPassword() { return *parts_.startup_password; }

  // Controls, named by their role.
  TGradientPanel* HeadPanel = nullptr;
  TShapeButton* CopyBtn = nullptr;
  TShapeButton* GoBtn = nullptr;
  static constexpr int kNavigatorButtons = 9;
  QWidget* DBNavigator10 = nullptr;
  QToolButton* NavButtons[kNavigatorButtons] = {};
  TPwdGrid* PWgrid = nullptr;
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
  QMenu* PopupMenu1 = nullptr;
  QAction* PopUpCopy = nullptr;
  QAction* PopUpCut = nullptr;
  QAction* PopUpPaste = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  void BuildMenus();
  void PlaceRightAnchored();
  // Shrinks the window to the screen's available area and centres it there.
  void FitToScreen(QSize frame);

  QWidget* BuildNavigator(QWidget* parent);
  void BindQuery();
  void UnbindQuery();
  // The navigator's buttons follow the query's state and position.
  void UpdateNavigator();
  bool HasCurrentRecord() const;
  // SubHead shows the current record's Item (empty for a new record).
  void ShowItemCaption();
  // The notes memo shows the current record's Details; typed changes go into
  // the record when the memo is left or a command needs the record.
  void LoadNote();
  void UpdateRecordFromNote();
  // What was typed in the grid's cell editor and the notes goes into the record.
  void UpdateRecordFromControls();
  QString NoteSelection() const;
  void OnFocusChanged(QWidget* old_widget, QWidget* now);
  void ShowPopup(QWidget* control, const QPoint& at);

  TMainFormParts parts_;
  bool destroyed_ = false;
  int query_observer_ = 0;
  bool loading_note_ = false;
  bool note_modified_ = false;
  QWidget* popup_target_ = nullptr;
};

}  // namespace tarn
