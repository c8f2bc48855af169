#include "app/settings.h"

#include "platform/profile_file.h"
#include "platform/program_files.h"

namespace tarn {
namespace {

struct TColourKey {
  const char* key;
  QString TProcessValues::*field;
};

const TColourKey kKeys[] = {
    {"Grad1Str", &TProcessValues::Grad1Str},       {"Grad2Str", &TProcessValues::Grad2Str},
    {"Grad3Str", &TProcessValues::Grad3Str},       {"Grad4Str", &TProcessValues::Grad4Str},
    {"StartColStr", &TProcessValues::StartColStr},
};

}  // namespace

QString SettingsPath() { return SettingsFilePath(); }

void LoadSettings(const QString& path, TProcessValues& values) {
  const TProfileFile file(path);
  const TProcessValues defaults;
  const QString section = QString::fromLatin1(kSettingsSection);
  for (const TColourKey& k : kKeys) {
    const QString text = file.ReadString(section, QString::fromLatin1(k.key));
    values.*k.field = text.isEmpty() ? defaults.*k.field : text;
  }
}

void SaveSettings(const QString& path, const TProcessValues& values) {
  TProfileFile file(path);
  const QString section = QString::fromLatin1(kSettingsSection);
  for (const TColourKey& k : kKeys)
    file.WriteString(section, QString::fromLatin1(k.key), values.*k.field);
  if (!file.Save()) throw EIniFileException("Unable to write to " + path.toStdString());
}

}  // namespace tarn
