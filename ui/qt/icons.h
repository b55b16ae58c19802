#pragma once
// The application's icons, drawn by code so that no image files ship:
// 128 the application icon, 132/133/134 the red/green/grey status lamps.

#include <QIcon>
#include <QPixmap>

namespace vorpane::qt {

enum IconId : int {
    kIconApp = 128,
    kIconLampRed = 132,
    kIconLampGreen = 133,
    kIconLampGrey = 134,
};

// A null icon for an unknown ID.
QIcon LoadIcon(int iconId);
// The icon at its natural size (32 x 32 logical pixels).
QPixmap IconPixmap(int iconId, qreal devicePixelRatio = 1.0);

}  // namespace vorpane::qt
