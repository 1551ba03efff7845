#include "host/services.h"

#include <array>
#include <cstddef>
#include <type_traits>

namespace {

REALResolver gResolver = nullptr;

// Every resolved service address, indexed by HostService.
std::array<void*, std::size(kHostServiceNames)> gServiceCache{};

// Calls the service with the arguments; without it, gives its result type's zero (0, null or
// false).
template <HostService S, class... Args> auto Call(Args... args) {
    using Result = std::invoke_result_t<HostServicePointer<S>, Args...>;
    if (auto fn = HostServiceFunction<S>()) return fn(args...);
    return Result();
}

} // namespace

double gHostVersion = 0.0;

void UseResolver(REALResolver resolver) {
    gResolver = resolver;
    gServiceCache.fill(nullptr);
}

void* ResolveHostService(HostService service) {
    void*& slot = gServiceCache[static_cast<std::size_t>(service)];
    if (!slot && gResolver) slot = gResolver(HostServiceName(service));
    return slot;
}

void REALRegisterClass(REALclassDefinition* record) {
    return Call<HostService::RegisterClass>(record);
}

void REALRegisterClassExtension(REALclassDefinition* record) {
    return Call<HostService::RegisterClassExtension>(record);
}

void REALRegisterMethod(REALmethodDefinition* record) {
    return Call<HostService::RegisterMethod>(record);
}

void REALLockObject(REALobject object) {
    return Call<HostService::LockObject>(object);
}

void REALUnlockObject(REALobject object) {
    return Call<HostService::UnlockObject>(object);
}

REALobject REALnewInstance(const char* className) {
    return Call<HostService::NewInstance>(className);
}

REALclassRef REALGetClassRef(const char* className) {
    return Call<HostService::ObjectType>(className);
}

void* REALLoadObjectMethod(REALobject object, const char* declaration) {
    return Call<HostService::LoadObjectMethod>(object, declaration);
}

void* REALLoadGlobalMethod(const char* module, const char* declaration) {
    return Call<HostService::LoadGlobalMethod>(module, declaration);
}

void* REALGetClassData(REALobject object, REALclassDefinition* record) {
    return Call<HostService::GetClassData>(object, record);
}

bool REALGetPropValueInt32(REALobject object, const char* name, int32_t* out) {
    return Call<HostService::GetPropValueInt32>(object, name, out);
}

bool REALSetPropValueInt32(REALobject object, const char* name, int32_t value) {
    return Call<HostService::SetPropValueInt32>(object, name, value);
}

bool REALSetPropValueUInt32(REALobject object, const char* name, uint32_t value) {
    return Call<HostService::SetPropValueUInt32>(object, name, value);
}

bool REALGetPropValueUInt8(REALobject object, const char* name, uint8_t* out) {
    return Call<HostService::GetPropValueUInt8>(object, name, out);
}

bool REALSetPropValueString(REALobject object, const char* name, REALstring value) {
    return Call<HostService::SetPropValueString>(object, name, value);
}

void REALRaiseException(REALobject exception) {
    return Call<HostService::RaiseException>(exception);
}

REALpicture REALNewPicture(int32_t width, int32_t height, int32_t depth) {
    return Call<HostService::NewPicture>(width, height, depth);
}

REALgraphics REALGetPictureGraphics(REALpicture pic) {
    return Call<HostService::PictureGraphics>(pic);
}

REALpicture REALGetPictureMask(REALpicture pic, int32_t create) {
    return Call<HostService::GetPictureMask>(pic, create);
}

bool REALLockPictureDescription(REALpicture pic, REALpictureDescription* description,
                                uint32_t type) {
    return Call<HostService::LockPictureDescription3>(pic, description, type);
}

bool REALLockPictureDescription(REALpicture pic, REALpictureDescription* description) {
    return Call<HostService::LockPictureDescription2>(pic, description);
}

void REALUnlockPictureDescription(REALpicture pic) {
    return Call<HostService::UnlockPictureDescription>(pic);
}

void REALPictureClearCache(REALpicture pic) {
    return Call<HostService::PictureClearCache>(pic);
}

void GraphicsDrawLine(REALgraphics g, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    return Call<HostService::GraphicsDrawLine>(g, x1, y1, x2, y2);
}

REALstring originalREALBuildString(const void* bytes, int32_t length) {
    return Call<HostService::BuildString>(bytes, length);
}

void REALSetStringEncoding(REALstring string, uint32_t encoding) {
    return Call<HostService::SetStringEncoding>(string, encoding);
}

uint32_t REALGetStringEncoding(REALstring string) {
    return Call<HostService::GetStringEncoding>(string);
}

REALstring REALConvertString(REALstring string, uint32_t encoding) {
    return Call<HostService::ConvertString>(string, encoding);
}

void REALLockString(REALstring string) {
    return Call<HostService::LockString>(string);
}

void REALUnlockString(REALstring string) {
    return Call<HostService::UnlockString>(string);
}

REALmemoryBlock REALNewMemoryBlockOriginal(int32_t size) {
    return Call<HostService::NewMemoryBlock>(size);
}

void* REALMemoryBlockGetPtr(REALmemoryBlock block) {
    return Call<HostService::MemoryBlockGetPtr>(block);
}

int32_t REALMemoryBlockGetSize(REALmemoryBlock block) {
    return Call<HostService::MemoryBlockGetSize>(block);
}
