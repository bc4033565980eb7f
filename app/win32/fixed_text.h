// Fixed texts that fit their font. A substituted font may run wider than the
// one the template was drawn for; a label then grows into the free space
// beside it (a centred one to both sides) rather than losing its last words.
#pragma once

#include "app/dialog_template.h"

#include <windows.h>

// The dialog's children must be the template's controls, in its order.
void FitFixedTexts(HWND dialog, const DialogTemplate& layout);
