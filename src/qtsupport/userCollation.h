#pragma once

#include <QCollator>
#include <QLocale>

namespace tonvert {

// Orders texts as the user's language does, letter case aside. The C and POSIX locales name
// no language and would order by code points ("Zebra" before "Étude"); they get the Unicode
// default order, which the English collation is.
QCollator userCollator(const QLocale& locale = QLocale::system());

} // namespace tonvert
