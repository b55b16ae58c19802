#pragma once
// The application's icons, drawn by code so that no image files ship:
// 128 the application icon, 132/133/134 the red/green/grey status lamps.

#include <QIcon>
#include <QPixmap>

#include "ui/dialog_template.h"

namespace vorpane::qt {

using ui::kIconApp;
using ui::kIconLampGreen;
using ui::kIconLampGrey;
using ui::kIconLampRed;

// A null icon for an unknown ID.
QIcon LoadIcon(int iconId);
// The icon at its natural size (32 x 32 logical pixels).
QPixmap IconPixmap(int iconId, qreal devicePixelRatio = 1.0);

}  // namespace vorpane::qt
