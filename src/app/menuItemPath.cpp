#include "menuItemPath.h"

#include <QAction>
#include <QMenu>
#include <QStringList>

namespace tonvert {

namespace {

// The menu that shows the action as one of its items, if any.
QMenu* menuHolding(const QAction* action) {
    for (QObject* holder : action->associatedObjects())
        if (auto* menu = qobject_cast<QMenu*>(holder))
            return menu;
    return nullptr;
}

// Whether a menu is itself an item of a menu bar or of another menu.
bool isSubmenu(const QMenu* menu) {
    return !menu->menuAction()->associatedObjects().isEmpty();
}

} // namespace

QString withoutAccelerators(const QString& caption) {
    QString plain;
    plain.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&')) {
            if (++i >= caption.size())
                break;
        }
        plain += caption[i];
    }
    return plain;
}

QString menuItemPath(const QAction* item) {
    QStringList captions{item->text()};
    for (QMenu* menu = menuHolding(item); menu != nullptr && isSubmenu(menu);
         menu = menuHolding(menu->menuAction()))
        captions.prepend(menu->menuAction()->text());
    return withoutAccelerators(captions.join(QStringLiteral(" > ")));
}

} // namespace tonvert
