#include "app/version_check.h"

#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include "app/message_box.h"
#include "app/process_values.h"
#include "app/settings.h"
#include "app/termination.h"
#include "app/version_check_build.h"
#include "platform/profile_file.h"

namespace tarn {
namespace {

constexpr qint64 kReadSize = 1024;

std::optional<std::optional<TFileVersion>>& VersionOverride() {
  static std::optional<std::optional<TFileVersion>> version;
  return version;
}

void StartDetached(const QString& program) {
  QProcess::startDetached(program, {}, QFileInfo(program).absolutePath());
}

TUpdaterStarter& Starter() {
  static TUpdaterStarter starter = StartDetached;
  return starter;
}

QString ProductKey() {
  const QString& key = Globals().ProductKey;
  return key.isEmpty() ? QStringLiteral("Quellfen") : key;
}

QString DocumentName() {
  return QStringLiteral("CurrentVersion") + ProductKey() + QStringLiteral(".txt");
}

// The busy cursor for the life of the object, restored on every way out.
class TBusyCursor {
 public:
  TBusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusyCursor() { QGuiApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

}  // namespace

std::optional<TFileVersion> ProgramFileVersion() {
  if (VersionOverride()) return *VersionOverride();
  return TFileVersion{TARN_VERSION_MAJOR, TARN_VERSION_MINOR, TARN_VERSION_RELEASE,
                      TARN_VERSION_BUILD};
}

TScopedFileVersion::TScopedFileVersion(std::optional<TFileVersion> version)
    : previous_(VersionOverride()) {
  VersionOverride() = version;
}

TScopedFileVersion::~TScopedFileVersion() { VersionOverride() = previous_; }

QString RunningVersionText() {
  const TFileVersion v = ProgramFileVersion().value_or(TFileVersion{});
  return QStringLiteral("%1%2%3").arg(v.major).arg(v.minor).arg(v.release);
}

QString DottedVersionText() {
  const TFileVersion v = ProgramFileVersion().value_or(TFileVersion{});
  return QStringLiteral("%1.%2.%3").arg(v.major).arg(v.minor).arg(v.release);
}

TVersionCheckSettings ReadVersionCheckSettings(const QString& ini_path) {
  const TProfileFile file(ini_path);
  TVersionCheckSettings settings;
  const QString section = QString::fromLatin1(kUpdateSection);
  auto text = [&](const char* key, QString& value) {
    const QString read = file.ReadString(section, QString::fromLatin1(key)).trimmed();
    if (!read.isEmpty()) value = read;
  };
  text("VersionServer", settings.server);
  text("DownloadPage", settings.download_page);
  bool ok = false;
  const int timeout = file.ReadString(section, QStringLiteral("FetchTimeoutMs")).toInt(&ok);
  if (ok && timeout > 0) settings.timeout_ms = timeout;
  return settings;
}

QString VersionDocumentAddress(const TVersionCheckSettings& settings) {
  QString server = settings.server;
  while (server.endsWith(QLatin1Char('/'))) server.chop(1);
  return server + QLatin1Char('/') + DocumentName();
}

bool FetchVersionDocument(QWidget* owner, const QString& address, const QString& local_path,
                          int timeout_ms) {
  QFile file(local_path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    ShowNotice(owner,
               QStringLiteral("Checking internet for current version - No Internet Connection"));
    return false;
  }
  QNetworkProxyFactory::setUseSystemConfiguration(true);
  QNetworkAccessManager session;
  QNetworkRequest request{QUrl(address)};
  request.setHeader(QNetworkRequest::UserAgentHeader, ProductKey());
  std::unique_ptr<QNetworkReply> reply(session.get(request));

  bool write_failed = false;
  auto drain = [&] {
    char buffer[kReadSize];
    for (;;) {
      const qint64 got = reply->read(buffer, kReadSize);
      // A failed read counts as nothing read.
      if (got <= 0) break;
      if (file.write(buffer, got) != got) write_failed = true;
    }
  };
  QEventLoop loop;
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(reply.get(), &QIODevice::readyRead, &loop, drain);
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  limit.start(timeout_ms);
  if (!reply->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (reply->isFinished()) drain();
  // A server that has not answered by now counts as unreachable.
  reply->abort();
  if (!file.flush()) write_failed = true;
  file.close();
  if (write_failed) {
    ShowNotice(owner,
               QStringLiteral("Checking internet for current version - No Internet Connection"));
    return false;
  }
  return true;
}

TScopedUpdaterStarter::TScopedUpdaterStarter(TUpdaterStarter starter) : previous_(Starter()) {
  Starter() = std::move(starter);
}

TScopedUpdaterStarter::~TScopedUpdaterStarter() { Starter() = std::move(previous_); }

void VersionCheckClick(QWidget* owner) {
  ShowNotice(owner, QStringLiteral("About to check for Internet Access\r\n\r\nIf there is no "
                                   "connection, this may take a minute"));
  TBusyCursor busy;
  const TVersionCheckSettings settings = ReadVersionCheckSettings(SettingsPath());
  QString local = Globals().VersionDocPath;
  if (local.isEmpty()) local = Globals().ProgramFolder + DocumentName();
  if (!FetchVersionDocument(owner, VersionDocumentAddress(settings), local, settings.timeout_ms))
    return;
  QFile document(local);
  if (!document.open(QIODevice::ReadOnly)) return;
  const QString content = QString::fromLocal8Bit(document.readAll());
  document.close();
  if (content.isEmpty()) {
    ShowNotice(owner,
               QStringLiteral("Error : No internet Connection - unable to check Current Version."));
    return;
  }
  const QString question = QStringLiteral("You currently have Version  ") + RunningVersionText() +
                           QStringLiteral("\r\n\r\nThe latest Version is  ") + content +
                           QStringLiteral("\r\n\r\nDo you wish to Download a Later Version ?");
  if (AskConfirmation(owner, question) != TMsgResult::kYes) return;
  const QString updater = Globals().ProgramFolder + QString::fromLatin1(kUpdaterName);
  if (QFileInfo::exists(updater)) {
    ShowNotice(owner, QStringLiteral("This software will close - Use the UpGrader program to "
                                     "download your product UpDate."));
    Starter()(updater);
    RequestTermination();
  } else {
    ShowNotice(owner, QStringLiteral("You need to Download the UpDater from the WWW at ") +
                          settings.download_page +
                          QStringLiteral(" and place it in this programs folder."));
  }
}

void UpgradeClick(QWidget* owner) {
  const TVersionCheckSettings settings = ReadVersionCheckSettings(SettingsPath());
  const QString updater = QDir::current().absoluteFilePath(QString::fromLatin1(kUpdaterName));
  if (!QFileInfo::exists(updater)) {
    ShowNotice(owner, QStringLiteral("You need to Download the UpDater from the WWW at\r\n\r\n ") +
                          settings.download_page +
                          QStringLiteral("\r\n\r\n and place it in this programs folder."));
    return;
  }
  if (AskConfirmation(owner, QStringLiteral("Close and then use the UpGrader program\r\n\r\n "
                                            "(which opens now)\r\n\r\n to download the product "
                                            "update ?")) != TMsgResult::kYes)
    return;
  Starter()(updater);
  if (owner != nullptr) owner->window()->close();
}

}  // namespace tarn
