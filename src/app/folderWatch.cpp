#include "folderWatch.h"
