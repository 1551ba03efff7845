#include "host/services.h"

#include <array>
#include <cstddef>

#include "host/entry.h"
#include "host/legacy_shims.h"
#include "host/tables.h"
#include "pixels/editor.h"

namespace {

constexpr std::size_t kServiceCount = static_cast<std::size_t>(HostService::Count);

// Indexed by HostService.
constexpr std::array<const char*, kServiceCount> kServiceNames = {
    "PluginRegisterClass",
    "PluginRegisterClassExtension",
    "PluginRegisterMethod",
    "REALLockObject",
    "REALUnlockObject",
    "PluginNewInstance",
    "pluginObjectType",
    "REALLoadObjectMethod",
    "REALLoadGlobalMethod",
    "REALGetClassData",
    "REALGetPropValueInt",
    "REALSetPropValueInt",
    "REALSetPropValueUInt32",
    "REALGetPropValueBool",
    "REALSetPropValueString",
    "RuntimeRaiseException",
    "newPicture",
    "pluginPictureGraphicsGetter",
    "REALGetPictureMask",
    "REALLockPictureDescription",
    "lockPictureDescription",
    "unlockPictureDescription",
    "REALPictureClearCache",
    "RuntimeGraphicsDrawLine",
    "REALBuildString",
    "REALSetStringEncoding",
    "REALGetStringEncoding",
    "REALConvertString",
    "REALLockString",
    "REALUnlockString",
    "PluginGetStringData",
    "PluginDisposeStringData",
    "StringGetCString",
    "newMemoryBlock",
    "memoryBlockGetPtr",
    "memoryBlockGetSize",
};
// Every service has a name.
static_assert(kServiceNames.back() != nullptr);

// Every resolved service address; the one place ResetPluginState clears.
std::array<void*, kServiceCount> gServiceCache{};

template <class Fn> Fn Service(HostService service) {
    return HostServiceFunction<Fn>(service);
}

} // namespace

const char* HostServiceName(HostService service) {
    return kServiceNames[static_cast<std::size_t>(service)];
}

void* ResolveHostService(HostService service) {
    void*& slot = gServiceCache[static_cast<std::size_t>(service)];
    if (!slot && gResolver) slot = gResolver(HostServiceName(service));
    return slot;
}

void ResetPluginState() {
    gServiceCache.fill(nullptr);
    gResolver = nullptr;
    gHostVersion = 0.0;
    IsDesktop = false;
    IsConsole = false;
    ResetLegacyShims();
    RestoreRegistrationTables();
}

void REALRegisterClass(REALclassDefinition* record) {
    if (auto fn = Service<rbsvc::RegisterClass>(HostService::RegisterClass)) fn(record);
}

void REALRegisterClassExtension(REALclassDefinition* record) {
    if (auto fn = Service<rbsvc::RegisterClass>(HostService::RegisterClassExtension)) fn(record);
}

void REALRegisterMethod(REALmethodDefinition* record) {
    if (auto fn = Service<rbsvc::RegisterMethod>(HostService::RegisterMethod)) fn(record);
}

void REALLockObject(REALobject object) {
    if (auto fn = Service<rbsvc::LockObject>(HostService::LockObject)) fn(object);
}

void REALUnlockObject(REALobject object) {
    if (auto fn = Service<rbsvc::LockObject>(HostService::UnlockObject)) fn(object);
}

REALobject REALnewInstance(const char* className) {
    auto fn = Service<rbsvc::NewInstance>(HostService::NewInstance);
    return fn ? fn(className) : nullptr;
}

REALclassRef REALGetClassRef(const char* className) {
    auto fn = Service<rbsvc::ObjectType>(HostService::ObjectType);
    return fn ? fn(className) : nullptr;
}

void* REALLoadObjectMethod(REALobject object, const char* declaration) {
    auto fn = Service<rbsvc::LoadObjectMethod>(HostService::LoadObjectMethod);
    return fn ? fn(object, declaration) : nullptr;
}

void* REALLoadGlobalMethod(const char* module, const char* declaration) {
    auto fn = Service<rbsvc::LoadGlobalMethod>(HostService::LoadGlobalMethod);
    return fn ? fn(module, declaration) : nullptr;
}

void* REALGetClassData(REALobject object, REALclassDefinition* record) {
    auto fn = Service<rbsvc::GetClassData>(HostService::GetClassData);
    return fn ? fn(object, record) : nullptr;
}

bool REALGetPropValueInt32(REALobject object, const char* name, int32_t* out) {
    auto fn = Service<rbsvc::GetPropValueInt32>(HostService::GetPropValueInt32);
    return fn ? fn(object, name, out) : false;
}

bool REALSetPropValueInt32(REALobject object, const char* name, int32_t value) {
    auto fn = Service<rbsvc::SetPropValueInt32>(HostService::SetPropValueInt32);
    return fn ? fn(object, name, value) : false;
}

bool REALSetPropValueUInt32(REALobject object, const char* name, uint32_t value) {
    auto fn = Service<rbsvc::SetPropValueUInt32>(HostService::SetPropValueUInt32);
    return fn ? fn(object, name, value) : false;
}

bool REALGetPropValueUInt8(REALobject object, const char* name, uint8_t* out) {
    auto fn = Service<rbsvc::GetPropValueUInt8>(HostService::GetPropValueUInt8);
    return fn ? fn(object, name, out) : false;
}

bool REALSetPropValueString(REALobject object, const char* name, REALstring value) {
    auto fn = Service<rbsvc::SetPropValueString>(HostService::SetPropValueString);
    return fn ? fn(object, name, value) : false;
}

void REALRaiseException(REALobject exception) {
    if (auto fn = Service<rbsvc::RaiseException>(HostService::RaiseException)) fn(exception);
}

REALpicture REALNewPicture(int32_t width, int32_t height, int32_t depth) {
    auto fn = Service<rbsvc::NewPicture>(HostService::NewPicture);
    return fn ? fn(width, height, depth) : nullptr;
}

REALgraphics REALGetPictureGraphics(REALpicture pic) {
    auto fn = Service<rbsvc::PictureGraphics>(HostService::PictureGraphics);
    return fn ? fn(pic) : nullptr;
}

REALpicture REALGetPictureMask(REALpicture pic, int32_t create) {
    auto fn = Service<rbsvc::GetPictureMask>(HostService::GetPictureMask);
    return fn ? fn(pic, create) : nullptr;
}

bool REALLockPictureDescription(REALpicture pic, REALpictureDescription* description,
                                uint32_t type) {
    auto fn = Service<rbsvc::LockPictureDescription3>(HostService::LockPictureDescription3);
    return fn ? fn(pic, description, type) : false;
}

bool REALLockPictureDescription(REALpicture pic, REALpictureDescription* description) {
    auto fn = Service<rbsvc::LockPictureDescription2>(HostService::LockPictureDescription2);
    return fn ? fn(pic, description) : false;
}

void REALUnlockPictureDescription(REALpicture pic) {
    auto fn = Service<rbsvc::UnlockPictureDescription>(HostService::UnlockPictureDescription);
    if (fn) fn(pic);
}

void REALPictureClearCache(REALpicture pic) {
    if (auto fn = Service<rbsvc::PictureClearCache>(HostService::PictureClearCache)) fn(pic);
}

void GraphicsDrawLine(REALgraphics g, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    if (auto fn = Service<rbsvc::GraphicsDrawLine>(HostService::GraphicsDrawLine))
        fn(g, x1, y1, x2, y2);
}

REALstring originalREALBuildString(const void* bytes, int32_t length) {
    auto fn = Service<rbsvc::BuildString>(HostService::BuildString);
    return fn ? fn(bytes, length) : nullptr;
}

void REALSetStringEncoding(REALstring string, uint32_t encoding) {
    if (auto fn = Service<rbsvc::SetStringEncoding>(HostService::SetStringEncoding))
        fn(string, encoding);
}

uint32_t REALGetStringEncoding(REALstring string) {
    auto fn = Service<rbsvc::GetStringEncoding>(HostService::GetStringEncoding);
    return fn ? fn(string) : 0;
}

REALstring REALConvertString(REALstring string, uint32_t encoding) {
    auto fn = Service<rbsvc::ConvertString>(HostService::ConvertString);
    return fn ? fn(string, encoding) : nullptr;
}

void REALLockString(REALstring string) {
    if (auto fn = Service<rbsvc::LockString>(HostService::LockString)) fn(string);
}

void REALUnlockString(REALstring string) {
    if (auto fn = Service<rbsvc::LockString>(HostService::UnlockString)) fn(string);
}

REALmemoryBlock REALNewMemoryBlockOriginal(int32_t size) {
    auto fn = Service<rbsvc::NewMemoryBlock>(HostService::NewMemoryBlock);
    return fn ? fn(size) : nullptr;
}

void* REALMemoryBlockGetPtr(REALmemoryBlock block) {
    auto fn = Service<rbsvc::MemoryBlockGetPtr>(HostService::MemoryBlockGetPtr);
    return fn ? fn(block) : nullptr;
}

int32_t REALMemoryBlockGetSize(REALmemoryBlock block) {
    auto fn = Service<rbsvc::MemoryBlockGetSize>(HostService::MemoryBlockGetSize);
    return fn ? fn(block) : 0;
}
