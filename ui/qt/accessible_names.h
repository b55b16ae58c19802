#pragma once
// What assistive technology calls each control of a dialog template.

#include <QString>

#include "ui/dialog_template.h"

namespace vorpane::qt {

// '&x' shows as x, '&&' as '&', the way a caption's mnemonic marker reads.
QString StripMnemonic(const QString& caption);

// Index of the label that names a caption-less input control (the nearest
// label before it in the template), or -1.
int LabelIndexFor(const ui::DialogTemplate& tmpl, size_t controlIndex);

// The accessible name of the control at controlIndex; never empty.
QString AccessibleNameFor(const ui::DialogTemplate& tmpl, size_t controlIndex);

// For a lamp icon whose template names what it indicates, that name
// ("On-line"); empty otherwise.
QString IndicatorOfLamp(const ui::DialogTemplate& tmpl, int controlId);

// "green", "red", "grey" for the lamp icons; empty for other icons.
QString LampColourName(int iconId);

}  // namespace vorpane::qt
