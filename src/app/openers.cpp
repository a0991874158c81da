#include "openers.h"
