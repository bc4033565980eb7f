// The Qt window of Skyflit: a DialogFrame built from the dialog template.
#pragma once

#include "app/dialog.h"

#include <memory>

// Creates the QApplication (kept for the frame's lifetime, so message boxes
// work before RunModal) and the frame. argc must outlive the frame.
std::unique_ptr<DialogFrame> MakeQtFrame(int& argc, char** argv);
