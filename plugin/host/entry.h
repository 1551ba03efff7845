// The plugin's entry point and the registration of its tables with the host.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// One flags word as the host must see it: from 2010.029 on the console markers become the host's
// console flags 4 and 8; on every host the markers themselves are removed.
uint32_t TranslateConsoleFlags(uint32_t flags, double hostVersion);

// Translate the flags of a class record (its own and those of all its properties and methods),
// or of the first count entries of a method array, for the stored host version.
void FixConsoleFlags(REALclassDefinition* record);
void FixConsoleFlags(REALmethodDefinition* methods, int count);

// Registration with the host.
void MyREALRegisterClass(REALclassDefinition* record);
void MyREALRegisterClassExtension(REALclassDefinition* record);
void MyREALRegisterMethodArray(REALmethodDefinition* methods, int count);

// Adapts every table to the host and registers it.
void PluginEntry();
