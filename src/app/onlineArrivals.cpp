#include "onlineArrivals.h"
