#include "qtShell.h"

#include <QDesktopServices>
#include <QUrl>

#include "textCodec.h"

namespace tonvert {

void QtShell::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(toQString(url), QUrl::TolerantMode));
}

} // namespace tonvert
