// The program icon, drawn rather than loaded, so the program needs no
// resource files beside it.
#pragma once

#include <QIcon>

// The icon for a resource id of the dialog layer; a null icon for ids it
// does not know.
QIcon ProgramIcon(int resource);
