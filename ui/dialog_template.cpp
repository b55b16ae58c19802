#include "ui/dialog_template.h"

#include <cstdlib>

namespace vorpane::ui {

namespace {

using C = ControlClass;
constexpr int S = kStaticId;

// "宋体" (SimSun), the font the dialogs were laid out with.
const char* const kSongTi = "\xE5\xAE\x8B\xE4\xBD\x93";

DialogTemplate MakeAbout() {
    return DialogTemplate{
        100,
        "About Vorpane",
        235,
        55,
        kSongTi,
        9,
        true,
        false,
        {
            {S, C::Icon, "", 11, 17, 20, 20, 0, 128},
            {S, C::Label, "Vorpane V2.1", 40, 10, 119, 8, kStyleNoPrefix},
            {1, C::PushButton, "OK", 178, 7, 50, 14, kStyleDefault | kStyleTabStop},
        },
    };
}

DialogTemplate MakeMain() {
    const uint32_t flat = kStyleFlat | kStyleTabStop;
    return DialogTemplate{
        102,
        "Vorpane",
        256,
        323,
        kSongTi,
        9,
        true,
        true,
        {
            {1, C::PushButton, "&Exit", 199, 301, 50, 14, kStyleDefault | flat},
            {S, C::Label, "IP Address:", 15, 13, 45, 8, 0},
            {1000, C::IpAddress, "", 84, 10, 100, 15, kStyleTabStop},
            {1001, C::PushButton, "Test", 199, 23, 50, 14, flat},
            // The full-width colon is the template's own.
            {S, C::GroupBox, "Scan the Printer\xEF\xBC\x9A", 7, 36, 246, 84, 0},
            {S, C::Label, "Printer List:", 15, 56, 53, 8, 0},
            {1002, C::ComboBox, "", 84, 52, 100, 94,
             kStyleDropDownList | kStyleVScroll | kStyleTabStop},
            {1003, C::PushButton, "Scan", 199, 51, 50, 14, flat},
            {S, C::Label, "Connect Timeout:", 15, 77, 65, 8, 0},
            {1004, C::Edit, "", 83, 72, 89, 14, kStyleBorder | kStyleAutoHScroll | kStyleTabStop},
            {S, C::Label, "ms", 191, 75, 9, 8, 0},
            {1006, C::ProgressBar, "", 19, 95, 217, 14, kStyleBorder},
            {1008, C::UpDown, "", 173, 71, 10, 14, kStyleArrowKeys},
            {1010, C::RichEdit, "", 7, 189, 184, 127,
             kStyleMultiline | kStyleWantReturn | kStyleVScroll | kStyleBorder | kStyleTabStop},
            {1011, C::PushButton, "&Init", 199, 237, 50, 14, flat},
            {1012, C::PushButton, "&Print", 199, 205, 50, 14, flat},
            {1013, C::PushButton, "&Cashdrawer", 199, 253, 50, 14, flat},
            {1014, C::PushButton, "&Status", 199, 285, 50, 14, flat},
            {1015, C::CheckBox, "Hex", 199, 189, 38, 14,
             kStyleAutoCheckBox | kStyleCenter | kStyleTabStop},
            {1016, C::PushButton, "&Cutter", 199, 269, 50, 14, flat},
            {1030, C::PushButton, "Ping", 199, 7, 50, 14, flat},
            {S, C::GroupBox, "Printer setting", 7, 125, 246, 55, 0},
            {S, C::Label, "New IP Address:", 18, 146, 61, 8, 0},
            {1031, C::IpAddress, "", 84, 142, 100, 15, kStyleTabStop},
            {1032, C::PushButton, "Set IP", 199, 142, 50, 14, flat},
            {1033, C::PushButton, "Set MAC", 199, 160, 50, 14, flat},
            {1035, C::PushButton, "Print File", 199, 221, 50, 14, flat},
        },
    };
}

DialogTemplate MakeStatus() {
    return DialogTemplate{
        131,
        "Printer Status",
        211,
        165,
        kSongTi,
        10,
        true,
        false,
        {
            {1, C::PushButton, "&Close", 115, 120, 77, 18, kStyleDefault | kStyleTabStop},
            {1022, C::PushButton, "Start &Monitor", 28, 120, 77, 18, kStyleTabStop},
            {1019, C::Icon, "", 14, 15, 20, 20, 0, 134},
            {1018, C::Label, "Off-line", 38, 21, 69, 8, 0},
            {1020, C::Icon, "", 112, 13, 20, 20, 0, 134},
            {1017, C::Label, "Busy", 130, 19, 69, 8, 0},
            {1021, C::Icon, "", 14, 47, 20, 20, 0, 134},
            {1029, C::Label, "Paper end", 38, 52, 69, 8, 0},
            {1023, C::Icon, "", 112, 45, 20, 20, 0, 134},
            {1027, C::Label, "Pause", 134, 53, 69, 8, 0},
            {1025, C::Icon, "", 14, 83, 20, 20, 0, 134},
            {1024, C::Label, "Cover open", 38, 86, 69, 8, 0},
            {1026, C::Icon, "", 112, 80, 20, 20, 0, 134},
            {1028, C::Label, "OverTemp", 134, 85, 69, 8, 0},
        },
    };
}

}  // namespace

const ControlTemplate* DialogTemplate::Find(int controlId) const {
    for (const auto& c : controls) {
        if (c.id == controlId && controlId != kStaticId) {
            return &c;
        }
    }
    return nullptr;
}

const DialogTemplate& GetDialogTemplate(int id) {
    static const DialogTemplate about = MakeAbout();
    static const DialogTemplate main = MakeMain();
    static const DialogTemplate status = MakeStatus();
    switch (id) {
        case 100:
            return about;
        case 102:
            return main;
        case 131:
            return status;
        default:
            // A template ID is a compile-time constant of the program.
            std::abort();
    }
}

}  // namespace vorpane::ui
