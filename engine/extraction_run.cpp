#include "engine/extraction_run.h"
