#include "ui/data_folder.h"
