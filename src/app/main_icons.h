// The main window's image list: the menu icons by their list index (0, 1, 2,
// 4, 6, 7, 11, 16 and 19 are used), drawn as vectors so they stay sharp at
// any scale. An unused index gives a null icon.
#pragma once

#include <QIcon>

namespace tarn {

QIcon MainIcon(int index);

}  // namespace tarn
