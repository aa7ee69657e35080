#include "store/image_store.h"
