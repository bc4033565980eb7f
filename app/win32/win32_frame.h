// The native Windows window of Skyflit: a DialogFrame that runs the dialog
// template as a modal Win32 dialog. Its icon comes from the program's
// resources (skyflit.rc, linked into every program that uses the frame).
#pragma once

#include "app/dialog.h"

#include <memory>

std::unique_ptr<DialogFrame> MakeWin32Frame();
