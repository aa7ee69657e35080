#include "schedule/text_encoding.h"
