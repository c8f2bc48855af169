// The main window over a real Pal table in a temporary program folder: the
// store's opening and re-ordering, the grid's rows, colours and keys, and
// the record commands, driven as the user drives them.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/date_formats.h"
#include "app/exception_log.h"
#include "app/main_form.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include "app/pwd_grid.h"
#include "app/pwd_grid_model.h"
#include "app/record_commands.h"
#include "app/repository_store.h"
#include "app/termination.h"
#include "kit/gradient_panel.h"
#include "kit/hint_status_bar.h"
#include "kit/shape_button.h"
#include "kit/twinkle_label.h"
#include "platform/program_path.h"
#include "repository_fixture.h"
#include "storage/access/dataset_query.h"

namespace tarn {
namespace {

using testing::TRecordValues;

enum Column { kItem = 0, kDate = 1, kUser = 2, kPW = 3, kWeb = 4 };

class TEnteredPassword : public TStartupPasswordSeam {
 public:
  QString Read() override { return QStringLiteral("7"); }
  void Ask(QWidget*) override {}
  void Write(const QString&) override {}
};

class RepositoryWindowTest : public ::testing::Test {
 protected:
  RepositoryWindowTest() {
    Globals() = TProcessValues{};
    ResetTermination();
    SetNameLocale(QLocale(QLocale::English, QLocale::UnitedKingdom));
  }
  ~RepositoryWindowTest() override {
    form_.reset();
    ResetTermination();
  }

  QString ProgramPath() const { return dir_.filePath("tarn"); }

  void MakeTable(const std::vector<TRecordValues>& records, bool secondary_indexes = true) {
    testing::CreateTable(dir_.path(), testing::PalSchema(secondary_indexes));
    testing::AddRecords(ProgramPath(), records);
  }

  void OpenForm() {
    TMainFormParts parts;
    parts.startup_password = std::make_unique<TEnteredPassword>();
    auto store = std::make_unique<TRepositoryStore>();
    store_ = store.get();
    parts.repository = std::move(store);
    parts.run_generator = [this](QWidget*) {
      ++generator_runs_;
      if (!hand_over_.isNull()) Globals().GeneratedPassword = hand_over_;
    };
    form_ = std::make_unique<TMainForm>(std::move(parts));
    form_->show();
    // Leaving a control posts: focus changes need the active window.
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }

  cairn::TCairnQuery& Pwd() { return store_->Pwd; }
  TPwdGrid& Grid() { return *form_->PWgrid; }
  QString Cell(int row, int column) { return Grid().model()->index(row, column).data().toString(); }
  QStringList ColumnTexts(int column) {
    QStringList texts;
    for (int row = 0; row < Grid().model()->rowCount(); ++row) texts << Cell(row, column);
    return texts;
  }
  QString Field(const char* name) { return FieldText(Pwd(), name); }
  void GoTo(int row, int column) {
    Grid().setFocus();
    Grid().setCurrentIndex(Grid().model()->index(row, column));
  }
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(&Grid(), key, modifiers);
  }
  QLineEdit* Editor() { return qobject_cast<QLineEdit*>(Grid().Editor()); }
  QString NavigatorStates() {
    QString states;
    for (QToolButton* button : form_->NavButtons) states += button->isEnabled() ? '1' : '0';
    return states;
  }
  QPoint Place() { return QPoint(Grid().CurrentColumn(), Grid().currentIndex().row()); }

  QTemporaryDir dir_;
  TScopedProgramPath program_{dir_.filePath("tarn")};
  TScopedClock clock_{[] { return QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)); }};
  TScriptedMessageBoxes boxes_;
  TRepositoryStore* store_ = nullptr;
  std::unique_ptr<TMainForm> form_;
  int generator_runs_ = 0;
  QString hand_over_;
};

const std::vector<TRecordValues> kFour = {
    {"Mail", "zed", "m1", "mail.example", QDate(2026, 1, 2)},
    {"Bank", "carol", "b1", "bank.example", QDate(2025, 5, 6), "opened 2019"},
    {"Forum", "alice", "f1", "forum.example", QDate()},
    {"Bank", "bob", "b2", "bank2.example", QDate(2024, 3, 4)},
};

TEST_F(RepositoryWindowTest, OpensInItemDateOrderOnTheFirstRecordWithItsColours) {
  MakeTable(kFour);
  OpenForm();
  EXPECT_TRUE(store_->IsOpen());
  EXPECT_TRUE(store_->IsLive());
  EXPECT_FALSE(form_->FlashPwd->isVisible());
  EXPECT_TRUE(boxes_.Shown().empty());
  EXPECT_EQ(Pwd().SQL, (std::vector<std::string>{"SELECT * FROM Pal", "Order by Item, Date"}));
  // Item, then Date: the older Bank first.
  EXPECT_EQ(ColumnTexts(kItem), (QStringList{"Bank", "Bank", "Forum", "Mail"}));
  EXPECT_EQ(ColumnTexts(kDate), (QStringList{"04/03/2024", "06/05/2025", "", "02/01/2026"}));
  EXPECT_EQ(Pwd().RecNo(), 1u);
  EXPECT_EQ(Grid().currentIndex().row(), 0);
  EXPECT_EQ(form_->SubHead->Caption(), "Bank");

  // Records 1 and 3 take Grad4Str, 2 and 4 the grid colour, the current row
  // StartColStr in bold whatever its number; the current column StartColStr.
  const QColor grid(0xFF, 0xFF, 0xBB), odd(0x91, 0x91, 0xFF), current(0, 0xFF, 0);
  GoTo(1, kUser);
  auto bg = [&](int row, int column) {
    return Grid().CellBackground(Grid().model()->index(row, column));
  };
  EXPECT_EQ(bg(0, kItem), odd);
  EXPECT_EQ(bg(1, kItem), current);
  EXPECT_TRUE(Grid().CellBold(Grid().model()->index(1, kWeb)));
  EXPECT_FALSE(Grid().CellBold(Grid().model()->index(2, kWeb)));
  EXPECT_EQ(bg(2, kItem), odd);
  EXPECT_EQ(bg(3, kItem), grid);
  EXPECT_EQ(bg(3, kUser), current);  // the current column
  EXPECT_EQ(bg(2, kUser), odd);      // odd rows win over the column
  // The current column's title is red and bold, the others black.
  const auto* model = Grid().model();
  EXPECT_EQ(model->headerData(kUser, Qt::Horizontal, Qt::ForegroundRole).value<QBrush>().color(),
            QColor(Qt::red));
  EXPECT_TRUE(model->headerData(kUser, Qt::Horizontal, Qt::FontRole).value<QFont>().bold());
  EXPECT_FALSE(model->headerData(kItem, Qt::Horizontal, Qt::FontRole).value<QFont>().bold());
  EXPECT_EQ(form_->SubHead->Caption(), "Bank");
  EXPECT_EQ(form_->PWnote->toPlainText(), "opened 2019");
}

TEST_F(RepositoryWindowTest, TitleClickReordersByTheCurrentColumnOnTheLastRecord) {
  MakeTable(kFour);
  OpenForm();
  GoTo(0, kUser);
  // The Web title is clicked; the order is by User, the current column's field.
  const QHeaderView* header = Grid().horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(kWeb) + 5, header->height() / 2));
  EXPECT_EQ(Pwd().SQL[1], "Order by User");
  EXPECT_EQ(ColumnTexts(kUser), (QStringList{"alice", "bob", "carol", "zed"}));
  EXPECT_EQ(Pwd().RecNo(), 4u);
  EXPECT_EQ(Grid().currentIndex().row(), 3);
  EXPECT_EQ(Grid().CurrentColumn(), kUser);
  EXPECT_EQ(form_->SubHead->Caption(), "Mail");
  EXPECT_FALSE(form_->FlashPwd->isVisible());  // an index on User keeps it live
  // The re-ordered result stays editable.
  GoTo(0, kPW);
  Grid().model()->setData(Grid().model()->index(0, kPW), "new", Qt::EditRole);
  Key(Qt::Key_Down);  // moving posts
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
  EXPECT_EQ(Cell(0, kPW), "new");
}

TEST_F(RepositoryWindowTest, OrderWithoutAnIndexIsReadOnlyAndTheLabelFlashes) {
  MakeTable(kFour, /*secondary_indexes=*/false);
  OpenForm();
  GoTo(0, kWeb);
  form_->PWgridTitleClick();
  EXPECT_FALSE(store_->IsLive());
  EXPECT_TRUE(form_->FlashPwd->isVisible());
  EXPECT_TRUE(form_->FlashPwd->IsTwinkling());
  EXPECT_EQ(ColumnTexts(kWeb).first(), "bank.example");
  // Nothing that edits: on the last record only first, prior and refresh.
  EXPECT_EQ(NavigatorStates(), "110000001");
  // An edit is refused with the engine's message through the exception handler.
  form_->Delete1->trigger();  // Yes by default
  EXPECT_TRUE(boxes_.Texts().last().contains("read-only")) << boxes_.Texts().last().toStdString();
  Pwd().Cancel();
  // Back to a live order: the label goes.
  GoTo(0, kItem);
  form_->PWgridTitleClick();
  EXPECT_TRUE(store_->IsLive());
  EXPECT_FALSE(form_->FlashPwd->isVisible());
}

TEST_F(RepositoryWindowTest, EnterWrapsAcrossRecordsInOnScreenColumnOrder) {
  MakeTable(kFour);
  OpenForm();
  GoTo(0, kWeb);
  Key(Qt::Key_Return);
  EXPECT_EQ(Place(), QPoint(kItem, 1));
  Key(Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(Place(), QPoint(kWeb, 0));
  Key(Qt::Key_Return);  // Web -> next record's Item
  Key(Qt::Key_Return);  // Item -> Date (on screen: the second column)
  EXPECT_EQ(Place(), QPoint(kDate, 1));
  // At the first record Shift+Enter stays on it and goes to the last column.
  GoTo(0, kItem);
  Key(Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(Place(), QPoint(kWeb, 0));
  // At the last record Enter stays on it and goes to the first column.
  GoTo(3, kWeb);
  Key(Qt::Key_Return);
  EXPECT_EQ(Place(), QPoint(kItem, 3));
  EXPECT_EQ(Grid().model()->rowCount(), 4);  // nothing appended

  // PW dragged to the first place: Enter follows the new on-screen order.
  Grid().horizontalHeader()->moveSection(Grid().horizontalHeader()->visualIndex(kPW), 0);
  GoTo(1, kWeb);
  Key(Qt::Key_Return);
  EXPECT_EQ(Place(), QPoint(kPW, 2));
  Key(Qt::Key_Return);
  EXPECT_EQ(Place(), QPoint(kItem, 2));
  Key(Qt::Key_Return, Qt::ShiftModifier);
  Key(Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(Place(), QPoint(kWeb, 1));
}

TEST_F(RepositoryWindowTest, NavigatorButtonsFollowThePositionAndTheEditState) {
  MakeTable(kFour);
  OpenForm();
  // Buttons: first prior next last insert delete post cancel refresh.
  const QString kHints[] = {"First record", "Prior record",  "Next record",
                            "Last record",  "Insert record", "Delete record",
                            "Post edit",    "Cancel edit",   "Refresh data"};
  for (int i = 0; i < TMainForm::kNavigatorButtons; ++i)
    EXPECT_EQ(form_->NavButtons[i]->toolTip(), kHints[i]);
  EXPECT_TRUE(form_->DBNavigator10->hasFocus());
  EXPECT_EQ(NavigatorStates(), "001111001");
  form_->NavButtons[2]->click();
  EXPECT_EQ(NavigatorStates(), "111111001");
  form_->NavButtons[3]->click();
  EXPECT_EQ(Pwd().RecNo(), 4u);
  EXPECT_EQ(NavigatorStates(), "110011001");
  // Reaching the first record through the grid counts as much as the button.
  GoTo(1, kItem);
  EXPECT_EQ(NavigatorStates(), "111111001");
  GoTo(0, kItem);
  EXPECT_EQ(NavigatorStates(), "001111001");
  // An edit offers post and cancel until it is cancelled.
  Grid().model()->setData(Grid().model()->index(0, kPW), "typed", Qt::EditRole);
  EXPECT_EQ(NavigatorStates(), "001111111");
  form_->NavButtons[7]->click();
  EXPECT_EQ(NavigatorStates(), "001111001");
  EXPECT_EQ(Field("PW"), "b2");
  // A record being inserted lies between others: every button works.
  form_->NavButtons[4]->click();
  EXPECT_EQ(NavigatorStates(), "111111111");
  form_->NavButtons[7]->click();
  // The navigator is one control for the keyboard: Right picks a button, Space presses it.
  form_->DBNavigator10->setFocus();
  for (int i = 0; i < 3; ++i) QTest::keyClick(form_->DBNavigator10, Qt::Key_Right);
  QTest::keyClick(form_->DBNavigator10, Qt::Key_Space);
  EXPECT_EQ(Pwd().RecNo(), 4u);
  EXPECT_TRUE(form_->DBNavigator10->hasFocus());  // though Last is now disabled
}

TEST_F(RepositoryWindowTest, StatusBarRepeatsTheHintUnderTheMouseAndKeepsIt) {
  MakeTable(kFour, /*secondary_indexes=*/false);
  OpenForm();
  GoTo(0, kWeb);
  form_->PWgridTitleClick();  // read-only: the flashing label shows, with its hint
  ASSERT_TRUE(form_->FlashPwd->isVisible());
  const QString grid_hint =
      "Resize/move columns reqd;  \r\nClick Title to sort by current Column;  \r\nF2 = Edit;  "
      "\r\nRight click = Cut/Copy/Paste;  \r\nDouble Click specific columns";
  const std::pair<QWidget*, QString> hinted[] = {
      {form_->CopyBtn, "Copy Current Record's Password to the ClipBoard"},
      {form_->GoBtn, "Generate a complex Password for the current Grid Record"},
      {form_->NavButtons[0], "First record"},
      {form_->NavButtons[4], "Insert record"},  // disabled on a read-only result
      {Grid().viewport(), grid_hint},
      {form_->FlashPwd, "Flashing :=  Edits will NOT be saved."},
      {form_->PWbtn, "Print to File or Report"},
      {form_->PWnote->viewport(),
       "Record Notes: Double click to append Date and Time. Right click to Cut/Copy/Paste "
       "hilighted text."},
  };
  for (const auto& [control, hint] : hinted) {
    QTest::mouseMove(control, control->rect().center());
    EXPECT_EQ(form_->StatusBar->currentMessage(), hint) << control->objectName().toStdString();
    EXPECT_EQ(
        control->toolTip().isEmpty() ? control->parentWidget()->toolTip() : control->toolTip(),
        hint);
  }
  // Off the control, onto a panel without a hint: the text stays.
  QTest::mouseMove(form_->SubHead, QPoint(form_->SubHead->width() / 2, 4));
  EXPECT_EQ(form_->StatusBar->currentMessage(), hinted[std::size(hinted) - 1].second);

  // A highlighted menu entry with a hint shows it too.
  QMenuBar* bar = form_->menuBar();
  auto hover = [bar](QAction* entry) {
    const QPoint at = bar->actionGeometry(entry).center();
    QMouseEvent move(QEvent::MouseMove, at, bar->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
  };
  hover(form_->About1);
  EXPECT_EQ(form_->StatusBar->currentMessage(), "Software & contact details.");
  hover(form_->Help1->menuAction());
  EXPECT_EQ(form_->StatusBar->currentMessage(), "Software & contact details.");
}

TEST_F(RepositoryWindowTest, TheCurrentCellAlwaysShowsItsEditor) {
  MakeTable(kFour);
  OpenForm();
  // The navigator has the focus at start; the grid shows its editor once it has it.
  EXPECT_FALSE(Grid().EditorShown());
  GoTo(1, kUser);  // Bank / carol
  ASSERT_NE(Editor(), nullptr);
  EXPECT_EQ(QApplication::focusWidget(), Editor());
  EXPECT_EQ(Editor()->text(), "carol");
  EXPECT_EQ(Editor()->selectedText(), "carol");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);

  // Typing goes straight in and puts the record in edit state at the first key.
  QTest::keyClicks(Editor(), "dave");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsEdit);
  // Escape undoes the cell's typing and keeps the edit; again, it cancels the record.
  QTest::keyClick(Editor(), Qt::Key_Escape);
  EXPECT_EQ(Editor()->text(), "carol");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsEdit);
  QTest::keyClick(Editor(), Qt::Key_Escape);
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
  ASSERT_NE(Editor(), nullptr);

  // F2 puts the caret at the end, so typing adds; Left inside the text moves
  // the caret, Right at its end moves on a column, writing but not posting.
  QTest::keyClick(Editor(), Qt::Key_F2);
  QTest::keyClicks(Editor(), "ine");
  QTest::keyClick(Editor(), Qt::Key_Left);
  EXPECT_EQ(Place(), QPoint(kUser, 1));
  QTest::keyClick(Editor(), Qt::Key_End);
  QTest::keyClick(Editor(), Qt::Key_Right);
  EXPECT_EQ(Place(), QPoint(kPW, 1));
  EXPECT_EQ(Field("User"), "caroline");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsEdit);
  // Down moves to the next record and posts.
  QTest::keyClick(Editor(), Qt::Key_Down);
  EXPECT_EQ(Place(), QPoint(kPW, 2));
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
  EXPECT_EQ(Cell(1, kUser), "caroline");
  // Enter moves on like a tab; leaving the grid posts what was typed.
  QTest::keyClick(Editor(), Qt::Key_Return);
  EXPECT_EQ(Place(), QPoint(kWeb, 2));
  QTest::keyClicks(Editor(), "f.example");
  form_->PWnote->setFocus();
  EXPECT_FALSE(Grid().EditorShown());
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
  EXPECT_EQ(Cell(2, kWeb), "f.example");

  // Entering an empty Date stamps it, and the editor shows the stamp.
  GoTo(2, kDate);
  ASSERT_NE(Editor(), nullptr);
  EXPECT_EQ(Editor()->text(), "08/12/2026");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);

  // An inserted record nobody typed into is dropped on moving away.
  GoTo(2, kItem);
  QTest::keyClick(Editor(), Qt::Key_Insert);
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsInsert);
  EXPECT_EQ(form_->SubHead->Caption(), "");  // a new record has no Item yet
  ASSERT_NE(Editor(), nullptr);
  EXPECT_EQ(Editor()->text(), "");
  QTest::keyClick(Editor(), Qt::Key_Up);
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
  EXPECT_EQ(Grid().model()->rowCount(), 4);

  // The pop-up menu on the editor is the grid's, and its commands take the typing.
  GoTo(0, kItem);
  QTest::keyClicks(Editor(), "Bunk");
  QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(4, 4));
  QApplication::sendEvent(Editor(), &menu);
  EXPECT_TRUE(form_->PopupMenu1->isVisible());
  form_->PopUpCopy->trigger();
  form_->PopupMenu1->close();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "Bunk");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
  EXPECT_EQ(Field("Item"), "Bunk");
}

TEST_F(RepositoryWindowTest, AReadOnlyResultOpensNoEditor) {
  MakeTable(kFour, /*secondary_indexes=*/false);
  OpenForm();
  GoTo(0, kWeb);
  ASSERT_NE(Editor(), nullptr);
  form_->PWgridTitleClick();
  ASSERT_FALSE(store_->IsLive());
  GoTo(1, kWeb);
  EXPECT_FALSE(Grid().EditorShown());
  Key(Qt::Key_F2);
  QTest::keyClicks(&Grid(), "x");
  EXPECT_FALSE(Grid().EditorShown());
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
  EXPECT_TRUE(boxes_.Shown().empty()) << boxes_.Texts().join("|").toStdString();
}

TEST_F(RepositoryWindowTest, EnteringAnEmptyDateStampsTodayAndOnlyThen) {
  MakeTable(kFour);
  OpenForm();
  GoTo(2, kItem);  // Forum: no date
  ASSERT_EQ(Cell(2, kDate), "");
  GoTo(2, kDate);
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);  // posted at once
  EXPECT_EQ(Field("Date"), "08/12/2026");
  // Today's date now places Forum after... nothing: Item still orders first.
  EXPECT_EQ(Cell(2, kDate), "08/12/2026");
  GoTo(3, kDate);  // a record with a date: unchanged
  EXPECT_EQ(Cell(3, kDate), "02/01/2026");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
}

TEST_F(RepositoryWindowTest, SecondBlankRecordIsRefusedWithTheDuplicateKeyMessage) {
  MakeTable({});
  OpenForm();
  auto click = [&](int button) { form_->NavButtons[button]->click(); };
  click(4);  // insert
  click(6);  // post: the first blank record is fine
  EXPECT_TRUE(boxes_.Shown().empty()) << boxes_.Texts().join("|").toStdString();
  EXPECT_EQ(Grid().model()->rowCount(), 1);
  click(4);
  click(6);
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_TRUE(boxes_.Texts()[0].startsWith("Cairn Engine Error # "))
      << boxes_.Texts()[0].toStdString();
  EXPECT_TRUE(boxes_.Texts()[0].contains("Duplicate key")) << boxes_.Texts()[0].toStdString();
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsInsert);  // still pending
  // It went through LogException: the log has it too.
  QFile log(ExceptionLogPath());
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_TRUE(log.readAll().contains("Cairn Engine Error # "));
  click(7);  // cancel
  EXPECT_EQ(Grid().model()->rowCount(), 1);
}

TEST_F(RepositoryWindowTest, CopyGenerateAndDeletePassword) {
  MakeTable({{"Bank", "jsmith", "old", "", QDate(2026, 1, 1), "first line"},
             {"Shop", "", "s1", "", QDate(2026, 1, 1)}});
  OpenForm();
  // Copy: the clipboard gets PW; a pending edit stays pending.
  Pwd().Edit();
  form_->CopyBtnClick();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "old");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsEdit);
  Pwd().Cancel();

  // Generate before any hand-over, answered Yes: PW empty, the line ends after "=  ".
  form_->GoBtnClick();
  EXPECT_EQ(generator_runs_, 1);
  EXPECT_EQ(boxes_.Texts().last(), "Paste New Password to Current Grid Record ?");
  EXPECT_EQ(Field("PW"), "");
  EXPECT_EQ(Field("Details"), "first line\r\nTuesday 8 December 2026  jsmith  Password =  \r\n");
  // A hand-over, answered No: nothing changes.
  hand_over_ = "G3n3rated";
  boxes_.QueueAnswer(TMsgResult::kNo);
  form_->GoBtnClick();
  EXPECT_EQ(Field("PW"), "");
  // Closed without a new hand-over, answered Yes: the last value handed over.
  hand_over_ = QString();
  form_->GoBtnClick();
  EXPECT_EQ(Field("PW"), "G3n3rated");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
  EXPECT_EQ(form_->PWnote->toPlainText().split('\n').value(2),
            "Tuesday 8 December 2026  jsmith  Password =  G3n3rated");
  // With an empty user the date is followed by four blanks.
  Pwd().Next();
  form_->GoBtnClick();
  EXPECT_EQ(Field("Details"), "Tuesday 8 December 2026    Password =  G3n3rated\r\n");

  // Delete password: Cancel and No leave it alone and not in edit state; Yes empties it.
  Pwd().First();
  boxes_.QueueAnswer(TMsgResult::kCancel);
  form_->Delete1Click();
  boxes_.QueueAnswer(TMsgResult::kNo);
  form_->Delete1Click();
  EXPECT_EQ(Field("PW"), "G3n3rated");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
  EXPECT_EQ(boxes_.Shown().back().buttons, TMsgButtons::kYesNoCancel);
  form_->Delete1Click();
  EXPECT_EQ(Field("PW"), "");
  EXPECT_EQ(Field("User"), "jsmith");
}

TEST_F(RepositoryWindowTest, NotesStampAndPopupCommandsWithTheirPostingRules) {
  MakeTable({{"Bank", "jsmith", "pw", "", QDate(2026, 1, 1)}});
  OpenForm();
  // Stamping at exactly midnight writes the date alone, then LF.
  {
    TScopedClock midnight{[] { return QDateTime(QDate(2026, 12, 8), QTime(0, 0)); }};
    QTest::mouseDClick(form_->PWnote->viewport(), Qt::LeftButton);
  }
  EXPECT_EQ(Field("Details"), "08/12/2026\n\r\n");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);

  // Cut in the Date column: the clipboard has dd/mm/yyyy and the date is gone;
  // entering the column again stamps today.
  GoTo(0, kDate);
  form_->SetPopupTarget(form_->PWgrid);
  form_->PopUpCutClick();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "01/01/2026");
  EXPECT_EQ(Field("Date"), "");
  GoTo(0, kItem);
  GoTo(0, kDate);
  EXPECT_EQ(Field("Date"), "08/12/2026");

  // Paste on the grid changes PW whatever the column, cut to 100 characters.
  GoTo(0, kItem);
  QGuiApplication::clipboard()->setText(QString(120, 'x'));
  form_->PopUpPasteClick();
  EXPECT_EQ(Field("PW"), QString(100, 'x'));
  EXPECT_EQ(Field("Item"), "Bank");
  // Copy on the grid posts a pending edit.
  Pwd().Edit();
  SetFieldText(Pwd(), "Web", "w.example");
  form_->PopUpCopyClick();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "Bank");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
  EXPECT_EQ(Field("Web"), "w.example");

  // A character the table cannot hold is refused before anything is posted.
  QGuiApplication::clipboard()->setText(QString::fromUtf8("p\xE2\x82\xAC\xE4\xB8\xAD"));  // p€中
  form_->PopUpPaste->trigger();
  EXPECT_TRUE(boxes_.Texts().last().contains("U+4E2D")) << boxes_.Texts().last().toStdString();
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
  EXPECT_EQ(Field("PW"), QString(100, 'x'));
  // The euro sign is a Windows-1252 character and goes through unchanged.
  QGuiApplication::clipboard()->setText(QString::fromUtf8("p\xE2\x82\xAC"));
  form_->PopUpPasteClick();
  EXPECT_EQ(Field("PW"), QString::fromUtf8("p\xE2\x82\xAC"));

  // On the memo: copy and cut take the selection; typed text is saved on leaving.
  form_->PWnote->setFocus();
  form_->PWnote->setPlainText("keep this");
  QTextCursor cursor = form_->PWnote->textCursor();
  cursor.setPosition(5);
  cursor.setPosition(9, QTextCursor::KeepAnchor);
  form_->PWnote->setTextCursor(cursor);
  form_->SetPopupTarget(form_->PWnote);
  form_->PopUpCutClick();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "this");
  Grid().setFocus();
  EXPECT_EQ(Field("Details"), "keep ");
  EXPECT_EQ(Pwd().State(), cairn::TDataSetState::dsBrowse);
}

TEST_F(RepositoryWindowTest, MissingDataFolderAsksAndLeavesAnEmptyFlashingWindow) {
  boxes_.QueueAnswer(TMsgResult::kOk);
  boxes_.QueueAnswer(TMsgResult::kNo);
  OpenForm();  // no Data folder at all
  EXPECT_EQ(boxes_.Texts(), (QStringList{"Sorry, Nobody Home", "Do you wish to Quit ?"}));
  EXPECT_EQ(boxes_.Shown()[0].caption, "Information");
  EXPECT_EQ(boxes_.Shown()[1].buttons, TMsgButtons::kYesNo);
  EXPECT_FALSE(TerminationRequested());
  EXPECT_FALSE(store_->IsOpen());
  EXPECT_EQ(Grid().model()->rowCount(), 0);
  EXPECT_TRUE(form_->FlashPwd->isVisible());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(NavigatorStates(), "000000000");
  // Commands are refused by the closed query, through the exception handler.
  form_->Delete1->trigger();
  EXPECT_TRUE(boxes_.Texts().last().contains("closed dataset"))
      << boxes_.Texts().last().toStdString();
  form_.reset();

  // Yes asks for termination.
  boxes_.QueueAnswer(TMsgResult::kOk);
  boxes_.QueueAnswer(TMsgResult::kYes);
  OpenForm();
  EXPECT_TRUE(TerminationRequested());
}

}  // namespace
}  // namespace tarn
