// The host services, reached only by name through the resolver: the one list of them.
//
// Each row is X(Enumerator, "name the plugin asks for", type of the function the host answers
// with). The host implements every one with exactly this type; the plugin casts the resolver's
// answer to it. A service that makes something (an instance, picture, Graphics, mask, string or
// MemoryBlock) hands one reference to the caller, or gives null.
#pragma once

#include "records.h"

#define QRX_HOST_SERVICES(X)                                                                       \
    X(RegisterPluginVersion, "RegisterPluginVersion", void(int32_t version))                       \
    X(GetRBVersion, "REALGetRBVersion", double())                                                  \
    X(RegisterClass, "PluginRegisterClass", void(REALclassDefinition*))                            \
    X(RegisterClassExtension, "PluginRegisterClassExtension", void(REALclassDefinition*))          \
    X(RegisterMethod, "PluginRegisterMethod", void(REALmethodDefinition*))                         \
    X(LockObject, "REALLockObject", void(REALobject))                                              \
    X(UnlockObject, "REALUnlockObject", void(REALobject))                                          \
    /* the named class's new instance; its class reference */                                      \
    X(NewInstance, "PluginNewInstance", REALobject(const char* className))                         \
    X(ObjectType, "pluginObjectType", REALclassRef(const char* className))                         \
    /* a function taking the object first, then the declared parameters */                         \
    X(LoadObjectMethod, "REALLoadObjectMethod", void*(REALobject, const char* declaration))        \
    X(LoadGlobalMethod, "REALLoadGlobalMethod",                                                    \
      void*(const char* module, const char* declaration))                                          \
    /* the instance data of an object of the class the record describes */                         \
    X(GetClassData, "REALGetClassData", void*(REALobject, REALclassDefinition*))                   \
    X(GetPropValueInt32, "REALGetPropValueInt", bool(REALobject, const char*, int32_t* out))       \
    X(SetPropValueInt32, "REALSetPropValueInt", bool(REALobject, const char*, int32_t))            \
    X(SetPropValueUInt32, "REALSetPropValueUInt32", bool(REALobject, const char*, uint32_t))       \
    X(GetPropValueUInt8, "REALGetPropValueBool", bool(REALobject, const char*, uint8_t* out))      \
    X(SetPropValueString, "REALSetPropValueString", bool(REALobject, const char*, REALstring))     \
    /* returns normally */                                                                         \
    X(RaiseException, "RuntimeRaiseException", void(REALobject exception))                         \
    /* depth is always 32 */                                                                       \
    X(NewPicture, "newPicture", REALpicture(int32_t width, int32_t height, int32_t depth))         \
    X(PictureGraphics, "pluginPictureGraphicsGetter", REALgraphics(REALpicture))                   \
    /* the separate mask picture */                                                                \
    X(GetPictureMask, "REALGetPictureMask", REALpicture(REALpicture, int32_t create))              \
    /* of the requested type; of the picture's own type */                                         \
    X(LockPictureDescription3, "REALLockPictureDescription",                                       \
      bool(REALpicture, REALpictureDescription*, uint32_t type))                                   \
    X(LockPictureDescription2, "lockPictureDescription",                                           \
      bool(REALpicture, REALpictureDescription*))                                                  \
    X(UnlockPictureDescription, "unlockPictureDescription", void(REALpicture))                     \
    X(PictureClearCache, "REALPictureClearCache", void(REALpicture))                               \
    X(GraphicsDrawLine, "RuntimeGraphicsDrawLine",                                                 \
      void(REALgraphics, int32_t x1, int32_t y1, int32_t x2, int32_t y2))                          \
    X(BuildString, "REALBuildString", REALstring(const void* bytes, int32_t length))               \
    X(SetStringEncoding, "REALSetStringEncoding", void(REALstring, uint32_t encoding))             \
    X(GetStringEncoding, "REALGetStringEncoding", uint32_t(REALstring))                            \
    X(ConvertString, "REALConvertString", REALstring(REALstring, uint32_t encoding))               \
    X(LockString, "REALLockString", void(REALstring))                                              \
    X(UnlockString, "REALUnlockString", void(REALstring))                                          \
    X(GetStringData, "PluginGetStringData", bool(REALstring, uint32_t encoding, REALstringData*))  \
    X(DisposeStringData, "PluginDisposeStringData", void(REALstringData*))                         \
    /* the address of the string's bytes */                                                        \
    X(StringGetCString, "StringGetCString", const char*(REALstring))                               \
    X(NewMemoryBlock, "newMemoryBlock", REALmemoryBlock(int32_t size))                             \
    X(MemoryBlockGetPtr, "memoryBlockGetPtr", void*(REALmemoryBlock))                              \
    X(MemoryBlockGetSize, "memoryBlockGetSize", int32_t(REALmemoryBlock))

// Every service, in the order of the list.
enum class HostService : int {
#define QRX_SERVICE_ENUMERATOR(Service, Name, Signature) Service,
    QRX_HOST_SERVICES(QRX_SERVICE_ENUMERATOR)
#undef QRX_SERVICE_ENUMERATOR
};

// The names the host knows the services by, indexed by HostService.
inline constexpr const char* kHostServiceNames[] = {
#define QRX_SERVICE_NAME(Service, Name, Signature) Name,
    QRX_HOST_SERVICES(QRX_SERVICE_NAME)
#undef QRX_SERVICE_NAME
};

constexpr const char* HostServiceName(HostService service) {
    return kHostServiceNames[static_cast<int>(service)];
}

// The declared function type of each service, and a pointer to it.
template <HostService> struct HostServiceSignature;
#define QRX_SERVICE_SIGNATURE(Service, Name, Signature)                                            \
    template <> struct HostServiceSignature<HostService::Service> { using type = Signature; };
QRX_HOST_SERVICES(QRX_SERVICE_SIGNATURE)
#undef QRX_SERVICE_SIGNATURE
template <HostService S> using HostServicePointer = typename HostServiceSignature<S>::type*;

// The host-language "LenB( s as string ) as integer", found through REALLoadGlobalMethod.
using LenBFunction = int32_t (*)(REALstring);

// The plugin's single export.
extern "C" void REALPluginMain(REALResolver resolver);
