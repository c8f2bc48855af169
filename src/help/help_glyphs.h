// Small pictures for the help, colour and about windows' buttons, drawn
// rather than shipped so they scale with nothing to install.
#pragma once

#include <QPixmap>

namespace tarn {

enum class THelpGlyph { kCopy, kPrint, kClose };

QPixmap HelpGlyph(THelpGlyph kind);

}  // namespace tarn
