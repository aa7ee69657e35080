#include "schedule/schedule_line.h"
