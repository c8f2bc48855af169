#include "generator/pw_form.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "app/message_box.h"
#include "app/process_values.h"
#include "generator/codepage.h"
#include "generator/derive.h"
#include "generator/publisher.h"
#include "generator/pw_services.h"
#include "kit/caption_shape_button.h"
#include "kit/gradient_panel.h"
#include "kit/hint_status_bar.h"
#include "platform/program_path.h"

namespace tarn {
namespace {

class FakeServices : public TPWServices {
 public:
  std::optional<QString> ChooseExistingFile(QWidget*) override {
    ++choices;
    return next_choice;
  }
  bool OpenUrl(const QUrl& url) override {
    opened.push_back(url);
    return open_succeeds;
  }
  std::optional<QString> next_choice;
  int choices = 0;
  std::vector<QUrl> opened;
  bool open_succeeds = true;
};

class PWformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    Globals() = TProcessValues{};
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    key_ = WriteFile(QStringLiteral("key.txt"), Pattern(200));
  }

  QString WriteFile(const QString& name, const QByteArray& bytes) {
    const QString path = dir_.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
  }

  static QByteArray Pattern(int n) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i) b[i] = static_cast<char>((i * 37 + 11) & 0xFF);
    return b;
  }

  // What the window should show for the current inputs.
  QString Expected(const QString& file, const QString& string, const QString& number) {
    const DeriveResult r = DerivePassword(file.toStdString(), Utf8ToKeyBytes(string.toStdString()),
                                          number.toStdString());
    EXPECT_EQ(r.kind, DeriveResult::Kind::kPassword);
    return QString::fromStdString(KeyBytesToUtf8(r.password));
  }

  void Choose(TPWform& form, const QString& path) {
    services_.next_choice = path;
    QTest::mouseClick(form.SelectBtn, Qt::LeftButton);
  }

  QString Clipboard() { return QGuiApplication::clipboard()->text(); }

  QTemporaryDir dir_;
  TScopedProgramPath program_{dir_.filePath(QStringLiteral("tarn"))};
  TScriptedMessageBoxes boxes_;
  FakeServices services_;
  TScopedPWServices scoped_services_{&services_};
  QString key_;
};

TEST_F(PWformTest, LayoutMatchesTheDesign) {
  TPWform form;
  form.show();
  EXPECT_EQ(form.windowTitle(), " Password Generator");
  EXPECT_EQ(form.size(), QSize(434, 428));
  struct Place {
    QWidget* w;
    QRect r;
  };
  for (const Place& p : std::vector<Place>{{form.BodyPanel, {0, 0, 434, 409}},
                                           {form.Label1, {40, 35, 40, 15}},
                                           {form.SelectBtn, {116, 28, 250, 28}},
                                           {form.EdFile, {116, 64, 250, 23}},
                                           {form.Label3, {116, 110, 250, 15}},
                                           {form.Label5, {40, 133, 40, 15}},
                                           {form.EdModifier, {116, 128, 250, 24}},
                                           {form.LblOff, {116, 176, 250, 14}},
                                           {form.Label4, {40, 198, 40, 15}},
                                           {form.EdOffset, {116, 193, 250, 24}},
                                           {form.HelpBtn, {183, 241, 117, 28}},
                                           {form.CopyBtn, {116, 286, 250, 28}},
                                           {form.OKbtn, {40, 322, 53, 28}},
                                           {form.Label2, {25, 334, 385, 14}},
                                           {form.pwdMemo, {4, 355, 426, 50}},
                                           {form.StatusBar, {0, 409, 434, 19}}}) {
    if (qobject_cast<QLabel*>(p.w) != nullptr) {
      // Labels may grow to fit their caption in the local font.
      EXPECT_EQ(p.w->pos(), p.r.topLeft()) << p.w->objectName().toStdString();
      EXPECT_GE(p.w->width(), p.r.width()) << p.w->objectName().toStdString();
      EXPECT_GE(p.w->height(), p.r.height()) << p.w->objectName().toStdString();
    } else {
      EXPECT_EQ(p.w->geometry(), p.r) << p.w->objectName().toStdString();
    }
  }
  EXPECT_EQ(form.SelectBtn->text(), " Select a File     ");
  EXPECT_EQ(form.CopyBtn->text(), " Copy and Close        ");
  EXPECT_EQ(form.HelpBtn->text(), " Help   ");
  EXPECT_EQ(form.LblOff->text(), "Enter a Number");
  EXPECT_EQ(form.Label4->text(), "Step3");
  EXPECT_EQ(form.EdOffset->toolTip(), "Add digits ( eg \"23\"  or BirthDate - Remenber # )");
  EXPECT_EQ(
      form.EdFile->statusTip(),
      "Selected File which NEVER changes (to use in Password generation).\r\nEg a text File.");
  EXPECT_TRUE(form.EdFile->isReadOnly());
  EXPECT_FALSE(form.OKbtn->isVisible());
  EXPECT_EQ(form.BodyPanel->StartColor(), QColor(0, 0, 0x80));
  EXPECT_EQ(form.BodyPanel->EndColor(), QColor(0xFF, 0, 0xFF));
  EXPECT_EQ(form.CopyBtn->HoverColor(), QColor(0xFF, 0, 0xFF));
  EXPECT_EQ(form.CopyBtn->ShadowDepth(), 4);
  EXPECT_EQ(form.EdModifier->font().pointSize(), 10);
  EXPECT_EQ(form.EdFile->font().pointSize(), 9);
  EXPECT_EQ(form.pwdMemo->font().pointSize(), 8);
  EXPECT_TRUE(form.Label1->font().bold());
  // Focus starts on the file box; tabbing cycles through the boxes and the buttons.
  EXPECT_EQ(form.focusWidget(), form.EdFile);
  auto next_tab_stop = [](QWidget* w) {
    do {
      w = w->nextInFocusChain();
    } while ((w->focusPolicy() & Qt::TabFocus) == 0 || !w->isVisible());
    return w;
  };
  EXPECT_EQ(next_tab_stop(form.EdModifier), form.EdOffset);
  EXPECT_EQ(next_tab_stop(form.EdOffset), form.CopyBtn);
  EXPECT_EQ(next_tab_stop(form.CopyBtn), form.HelpBtn);
  EXPECT_EQ(next_tab_stop(form.HelpBtn), form.SelectBtn);
  EXPECT_EQ(next_tab_stop(form.SelectBtn), form.EdModifier);
  EXPECT_EQ(form.EdFile->focusPolicy() & Qt::TabFocus, 0);
  EXPECT_EQ(form.pwdMemo->focusPolicy() & Qt::TabFocus, 0);

  // A button turns fuchsia while the mouse is over it.
  const QPoint face(12, form.CopyBtn->height() / 2);
  EXPECT_NE(form.CopyBtn->grab().toImage().pixelColor(face), QColor(0xFF, 0, 0xFF));
  const QPointF at(face);
  QEnterEvent enter{at, at, at};
  QApplication::sendEvent(form.CopyBtn, &enter);
  EXPECT_EQ(form.CopyBtn->grab().toImage().pixelColor(face), QColor(0xFF, 0, 0xFF));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(form.CopyBtn, &leave);
  EXPECT_NE(form.CopyBtn->grab().toImage().pixelColor(face), QColor(0xFF, 0, 0xFF));

  // Resizing keeps the memo along the panel's bottom edge and the rest in place.
  form.resize(600, 500);
  EXPECT_EQ(form.BodyPanel->geometry(), QRect(0, 0, 600, 481));
  EXPECT_EQ(form.pwdMemo->geometry(), QRect(4, 427, 592, 50));
  EXPECT_EQ(form.CopyBtn->geometry(), QRect(116, 286, 250, 28));
  EXPECT_EQ(form.StatusBar->geometry(), QRect(0, 481, 600, 19));
}

TEST_F(PWformTest, SelectingAFileShowsItsSizeAndKeepsTheMemo) {
  TPWform form;
  form.show();
  Choose(form, key_);
  EXPECT_EQ(form.EdFile->text(), key_);
  EXPECT_EQ(form.LblOff->text(), "Offset : Size = 200");
  EXPECT_TRUE(form.OKbtn->isEnabled());
  EXPECT_EQ(form.focusWidget(), form.EdModifier);
  EXPECT_TRUE(form.pwdMemo->toPlainText().isEmpty());  // choosing does not derive

  // Cancelling leaves everything as it was.
  services_.next_choice.reset();
  form.EdFile->setFocus();
  QTest::mouseClick(form.SelectBtn, Qt::LeftButton);
  EXPECT_EQ(form.EdFile->text(), key_);
  EXPECT_EQ(form.LblOff->text(), "Offset : Size = 200");
  EXPECT_TRUE(form.OKbtn->isEnabled());
  EXPECT_EQ(form.focusWidget(), form.EdModifier);

  // A path that names no file clears the flag; the label keeps its caption.
  Choose(form, dir_.filePath(QStringLiteral("nothing")));
  EXPECT_FALSE(form.OKbtn->isEnabled());
  EXPECT_EQ(form.LblOff->text(), "Offset : Size = 200");
  EXPECT_TRUE(boxes_.Shown().empty());
  EXPECT_EQ(services_.choices, 3);
}

TEST_F(PWformTest, EveryKeystrokeDerivesAndTheClipboardEndsWithTheFinalPassword) {
  TPWform form;
  form.show();
  Choose(form, key_);
  form.EdModifier->insert(QStringLiteral("ab\u00E9"));
  EXPECT_TRUE(form.pwdMemo->toPlainText().isEmpty());  // the String box does not derive

  QSignalSpy clipboard_changes(QGuiApplication::clipboard(), &QClipboard::dataChanged);
  QTest::keyClicks(form.EdOffset, QStringLiteral("123"));
  EXPECT_EQ(clipboard_changes.count(), 3);
  const QString expected = Expected(key_, QStringLiteral("ab\u00E9"), QStringLiteral("123"));
  EXPECT_EQ(form.pwdMemo->toPlainText(), expected);
  EXPECT_EQ(Clipboard(), expected);
  EXPECT_EQ(form.pwdMemo->textCursor().selectedText(), expected);
  EXPECT_EQ(form.pwdMemo->toolTip(), "PassWord (now in ClipBoard)");
  EXPECT_TRUE(boxes_.Shown().empty());

  // Changing the string alone leaves the password; the next Number change uses it.
  QTest::keyClicks(form.EdModifier, QStringLiteral("Z"));
  EXPECT_EQ(form.pwdMemo->toPlainText(), expected);
  QTest::keyClick(form.EdOffset, Qt::Key_Backspace);
  EXPECT_EQ(form.pwdMemo->toPlainText(),
            Expected(key_, QStringLiteral("ab\u00E9Z"), QStringLiteral("12")));

  // An emptied Number box means offset 0.
  form.EdOffset->clear();
  EXPECT_EQ(Clipboard(), Expected(key_, QStringLiteral("ab\u00E9Z"), QStringLiteral("0")));

  // The hidden button runs the same derivation.
  QGuiApplication::clipboard()->clear();
  form.OKbtn->click();
  EXPECT_EQ(Clipboard(), form.pwdMemo->toPlainText());
}

TEST_F(PWformTest, InsufficientBytesKeepsMemoAndClipboard) {
  TPWform form;
  Choose(form, key_);
  QTest::keyClicks(form.EdOffset, QStringLiteral("17"));
  const QString shown = form.pwdMemo->toPlainText();
  ASSERT_FALSE(shown.isEmpty());
  QTest::keyClicks(form.EdOffset, QStringLiteral("0"));  // 170: only 30 bytes left
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_EQ(boxes_.Shown()[0].caption, "Tarn");
  EXPECT_EQ(boxes_.Shown()[0].text,
            "Insufficient Bytes read - Please choose another file or reduce the offset");
  EXPECT_EQ(form.pwdMemo->toPlainText(), shown);
  EXPECT_EQ(Clipboard(), shown);
}

TEST_F(PWformTest, DigitBeforeAnyFileReportsTheOpenError) {
  TPWform form;
  QTest::keyClicks(form.EdOffset, QStringLiteral("5"));
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_EQ(boxes_.Shown()[0].icon, TMsgIcon::kError);
  EXPECT_EQ(boxes_.Shown()[0].caption, "Tarn");
  EXPECT_TRUE(boxes_.Shown()[0].text.startsWith("Cannot open file"))
      << boxes_.Shown()[0].text.toStdString();
  EXPECT_TRUE(form.pwdMemo->toPlainText().isEmpty());
  EXPECT_EQ(Clipboard(), "before");
  QFile log(dir_.filePath(QStringLiteral("tarn.Log")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_TRUE(log.readAll().contains(":Cannot open file"));
}

TEST_F(PWformTest, KeyFileLockedOrRemovedIsReported) {
  TPWform form;
  Choose(form, key_);
  QTest::keyClicks(form.EdOffset, QStringLiteral("1"));
  const QString shown = form.pwdMemo->toPlainText();
  const int fd = ::open(key_.toLocal8Bit().constData(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  QTest::keyClicks(form.EdOffset, QStringLiteral("2"));
  Choose(form, key_);  // taking the size fails too; the label keeps its caption
  ::close(fd);
  ASSERT_EQ(boxes_.Shown().size(), 2u);
  EXPECT_TRUE(boxes_.Shown()[0].text.contains("another process"));
  EXPECT_TRUE(boxes_.Shown()[1].text.contains("another process"));
  EXPECT_EQ(form.LblOff->text(), "Offset : Size = 200");
  EXPECT_EQ(form.pwdMemo->toPlainText(), shown);

  QFile::remove(key_);
  QTest::keyClicks(form.EdOffset, QStringLiteral("3"));
  ASSERT_EQ(boxes_.Shown().size(), 3u);
  EXPECT_TRUE(boxes_.Shown()[2].text.contains("No such file"));
  EXPECT_EQ(form.pwdMemo->toPlainText(), shown);
}

TEST_F(PWformTest, CopyAndCloseIsTheOnlyWriterOfGeneratedPassword) {
  Globals().GeneratedPassword = QStringLiteral("earlier");
  {
    TPWform form;  // empty memo
    form.show();
    QTest::mouseClick(form.CopyBtn, Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(form.isVisible());
  }
  EXPECT_EQ(Globals().GeneratedPassword, "");

  // 'I' (0x49) mixed with 'é' (0xE9) gives 0xA0, a no-break space: handed over as is.
  const QString nbsp_key = WriteFile(QStringLiteral("nbsp"), QByteArray(40, 'I'));
  {
    TPWform form;
    Choose(form, nbsp_key);
    form.EdModifier->insert(QStringLiteral("\u00E9"));
    QTest::keyClicks(form.EdOffset, QStringLiteral("0"));
    EXPECT_EQ(Clipboard(), QString(40, QChar(0xA0)));
    QTest::mouseClick(form.CopyBtn, Qt::LeftButton);
  }
  EXPECT_EQ(Globals().GeneratedPassword, QString(40, QChar(0xA0)));

  {
    TPWform form;  // the user's own edits are what is handed over
    Choose(form, key_);
    QTest::keyClicks(form.EdOffset, QStringLiteral("4"));
    form.pwdMemo->setPlainText(QStringLiteral("typed by hand"));
    QTest::mouseClick(form.CopyBtn, Qt::LeftButton);
  }
  EXPECT_EQ(Globals().GeneratedPassword, "typed by hand");

  {
    TPWform form;  // closing by the close box hands nothing over
    form.show();
    Choose(form, key_);
    QTest::keyClicks(form.EdOffset, QStringLiteral("9"));
    form.close();
    EXPECT_FALSE(form.isVisible());
  }
  EXPECT_EQ(Globals().GeneratedPassword, "typed by hand");
}

TEST_F(PWformTest, WorksFromTheKeyboardAlone) {
  TPWform form;
  form.show();
  form.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
  services_.next_choice = key_;
  auto press = [](Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); };
  press(Qt::Key_Tab);  // from the file box to Select a File
  ASSERT_EQ(QApplication::focusWidget(), form.SelectBtn);
  press(Qt::Key_Space);
  EXPECT_EQ(services_.choices, 1);
  ASSERT_EQ(QApplication::focusWidget(), form.EdModifier);
  QTest::keyClicks(form.EdModifier, QStringLiteral("name"));
  press(Qt::Key_Tab);
  QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("23"));
  press(Qt::Key_Tab);
  ASSERT_EQ(QApplication::focusWidget(), form.CopyBtn);
  press(Qt::Key_Return);
  EXPECT_EQ(form.result(), QDialog::Accepted);
  EXPECT_EQ(Globals().GeneratedPassword,
            Expected(key_, QStringLiteral("name"), QStringLiteral("23")));
}

TEST_F(PWformTest, HelpAndPanelClick) {
  TPWform form;
  form.show();
  QTest::mouseClick(form.HelpBtn, Qt::LeftButton);
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_EQ(boxes_.Shown()[0].caption, "Tarn");
  EXPECT_TRUE(boxes_.Shown()[0].text.startsWith(
      "Complex Password Generation\r\n\r\nThree processes : - \r\n\r\n"));
  EXPECT_TRUE(boxes_.Shown()[0].text.endsWith("as you remember the inputs.\r\n\r\n" +
                                              QString::fromLatin1(kPublisherName) + "  " +
                                              QString::fromLatin1(kPublisherSite)));

  // A click on a label is not a click on the panel.
  QTest::mouseClick(form.Label2, Qt::LeftButton);
  EXPECT_TRUE(services_.opened.empty());
  QTest::mouseClick(form.BodyPanel, Qt::LeftButton, {}, QPoint(10, 10));
  ASSERT_EQ(services_.opened.size(), 1u);
  EXPECT_EQ(services_.opened[0].toString(), kPublisherSoftwarePage);
  EXPECT_EQ(boxes_.Shown().size(), 1u);

  services_.open_succeeds = false;
  QTest::mouseClick(form.BodyPanel, Qt::LeftButton, {}, QPoint(420, 300));
  ASSERT_EQ(boxes_.Shown().size(), 2u);
  EXPECT_EQ(boxes_.Shown()[1].caption, "Error");
  EXPECT_EQ(boxes_.Shown()[1].text, "Exception 05: Could Not Open Web Address.");
}

}  // namespace
}  // namespace tarn
