// Text between the program (Unicode) and table Pal, whose text fields hold
// single bytes in the Windows-1252 code page. A character the table cannot
// hold is refused with a message naming it and the field, before anything
// is written; a text longer than its field is cut to the field's size.
#pragma once

#include <QString>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarn {

// A text the table cannot hold; the message says which character and field.
class ETableTextError : public std::runtime_error {
 public:
  explicit ETableTextError(const std::string& message) : std::runtime_error(message) {}
};

// Table bytes to display text.
QString FromTableText(std::string_view bytes);

// Display text to table bytes for field `field`. `size` is the field's size
// in characters (0: no limit, as for memos). Line ends are kept as typed.
std::string ToTableText(const QString& text, std::string_view field, int size);

}  // namespace tarn
