#pragma once
// The main window's and the About box's templates, and the identifiers of
// their controls, commands and resources.

#include "ui/dialog_template.h"

namespace vorpane {

enum MainIds : int {
    IDD_ABOUTBOX = 100,
    IDD_PRINTER_TOOL = 102,
    IDR_MAINFRAME = ui::kIconApp,
    IDS_TITLE = 102,
    IDM_ABOUTBOX = 0x10,
    IDC_IP = 1000,
    IDC_TEST = 1001,
    IDC_PRINTER_LIST = 1002,
    IDC_SCAN = 1003,
    IDC_TIMEOUT = 1004,
    IDC_PROGRESS = 1006,
    IDC_TIMEOUT_SPIN = 1008,
    IDC_PAYLOAD = 1010,
    IDC_INIT = 1011,
    IDC_PRINT = 1012,
    IDC_CASHDRAWER = 1013,
    IDC_STATUS = 1014,
    IDC_HEX = 1015,
    IDC_CUTTER = 1016,
    IDC_PING = 1030,
    IDC_NEW_IP = 1031,
    IDC_SET_IP = 1032,
    IDC_SET_MAC = 1033,
    IDC_PRINT_FILE = 1035,
};

const ui::DialogTemplate& AboutDialogTemplate();
const ui::DialogTemplate& MainDialogTemplate();

}  // namespace vorpane
