#include "busyCursor.h"

#include <QApplication>
#include <QCursor>

namespace tonvert {

BusyCursor::BusyCursor() {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

BusyCursor::~BusyCursor() {
    QApplication::restoreOverrideCursor();
}

} // namespace tonvert
