#include "ui/qt/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QString>
#include <QStringList>

namespace vorpane::qt {

QFont DialogFont(const ui::DialogTemplate& tmpl) {
    const QString wanted = QString::fromStdString(tmpl.fontName);
    // "宋体" is SimSun's local name; the machine may know it under either, or
    // not at all, in which case a CJK sans face keeps the template's texts
    // (the full-width colon among them) in one family.
    const QStringList candidates = {wanted,
                                    QStringLiteral("SimSun"),
                                    QStringLiteral("NSimSun"),
                                    QStringLiteral("WenQuanYi Zen Hei"),
                                    QStringLiteral("Noto Sans CJK SC"),
                                    QStringLiteral("Droid Sans Fallback")};
    const QStringList installed = QFontDatabase::families();
    QFont font;
    for (const QString& family : candidates) {
        if (installed.contains(family, Qt::CaseInsensitive)) {
            font.setFamilies({family});
            break;
        }
    }
    font.setPointSize(tmpl.pointSize > 0 ? tmpl.pointSize : 9);
    return font;
}

DialogBaseUnits BaseUnitsForFont(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogBaseUnits units;
    units.x = (width / 26 + 1) / 2;
    units.y = fm.height();
    if (units.x < 1) {
        units.x = 1;
    }
    if (units.y < 1) {
        units.y = 1;
    }
    return units;
}

int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    const long long q =
        product >= 0 ? (product + half) / denominator : (product - half) / denominator;
    return static_cast<int>(q);
}

QRect MapDialogRect(int x, int y, int cx, int cy, DialogBaseUnits units) {
    const int left = MulDiv(x, units.x, 4);
    const int top = MulDiv(y, units.y, 8);
    const int right = MulDiv(x + cx, units.x, 4);
    const int bottom = MulDiv(y + cy, units.y, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize MapDialogSize(int cx, int cy, DialogBaseUnits units) {
    return QSize(MulDiv(cx, units.x, 4), MulDiv(cy, units.y, 8));
}

}  // namespace vorpane::qt
