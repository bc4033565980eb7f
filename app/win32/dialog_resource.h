// The dialog template as the in-memory dialog resource that
// DialogBoxIndirectParamW reads: a DLGTEMPLATE with the template's font, then
// one DLGITEMTEMPLATE per control in tab order, in dialog units.
#pragma once

#include "app/dialog_template.h"

#include <windows.h>

#include <vector>

// Window style of the control window: fixed size, caption, system menu and
// minimise box, in the task bar.
inline constexpr DWORD CONTROL_WINDOW_STYLE =
    DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
inline constexpr DWORD CONTROL_WINDOW_EX_STYLE = WS_EX_APPWINDOW;

// WORDs, so that the DWORD alignment the dialog manager expects of every
// item is an even index into a buffer that operator new aligns.
std::vector<WORD> BuildDialogResource(const DialogTemplate& dialog);
