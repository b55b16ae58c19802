#pragma once
// <windows.h> and the common controls and dialogs for the Win32 backend. Its A/W macros would
// rename the seam's own MessageBox and GetOpenFileName wherever both are seen; the backend calls
// the wide functions by their full names instead.

#include <windows.h>
// After <windows.h>, in this order.
#include <commctrl.h>
#include <commdlg.h>

#undef MessageBox
#undef GetOpenFileName
