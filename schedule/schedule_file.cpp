#include "schedule/schedule_file.h"
