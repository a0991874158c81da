#include "userCollation.h"

namespace tonvert {

QCollator userCollator(const QLocale& locale) {
    const bool noLanguage = locale.language() == QLocale::C;
    QCollator collator{noLanguage ? QLocale(QLocale::English) : locale};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

} // namespace tonvert
