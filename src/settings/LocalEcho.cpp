#include "settings/LocalEcho.h"

bool LocalEcho = false;
