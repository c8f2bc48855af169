#include "app/table_text.h"

#include <QList>

#include "generator/codepage.h"

namespace tarn {

QString FromTableText(std::string_view bytes) {
  return QString::fromStdString(KeyBytesToUtf8(bytes));
}

std::string ToTableText(const QString& text, std::string_view field, int size) {
  std::string bytes;
  bytes.reserve(static_cast<size_t>(text.size()));
  for (qsizetype i = 0; i < text.size();) {
    // One character, surrogate pairs included.
    const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    const QString character = text.mid(i, length);
    const std::string code = Utf8ToKeyBytes(character.toStdString());
    // A character of the code page maps to one byte that maps back to it.
    if (code.size() != 1 || FromTableText(code) != character) {
      const char32_t point = character.toUcs4().value(0);
      throw ETableTextError("The character '" + character.toStdString() + "' (U+" +
                            QString::number(point, 16).toUpper().rightJustified(4, '0').toStdString() +
                            ") cannot be stored in the field " + std::string(field) +
                            ": the table holds Western European (Windows-1252) characters only");
    }
    bytes += code;
    i += length;
  }
  if (size > 0 && bytes.size() > static_cast<size_t>(size)) bytes.resize(static_cast<size_t>(size));
  return bytes;
}

}  // namespace tarn
