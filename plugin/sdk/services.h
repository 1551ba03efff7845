// Signatures of the host services, reached only by name through the resolver.
//
// Each entry is the name the plugin asks for and the type of the function the host answers with.
// The host implements every one of these with exactly this signature; the plugin casts the
// resolver's answer to it.
#pragma once

#include "records.h"

namespace rbsvc {

// "RegisterPluginVersion"
using RegisterPluginVersion = void (*)(int32_t version);
// "REALGetRBVersion"
using GetRBVersion = double (*)();

// "PluginRegisterClass", "PluginRegisterClassExtension"
using RegisterClass = void (*)(REALclassDefinition*);
// "PluginRegisterMethod"
using RegisterMethod = void (*)(REALmethodDefinition*);

// "REALLockObject", "REALUnlockObject"
using LockObject = void (*)(REALobject);
// "PluginNewInstance": new instance of the named class (one reference for the caller) or null
using NewInstance = REALobject (*)(const char* className);
// "pluginObjectType": class reference or null
using ObjectType = REALclassRef (*)(const char* className);
// "REALLoadObjectMethod": function taking the object first, then the declared parameters
using LoadObjectMethod = void* (*)(REALobject, const char* declaration);
// "REALLoadGlobalMethod": module (may be null) and declaration
using LoadGlobalMethod = void* (*)(const char* module, const char* declaration);
// "REALGetClassData": the instance data of an object of the class described by the record
using GetClassData = void* (*)(REALobject, REALclassDefinition*);

// "REALGetPropValueInt"
using GetPropValueInt32 = bool (*)(REALobject, const char* name, int32_t* out);
// "REALSetPropValueInt"
using SetPropValueInt32 = bool (*)(REALobject, const char* name, int32_t value);
// "REALSetPropValueUInt32"
using SetPropValueUInt32 = bool (*)(REALobject, const char* name, uint32_t value);
// "REALGetPropValueBool"
using GetPropValueUInt8 = bool (*)(REALobject, const char* name, uint8_t* out);
// "REALSetPropValueString"
using SetPropValueString = bool (*)(REALobject, const char* name, REALstring value);

// "RuntimeRaiseException": returns normally
using RaiseException = void (*)(REALobject exception);

// "newPicture": new picture (one reference for the caller) or null; depth is always 32
using NewPicture = REALpicture (*)(int32_t width, int32_t height, int32_t depth);
// "pluginPictureGraphicsGetter": the picture's Graphics (one reference for the caller) or null
using PictureGraphics = REALgraphics (*)(REALpicture);
// "REALGetPictureMask": the separate mask picture (one reference for the caller) or null
using GetPictureMask = REALpicture (*)(REALpicture, int32_t create);
// "REALLockPictureDescription": lock a description of the requested type
using LockPictureDescription3 = bool (*)(REALpicture, REALpictureDescription*, uint32_t type);
// "lockPictureDescription": lock a description of the picture's own type
using LockPictureDescription2 = bool (*)(REALpicture, REALpictureDescription*);
// "unlockPictureDescription"
using UnlockPictureDescription = void (*)(REALpicture);
// "REALPictureClearCache"
using PictureClearCache = void (*)(REALpicture);

// "RuntimeGraphicsDrawLine"
using GraphicsDrawLine = void (*)(REALgraphics, int32_t x1, int32_t y1, int32_t x2, int32_t y2);

// "REALBuildString": new string (one reference for the caller) or null
using BuildString = REALstring (*)(const void* bytes, int32_t length);
// "REALSetStringEncoding"
using SetStringEncoding = void (*)(REALstring, uint32_t encoding);
// "REALGetStringEncoding"
using GetStringEncoding = uint32_t (*)(REALstring);
// "REALConvertString": new string (one reference for the caller) or null
using ConvertString = REALstring (*)(REALstring, uint32_t encoding);
// "REALLockString", "REALUnlockString"
using LockString = void (*)(REALstring);
// "PluginGetStringData"
using GetStringData = bool (*)(REALstring, uint32_t encoding, REALstringData* out);
// "PluginDisposeStringData"
using DisposeStringData = void (*)(REALstringData*);
// "StringGetCString": address of the string's bytes
using StringGetCString = const char* (*)(REALstring);
// The host-language "LenB( s as string ) as integer", found through REALLoadGlobalMethod
using LenB = int32_t (*)(REALstring);

// "newMemoryBlock": new MemoryBlock (one reference for the caller) or null
using NewMemoryBlock = REALmemoryBlock (*)(int32_t size);
// "memoryBlockGetPtr"
using MemoryBlockGetPtr = void* (*)(REALmemoryBlock);
// "memoryBlockGetSize"
using MemoryBlockGetSize = int32_t (*)(REALmemoryBlock);

} // namespace rbsvc

// The plugin's single export.
extern "C" void REALPluginMain(REALResolver resolver);
