// Small pictures drawn beside the generator window's button captions.
#pragma once

#include <QPixmap>

namespace tarn {

enum class TPWGlyph { kFolder, kHelp, kCopy, kTick };

QPixmap PWGlyph(TPWGlyph kind);

}  // namespace tarn
