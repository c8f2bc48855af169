// Small pictures drawn beside the generator window's button captions.
#pragma once

#include "kit/glyph.h"

namespace tarn {

enum class TPWGlyph { kFolder, kHelp, kCopy, kTick };

TGlyph PWGlyph(TPWGlyph kind);

}  // namespace tarn
