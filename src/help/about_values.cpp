#include "help/about_values.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <QRegularExpression>

namespace tarn {

TSystemVersion CurrentSystemVersion() {
  TSystemVersion version;
  utsname info{};
  if (uname(&info) != 0) return version;
  version.name = QString::fromLocal8Bit(info.sysname);
  const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("^(\\d+)\\.(\\d+)"))
                                        .match(QString::fromLatin1(info.release));
  if (m.hasMatch()) {
    version.major = m.captured(1).toInt();
    version.minor = m.captured(2).toInt();
  }
  return version;
}

QString OsText(const TSystemVersion& version) {
  QString name;
  std::uint32_t build = version.build;
  switch (version.family) {
    case TPlatformFamily::kWindows9x:
      name = QStringLiteral("Windows 95");
      build &= 0xFFFF;
      break;
    case TPlatformFamily::kWindowsNT:
      name = QStringLiteral("Windows NT");
      break;
    case TPlatformFamily::kOther:
      name = version.name.isEmpty() ? QStringLiteral("Windows") : version.name;
      return QStringLiteral("%1 %2.%3").arg(name).arg(version.major).arg(version.minor);
  }
  QString text = QStringLiteral("%1 %2.%3 (Build %4")
                     .arg(name)
                     .arg(version.major)
                     .arg(version.minor)
                     .arg(build);
  if (!version.service_pack.isEmpty()) text += QStringLiteral(": ") + version.service_pack;
  return text + QLatin1Char(')');
}

std::uint64_t PhysicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

QString PhysicalMemoryText(std::uint64_t bytes, const QLocale& locale) {
  const std::uint64_t kilobytes = bytes / 1024;
  // "#,###" shows nothing for zero.
  // Grouped even where the locale leaves grouping off by default (C).
  QLocale grouping = locale;
  grouping.setNumberOptions(QLocale::DefaultNumberOptions);
  const QString digits =
      kilobytes == 0 ? QString() : grouping.toString(static_cast<qulonglong>(kilobytes));
  return digits + QStringLiteral(" KB");
}

}  // namespace tarn
