#include "applicationIcon.h"

#include <QApplication>
#include <QDir>

// The resource lives in a static library: nothing refers to its registration, so the linker
// would drop it unless it is registered by name.
static void registerIconResource() {
    Q_INIT_RESOURCE(tonvertIcons);
}

namespace tonvert {

QIcon applicationIcon() {
    registerIconResource();
    QIcon icon;
    // PNGs rather than the SVG: reading them needs no image plugin. Their sizes come from
    // the images themselves.
    const QDir folder(QStringLiteral(":/icons"));
    for (const QString& name : folder.entryList({QStringLiteral("tonvert-*.png")}, QDir::Files))
        icon.addFile(folder.filePath(name));
    return icon;
}

void setApplicationIcon() {
    QApplication::setWindowIcon(applicationIcon());
}

} // namespace tonvert
