#include "refreshSchedule.h"
