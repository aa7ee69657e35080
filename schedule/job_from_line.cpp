#include "schedule/job_from_line.h"
