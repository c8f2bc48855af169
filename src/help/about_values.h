// What the about window shows besides pictures: the operating system text and
// the physical memory text, from values the platform reports.
#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>

namespace tarn {

enum class TPlatformFamily { kWindows9x, kWindowsNT, kOther };

// What the system says about itself.
struct TSystemVersion {
  TPlatformFamily family = TPlatformFamily::kOther;
  QString name;  // the system's own name, used for kOther ("Linux")
  int major = 0;
  int minor = 0;
  std::uint32_t build = 0;
  QString service_pack;  // empty when there is none
};

// The running system: kOther with the kernel's name and its first two
// version numbers ("Linux" and 6.1 for a 6.1.0-18-amd64 kernel).
TSystemVersion CurrentSystemVersion();

// "%s %d.%d (Build %d)" or "%s %d.%d (Build %d: %s)" for the two Windows
// families (9x shows the build's low 16 bits), "%s %d.%d" for any other.
QString OsText(const TSystemVersion& version);

// Total physical memory in bytes, 0 when the system does not say.
std::uint64_t PhysicalMemoryBytes();

// Kilobytes (bytes / 1024) grouped in thousands by `locale`, then " KB".
QString PhysicalMemoryText(std::uint64_t bytes, const QLocale& locale = QLocale::system());

}  // namespace tarn
