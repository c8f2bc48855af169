#include "app/version_check.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "app/message_box.h"
#include "app/process_values.h"
#include "app/settings.h"
#include "app/termination.h"
#include "platform/profile_file.h"
#include "platform/program_path.h"

namespace tarn {
namespace {

const QString kAbout =
    "About to check for Internet Access\r\n\r\nIf there is no connection, "
    "this may take a minute";
const QString kNoConnection = "Error : No internet Connection - unable to check Current Version.";
const QString kWillClose =
    "This software will close - Use the UpGrader program to download your product UpDate.";
const QString kDownloadPage = "http://downloads.test/downloads.htm";

QString Question(const QString& latest) {
  return "You currently have Version  110\r\n\r\nThe latest Version is  " + latest +
         "\r\n\r\nDo you wish to Download a Later Version ?";
}

// A one-request-at-a-time HTTP server on loopback that answers every request
// with `response` (raw bytes), or never answers when `response` is empty and
// `silent` is set. It runs on the test's own event loop, which the fetch spins.
class TLoopbackServer : public QObject {
 public:
  TLoopbackServer() {
    EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        sockets_.push_back(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
          request_ += socket->readAll();
          if (!request_.contains("\r\n\r\n") || silent_) return;
          socket->write(response_);
          socket->disconnectFromHost();
        });
      }
    });
  }

  void Answer(int status, const QByteArray& body) {
    response_ = "HTTP/1.1 " + QByteArray::number(status) +
                " Status\r\nContent-Type: text/plain\r\n"
                "Content-Length: " +
                QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  }
  void NeverAnswer() { silent_ = true; }

  QString Address() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort());
  }
  const QByteArray& Request() const { return request_; }

 private:
  QTcpServer server_;
  std::vector<QTcpSocket*> sockets_;
  QByteArray response_;
  QByteArray request_;
  bool silent_ = false;
};

class VersionCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    Globals() = TProcessValues{};
    ResetTermination();
    SetProgramValues();
  }
  void TearDown() override {
    ResetTermination();
    Globals() = TProcessValues{};
  }

  // Points the check at `server`. Only a test that expects no answer sets a
  // short timeout: an answer must never lose a race on a loaded machine.
  void Configure(const QString& server, int timeout_ms = 120000) {
    TProfileFile ini(SettingsPath());
    ini.WriteString("Update", "VersionServer", server);
    ini.WriteString("Update", "DownloadPage", kDownloadPage);
    ini.WriteString("Update", "FetchTimeoutMs", QString::number(timeout_ms));
    ASSERT_TRUE(ini.Save());
  }
  QByteArray Document() const {
    QFile f(dir_.filePath("CurrentVersionQuellfen.txt"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }
  void PlaceUpdater(const QString& folder) {
    QFile f(QDir(folder).filePath(kUpdaterName));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }

  QTemporaryDir dir_;
  TScopedProgramPath path_{dir_.filePath("tarn")};
  TScopedFileVersion version_{TFileVersion{1, 1, 0, 7}};
  TScriptedMessageBoxes boxes_;
  QStringList started_;
  TScopedUpdaterStarter starter_{[this](const QString& program) { started_ << program; }};
};

TEST_F(VersionCheckTest, RunningVersionJoinsThreeNumbersAndIsZeroWhenUnreadable) {
  EXPECT_EQ(RunningVersionText(), "110");
  EXPECT_EQ(DottedVersionText(), "1.1.0");
  TScopedFileVersion unreadable{std::nullopt};
  EXPECT_EQ(RunningVersionText(), "000");
  EXPECT_EQ(DottedVersionText(), "0.0.0");
}

TEST_F(VersionCheckTest, NewerVersionAsksAndYesStartsTheUpdaterFromTheProgramFolder) {
  TLoopbackServer server;
  // Longer than one read, with line breaks: stored and shown byte for byte.
  const QByteArray latest = "1.2.0\r\n" + QByteArray(3000, 'x');
  server.Answer(200, latest);
  Configure(server.Address());
  PlaceUpdater(dir_.path());
  boxes_.QueueAnswer(TMsgResult::kOk);
  boxes_.QueueAnswer(TMsgResult::kYes);

  VersionCheckClick(nullptr);

  EXPECT_TRUE(server.Request().startsWith("GET /CurrentVersionQuellfen.txt HTTP/1.1\r\n"));
  EXPECT_TRUE(server.Request().contains("User-Agent: Quellfen\r\n"));
  EXPECT_EQ(Document(), latest);
  EXPECT_EQ(boxes_.Texts(),
            QStringList({kAbout, Question(QString::fromLatin1(latest)), kWillClose}));
  EXPECT_EQ(boxes_.Shown()[1].caption, "Confirm");
  EXPECT_EQ(boxes_.Shown()[0].caption, "Tarn");
  EXPECT_EQ(started_, QStringList{dir_.filePath(kUpdaterName)});
  EXPECT_TRUE(TerminationRequested());
}

TEST_F(VersionCheckTest, SameVersionStillAsksAndNoDoesNothingMore) {
  TLoopbackServer server;
  server.Answer(200, "1.1.0");
  Configure(server.Address() + "/");
  PlaceUpdater(dir_.path());
  boxes_.QueueAnswer(TMsgResult::kOk);
  boxes_.QueueAnswer(TMsgResult::kNo);
  VersionCheckClick(nullptr);
  EXPECT_EQ(boxes_.Texts(), QStringList({kAbout, Question("1.1.0")}));
  EXPECT_TRUE(started_.isEmpty());
  EXPECT_FALSE(TerminationRequested());
}

TEST_F(VersionCheckTest, YesWithoutTheUpdaterNamesTheDownloadPageAndKeepsRunning) {
  TLoopbackServer server;
  server.Answer(200, "2.0.0");
  Configure(server.Address());
  boxes_.QueueAnswer(TMsgResult::kOk);
  boxes_.QueueAnswer(TMsgResult::kYes);
  VersionCheckClick(nullptr);
  EXPECT_EQ(boxes_.Texts(),
            QStringList({kAbout, Question("2.0.0"),
                         "You need to Download the UpDater from the WWW at " + kDownloadPage +
                             " and place it in this programs folder."}));
  EXPECT_TRUE(started_.isEmpty());
  EXPECT_FALSE(TerminationRequested());
}

TEST_F(VersionCheckTest, ErrorPageIsShownAsTheLatestVersion) {
  TLoopbackServer server;
  server.Answer(404, "<h1>Not Found</h1>");
  Configure(server.Address());
  boxes_.QueueAnswer(TMsgResult::kOk);
  boxes_.QueueAnswer(TMsgResult::kNo);
  VersionCheckClick(nullptr);
  EXPECT_EQ(boxes_.Texts(), QStringList({kAbout, Question("<h1>Not Found</h1>")}));
}

TEST_F(VersionCheckTest, EmptyRefusedOrSilentServerLeavesAnEmptyDocument) {
  // An earlier document is replaced, never shown again.
  QFile old(dir_.filePath("CurrentVersionQuellfen.txt"));
  ASSERT_TRUE(old.open(QIODevice::WriteOnly));
  old.write("0.9.0");
  old.close();

  TLoopbackServer empty;
  empty.Answer(200, "");
  TLoopbackServer silent;
  silent.NeverAnswer();
  quint16 refused_port = 0;
  {
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    refused_port = closed.serverPort();
  }
  const QStringList servers = {empty.Address(), silent.Address(),
                               QStringLiteral("http://127.0.0.1:%1").arg(refused_port)};
  for (const QString& server : servers) {
    SCOPED_TRACE(server.toStdString());
    boxes_.Clear();
    Configure(server, 300);
    VersionCheckClick(nullptr);
    EXPECT_EQ(Document(), QByteArray());
    EXPECT_EQ(boxes_.Texts(), QStringList({kAbout, kNoConnection}));
    EXPECT_FALSE(QGuiApplication::overrideCursor());
  }
  EXPECT_TRUE(silent.Request().startsWith("GET "));
}

TEST_F(VersionCheckTest, UnwritableDocumentReportsNoConnectionAndStops) {
  // A folder where the document should be: it cannot be created.
  ASSERT_TRUE(QDir(dir_.path()).mkdir("CurrentVersionQuellfen.txt"));
  TLoopbackServer server;
  server.Answer(200, "1.2.0");
  Configure(server.Address());
  VersionCheckClick(nullptr);
  EXPECT_EQ(
      boxes_.Texts(),
      QStringList({kAbout, "Checking internet for current version - No Internet Connection"}));
  EXPECT_FALSE(QGuiApplication::overrideCursor());
}

TEST_F(VersionCheckTest, DefaultsServeWhenTheSettingsSayNothing) {
  const TVersionCheckSettings settings = ReadVersionCheckSettings(SettingsPath());
  EXPECT_EQ(VersionDocumentAddress(settings),
            TVersionCheckSettings{}.server + "/CurrentVersionQuellfen.txt");
  EXPECT_TRUE(settings.download_page.endsWith("/downloads.htm"));
  EXPECT_GT(settings.timeout_ms, 0);
}

// Upgrade looks in the working folder, not the program folder.
class UpgradeTest : public VersionCheckTest {
 protected:
  void SetUp() override {
    VersionCheckTest::SetUp();
    ASSERT_TRUE(QDir(dir_.path()).mkdir("work"));
    previous_ = QDir::currentPath();
    QDir::setCurrent(dir_.filePath("work"));
    Configure("http://127.0.0.1:9");
  }
  void TearDown() override {
    QDir::setCurrent(previous_);
    VersionCheckTest::TearDown();
  }
  QString previous_;
};

TEST_F(UpgradeTest, MissingFromTheWorkingFolderIsReportedEvenBesideTheProgram) {
  PlaceUpdater(dir_.path());
  QMainWindow main;
  main.show();
  UpgradeClick(&main);
  EXPECT_EQ(boxes_.Texts(),
            QStringList{"You need to Download the UpDater from the WWW at\r\n\r\n " +
                        kDownloadPage + "\r\n\r\n and place it in this programs folder."});
  EXPECT_TRUE(started_.isEmpty());
  EXPECT_TRUE(main.isVisible());
}

TEST_F(UpgradeTest, YesStartsItFromTheWorkingFolderAndClosesTheWindowNormally) {
  PlaceUpdater(dir_.filePath("work"));
  QMainWindow main;
  main.show();
  boxes_.QueueAnswer(TMsgResult::kNo);
  UpgradeClick(&main);
  EXPECT_TRUE(started_.isEmpty());
  EXPECT_TRUE(main.isVisible());

  boxes_.Clear();
  boxes_.QueueAnswer(TMsgResult::kYes);
  UpgradeClick(&main);
  EXPECT_EQ(boxes_.Texts(), QStringList{"Close and then use the UpGrader program\r\n\r\n (which "
                                        "opens now)\r\n\r\n to download the product update ?"});
  EXPECT_EQ(started_, QStringList{dir_.filePath("work/UpDater.Exe")});
  EXPECT_FALSE(main.isVisible());
  EXPECT_FALSE(TerminationRequested());
}

TEST(UpdaterStartTest, RunsDetachedFromItsOwnFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString updater = QDir(dir.path()).filePath(kUpdaterName);
  const QString marker = QDir(dir.path()).filePath("started");
  {
    QFile script(updater);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\npwd > started.tmp && mv started.tmp started\n");
  }
  QFile::setPermissions(updater, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  TScopedProgramPath path(QDir(dir.path()).filePath("tarn"));
  Globals() = TProcessValues{};
  SetProgramValues();
  ResetTermination();
  TScriptedMessageBoxes boxes;
  // Let the real starter run: only the message boxes are scripted.
  TLoopbackServer server;
  server.Answer(200, "9.9.9");
  TProfileFile ini(SettingsPath());
  ini.WriteString("Update", "VersionServer", server.Address());
  ASSERT_TRUE(ini.Save());
  boxes.QueueAnswer(TMsgResult::kOk);
  boxes.QueueAnswer(TMsgResult::kYes);
  VersionCheckClick(nullptr);
  EXPECT_TRUE(TerminationRequested());
  // The updater runs on its own; wait for what it leaves behind.
  ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 60000));
  QFile written(marker);
  ASSERT_TRUE(written.open(QIODevice::ReadOnly));
  EXPECT_EQ(QDir(QString::fromLocal8Bit(written.readAll().trimmed())).canonicalPath(),
            QDir(dir.path()).canonicalPath());
  ResetTermination();
  Globals() = TProcessValues{};
}

}  // namespace
}  // namespace tarn
