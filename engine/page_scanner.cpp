#include "engine/page_scanner.h"
