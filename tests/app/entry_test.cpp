#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/entry_change.h"
#include "app/entry_form.h"
#include "app/entry_password.h"
#include "app/main_form.h"
#include "app/message_box.h"
#include "app/process_values.h"
#include "app/program.h"
#include "app/termination.h"
#include "kit/hint_status_bar.h"
#include "platform/program_path.h"
#include "platform/registry.h"

namespace tarn {
namespace {

class EntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    Globals() = TProcessValues{};
    ResetTermination();
    ResetDefaultPasswordNotice();
  }
  void TearDown() override { ResetTermination(); }

  void Store(const std::string& value) {
    registry_.WriteString(kStartupPasswordKey, kStartupPasswordValue, value);
  }
  std::optional<RegistryValue> Stored() {
    return registry_.ReadValue(kStartupPasswordKey, kStartupPasswordValue);
  }

  QTemporaryDir dir_;
  TScopedProgramPath program_{dir_.filePath(QStringLiteral("tarn"))};
  FileRegistry registry_{dir_.filePath(QStringLiteral("cfg/tarn/registry.json")).toStdString()};
  ScopedRegistry scoped_registry_{&registry_};
  TScriptedMessageBoxes boxes_;
};

TEST_F(EntryTest, LayoutAndWindowFrame) {
  Store("x");
  TEntryForm form;
  EXPECT_EQ(form.windowTitle(), "Password Required");
  EXPECT_EQ(form.size(), QSize(366, 169));
  EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(form.windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_EQ(form.Label1->text(), "Enter Password  ( Case Sensitive )");
  EXPECT_EQ(form.Label1->pos(), QPoint(23, 13));
  EXPECT_EQ(form.Label1->font().pixelSize(), 11);
  EXPECT_EQ(form.PasswordInfo->geometry(), QRect(23, 33, 310, 21));
  EXPECT_EQ(form.PasswordInfo->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(form.PasswordInfo->font().bold());
  EXPECT_EQ(form.OKBtn->geometry(), QRect(233, 70, 100, 22));
  EXPECT_EQ(form.OKBtn->text(), "OK");
  EXPECT_EQ(form.CancelBtn->geometry(), QRect(23, 70, 100, 22));
  EXPECT_EQ(form.CancelBtn->text(), "Cancel");
  EXPECT_EQ(form.StatusBar->height(), 19);
}

TEST_F(EntryTest, RightPasswordPassesWithEnter) {
  Store("Secret\xC3\xA9");
  TEntryForm form;
  form.show();
  EXPECT_EQ(Globals().StartupPassword, QString::fromUtf8("Secret\xC3\xA9"));
  form.PasswordInfo->setText(QString::fromUtf8("Secret\xC3\xA9"));
  QTest::keyClick(form.PasswordInfo, Qt::Key_Return);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(TerminationRequested());
  EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(EntryTest, EveryFailureWarnsAndRequestsTermination) {
  struct Case {
    const char* name;
    std::function<void(TEntryForm&)> act;
    const char* caption;
    const char* text;
  };
  const std::vector<Case> cases{
      {"other case",
       [](TEntryForm& f) {
         QTest::keyClicks(f.PasswordInfo, "secret");
         QTest::mouseClick(f.OKBtn, Qt::LeftButton);
       },
       "Warning", "You MUST enter the correct PASSWORD."},
      {"prefix",
       [](TEntryForm& f) {
         QTest::keyClicks(f.PasswordInfo, "Secre");
         QTest::keyClick(f.PasswordInfo, Qt::Key_Enter, Qt::KeypadModifier);
       },
       "Warning", "You MUST enter the correct PASSWORD."},
      {"enter on the focused cancel button",
       [](TEntryForm& f) {
         QTest::keyClicks(f.PasswordInfo, "Secret");
         f.CancelBtn->setFocus();
         QTest::keyClick(f.CancelBtn, Qt::Key_Return);
       },
       "Information", "Login Failed"},
      {"cancel", [](TEntryForm& f) { QTest::mouseClick(f.CancelBtn, Qt::LeftButton); },
       "Information", "Login Failed"},
      {"alt+f4",
       [](TEntryForm& f) { QTest::keyClick(f.PasswordInfo, Qt::Key_F4, Qt::AltModifier); }, "Error",
       "You are NOT permitted to close the form this way."},
      {"window manager close", [](TEntryForm& f) { f.close(); }, "Error",
       "You are NOT permitted to close the form this way."}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Store("Secret");
    ResetTermination();
    boxes_.Clear();
    TEntryForm form;
    form.show();
    c.act(form);
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].caption, c.caption);
    EXPECT_EQ(boxes_.Shown()[0].text, c.text);
    EXPECT_TRUE(TerminationRequested());
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(Stored()->data, "Secret");  // a failure changes nothing stored
  }
}

TEST_F(EntryTest, EscapeAndOtherModifiersDoNothing) {
  Store("Secret");
  TEntryForm form;
  form.show();
  QTest::keyClick(form.PasswordInfo, Qt::Key_Escape);
  QTest::keyClick(&form, Qt::Key_Escape);
  QTest::keyClick(form.PasswordInfo, Qt::Key_F4, Qt::AltModifier | Qt::ShiftModifier);
  QTest::keyClick(form.PasswordInfo, Qt::Key_F4);
  EXPECT_TRUE(form.isVisible());
  EXPECT_FALSE(TerminationRequested());
  EXPECT_TRUE(boxes_.Shown().empty());
}

TEST_F(EntryTest, EmptyEntryFailsEvenWhenTheStoredValueIsUnreadable) {
  registry_.WriteValue(kStartupPasswordKey, kStartupPasswordValue,
                       RegistryValue{RegistryType::kDword, "7"});
  TEntryForm form;
  form.show();
  EXPECT_EQ(Globals().StartupPassword, "");
  QTest::mouseClick(form.OKBtn, Qt::LeftButton);
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_EQ(boxes_.Shown()[0].text, "You MUST enter the correct PASSWORD.");
  EXPECT_TRUE(TerminationRequested());
}

TEST_F(EntryTest, MissingOrEmptyValueShowsTheDefaultNoticeOncePerRun) {
  for (bool empty_value : {false, true}) {
    SCOPED_TRACE(empty_value);
    if (empty_value) Store("");
    ResetDefaultPasswordNotice();
    boxes_.Clear();
    {
      TEntryForm first;
      TEntryForm second;
    }
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].caption, "Tarn");
    EXPECT_TRUE(boxes_.Shown()[0].text.contains("is 7"));
    EXPECT_EQ(Globals().StartupPassword, "7");
    TEntryForm form;
    form.show();
    QTest::keyClicks(form.PasswordInfo, "7");
    QTest::keyClick(form.PasswordInfo, Qt::Key_Return);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(TerminationRequested());
  }
}

// The main window runs the entry dialog modally during its creation; the
// answer is typed once the dialog's own loop is running.
class MainWindowEntryTest : public EntryTest {
 protected:
  void AnswerEntry(const QString& typed) {
    QTimer::singleShot(0, [this, typed] {
      auto* form = qobject_cast<TEntryForm*>(QApplication::activeModalWidget());
      if (form == nullptr) return;
      ++dialogs_;
      QTest::keyClicks(form->PasswordInfo, typed);
      QTest::keyClick(form->PasswordInfo, Qt::Key_Return);
    });
  }

  class TRecordingRepository : public TNoRepository {
   public:
    explicit TRecordingRepository(bool* opened) : opened_(opened) {}
    void Open(QWidget*) override { *opened_ = true; }

   private:
    bool* opened_;
  };

  TMainFormParts Parts() {
    TMainFormParts parts;
    parts.startup_password = std::make_unique<TEntryStartupPassword>();
    parts.repository = std::make_unique<TRecordingRepository>(&repository_opened_);
    return parts;
  }

  int dialogs_ = 0;
  bool repository_opened_ = false;
};

TEST_F(MainWindowEntryTest, FirstStartShowsNoticeAndStoresTheDefaultAtExit) {
  AnswerEntry(QStringLiteral("7"));
  {
    TMainForm main(Parts());
    EXPECT_EQ(dialogs_, 1);
    EXPECT_TRUE(repository_opened_);
    EXPECT_FALSE(TerminationRequested());
    ASSERT_EQ(boxes_.Shown().size(), 1u);
    EXPECT_EQ(boxes_.Shown()[0].text, DefaultPasswordNotice());
    EXPECT_EQ(Stored(), std::nullopt);  // nothing is written before the window goes
  }
  ASSERT_TRUE(Stored());
  EXPECT_EQ(Stored()->type, RegistryType::kString);
  EXPECT_EQ(Stored()->data, "7");
}

TEST_F(MainWindowEntryTest, WrongEntryRequestsTerminationAfterCreationFinishes) {
  Store("Secret");
  AnswerEntry(QStringLiteral("SECRET"));
  {
    TMainForm main(Parts());
    EXPECT_EQ(dialogs_, 1);
    EXPECT_TRUE(TerminationRequested());
  }
  EXPECT_EQ(Stored()->data, "Secret");
}

TEST_F(MainWindowEntryTest, ValueOfAnotherTypeSkipsEntryAndRepositoryAndIsEmptiedAtExit) {
  registry_.WriteValue(kStartupPasswordKey, kStartupPasswordValue,
                       RegistryValue{RegistryType::kBinary, "00ff"});
  AnswerEntry(QStringLiteral("anything"));  // must find no dialog
  {
    TMainForm main(Parts());
    QApplication::processEvents();
    EXPECT_EQ(dialogs_, 0);
    EXPECT_FALSE(repository_opened_);
    EXPECT_TRUE(boxes_.Shown().empty());
  }
  EXPECT_EQ(Stored()->type, RegistryType::kString);
  EXPECT_EQ(Stored()->data, "");
  // The next start falls back to the default password.
  EXPECT_EQ(ReadStoredStartupPassword().value, "7");
}

TEST_F(EntryTest, ChangeCommandPaths) {
  TScriptedInputBoxes inputs;
  QAction menu_entry(QStringLiteral("Change"));
  int image = -1;
  ConnectPWChange(&menu_entry, nullptr, [&image](int index) {
    image = index;
    return QIcon();
  });
  EXPECT_EQ(image, 4);
  Globals().StartupPassword = QStringLiteral("Old");

  // Wrong current password (other case): nothing more is asked.
  inputs.QueueAnswer(QStringLiteral("old"));
  menu_entry.trigger();
  ASSERT_EQ(inputs.Shown().size(), 1u);
  EXPECT_EQ(inputs.Shown()[0].title, "Enter Your Current Password");
  EXPECT_EQ(inputs.Shown()[0].prompt, "Enter (CASE SENSITIVE) Password");
  EXPECT_EQ(boxes_.Texts(), QStringList{"The Password given is incorrect"});
  EXPECT_EQ(Globals().StartupPassword, "Old");
  EXPECT_EQ(image, 7);

  // New and confirmation differ.
  boxes_.Clear();
  for (const char* a : {"Old", "New1", "New2"}) inputs.QueueAnswer(QString::fromLatin1(a));
  menu_entry.trigger();
  ASSERT_EQ(inputs.Shown().size(), 4u);
  EXPECT_EQ(inputs.Shown()[2].title, "Enter New (case sensitive) Password");
  EXPECT_EQ(inputs.Shown()[2].prompt, "Enter New Password");
  EXPECT_EQ(inputs.Shown()[3].title, "Confirm (case sensitive) New Password");
  EXPECT_EQ(inputs.Shown()[3].prompt, "Re-Enter New Password");
  EXPECT_EQ(boxes_.Texts(), QStringList{"The Password Was NOT changed "});
  EXPECT_EQ(boxes_.Shown()[0].caption, "Information");
  EXPECT_EQ(Globals().StartupPassword, "Old");

  // A real change.
  boxes_.Clear();
  for (const char* a : {"Old", "New", "New"}) inputs.QueueAnswer(QString::fromLatin1(a));
  menu_entry.trigger();
  EXPECT_EQ(boxes_.Texts(), QStringList{"The Password has been changed."});
  EXPECT_EQ(Globals().StartupPassword, "New");
  EXPECT_EQ(image, 7);

  // Both new prompts cancelled: the password becomes empty, image 4.
  boxes_.Clear();
  inputs.QueueAnswer(QStringLiteral("New"));
  inputs.QueueAnswer(std::nullopt);
  inputs.QueueAnswer(std::nullopt);
  menu_entry.trigger();
  EXPECT_EQ(boxes_.Texts(), QStringList{"The Password has been changed."});
  EXPECT_EQ(Globals().StartupPassword, "");
  EXPECT_EQ(image, 4);

  // With an empty password, a cancelled first box matches it.
  boxes_.Clear();
  inputs.QueueAnswer(std::nullopt);
  inputs.QueueAnswer(QStringLiteral("Back"));
  inputs.QueueAnswer(QStringLiteral("Back"));
  menu_entry.trigger();
  EXPECT_EQ(Globals().StartupPassword, "Back");
  EXPECT_EQ(image, 7);
  for (const auto& asked : inputs.Shown()) EXPECT_TRUE(asked.default_text.isEmpty());
}

TEST_F(MainWindowEntryTest, EmptiedPasswordIsStoredEmptyAndNextStartUsesTheDefault) {
  Store("Old");
  AnswerEntry(QStringLiteral("Old"));
  {
    TMainForm main(Parts());
    ASSERT_EQ(dialogs_, 1);
    TScriptedInputBoxes inputs;
    inputs.QueueAnswer(QStringLiteral("Old"));
    PWChangeClick(&main);  // both new boxes cancelled
    EXPECT_EQ(Globals().StartupPassword, "");
  }
  EXPECT_EQ(Stored()->data, "");
  boxes_.Clear();
  ResetDefaultPasswordNotice();
  AnswerEntry(QStringLiteral("7"));
  {
    TMainForm main(Parts());
    EXPECT_EQ(dialogs_, 2);
    EXPECT_FALSE(TerminationRequested());
    EXPECT_EQ(boxes_.Texts(), QStringList{DefaultPasswordNotice()});
  }
  EXPECT_EQ(Stored()->data, "7");
}

}  // namespace
}  // namespace tarn

namespace tarn {
namespace {

// The whole program run, as main() does it, with the registry start-up password.
class ProgramEntryTest : public EntryTest {
 protected:
  // Answers the entry dialog, then queues `after` for the next turn of whichever loop runs.
  void AnswerThen(const QString& typed, std::function<void()> after) {
    QTimer::singleShot(0, &context_, [this, typed, after] {
      auto* form = qobject_cast<TEntryForm*>(QApplication::activeModalWidget());
      if (form == nullptr) return;
      ++dialogs_;
      QTest::keyClicks(form->PasswordInfo, typed);
      QTest::keyClick(form->PasswordInfo, Qt::Key_Return);
      QTimer::singleShot(0, &context_, after);
    });
  }
  static TMainFormParts Parts() {
    TMainFormParts parts;
    parts.startup_password = std::make_unique<TEntryStartupPassword>();
    return parts;
  }
  void TearDown() override {
    // Termination during creation leaves the application's "quit now" mark set
    // until an application loop runs; one empty turn clears it for later tests.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    EntryTest::TearDown();
  }

  QObject context_;  // pending answers die with the test
  int dialogs_ = 0;
};

TEST_F(ProgramEntryTest, FailedEntryEndsTheRunBeforeTheWindowShows) {
  Store("Secret");
  // Should the event loop run anyway, this ends it with an unexpected code.
  AnswerThen(QStringLiteral("secret"), [] { QCoreApplication::exit(3); });
  EXPECT_EQ(RunProgram(Parts()), 0);
  EXPECT_EQ(dialogs_, 1);
  EXPECT_TRUE(TerminationRequested());
  EXPECT_EQ(Globals().PreviousWidth, 0);  // the main window never showed
  EXPECT_EQ(Stored()->data, "Secret");
}

TEST_F(ProgramEntryTest, RightEntryRunsTheWindowUntilItCloses) {
  Store("Secret");
  AnswerThen(QStringLiteral("Secret"), [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (qobject_cast<TMainForm*>(w) != nullptr && w->isVisible()) w->close();
    }
  });
  EXPECT_EQ(RunProgram(Parts()), 0);
  EXPECT_EQ(dialogs_, 1);
  EXPECT_FALSE(TerminationRequested());
  EXPECT_GT(Globals().PreviousWidth, 0);
  EXPECT_EQ(Stored()->data, "Secret");
}

}  // namespace
}  // namespace tarn
