#pragma once

#include <QPixmap>

namespace tonvert {

// The product picture of the about box, 417 x 137 pixels, drawn by the program itself.
QPixmap makeAboutPicture();

} // namespace tonvert
