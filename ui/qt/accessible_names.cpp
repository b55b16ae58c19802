#include "ui/qt/accessible_names.h"

#include "ui/qt/icons.h"

namespace vorpane::qt {

namespace {

QString StripLabel(const QString& caption) {
    QString s = StripMnemonic(caption).trimmed();
    while (s.endsWith(QLatin1Char(':')) || s.endsWith(QChar(0xFF1A))) {
        s.chop(1);
    }
    return s.trimmed();
}

bool IsInput(ui::ControlClass c) {
    return c == ui::ControlClass::IpAddress || c == ui::ControlClass::ComboBox ||
           c == ui::ControlClass::Edit || c == ui::ControlClass::RichEdit;
}

}  // namespace

QString StripMnemonic(const QString& caption) {
    QString out;
    out.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) {
            ++i;  // the next character stands for itself ("&&" is one '&')
        }
        out.append(caption[i]);
    }
    return out;
}

int LabelIndexFor(const ui::DialogTemplate& tmpl, size_t controlIndex) {
    if (controlIndex >= tmpl.controls.size() || !IsInput(tmpl.controls[controlIndex].cls)) {
        return -1;
    }
    for (size_t i = controlIndex; i-- > 0;) {
        const ui::ControlClass c = tmpl.controls[i].cls;
        if (c == ui::ControlClass::Label) {
            return static_cast<int>(i);
        }
        if (c != ui::ControlClass::GroupBox) {
            return -1;  // another control stands between: the label is not ours
        }
    }
    return -1;
}

QString IndicatorOfLamp(const ui::DialogTemplate& tmpl, int controlId) {
    const ui::ControlTemplate* c = tmpl.Find(controlId);
    if (c == nullptr || c->cls != ui::ControlClass::Icon || LampColourName(c->iconId).isEmpty()) {
        return QString();
    }
    return QString::fromStdString(c->accessibleName);
}

QString LampColourName(int iconId) {
    switch (iconId) {
        case kIconLampRed:
            return QStringLiteral("red");
        case kIconLampGreen:
            return QStringLiteral("green");
        case kIconLampGrey:
            return QStringLiteral("grey");
        default:
            return QString();
    }
}

QString AccessibleNameFor(const ui::DialogTemplate& tmpl, size_t controlIndex) {
    const ui::ControlTemplate& c = tmpl.controls.at(controlIndex);
    if (const QString lamp = IndicatorOfLamp(tmpl, c.id); !lamp.isEmpty()) {
        return lamp + QStringLiteral(" lamp");
    }
    if (!c.accessibleName.empty()) {
        return QString::fromStdString(c.accessibleName);
    }
    if (const int label = LabelIndexFor(tmpl, controlIndex); label >= 0) {
        return StripLabel(
            QString::fromStdString(tmpl.controls[static_cast<size_t>(label)].caption));
    }
    const QString caption = QString::fromStdString(c.caption);
    if (!caption.isEmpty()) {
        if (c.cls == ui::ControlClass::Label && (c.style & ui::kStyleNoPrefix) != 0) {
            return caption;
        }
        return StripMnemonic(caption);
    }
    // Nothing better known: the kind of control and its ID.
    return QStringLiteral("Control %1").arg(c.id);
}

}  // namespace vorpane::qt
