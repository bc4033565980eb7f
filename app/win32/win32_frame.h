// The native Windows window of Skyflit: a DialogFrame that runs the dialog
// template as a modal Win32 dialog. Its icon comes from the program's
// resources (skyflit.rc, linked into every program that uses the frame).
#pragma once

#include "app/dialog.h"

#include <memory>

std::unique_ptr<DialogFrame> MakeWin32Frame();

// Started from Explorer, a console program gets a console window of its own,
// which the control window does not need; a console shared with a shell stays.
void CloseOwnConsole();
