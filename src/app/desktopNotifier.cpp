#include "desktopNotifier.h"
