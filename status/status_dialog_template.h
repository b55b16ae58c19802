#pragma once
// The "Printer Status" dialog's template and the identifiers of its
// controls and lamps.

#include "ui/dialog_template.h"

namespace vorpane {

enum StatusIds : int {
    IDD_PRINTER_STATUS = 131,
    IDI_LAMP_RED = ui::kIconLampRed,
    IDI_LAMP_GREEN = ui::kIconLampGreen,
    IDI_LAMP_GREY = ui::kIconLampGrey,
    IDC_BUSY_TEXT = 1017,
    IDC_ONLINE_TEXT = 1018,
    IDC_ONLINE_LAMP = 1019,
    IDC_BUSY_LAMP = 1020,
    IDC_PAPER_LAMP = 1021,
    IDC_MONITOR = 1022,
    IDC_PAUSE_LAMP = 1023,
    IDC_COVER_TEXT = 1024,
    IDC_COVER_LAMP = 1025,
    IDC_TEMP_LAMP = 1026,
    IDC_PAUSE_TEXT = 1027,
    IDC_TEMP_TEXT = 1028,
    IDC_PAPER_TEXT = 1029,
};

const ui::DialogTemplate& StatusDialogTemplate();

}  // namespace vorpane
