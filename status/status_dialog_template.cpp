#include "status/status_dialog_template.h"

#include "ui/window_system.h"

namespace vorpane {

namespace {

ui::DialogTemplate MakeStatus() {
    using C = ui::ControlClass;
    return ui::DialogTemplate{
        IDD_PRINTER_STATUS,
        "Printer Status",
        211,
        165,
        ui::kSongTi,
        10,
        true,
        false,
        {
            {ui::kIdOk, C::PushButton, "&Close", 115, 120, 77, 18,
             ui::kStyleDefault | ui::kStyleTabStop},
            {IDC_MONITOR, C::PushButton, "Start &Monitor", 28, 120, 77, 18, ui::kStyleTabStop},
            {IDC_ONLINE_LAMP, C::Icon, "", 14, 15, 20, 20, 0, IDI_LAMP_GREY, "On-line"},
            {IDC_ONLINE_TEXT, C::Label, "Off-line", 38, 21, 69, 8, 0},
            {IDC_BUSY_LAMP, C::Icon, "", 112, 13, 20, 20, 0, IDI_LAMP_GREY, "Busy"},
            {IDC_BUSY_TEXT, C::Label, "Busy", 130, 19, 69, 8, 0},
            {IDC_PAPER_LAMP, C::Icon, "", 14, 47, 20, 20, 0, IDI_LAMP_GREY, "Paper"},
            {IDC_PAPER_TEXT, C::Label, "Paper end", 38, 52, 69, 8, 0},
            {IDC_PAUSE_LAMP, C::Icon, "", 112, 45, 20, 20, 0, IDI_LAMP_GREY, "Pause"},
            {IDC_PAUSE_TEXT, C::Label, "Pause", 134, 53, 69, 8, 0},
            {IDC_COVER_LAMP, C::Icon, "", 14, 83, 20, 20, 0, IDI_LAMP_GREY, "Cover"},
            {IDC_COVER_TEXT, C::Label, "Cover open", 38, 86, 69, 8, 0},
            {IDC_TEMP_LAMP, C::Icon, "", 112, 80, 20, 20, 0, IDI_LAMP_GREY, "Temperature"},
            {IDC_TEMP_TEXT, C::Label, "OverTemp", 134, 85, 69, 8, 0},
        },
    };
}

}  // namespace

const ui::DialogTemplate& StatusDialogTemplate() {
    static const ui::DialogTemplate status = MakeStatus();
    return status;
}

}  // namespace vorpane
