#pragma once
// Dialog units the way the Windows dialog manager defines them: the
// horizontal base unit is the dialog font's average width of the 52 Latin
// letters (rounded), the vertical one the font's height; x pixels are
// x * baseX / 4 and y pixels y * baseY / 8, rounded.

#include <QFont>
#include <QRect>

#include "ui/dialog_template.h"

namespace vorpane::qt {

struct DialogBaseUnits {
    int x = 0;
    int y = 0;
};

// The template's font when the system has it, otherwise the first CJK-capable
// fallback that is installed, at the template's point size.
QFont DialogFont(const ui::DialogTemplate& tmpl);

DialogBaseUnits BaseUnitsForFont(const QFont& font);

// Rounds half away from zero, like the platform's MulDiv.
int MulDiv(int value, int numerator, int denominator);

QRect MapDialogRect(int x, int y, int cx, int cy, DialogBaseUnits units);
QSize MapDialogSize(int cx, int cy, DialogBaseUnits units);

}  // namespace vorpane::qt
