// The settings file beside the program (program path with ".INI"), section
// "Detail", five colour texts. A key that is missing or holds an empty value
// takes its default. Values are kept as text: a malformed colour is only found
// when it is applied, and is written back unchanged.
#pragma once

#include <QString>
#include <stdexcept>
#include <string>

#include "app/process_values.h"

namespace tarn {

inline constexpr const char* kSettingsSection = "Detail";

// SaveSettings failed; the message is "Unable to write to <path>".
class EIniFileException : public std::runtime_error {
 public:
  explicit EIniFileException(const std::string& message) : std::runtime_error(message) {}
};

QString SettingsPath();

// Reads the five colour texts of `path` into `values`, applying defaults.
void LoadSettings(const QString& path, TProcessValues& values);
// Writes the five colour texts to section Detail of `path`, keeping the rest
// of the file. Throws EIniFileException when the file cannot be written.
void SaveSettings(const QString& path, const TProcessValues& values);

}  // namespace tarn
