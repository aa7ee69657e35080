#include "ui/headless_runner.h"
