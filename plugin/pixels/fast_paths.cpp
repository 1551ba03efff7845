#include "pixels/fast_paths.h"

bool gFastPaths = true;
