// Colours stored as text: a name from the 52-entry colour-name table
// ("clBlue", "clBtnFace", ...) or "$" and eight upper-case hex digits in
// 00BBGGRR order. Values are 32-bit: fixed colours 00BBGGRR, system colours
// FF0000nn (nn = system colour index), clNone 1FFFFFFF, clDefault 20000000.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace tarn {

using TColor = std::uint32_t;

// Raised when a text is neither a colour name nor an integer.
class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

// The name of `color` in the table, if it has one.
std::optional<QString> ColorToIdent(TColor color);
// The value of a table name (names match without regard to case).
std::optional<TColor> IdentToColor(const QString& name);

// Name if the value has one, else "$" and 8 upper-case hex digits.
QString ColorToString(TColor color);
// Table name, else an integer ("$" or "0x" for hex, else decimal).
// Throws EConvertError ("'<text>' is not a valid integer value").
TColor StringToColor(const QString& text);

// The colour to paint with: system colours through the current palette,
// clNone as transparent, clDefault as the window background.
QColor ColorToQColor(TColor color);
// Shorthand for ColorToQColor(StringToColor(text)); throws EConvertError.
QColor ColorTextToQColor(const QString& text);

}  // namespace tarn
