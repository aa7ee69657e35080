#include "store/file_name_filter.h"
