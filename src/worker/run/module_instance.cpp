#include "module_instance.h"

HINSTANCE moduleInstance;
