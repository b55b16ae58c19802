#include "app/main_dialog_template.h"

#include "ui/window_system.h"

namespace vorpane {

namespace {

using C = ui::ControlClass;
constexpr int S = ui::kStaticId;

ui::DialogTemplate MakeAbout() {
    return ui::DialogTemplate{
        IDD_ABOUTBOX,
        "About Vorpane",
        235,
        55,
        ui::kSongTi,
        9,
        true,
        false,
        {
            {S, C::Icon, "", 11, 17, 20, 20, 0, IDR_MAINFRAME, "Vorpane icon"},
            {S, C::Label, "Vorpane V2.1", 40, 10, 119, 8, ui::kStyleNoPrefix},
            {ui::kIdOk, C::PushButton, "OK", 178, 7, 50, 14, ui::kStyleDefault | ui::kStyleTabStop},
        },
    };
}

ui::DialogTemplate MakeMain() {
    using namespace ui;
    const uint32_t flat = kStyleFlat | kStyleTabStop;
    return DialogTemplate{
        IDD_PRINTER_TOOL,
        "Vorpane",
        256,
        323,
        kSongTi,
        9,
        true,
        true,
        {
            {kIdOk, C::PushButton, "&Exit", 199, 301, 50, 14, kStyleDefault | flat},
            {S, C::Label, "IP Address:", 15, 13, 45, 8, 0},
            {IDC_IP, C::IpAddress, "", 84, 10, 100, 15, kStyleTabStop},
            {IDC_TEST, C::PushButton, "Test", 199, 23, 50, 14, flat},
            // The full-width colon is the template's own.
            {S, C::GroupBox, "Scan the Printer\xEF\xBC\x9A", 7, 36, 246, 84, 0},
            {S, C::Label, "Printer List:", 15, 56, 53, 8, 0},
            {IDC_PRINTER_LIST, C::ComboBox, "", 84, 52, 100, 94,
             kStyleDropDownList | kStyleVScroll | kStyleTabStop},
            {IDC_SCAN, C::PushButton, "Scan", 199, 51, 50, 14, flat},
            {S, C::Label, "Connect Timeout:", 15, 77, 65, 8, 0},
            {IDC_TIMEOUT, C::Edit, "", 83, 72, 89, 14,
             kStyleBorder | kStyleAutoHScroll | kStyleTabStop},
            {S, C::Label, "ms", 191, 75, 9, 8, 0},
            {IDC_PROGRESS, C::ProgressBar, "", 19, 95, 217, 14, kStyleBorder, 0, "Scan progress"},
            {IDC_TIMEOUT_SPIN, C::UpDown, "", 173, 71, 10, 14, kStyleArrowKeys, 0,
             "Connect Timeout step"},
            {IDC_PAYLOAD, C::RichEdit, "", 7, 189, 184, 127,
             kStyleMultiline | kStyleWantReturn | kStyleVScroll | kStyleBorder | kStyleTabStop, 0,
             "Payload"},
            {IDC_INIT, C::PushButton, "&Init", 199, 237, 50, 14, flat},
            {IDC_PRINT, C::PushButton, "&Print", 199, 205, 50, 14, flat},
            {IDC_CASHDRAWER, C::PushButton, "&Cashdrawer", 199, 253, 50, 14, flat},
            {IDC_STATUS, C::PushButton, "&Status", 199, 285, 50, 14, flat},
            {IDC_HEX, C::CheckBox, "Hex", 199, 189, 38, 14,
             kStyleAutoCheckBox | kStyleCenter | kStyleTabStop},
            {IDC_CUTTER, C::PushButton, "&Cutter", 199, 269, 50, 14, flat},
            {IDC_PING, C::PushButton, "Ping", 199, 7, 50, 14, flat},
            {S, C::GroupBox, "Printer setting", 7, 125, 246, 55, 0},
            {S, C::Label, "New IP Address:", 18, 146, 61, 8, 0},
            {IDC_NEW_IP, C::IpAddress, "", 84, 142, 100, 15, kStyleTabStop},
            {IDC_SET_IP, C::PushButton, "Set IP", 199, 142, 50, 14, flat},
            {IDC_SET_MAC, C::PushButton, "Set MAC", 199, 160, 50, 14, flat},
            {IDC_PRINT_FILE, C::PushButton, "Print File", 199, 221, 50, 14, flat},
        },
    };
}

}  // namespace

const ui::DialogTemplate& AboutDialogTemplate() {
    static const ui::DialogTemplate about = MakeAbout();
    return about;
}

const ui::DialogTemplate& MainDialogTemplate() {
    static const ui::DialogTemplate main = MakeMain();
    return main;
}

}  // namespace vorpane
