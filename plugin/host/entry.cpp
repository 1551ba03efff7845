#include "host/entry.h"

#include "host/services.h"
#include "host/tables.h"

uint32_t TranslateConsoleFlags(uint32_t flags, double hostVersion) {
    if (hostVersion >= kHostVersionConsoleFlags) {
        if (flags & kMarkerConsoleSafe) flags |= REALconsoleSafe;
        if (flags & kMarkerConsoleOnly) flags |= REALconsoleOnly;
    }
    return flags & ~static_cast<uint32_t>(kMarkerBits);
}

namespace {

void FixConsoleFlags(REALproperty* properties, int count) {
    if (!properties) return;
    for (int i = 0; i < count; ++i)
        properties[i].flags = TranslateConsoleFlags(properties[i].flags, gHostVersion);
}

} // namespace

void FixConsoleFlags(REALmethodDefinition* methods, int count) {
    if (!methods) return;
    for (int i = 0; i < count; ++i)
        methods[i].flags = TranslateConsoleFlags(methods[i].flags, gHostVersion);
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

extern "C" __attribute__((visibility("default"))) void REALPluginMain(REALResolver resolver) {
    UseResolver(resolver);

    // Every host offers this name; its answer is used unchecked.
    HostServiceFunction<HostService::RegisterPluginVersion>()(kPluginRecordVersion);

    if (auto getVersion = HostServiceFunction<HostService::GetRBVersion>())
        gHostVersion = getVersion();

    PluginEntry();
}
