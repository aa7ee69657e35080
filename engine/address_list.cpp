#include "engine/address_list.h"
