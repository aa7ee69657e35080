#include "engine/address.h"
