// The plugin's entry point: adapts every registration table to the host and registers it.
#include "host/services.h"
#include "registration.h"

namespace {

// One flags word as the host must see it: from 2010.029 on the console markers become the host's
// console flags 4 and 8; on every host the markers themselves are removed.
uint32_t TranslateConsoleFlags(uint32_t flags, double hostVersion) {
    if (hostVersion >= kHostVersionConsoleFlags) {
        if (flags & kMarkerConsoleSafe) flags |= REALconsoleSafe;
        if (flags & kMarkerConsoleOnly) flags |= REALconsoleOnly;
    }
    return flags & ~static_cast<uint32_t>(kMarkerBits);
}

// Translate the flags of the first count entries of a list, or of a class record (its own and
// those of all its properties and methods), for the stored host version.
template <class Entry> void FixConsoleFlags(Entry* entries, int count) {
    if (!entries) return;
    for (int i = 0; i < count; ++i)
        entries[i].flags = TranslateConsoleFlags(entries[i].flags, gHostVersion);
}

void FixConsoleFlags(REALclassDefinition* record) {
    if (!record) return;
    record->flags = TranslateConsoleFlags(record->flags, gHostVersion);
    FixConsoleFlags(record->methods, record->methodCount);
    FixConsoleFlags(record->moreMethods, record->moreMethodCount);
    FixConsoleFlags(record->properties, record->propertyCount);
    FixConsoleFlags(record->moreProperties, record->morePropertyCount);
}

void MyREALRegisterClass(REALclassDefinition* record) {
    // The host hands out instance data in multiples of 16 bytes.
    if (record->dataSize % 16 != 0) record->dataSize += 16 - record->dataSize % 16;
    REALRegisterClass(record);
}

void MyREALRegisterClassExtension(REALclassDefinition* record) {
    REALRegisterClassExtension(record);
}

void MyREALRegisterMethodArray(REALmethodDefinition* methods, int count) {
    if (!methods) return;
    for (int i = 0; i < count; ++i)
        REALRegisterMethod(&methods[i]);
}

void PluginEntry() {
    for (REALclassDefinition* record : registeredClasses)
        FixConsoleFlags(record);
    FixConsoleFlags(&pictureClass);
    FixConsoleFlags(globalMethods.data(), static_cast<int>(globalMethods.size()));

    for (REALclassDefinition* record : registeredClasses)
        MyREALRegisterClass(record);
    MyREALRegisterClassExtension(&pictureClass);
    MyREALRegisterMethodArray(globalMethods.data(), static_cast<int>(globalMethods.size()));
}

} // namespace

extern "C" __attribute__((visibility("default"))) void REALPluginMain(REALResolver resolver) {
    UseResolver(resolver);

    // Every host offers this name; its answer is used unchecked.
    HostServiceFunction<HostService::RegisterPluginVersion>()(kPluginRecordVersion);

    if (auto getVersion = HostServiceFunction<HostService::GetRBVersion>())
        gHostVersion = getVersion();

    PluginEntry();
}
