// The module's own object file. REALPluginMain lives in entry.cpp, inside the plugin's static
// library; naming it here makes the linker take that unit into the module. The version script
// exports it and nothing else.
#include "sdk/services.h"

[[gnu::used]] static void (*const keepEntryPoint)(REALResolver) = &REALPluginMain;
