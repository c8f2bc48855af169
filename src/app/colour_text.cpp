#include "app/colour_text.h"

#include <QGuiApplication>
#include <QPalette>
#include <array>

namespace tarn {
namespace {

struct TColorName {
  const char* name;
  TColor value;
};

constexpr std::array<TColorName, 52> kColorNames = {{
    {"clBlack", 0x000000},
    {"clMaroon", 0x000080},
    {"clGreen", 0x008000},
    {"clOlive", 0x008080},
    {"clNavy", 0x800000},
    {"clPurple", 0x800080},
    {"clTeal", 0x808000},
    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},
    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},
    {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},
    {"clMoneyGreen", 0xC0DCC0},
    {"clSkyBlue", 0xF0CAA6},
    {"clCream", 0xF0FBFF},
    {"clMedGray", 0xA4A0A0},
    {"clScrollBar", 0xFF000000},
    {"clBackground", 0xFF000001},
    {"clActiveCaption", 0xFF000002},
    {"clInactiveCaption", 0xFF000003},
    {"clMenu", 0xFF000004},
    {"clWindow", 0xFF000005},
    {"clWindowFrame", 0xFF000006},
    {"clMenuText", 0xFF000007},
    {"clWindowText", 0xFF000008},
    {"clCaptionText", 0xFF000009},
    {"clActiveBorder", 0xFF00000A},
    {"clInactiveBorder", 0xFF00000B},
    {"clAppWorkSpace", 0xFF00000C},
    {"clHighlight", 0xFF00000D},
    {"clHighlightText", 0xFF00000E},
    {"clBtnFace", 0xFF00000F},
    {"clBtnShadow", 0xFF000010},
    {"clGrayText", 0xFF000011},
    {"clBtnText", 0xFF000012},
    {"clInactiveCaptionText", 0xFF000013},
    {"clBtnHighlight", 0xFF000014},
    {"cl3DDkShadow", 0xFF000015},
    {"cl3DLight", 0xFF000016},
    {"clInfoText", 0xFF000017},
    {"clInfoBk", 0xFF000018},
    {"clHotLight", 0xFF00001A},
    {"clGradientActiveCaption", 0xFF00001B},
    {"clGradientInactiveCaption", 0xFF00001C},
    {"clMenuHighlight", 0xFF00001D},
    {"clMenuBar", 0xFF00001E},
    {"clNone", 0x1FFFFFFF},
    {"clDefault", 0x20000000},
}};

constexpr TColor kSystemBit = 0xFF000000;
constexpr TColor kNone = 0x1FFFFFFF;
constexpr TColor kDefault = 0x20000000;

[[noreturn]] void NotAnInteger(const QString& text) {
  throw EConvertError("'" + text.toStdString() + "' is not a valid integer value");
}

// Reads an integer the way the toolkit's string-to-integer conversion does:
// optional blanks and sign, then "$", "0x"/"0X" or "x" for hex, else decimal.
// The value must fit 32 bits (hex may use all of them).
TColor ParseInteger(const QString& text) {
  const QString t = text.trimmed();
  qsizetype i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+'))) {
    negative = t[i] == QLatin1Char('-');
    ++i;
  }
  int base = 10;
  if (i < t.size() && t[i] == QLatin1Char('$')) {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == QLatin1Char('0') &&
             (t[i + 1] == QLatin1Char('x') || t[i + 1] == QLatin1Char('X'))) {
    base = 16;
    i += 2;
  } else if (i < t.size() && (t[i] == QLatin1Char('x') || t[i] == QLatin1Char('X'))) {
    base = 16;
    ++i;
  }
  if (i >= t.size()) NotAnInteger(text);
  std::uint64_t value = 0;
  for (; i < t.size(); ++i) {
    const int digit =
        QChar(t[i]).isDigit() && t[i].unicode() < 128 ? t[i].unicode() - '0'
        : (base == 16 && t[i].toLower() >= QLatin1Char('a') && t[i].toLower() <= QLatin1Char('f'))
            ? t[i].toLower().unicode() - 'a' + 10
            : -1;
    if (digit < 0) NotAnInteger(text);
    value = value * base + static_cast<std::uint64_t>(digit);
    if (value > 0xFFFFFFFFull) NotAnInteger(text);
  }
  if (base == 10 && value > (negative ? 0x80000000ull : 0x7FFFFFFFull)) NotAnInteger(text);
  const auto result = static_cast<TColor>(value);
  return negative ? static_cast<TColor>(0u - result) : result;
}

QColor SystemColor(int index) {
  const QPalette palette = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                               ? QGuiApplication::palette()
                               : QPalette();
  switch (index) {
    case 0x00:
      return palette.color(QPalette::Button);  // scroll bar
    case 0x01:
      return palette.color(QPalette::Window);  // desktop
    case 0x02:
    case 0x0D:
    case 0x1A:
    case 0x1B:
    case 0x1D:
      return palette.color(QPalette::Highlight);
    case 0x03:
    case 0x1C:
      return palette.color(QPalette::Midlight);
    case 0x04:
    case 0x0F:
    case 0x1E:
      return palette.color(QPalette::Button);
    case 0x05:
      return palette.color(QPalette::Base);
    case 0x06:
    case 0x15:
      return palette.color(QPalette::Shadow);
    case 0x07:
    case 0x08:
      return palette.color(QPalette::Text);
    case 0x09:
    case 0x0E:
      return palette.color(QPalette::HighlightedText);
    case 0x0A:
    case 0x0B:
      return palette.color(QPalette::Mid);
    case 0x0C:
      return palette.color(QPalette::Dark);
    case 0x10:
      return palette.color(QPalette::Dark);
    case 0x11:
    case 0x13:
      return palette.color(QPalette::Disabled, QPalette::Text);
    case 0x12:
      return palette.color(QPalette::ButtonText);
    case 0x14:
      return palette.color(QPalette::Light);
    case 0x16:
      return palette.color(QPalette::Midlight);
    case 0x17:
      return palette.color(QPalette::ToolTipText);
    case 0x18:
      return palette.color(QPalette::ToolTipBase);
    default:
      return palette.color(QPalette::Window);
  }
}

}  // namespace

std::optional<QString> ColorToIdent(TColor color) {
  for (const TColorName& entry : kColorNames)
    if (entry.value == color) return QString::fromLatin1(entry.name);
  return std::nullopt;
}

std::optional<TColor> IdentToColor(const QString& name) {
  for (const TColorName& entry : kColorNames)
    if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0) return entry.value;
  return std::nullopt;
}

QString ColorToString(TColor color) {
  if (auto name = ColorToIdent(color)) return *name;
  return QStringLiteral("$%1").arg(color, 8, 16, QLatin1Char('0')).toUpper();
}

TColor StringToColor(const QString& text) {
  if (auto value = IdentToColor(text)) return *value;
  return ParseInteger(text);
}

QColor ColorToQColor(TColor color) {
  if (color == kNone) return QColor(Qt::transparent);
  if (color == kDefault) return SystemColor(0x05);
  if ((color & kSystemBit) == kSystemBit && (color & 0x00FFFF00) == 0)
    return SystemColor(static_cast<int>(color & 0xFF));
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                static_cast<int>((color >> 16) & 0xFF));
}

QColor ColorTextToQColor(const QString& text) { return ColorToQColor(StringToColor(text)); }

}  // namespace tarn
