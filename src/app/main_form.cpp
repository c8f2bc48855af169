#include "app/main_form.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "app/colour_text.h"
#include "app/date_formats.h"
#include "app/exception_log.h"
#include "app/main_icons.h"
#include "app/process_values.h"
#include "app/settings.h"
#include "app/termination.h"
#include "kit/gradient_panel.h"
#include "kit/hint_status_bar.h"
#include "kit/shape_button.h"
#include "kit/twinkle_label.h"

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

TShapeButton* MakeButton(QWidget* parent, const char* name, const QRect& place,
                         TGlyph glyph, const QString& hint) {
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
  resize(kDesignWidth, kDesignHeight);
  FitToScreen(QSize(kFrameAllowanceWidth, kFrameAllowanceHeight));
  Guarded(this, [this] { FormCreate(); });
}

TMainForm::~TMainForm() { FormDestroy(); }

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

  PWgrid = new QTableWidget(0, static_cast<int>(std::size(kColumns)), body);
  PWgrid->setObjectName(QStringLiteral("PWgrid"));
  QFont grid_font(QStringLiteral("Arial"));
  grid_font.setPixelSize(12);
  PWgrid->setFont(grid_font);
  QFont title_font(QStringLiteral("MS Sans Serif"));
  title_font.setPixelSize(11);
  PWgrid->horizontalHeader()->setFont(title_font);
  PWgrid->horizontalHeader()->setSectionsMovable(true);
  PWgrid->horizontalHeader()->setStretchLastSection(false);
  PWgrid->verticalHeader()->setDefaultSectionSize(18);
  for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
    auto* title = new QTableWidgetItem(QString::fromLatin1(kColumns[i].field));
    title->setTextAlignment(kColumns[i].alignment);
    PWgrid->setHorizontalHeaderItem(i, title);
    PWgrid->setColumnWidth(i, kColumns[i].width);
  }
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
  FlashPwd->setVisible(!parts_.repository->IsLive());
}

void TMainForm::FormShow() {
  TProcessValues& g = Globals();
  g.PreviousWidth = width();
  const QColor start = ColorTextToQColor(g.Grad1Str);
  const QColor end = ColorTextToQColor(g.Grad2Str);
  HeadPanel->SetColors(start, end);
  SubHead->SetColors(start, end);
  const QColor background = ColorTextToQColor(g.Grad3Str);
  for (QWidget* w : {static_cast<QWidget*>(PWgrid), static_cast<QWidget*>(PWnote)}) {
    QPalette p = w->palette();
    p.setColor(QPalette::Base, background);
    w->setPalette(p);
  }
  HeadPanel->SetCaption(LongDateText(Now().date()));
}

void TMainForm::FormResize() {
  TProcessValues& g = Globals();
  if (g.PreviousWidth <= 0) return;
  const int current = width();
  for (int i = 0; i < PWgrid->columnCount(); ++i)
    PWgrid->setColumnWidth(i, ScaleColumnWidth(PWgrid->columnWidth(i), current, g.PreviousWidth));
  g.PreviousWidth = current;
}

bool TMainForm::FormClose() {
  try {
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

}  // namespace tarn
