// The four help topics and their texts. The compatibility topic names the
// program file and its folder, so it is built when asked for.
#pragma once

#include <QString>

namespace tarn {

enum class THelpTopic { kAbout, kBeginners, kHints, kSplashScreen };

// The exact text of `topic`; lines end in CR LF.
QString HelpTopicText(THelpTopic topic);

}  // namespace tarn
