#pragma once
// A dialog template of the seam as the in-memory DLGTEMPLATEEX that the
// dialog manager builds a window from: the template's dialog units, font,
// controls in tab order, their window classes and styles.

#include "ui/win32/windows_api.h"

#include <vector>

#include "ui/dialog_template.h"

namespace vorpane::win32 {

// Class name of the window class that hosts the logic's painted progress bar.
extern const wchar_t* const kProgressClassName;

struct ControlWindowClass {
    const wchar_t* className;
    DWORD style;
    DWORD exStyle;
};

// What a template control becomes in the dialog.
ControlWindowClass WindowClassFor(const ui::ControlTemplate& c);

class DialogResource {
public:
    explicit DialogResource(const ui::DialogTemplate& tmpl);
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

private:
    // DWORD storage: the dialog manager wants the template DWORD-aligned.
    std::vector<DWORD> m_words;
};

}  // namespace vorpane::win32
