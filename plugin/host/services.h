// Host services, reached by name through the resolver.
//
// Each wrapper resolves its service on first use and keeps the address; a service the host does
// not offer makes the wrapper return 0, null or false, and the name is asked for again at the next
// call.
#pragma once

#include <cstdint>

#include "sdk/services.h"

// The resolver handed over at load, through which every service is reached. A new resolver
// forgets every address cached from the one before.
void UseResolver(REALResolver resolver);

// The cached address of a service, asking the resolver when nothing is cached yet; null when the
// host does not offer it (or no resolver is stored).
void* ResolveHostService(HostService service);

template <HostService S> HostServicePointer<S> HostServiceFunction() {
    return reinterpret_cast<HostServicePointer<S>>(ResolveHostService(S));
}

// The host version read at load, 0.0 when the host does not report one.
extern double gHostVersion;

// Host versions from which behaviour changes.
inline constexpr double kHostVersionConsoleFlags = 2010.029;
inline constexpr double kHostVersionAlphaWriters = 2011.04;
inline constexpr double kHostVersionLockWithoutUnlock = 2012.0;
inline constexpr double kHostVersionStringData = 2013.0;

// Host handles of every kind are host objects.
template <class T> inline REALobject ToObject(T* handle) {
    return reinterpret_cast<REALobject>(handle);
}

void REALRegisterClass(REALclassDefinition* record);
void REALRegisterClassExtension(REALclassDefinition* record);
void REALRegisterMethod(REALmethodDefinition* record);

void REALLockObject(REALobject object);
void REALUnlockObject(REALobject object);
inline void REALLockObject(REALpicture pic) {
    REALLockObject(ToObject(pic));
}
inline void REALUnlockObject(REALpicture pic) {
    REALUnlockObject(ToObject(pic));
}
inline void REALLockObject(REALgraphics g) {
    REALLockObject(ToObject(g));
}
inline void REALUnlockObject(REALgraphics g) {
    REALUnlockObject(ToObject(g));
}
inline void REALLockObject(REALmemoryBlock mb) {
    REALLockObject(ToObject(mb));
}
inline void REALUnlockObject(REALmemoryBlock mb) {
    REALUnlockObject(ToObject(mb));
}

REALobject REALnewInstance(const char* className);
REALclassRef REALGetClassRef(const char* className);
void* REALLoadObjectMethod(REALobject object, const char* declaration);
void* REALLoadGlobalMethod(const char* module, const char* declaration);
void* REALGetClassData(REALobject object, REALclassDefinition* record);

bool REALGetPropValueInt32(REALobject object, const char* name, int32_t* out);
bool REALSetPropValueInt32(REALobject object, const char* name, int32_t value);
bool REALSetPropValueUInt32(REALobject object, const char* name, uint32_t value);
bool REALGetPropValueUInt8(REALobject object, const char* name, uint8_t* out);
bool REALSetPropValueString(REALobject object, const char* name, REALstring value);

void REALRaiseException(REALobject exception);

REALpicture REALNewPicture(int32_t width, int32_t height, int32_t depth);
REALgraphics REALGetPictureGraphics(REALpicture pic);
REALpicture REALGetPictureMask(REALpicture pic, int32_t create);
bool REALLockPictureDescription(REALpicture pic, REALpictureDescription* description,
                                uint32_t type);
bool REALLockPictureDescription(REALpicture pic, REALpictureDescription* description);
void REALUnlockPictureDescription(REALpicture pic);
void REALPictureClearCache(REALpicture pic);

void GraphicsDrawLine(REALgraphics g, int32_t x1, int32_t y1, int32_t x2, int32_t y2);

REALstring originalREALBuildString(const void* bytes, int32_t length);
void REALSetStringEncoding(REALstring string, uint32_t encoding);
uint32_t REALGetStringEncoding(REALstring string);
REALstring REALConvertString(REALstring string, uint32_t encoding);
void REALLockString(REALstring string);
void REALUnlockString(REALstring string);

REALmemoryBlock REALNewMemoryBlockOriginal(int32_t size);
void* REALMemoryBlockGetPtr(REALmemoryBlock block);
int32_t REALMemoryBlockGetSize(REALmemoryBlock block);
