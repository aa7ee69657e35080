#include "ui/instance_lock.h"
