// Version Check and Upgrade. The check fetches the version document from the
// maker's server into the version document path (Globals().VersionDocPath),
// shows it beside the running version and, on Yes, starts the updater from
// the program folder and requests termination. Upgrade starts the updater
// from the working folder and closes the main window normally.
//
// The fetch: agent "Quellfen", the system's proxy settings, reads of at most
// 1024 bytes appended to the local file as they come. A server that cannot be
// reached, refuses, or does not answer within the timeout leaves whatever was
// read (usually nothing); an error page is kept as the document.
//
// The server's address, the download page and the timeout are settings in
// section "Update" of the settings file (keys VersionServer, DownloadPage,
// FetchTimeoutMs), so tests and packagers can point them elsewhere.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

namespace tarn {

// The program's file version; the build defines it once for every reader.
struct TFileVersion {
  int major = 0;
  int minor = 0;
  int release = 0;
  int build = 0;
};

// nullopt when the version cannot be read (only ever through the override).
std::optional<TFileVersion> ProgramFileVersion();

// Overrides ProgramFileVersion() for its lifetime (tests); overrides nest.
class TScopedFileVersion {
 public:
  explicit TScopedFileVersion(std::optional<TFileVersion> version);
  ~TScopedFileVersion();
  TScopedFileVersion(const TScopedFileVersion&) = delete;
  TScopedFileVersion& operator=(const TScopedFileVersion&) = delete;

 private:
  std::optional<std::optional<TFileVersion>> previous_;
};

// "%d%d%d" of major, minor and release; 000 when unreadable (1.1.0 gives 110).
QString RunningVersionText();
// "%d.%d.%d" of major, minor and release; 0.0.0 when unreadable.
QString DottedVersionText();

inline constexpr char kUpdaterName[] = "UpDater.Exe";
inline constexpr char kUpdateSection[] = "Update";

struct TVersionCheckSettings {
  QString server = QStringLiteral("http://tarn.example.org");
  QString download_page = QStringLiteral("http://tarn.example.org/downloads.htm");
  int timeout_ms = 60000;
};

// Reads section "Update" of `ini_path`; missing or empty keys take defaults.
TVersionCheckSettings ReadVersionCheckSettings(const QString& ini_path);

// Server address followed by "/CurrentVersion" + product key + ".txt".
QString VersionDocumentAddress(const TVersionCheckSettings& settings);

// Fetches `address` into `local_path` (replaced). False, after showing
// "Checking internet for current version - No Internet Connection", when the
// local file cannot be written.
bool FetchVersionDocument(QWidget* owner, const QString& address, const QString& local_path,
                          int timeout_ms);

// Starts `program` detached, with no arguments, from its own folder.
// Replaceable for tests; the result is not checked by the commands.
using TUpdaterStarter = std::function<void(const QString& program)>;
class TScopedUpdaterStarter {
 public:
  explicit TScopedUpdaterStarter(TUpdaterStarter starter);
  ~TScopedUpdaterStarter();
  TScopedUpdaterStarter(const TScopedUpdaterStarter&) = delete;
  TScopedUpdaterStarter& operator=(const TScopedUpdaterStarter&) = delete;

 private:
  TUpdaterStarter previous_;
};

// The Version Check command of the Configure menu.
void VersionCheckClick(QWidget* owner);
// The Upgrade command; closes owner's window on Yes.
void UpgradeClick(QWidget* owner);

}  // namespace tarn
