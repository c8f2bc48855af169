#include "app/main_form.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "app/colour_text.h"
#include "app/date_formats.h"
#include "app/exception_log.h"
#include "app/main_icons.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include "app/pwd_grid.h"
#include "app/pwd_grid_model.h"
#include "app/record_commands.h"
#include "app/settings.h"
#include "app/termination.h"
#include "kit/glyph.h"
#include "kit/gradient_panel.h"
#include "kit/hint_status_bar.h"
#include "kit/shape_button.h"
#include "kit/twinkle_label.h"
#include "storage/access/dataset_query.h"

namespace tarn {
namespace {

struct TColumn {
  const char* field;
  int width;
  Qt::Alignment alignment;
};

const TColumn kColumns[] = {
    {"Item", 193, Qt::AlignLeft | Qt::AlignVCenter},
    {"Date", 104, Qt::AlignRight | Qt::AlignVCenter},
    {"User", 153, Qt::AlignLeft | Qt::AlignVCenter},
    {"PW", 374, Qt::AlignLeft | Qt::AlignVCenter},
    {"Web", 151, Qt::AlignLeft | Qt::AlignVCenter},
};

// Glyphs of the three head buttons; their drawings are free.
TGlyph CopyGlyph() {
  return {QSizeF(16, 14), [](QPainter& p) {
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(1.5, 1.5, 8, 9));
            p.drawRect(QRectF(6.5, 3.5, 8, 9));
          }};
}

TGlyph GenerateGlyph() {
  return {QSizeF(18, 14), [](QPainter& p) {
            p.setPen(QPen(Qt::black, 1.5));
            p.setBrush(QColor(0xFF, 0xD7, 0x00));
            p.drawEllipse(QRectF(1, 3, 7, 7));
            p.drawLine(QPointF(8, 6.5), QPointF(17, 6.5));
            p.drawLine(QPointF(14, 6.5), QPointF(14, 10));
            p.drawLine(QPointF(16, 6.5), QPointF(16, 9));
          }};
}

TGlyph PrintGlyph() {
  return {QSizeF(14, 14), [](QPainter& p) {
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(3.5, 1.5, 7, 5));
            p.setBrush(QColor(0x60, 0x60, 0x60));
            p.drawRect(QRectF(1.5, 5.5, 11, 5));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(3.5, 8.5, 7, 4));
          }};
}

// The navigator's nine pictures: first, prior, next, last, insert, delete,
// post, cancel, refresh.
TGlyph NavigatorGlyph(int button) {
  return {QSizeF(12, 12), [button](QPainter& p) {
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            auto triangle = [&p](bool left, qreal x) {
              const QPointF points[3] = {left ? QPointF(x + 5, 1.5) : QPointF(x, 1.5),
                                         left ? QPointF(x, 6) : QPointF(x + 5, 6),
                                         left ? QPointF(x + 5, 10.5) : QPointF(x, 10.5)};
              p.drawPolygon(points, 3);
            };
            switch (button) {
              case 0:
                p.drawRect(QRectF(2, 1.5, 1.5, 9));
                triangle(true, 4.5);
                break;
              case 1:
                triangle(true, 3.5);
                break;
              case 2:
                triangle(false, 3.5);
                break;
              case 3:
                triangle(false, 2.5);
                p.drawRect(QRectF(8.5, 1.5, 1.5, 9));
                break;
              case 4:
                p.drawRect(QRectF(5.25, 1.5, 1.5, 9));
                p.drawRect(QRectF(1.5, 5.25, 9, 1.5));
                break;
              case 5:
                p.drawRect(QRectF(1.5, 5.25, 9, 1.5));
                break;
              case 6: {
                p.setPen(QPen(QColor(0, 0x80, 0), 2));
                const QPointF tick[3] = {{1.5, 6}, {4.5, 9.5}, {10.5, 2.5}};
                p.drawPolyline(tick, 3);
                break;
              }
              case 7:
                p.setPen(QPen(QColor(0xC0, 0, 0), 2));
                p.drawLine(QPointF(2, 2), QPointF(10, 10));
                p.drawLine(QPointF(10, 2), QPointF(2, 10));
                break;
              default: {
                p.setPen(QPen(QColor(0, 0x60, 0), 1.6));
                p.setBrush(Qt::NoBrush);
                p.drawArc(QRectF(1.5, 1.5, 9, 9), 60 * 16, 300 * 16);
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(0, 0x60, 0));
                const QPointF head[3] = {{7, 0.5}, {10.5, 2.5}, {7, 5}};
                p.drawPolygon(head, 3);
                break;
              }
            }
          }};
}

// The record navigator takes the keyboard focus as one control, since its
// buttons come and go with the position: Left and Right pick a button, Space
// presses it. The picked button shows a focus frame while the bar has focus.
class TNavigatorBar : public QWidget {
 public:
  explicit TNavigatorBar(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::StrongFocus); }

  void AddButton(QToolButton* button) { buttons_.push_back(button); }
  bool IsPicked(const QToolButton* button) const {
    return hasFocus() && picked_ >= 0 && picked_ < static_cast<int>(buttons_.size()) &&
           buttons_[picked_] == button;
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    const int count = static_cast<int>(buttons_.size());
    switch (event->key()) {
      case Qt::Key_Left:
      case Qt::Key_Right:
        picked_ = std::clamp(picked_ + (event->key() == Qt::Key_Left ? -1 : 1), 0, count - 1);
        RepaintButtons();
        return;
      case Qt::Key_Space:
        if (picked_ >= 0 && picked_ < count && buttons_[picked_]->isEnabled())
          buttons_[picked_]->click();
        return;
      default:
        QWidget::keyPressEvent(event);  // Enter goes on to the window
    }
  }
  void focusInEvent(QFocusEvent* event) override {
    QWidget::focusInEvent(event);
    RepaintButtons();
  }
  void focusOutEvent(QFocusEvent* event) override {
    QWidget::focusOutEvent(event);
    RepaintButtons();
  }

 private:
  void RepaintButtons() {
    for (QToolButton* button : buttons_) button->update();
  }

  std::vector<QToolButton*> buttons_;
  int picked_ = 0;
};

class TNavigatorButton : public QToolButton {
 public:
  TNavigatorButton(TNavigatorBar* bar) : QToolButton(bar), bar_(bar) {
    setFocusPolicy(Qt::NoFocus);
    setAutoRaise(false);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QToolButton::paintEvent(event);
    if (!bar_->IsPicked(this)) return;
    QPainter painter(this);
    // Drawn in the active text colour: the picked button may be a disabled one.
    QPen pen(palette().color(QPalette::Active, QPalette::WindowText), 1, Qt::DotLine);
    painter.setPen(pen);
    painter.drawRect(rect().adjusted(3, 3, -4, -4));
  }

 private:
  TNavigatorBar* bar_;
};

bool IsEditing(const cairn::TCairnQuery& query) {
  return query.State() == cairn::TDataSetState::dsEdit ||
         query.State() == cairn::TDataSetState::dsInsert;
}

TShapeButton* MakeButton(QWidget* parent, const char* name, const QRect& place, TGlyph glyph,
                         const QString& hint) {
  auto* button = new TShapeButton(parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(place);
  button->SetGlyph(std::move(glyph));
  button->SetHint(hint);
  return button;
}

void StyleHeadFont(TGradientPanel* panel) {
  QFont font = panel->font();
  font.setBold(true);
  font.setPixelSize(16);
  panel->setFont(font);
  QPalette p = panel->palette();
  p.setColor(QPalette::WindowText, Qt::white);
  panel->setPalette(p);
}

}  // namespace

int ScaleColumnWidth(int width, int current_window_width, int previous_window_width) {
  const long long numerator = static_cast<long long>(width) * current_window_width;
  const long long denominator = previous_window_width;
  // Halves away from zero, in whole numbers so that exact halves stay exact.
  const long long twice = 2 * numerator;
  const long long rounded = twice >= 0 ? (twice + denominator) / (2 * denominator)
                                       : -((-twice + denominator) / (2 * denominator));
  return static_cast<int>(rounded);
}

TMainForm::TMainForm(TMainFormParts parts, QWidget* parent)
    : QMainWindow(parent), parts_(std::move(parts)) {
  setObjectName(QStringLiteral("MainForm"));
  Globals().PreviousWidth = 0;  // not shown yet
  setWindowTitle(QStringLiteral(" Password Repository (Tarn)"));
  QFont base(QStringLiteral("MS Sans Serif"));
  base.setPixelSize(11);
  setFont(base);
  BuildControls();
  BuildMenus();
  connect(qApp, &QApplication::focusChanged, this, &TMainForm::OnFocusChanged);
  resize(kDesignWidth, kDesignHeight);
  FitToScreen(QSize(kFrameAllowanceWidth, kFrameAllowanceHeight));
  Guarded(this, [this] { FormCreate(); });
}

TMainForm::~TMainForm() {
  FormDestroy();
  // The grid lets go of the query before the store goes.
  UnbindQuery();
}

QSize FitWindowSize(QSize design, QSize frame, QSize available) {
  return QSize(std::max(1, std::min(design.width(), available.width() - frame.width())),
               std::max(1, std::min(design.height(), available.height() - frame.height())));
}

void TMainForm::FitToScreen(QSize frame) {
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect available = screen->availableGeometry();
  resize(FitWindowSize(size(), frame, available.size()));
  QRect outer(QPoint(0, 0), size() + frame);
  outer.moveCenter(available.center());
  move(outer.topLeft());
}

void TMainForm::BuildControls() {
  auto* body = new QWidget(this);
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  HeadPanel = new TGradientPanel(body);
  HeadPanel->setObjectName(QStringLiteral("HeadPanel"));
  HeadPanel->setFixedHeight(46);
  StyleHeadFont(HeadPanel);
  CopyBtn = MakeButton(HeadPanel, "CopyBtn", QRect(910, 12, 32, 22), CopyGlyph(),
                       QStringLiteral("Copy Current Record's Password to the ClipBoard"));
  GoBtn = MakeButton(HeadPanel, "GoBtn", QRect(952, 12, 32, 22), GenerateGlyph(),
                     QStringLiteral("Generate a complex Password for the current Grid Record"));
  column->addWidget(HeadPanel);

  DBNavigator10 = BuildNavigator(HeadPanel);

  PWgrid = new TPwdGrid(body);
  PWgrid->setObjectName(QStringLiteral("PWgrid"));
  QFont grid_font(QStringLiteral("Arial"));
  grid_font.setPixelSize(12);
  PWgrid->setFont(grid_font);
  QFont title_font(QStringLiteral("MS Sans Serif"));
  title_font.setPixelSize(11);
  PWgrid->horizontalHeader()->setFont(title_font);
  PWgrid->Model()->SetTitleFont(title_font);
  for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i)
    PWgrid->setColumnWidth(i, kColumns[i].width);
  PWgrid->setContextMenuPolicy(Qt::CustomContextMenu);
  PWgrid->OnEnter = [this] { PWgridEnter(); };
  connect(PWgrid->horizontalHeader(), &QHeaderView::sectionClicked, this,
          [this] { Guarded(this, [this] { PWgridTitleClick(); }); });
  connect(PWgrid, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { ShowPopup(PWgrid, PWgrid->viewport()->mapToGlobal(at)); });
  SetHint(PWgrid,
          QStringLiteral("Resize/move columns reqd;  \r\nClick Title to sort by current Column;  "
                         "\r\nF2 = Edit;  \r\nRight click = Cut/Copy/Paste;  \r\nDouble Click "
                         "specific columns"));
  column->addWidget(PWgrid, 1);

  SubHead = new TGradientPanel(body);
  SubHead->setObjectName(QStringLiteral("SubHead"));
  SubHead->setFixedHeight(46);
  StyleHeadFont(SubHead);
  FlashPwd = new TTwinkleLabel(SubHead);
  FlashPwd->setObjectName(QStringLiteral("FlashPwd"));
  FlashPwd->setGeometry(20, 15, 81, 16);
  FlashPwd->setText(QStringLiteral("Edits Disabled"));
  FlashPwd->setAlignment(Qt::AlignCenter);
  QFont flash_font(QStringLiteral("Georgia"));
  flash_font.setPixelSize(11);
  flash_font.setBold(false);  // not the panel's bold caption font
  FlashPwd->setFont(flash_font);
  // Substitute fonts can be wider than the intended face: never clip the text.
  FlashPwd->resize(std::max(81, FlashPwd->sizeHint().width()), 16);
  FlashPwd->SetColors(Qt::red, Qt::white);
  SetHint(FlashPwd, QStringLiteral("Flashing :=  Edits will NOT be saved."));
  FlashPwd->hide();
  PWbtn = MakeButton(SubHead, "PWbtn", QRect(970, 12, 22, 22), PrintGlyph(),
                     QStringLiteral("Print to File or Report"));
  column->addWidget(SubHead);

  PWnote = new QPlainTextEdit(body);
  PWnote->setObjectName(QStringLiteral("PWnote"));
  PWnote->setFixedHeight(100);
  QFont note_font(QStringLiteral("Arial"));
  note_font.setPixelSize(13);
  PWnote->setFont(note_font);
  PWnote->setLineWrapMode(QPlainTextEdit::NoWrap);
  PWnote->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  PWnote->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  SetHint(PWnote, QStringLiteral("Record Notes: Double click to append Date and Time. Right "
                                 "click to Cut/Copy/Paste hilighted text."));
  PWnote->setContextMenuPolicy(Qt::CustomContextMenu);
  PWnote->viewport()->installEventFilter(this);
  connect(PWnote, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { ShowPopup(PWnote, PWnote->mapToGlobal(at)); });
  connect(PWnote, &QPlainTextEdit::textChanged, this, [this] {
    if (!loading_note_) note_modified_ = true;
  });
  column->addWidget(PWnote);

  setCentralWidget(body);
  StatusBar = new THintStatusBar(this);
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  StatusBar->setFixedHeight(19);
  setStatusBar(StatusBar);
  HeadPanel->installEventFilter(this);
  SubHead->installEventFilter(this);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && (watched == HeadPanel || watched == SubHead))
    PlaceRightAnchored();
  if (event->type() == QEvent::MouseButtonDblClick && watched == PWnote->viewport()) {
    Guarded(this, [this] { PWnoteDblClick(); });
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::BuildMenus() {
  // Captions carry an ampersand before the letter that reaches them with Alt.
  auto action = [](QMenu* menu, const char* name, const char* caption, int icon) {
    QAction* a = menu->addAction(MainIcon(icon), QString::fromLatin1(caption));
    a->setObjectName(QString::fromLatin1(name));
    return a;
  };
  auto menu = [this](const char* name, const char* caption) {
    QMenu* m = menuBar()->addMenu(QString::fromLatin1(caption));
    m->setObjectName(QString::fromLatin1(name));
    return m;
  };
  File1 = menu("File1", "&File");
  SplashScreen = action(File1, "SplashScreen", "&Splash Screen", 6);
  Config1 = menu("Config1", "&Configure");
  Colors1 = action(Config1, "Colors1", "&Colors", 0);
  UpGrade1 = action(Config1, "UpGrade1", "&Upgrade", 19);
  VersionCheck1 = action(Config1, "VersionCheck1", "&Version Check", 1);
  Help1 = menu("Help1", "&Help");
  Tarn1 = action(Help1, "Tarn1", "&About", 2);
  N11 = action(Help1, "N11", "&Beginners", 16);
  Hints1 = action(Help1, "Hints1", "H&ints", 2);
  Password1 = menu("Password1", "&Password");
  Delete1 = action(Password1, "Delete1", "&Delete", 11);
  PWChange = action(Password1, "PWChange", "C&hange", 4);
  About1 = menuBar()->addAction(QStringLiteral("A&bout"));
  About1->setObjectName(QStringLiteral("About1"));
  SetHint(menuBar(), QString());
  About1->setStatusTip(QStringLiteral("Software & contact details."));
  About1->setToolTip(QStringLiteral("Software & contact details."));

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  PopUpCopy = PopupMenu1->addAction(QStringLiteral("&Copy"));
  PopUpCopy->setObjectName(QStringLiteral("PopUpCopy"));
  PopUpCut = PopupMenu1->addAction(QStringLiteral("Cu&t"));
  PopUpCut->setObjectName(QStringLiteral("PopUpCut"));
  PopUpPaste = PopupMenu1->addAction(QStringLiteral("&Paste"));
  PopUpPaste->setObjectName(QStringLiteral("PopUpPaste"));

  auto bind = [this](auto* sender, auto signal, void (TMainForm::*handler)()) {
    connect(sender, signal, this,
            [this, handler] { Guarded(this, [this, handler] { (this->*handler)(); }); });
  };
  bind(CopyBtn, &QAbstractButton::clicked, &TMainForm::CopyBtnClick);
  bind(GoBtn, &QAbstractButton::clicked, &TMainForm::GoBtnClick);
  bind(Delete1, &QAction::triggered, &TMainForm::Delete1Click);
  bind(PopUpCopy, &QAction::triggered, &TMainForm::PopUpCopyClick);
  bind(PopUpCut, &QAction::triggered, &TMainForm::PopUpCutClick);
  bind(PopUpPaste, &QAction::triggered, &TMainForm::PopUpPasteClick);
  // The help, colour, about and version windows are opened by the commands
  // the program entry hands over (see TMainFormParts::menu_commands).
  const std::pair<QAction*, TMenuCommand> hooks[] = {{SplashScreen, TMenuCommand::kSplashScreen},
                                                     {Colors1, TMenuCommand::kColors},
                                                     {UpGrade1, TMenuCommand::kUpgrade},
                                                     {VersionCheck1, TMenuCommand::kVersionCheck},
                                                     {Tarn1, TMenuCommand::kAboutText},
                                                     {N11, TMenuCommand::kBeginners},
                                                     {Hints1, TMenuCommand::kHints},
                                                     {About1, TMenuCommand::kAboutWindow}};
  for (const auto& [entry, command] : hooks) {
    connect(entry, &QAction::triggered, this,
            [this, command = command] { Guarded(this, [&] { MenuCommandClick(command); }); });
  }
}

void TMainForm::PlaceRightAnchored() {
  // The buttons keep the distance from the right edge they have at design width.
  auto keep = [](TShapeButton* button, TGradientPanel* panel, int design_left) {
    const int right_gap = kDesignWidth - design_left;
    button->move(panel->width() - right_gap, button->y());
  };
  keep(CopyBtn, HeadPanel, 910);
  keep(GoBtn, HeadPanel, 952);
  keep(PWbtn, SubHead, 970);
}

void TMainForm::FormCreate() {
  // Step 1: exceptions escaping event handlers already reach LogException,
  // through the application object and the guarded handlers of the windows.
  TProcessValues& g = Globals();
  LoadSettings(SettingsPath(), g);
  SetProgramValues();
  FixDateTimeFormats();
  g.StartupPassword = parts_.startup_password->Read();
  if (!g.StartupPassword.isEmpty()) {
    // A failed entry has already requested termination; creation goes on.
    parts_.startup_password->Ask(this);
    parts_.repository->Open(this);
  }
  BindQuery();
  FlashPwd->setVisible(!parts_.repository->IsLive());
  DBNavigator10->setFocus();
}

void TMainForm::FormShow() {
  TProcessValues& g = Globals();
  g.PreviousWidth = width();
  ApplyColours();
  HeadPanel->SetCaption(LongDateText(Now().date()));
}

void TMainForm::ApplyColours() {
  const TProcessValues& g = Globals();
  const QColor start = ColorTextToQColor(g.Grad1Str);
  const QColor end = ColorTextToQColor(g.Grad2Str);
  HeadPanel->SetColors(start, end);
  SubHead->SetColors(start, end);
  const QColor background = ColorTextToQColor(g.Grad3Str);
  QPalette p = PWnote->palette();
  p.setColor(QPalette::Base, background);
  PWnote->setPalette(p);
  PWgrid->SetColours(background, ColorTextToQColor(g.Grad4Str), ColorTextToQColor(g.StartColStr));
}

void TMainForm::FormResize() {
  TProcessValues& g = Globals();
  if (g.PreviousWidth <= 0) return;
  const int current = width();
  for (int i = 0; i < PWgrid->model()->columnCount(); ++i)
    PWgrid->setColumnWidth(i, ScaleColumnWidth(PWgrid->columnWidth(i), current, g.PreviousWidth));
  g.PreviousWidth = current;
}

bool TMainForm::FormClose() {
  try {
    UpdateRecordFromControls();
    if (parts_.repository->IsEditing()) parts_.repository->Post();
  } catch (...) {
    // The record stays in edit state and the window stays open.
    LogCurrentException(this);
    return false;
  }
  try {
    SaveSettings(SettingsPath(), Globals());
  } catch (...) {
    // Reported, and the window still closes: the user must be able to leave.
    LogCurrentException(this);
  }
  return true;
}

void TMainForm::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  try {
    parts_.startup_password->Write(Globals().StartupPassword);
  } catch (...) {
    // A registry error on write-back is ignored.
  }
  Guarded(this, [this] {
    if (parts_.repository->IsOpen()) parts_.repository->FlushBuffers();
  });
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The real frame is known once shown: keep the whole window on the screen.
  const QSize frame = frameGeometry().size() - size();
  if (!event->spontaneous() && frame.isValid() && !frame.isNull()) FitToScreen(frame);
  if (!event->spontaneous()) Guarded(this, [this] { FormShow(); });
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  Guarded(this, [this] { FormResize(); });
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // Ending through termination skips the close step.
  if (TerminationRequested() || FormClose()) {
    event->accept();
  } else {
    event->ignore();
  }
}

QWidget* TMainForm::BuildNavigator(QWidget* parent) {
  // The toolkit's hints for its nine buttons (there is no edit button).
  static const char* const kHints[kNavigatorButtons] = {
      "First record",  "Prior record", "Next record", "Last record", "Insert record",
      "Delete record", "Post edit",    "Cancel edit", "Refresh data"};
  auto* navigator = new TNavigatorBar(parent);
  navigator->setObjectName(QStringLiteral("DBNavigator10"));
  navigator->setGeometry(21, 11, 180, 24);
  for (int i = 0; i < kNavigatorButtons; ++i) {
    auto* button = new TNavigatorButton(navigator);
    navigator->AddButton(button);
    button->setObjectName(QStringLiteral("NavButton%1").arg(i));
    button->setGeometry(i * 20, 0, 20, 24);
    button->setIcon(GlyphIcon(NavigatorGlyph(i)));
    button->setIconSize(QSize(12, 12));
    SetHint(button, QString::fromLatin1(kHints[i]));
    connect(button, &QToolButton::clicked, this,
            [this, i] { Guarded(this, [this, i] { NavigatorClick(i); }); });
    NavButtons[i] = button;
  }
  return navigator;
}

cairn::TCairnQuery* TMainForm::Query() const { return parts_.repository->Query(); }

void TMainForm::NavigatorClick(int button) {
  cairn::TCairnQuery* query = Query();
  if (query == nullptr) return;
  UpdateRecordFromControls();
  switch (button) {
    case 0:
      query->First();
      break;
    case 1:
      query->Prior();
      break;
    case 2:
      query->Next();
      break;
    case 3:
      query->Last();
      break;
    case 4:
      if (IsEditing(*query)) query->Post();
      PWgrid->Model()->SetInsertRow(std::max(0, PWgrid->Model()->CurrentRow()));
      query->Insert();
      break;
    case 5:
      if (!query->Active()) {
        query->Delete();  // the closed query says why
      } else if (AskConfirmation(this, QStringLiteral("Delete record?"), TMsgButtons::kOkCancel) ==
                 TMsgResult::kOk) {
        query->Delete();
      }
      break;
    case 6:
      query->Post();
      break;
    case 7:
      query->Cancel();
      LoadNote();
      break;
    default:
      query->Refresh();
      break;
  }
}

void TMainForm::BindQuery() {
  cairn::TCairnQuery* query = Query();
  PWgrid->Model()->SetQuery(query);
  UpdateNavigator();
  if (query == nullptr) return;
  // The current record moved, or the records were re-read: caption and notes follow.
  query_observer_ = query->AddObserver([this](cairn::TDataEvent event) {
    UpdateNavigator();
    switch (event) {
      case cairn::TDataEvent::deDataSetScroll:
      case cairn::TDataEvent::deLayoutChange:
        PwdAfterScroll();
        break;
      case cairn::TDataEvent::deUpdateState:
        // An insert starts, or ends, without a scroll: the caption follows too.
        ShowItemCaption();
        if (!note_modified_) LoadNote();
        break;
      case cairn::TDataEvent::deDataSetChange:
        if (!note_modified_) LoadNote();
        break;
      case cairn::TDataEvent::deRecordChange:
        break;
    }
  });
  PwdAfterScroll();
}

void TMainForm::UnbindQuery() {
  cairn::TCairnQuery* query = Query();
  if (query != nullptr && query_observer_ != 0) query->RemoveObserver(query_observer_);
  query_observer_ = 0;
  PWgrid->Model()->SetQuery(nullptr);
}

void TMainForm::UpdateNavigator() {
  enum { kFirst, kPrior, kNext, kLast, kInsert, kDelete, kPost, kCancel, kRefresh };
  bool enabled[kNavigatorButtons] = {};
  cairn::TCairnQuery* query = Query();
  if (query != nullptr && query->Active()) {
    try {
      const bool inserting = query->State() == cairn::TDataSetState::dsInsert;
      const uint32_t recno = query->RecNo();
      const uint32_t count = query->RecordCount();
      // At an end when the query ran into it or its current record is the end one.
      const bool at_first = !inserting && (query->Bof() || recno <= 1);
      const bool at_last = !inserting && (query->Eof() || recno >= count);
      const bool can_modify = query->CanModify();
      enabled[kFirst] = enabled[kPrior] = !at_first;
      enabled[kNext] = enabled[kLast] = !at_last;
      enabled[kInsert] = can_modify;
      enabled[kDelete] = can_modify && (inserting || count > 0);
      enabled[kPost] = enabled[kCancel] = can_modify && IsEditing(*query);
      enabled[kRefresh] = true;
    } catch (...) {
      // The table could not say where the query stands: the buttons stay as they are.
      return;
    }
  }
  for (int i = 0; i < kNavigatorButtons; ++i) NavButtons[i]->setEnabled(enabled[i]);
}

bool TMainForm::HasCurrentRecord() const {
  cairn::TCairnQuery* query = Query();
  return query != nullptr && query->Active() && (query->RecNo() > 0 || IsEditing(*query));
}

void TMainForm::PwdAfterScroll() {
  ShowItemCaption();
  LoadNote();
}

void TMainForm::ShowItemCaption() {
  QString item;
  if (HasCurrentRecord()) {
    try {
      item = FieldText(*Query(), "Item");
    } catch (...) {
      // No current record after all: the caption stays empty.
    }
  }
  SubHead->SetCaption(item);
}

void TMainForm::LoadNote() {
  QString notes;
  if (HasCurrentRecord()) {
    try {
      notes = FieldText(*Query(), "Details");
    } catch (...) {
      // No current record after all: no notes.
    }
  }
  // Stored line ends are CR LF; the memo shows plain line breaks.
  notes.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  loading_note_ = true;
  if (PWnote->toPlainText() != notes) PWnote->setPlainText(notes);
  loading_note_ = false;
  note_modified_ = false;
}

void TMainForm::UpdateRecordFromControls() {
  PWgrid->CommitEditor();
  UpdateRecordFromNote();
}

void TMainForm::UpdateRecordFromNote() {
  cairn::TCairnQuery* query = Query();
  if (!note_modified_ || query == nullptr) return;
  QString text = PWnote->toPlainText();
  text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  SetFieldText(*query, "Details", text);
  note_modified_ = false;
}

void TMainForm::PWgridEnter() {
  // The saved grid colour is taken from the settings each time the grid gains the focus.
  TProcessValues& g = Globals();
  PWgrid->SetColours(ColorTextToQColor(g.Grad3Str), ColorTextToQColor(g.Grad4Str),
                     ColorTextToQColor(g.StartColStr));
}

void TMainForm::PWgridExit() {
  cairn::TCairnQuery* query = Query();
  if (query == nullptr || !IsEditing(*query)) return;
  // Leaving the grid drops an inserted record nobody typed into.
  if (query->State() == cairn::TDataSetState::dsInsert && !PWgrid->Model()->RecordModified()) {
    query->Cancel();
    return;
  }
  query->Post();
}

void TMainForm::OnFocusChanged(QWidget* old_widget, QWidget* now) {
  if (old_widget == nullptr || destroyed_) return;
  auto inside = [](QWidget* control, QWidget* w) {
    return w != nullptr && (w == control || control->isAncestorOf(w));
  };
  // A pop-up menu of the control takes the focus for a moment: that is not leaving.
  if (now != nullptr && now == PopupMenu1) return;
  if (inside(PWnote, old_widget) && !inside(PWnote, now)) {
    Guarded(this, [this] {
      UpdateRecordFromNote();
      cairn::TCairnQuery* query = Query();
      if (query != nullptr && IsEditing(*query)) query->Post();
    });
  } else if (inside(PWgrid, old_widget) && !inside(PWgrid, now)) {
    Guarded(this, [this] { PWgridExit(); });
  }
}

void TMainForm::PWgridTitleClick() {
  // By the current column, whichever title was clicked.
  const QString field = PWgrid->CurrentField();
  UpdateRecordFromNote();
  struct TShowLabel {
    TMainForm* form;
    ~TShowLabel() { form->FlashPwd->setVisible(!form->parts_.repository->IsLive()); }
  } label{this};
  parts_.repository->Reorder(field);
}

void TMainForm::ShowPopup(QWidget* control, const QPoint& at) {
  popup_target_ = control;
  PopupMenu1->popup(at);
}

QString TMainForm::NoteSelection() const {
  // The memo's selection uses paragraph separators for its line breaks.
  return PWnote->textCursor().selectedText().replace(QChar::ParagraphSeparator, QChar(u'\n'));
}

void TMainForm::PopUpCopyClick() {
  cairn::TCairnQuery* query = Query();
  if (popup_target_ == PWnote) {
    QGuiApplication::clipboard()->setText(NoteSelection());
    if (query == nullptr) return;
    UpdateRecordFromNote();
    if (IsEditing(*query)) query->Post();
    return;
  }
  if (query == nullptr) return;
  PWgrid->CommitEditor();
  GridCopy(*query, TPwdGridModel::FieldOfColumn(PWgrid->CurrentColumn()));
}

void TMainForm::PopUpCutClick() {
  if (popup_target_ == PWnote) {
    QGuiApplication::clipboard()->setText(NoteSelection());
    PWnote->textCursor().removeSelectedText();
    return;
  }
  if (cairn::TCairnQuery* query = Query()) {
    PWgrid->CommitEditor();
    GridCut(*query, TPwdGridModel::FieldOfColumn(PWgrid->CurrentColumn()));
  }
}

void TMainForm::PopUpPasteClick() {
  if (popup_target_ == PWnote) {
    PWnote->paste();
    return;
  }
  if (cairn::TCairnQuery* query = Query()) {
    PWgrid->CommitEditor();
    GridPaste(*query);
  }
}

void TMainForm::CopyBtnClick() {
  if (cairn::TCairnQuery* query = Query()) CopyPassword(*query);
}

void TMainForm::GoBtnClick() {
  cairn::TCairnQuery* query = Query();
  if (query == nullptr) return;
  UpdateRecordFromControls();
  GeneratePassword(this, *query, parts_.run_generator);
  LoadNote();
}

void TMainForm::Delete1Click() {
  if (cairn::TCairnQuery* query = Query()) {
    PWgrid->CommitEditor();
    DeletePassword(this, *query);
  }
}

void TMainForm::PWnoteDblClick() {
  cairn::TCairnQuery* query = Query();
  if (query == nullptr) return;
  UpdateRecordFromNote();
  StampNotes(*query);
  LoadNote();
}

void TMainForm::MenuCommandClick(TMenuCommand command) {
  const auto found = parts_.menu_commands.find(command);
  if (found != parts_.menu_commands.end() && found->second) found->second(*this);
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
  // FormKeyPress: Enter reaching the window moves on the grid like a tab.
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    PWgrid->EnterMove(event->modifiers() & Qt::ShiftModifier);
    event->accept();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

}  // namespace tarn
