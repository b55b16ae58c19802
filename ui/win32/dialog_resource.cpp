#include "ui/win32/dialog_resource.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "ui/win32/win32_text.h"

namespace vorpane::win32 {

const wchar_t* const kProgressClassName = L"VorpanePercentProgress";

namespace {

using ui::ControlClass;

// The dialogs were laid out in a Simplified Chinese font, and the template
// texts use its full-width colon: a font for that character set is what a
// system without the named face should pick instead.
constexpr BYTE kDialogCharset = GB2312_CHARSET;

class Writer {
public:
    void Word(uint16_t v) { Put(&v, sizeof v); }
    void DWord(uint32_t v) { Put(&v, sizeof v); }
    void Short(int v) { Word(static_cast<uint16_t>(static_cast<int16_t>(v))); }
    void Byte(uint8_t v) { Put(&v, 1); }
    void String(const std::wstring& s) {
        for (wchar_t c : s) {
            Word(static_cast<uint16_t>(c));
        }
        Word(0);
    }
    void Ordinal(uint16_t v) {
        Word(0xFFFF);
        Word(v);
    }
    void Align() {
        while (m_bytes.size() % 4 != 0) {
            m_bytes.push_back(0);
        }
    }
    size_t Size() const { return m_bytes.size(); }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    void Put(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        m_bytes.insert(m_bytes.end(), b, b + n);
    }
    std::vector<uint8_t> m_bytes;
};

bool FontInstalled(const std::wstring& face) {
    LOGFONTW lf{};
    lf.lfCharSet = DEFAULT_CHARSET;
    if (face.size() >= LF_FACESIZE) {
        return false;
    }
    face.copy(lf.lfFaceName, face.size());
    HDC screen = GetDC(nullptr);
    bool found = false;
    EnumFontFamiliesExW(
        screen, &lf,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) -> int {
            *reinterpret_cast<bool*>(found) = true;
            return 0;
        },
        reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

// The template's face when the system has it, under its English name or
// not, otherwise the Simplified Chinese face that Windows ships; failing
// those, the font mapper's choice for the template's character set.
std::wstring DialogFontFace(const std::string& templateFace) {
    const std::wstring wanted = Widen(templateFace);
    for (const std::wstring& face : {wanted, std::wstring(L"SimSun"), std::wstring(L"NSimSun"),
                                     std::wstring(L"Microsoft YaHei")}) {
        if (FontInstalled(face)) {
            return face;
        }
    }
    return wanted;
}

DWORD EditStyle(uint32_t s) {
    DWORD style = ES_LEFT;
    if (s & ui::kStyleAutoHScroll) {
        style |= ES_AUTOHSCROLL;
    }
    if (s & ui::kStyleMultiline) {
        style |= ES_MULTILINE | ES_AUTOVSCROLL;
    }
    if (s & ui::kStyleWantReturn) {
        style |= ES_WANTRETURN;
    }
    if (s & ui::kStyleVScroll) {
        style |= WS_VSCROLL;
    }
    return style;
}

}  // namespace

ControlWindowClass WindowClassFor(const ui::ControlTemplate& c) {
    const uint32_t s = c.style;
    DWORD style = WS_CHILD | WS_VISIBLE;
    if (s & ui::kStyleTabStop) {
        style |= WS_TABSTOP;
    }
    const DWORD edge = (s & ui::kStyleBorder) ? WS_EX_CLIENTEDGE : 0;
    switch (c.cls) {
        case ControlClass::PushButton:
            style |= (s & ui::kStyleDefault) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON;
            if (s & ui::kStyleFlat) {
                style |= BS_FLAT;
            }
            return {L"Button", style, 0};
        case ControlClass::CheckBox:
            style |= (s & ui::kStyleAutoCheckBox) ? BS_AUTOCHECKBOX : BS_CHECKBOX;
            if (s & ui::kStyleCenter) {
                style |= BS_CENTER;
            }
            return {L"Button", style, 0};
        case ControlClass::Label:
            style |= (s & ui::kStyleCenter) ? SS_CENTER : SS_LEFT;
            if (s & ui::kStyleNoPrefix) {
                style |= SS_NOPREFIX;
            }
            return {L"Static", style, 0};
        case ControlClass::GroupBox:
            return {L"Button", style | BS_GROUPBOX, 0};
        case ControlClass::IpAddress:
            return {WC_IPADDRESSW, style, 0};
        case ControlClass::ComboBox:
            style |= (s & ui::kStyleDropDownList) ? CBS_DROPDOWNLIST : CBS_DROPDOWN;
            if (s & ui::kStyleVScroll) {
                style |= WS_VSCROLL;
            }
            return {L"ComboBox", style, 0};
        case ControlClass::Edit:
            return {L"Edit", style | EditStyle(s), edge};
        case ControlClass::RichEdit:
            // The first-generation rich edit, registered by riched32.dll.
            return {L"RICHEDIT", style | EditStyle(s), edge};
        case ControlClass::ProgressBar:
            // A plain line around the bar, as the painted control expects.
            return {kProgressClassName, style | ((s & ui::kStyleBorder) ? WS_BORDER : 0), 0};
        case ControlClass::UpDown:
            return {UPDOWN_CLASSW, style | ((s & ui::kStyleArrowKeys) ? UDS_ARROWKEYS : 0), 0};
        case ControlClass::Icon:
            return {L"Static", style | SS_ICON, 0};
    }
    return {L"Static", style, 0};
}

DialogResource::DialogResource(const ui::DialogTemplate& tmpl) {
    DWORD style = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION;
    DWORD exStyle = 0;
    if (tmpl.hasSystemMenu) {
        style |= WS_SYSMENU;
    }
    if (tmpl.appWindow) {
        // The application's own window: a taskbar button and minimisable.
        style |= WS_MINIMIZEBOX;
        exStyle |= WS_EX_APPWINDOW;
    }

    Writer w;
    w.Word(1);       // dlgVer
    w.Word(0xFFFF);  // signature of the extended template
    w.DWord(0);      // helpID
    w.DWord(exStyle);
    w.DWord(style);
    w.Word(static_cast<uint16_t>(tmpl.controls.size()));
    w.Short(0);
    w.Short(0);
    w.Short(tmpl.cx);
    w.Short(tmpl.cy);
    w.Word(0);  // no menu
    w.Word(0);  // the dialog manager's own window class
    w.String(Widen(tmpl.caption));
    w.Word(static_cast<uint16_t>(tmpl.pointSize));
    w.Word(FW_NORMAL);
    w.Byte(0);  // not italic
    w.Byte(kDialogCharset);
    w.String(DialogFontFace(tmpl.fontName));

    for (const ui::ControlTemplate& c : tmpl.controls) {
        const ControlWindowClass wc = WindowClassFor(c);
        w.Align();
        w.DWord(0);  // helpID
        w.DWord(wc.exStyle);
        w.DWord(wc.style);
        w.Short(c.x);
        w.Short(c.y);
        w.Short(c.cx);
        w.Short(c.cy);
        w.DWord(static_cast<uint32_t>(c.id));
        w.String(wc.className);
        if (c.cls == ControlClass::Icon) {
            // The dialog manager loads the icon resource of that number.
            w.Ordinal(static_cast<uint16_t>(c.iconId));
        } else {
            w.String(Widen(c.caption));
        }
        w.Word(0);  // no creation data
    }
    w.Align();
    m_words.resize(w.Size() / sizeof(DWORD));
    std::memcpy(m_words.data(), w.Bytes().data(), w.Size());
}

}  // namespace vorpane::win32
