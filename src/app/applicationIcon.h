#pragma once

#include <QIcon>

namespace tonvert {

// The program's icon in every size it is rendered in at build time (from
// data/icons/tonvert.svg), read from the program's resources.
QIcon applicationIcon();

// Makes that icon every window's icon: the main window, each dialog and each message box
// that sets none of its own.
void setApplicationIcon();

} // namespace tonvert
