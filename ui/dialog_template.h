#pragma once
// Dialog templates as data: every control's ID, class, caption, position and
// size in dialog units and style, in tab order. Each dialog keeps its own
// template beside it; every backend builds from it, so the headless window
// and the real ones have the same controls.

#include <cstdint>
#include <string>
#include <vector>

namespace vorpane::ui {

enum class ControlClass {
    PushButton,
    CheckBox,
    Label,
    GroupBox,
    IpAddress,
    ComboBox,
    Edit,
    ProgressBar,
    UpDown,
    RichEdit,
    Icon,
};

enum ControlStyle : uint32_t {
    kStyleDefault = 0x0001,  // default push button
    kStyleFlat = 0x0002,     // flat button
    kStyleTabStop = 0x0004,
    kStyleBorder = 0x0008,
    kStyleVScroll = 0x0010,
    kStyleAutoHScroll = 0x0020,
    kStyleMultiline = 0x0040,
    kStyleWantReturn = 0x0080,  // Enter inserts a line
    kStyleCenter = 0x0100,      // centred text
    kStyleNoPrefix = 0x0200,    // '&' shown as is
    kStyleDropDownList = 0x0400,
    kStyleArrowKeys = 0x0800,
    kStyleAutoCheckBox = 0x1000,
};

// ID of static labels, group boxes and other controls without logic.
constexpr int kStaticId = -1;

// Icons the backends draw, by resource ID.
enum IconId : int {
    kIconApp = 128,
    kIconLampRed = 132,
    kIconLampGreen = 133,
    kIconLampGrey = 134,
};

// "宋体" (SimSun), the font the dialogs were laid out with.
inline constexpr const char* kSongTi = "\xE5\xAE\x8B\xE4\xBD\x93";

struct ControlTemplate {
    int id;
    ControlClass cls;
    std::string caption;  // UTF-8; for an Icon control, empty
    int x, y, cx, cy;     // dialog units
    uint32_t style;
    int iconId = 0;  // Icon controls only
    // What assistive technology calls a control that neither a caption nor
    // a label before it names; for an indicator icon, what it indicates.
    std::string accessibleName = {};
};

struct DialogTemplate {
    int id;
    std::string caption;  // UTF-8
    int cx, cy;           // dialog units
    std::string fontName;
    int pointSize;
    bool hasSystemMenu;
    bool appWindow;  // own taskbar button
    std::vector<ControlTemplate> controls;

    const ControlTemplate* Find(int controlId) const;
};

}  // namespace vorpane::ui
