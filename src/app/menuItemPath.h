#pragma once

#include <QString>

class QAction;

namespace tonvert {

// The item's caption after the captions of the menus that hold it, outermost first, joined
// with " > " and without accelerator ampersands ("&&" stays as one "&"). A menu bar or a
// popup menu is the invisible root and adds nothing.
QString menuItemPath(const QAction* item);

// Removes every "&", keeping the character after it.
QString withoutAccelerators(const QString& caption);

} // namespace tonvert
