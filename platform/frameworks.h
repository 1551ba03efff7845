// Framework loading as the system offers it: find the frameworks folder, make URLs, create and
// load a bundle, look functions up in it.
//
// Small stand-ins over dlopen and dlsym. The frameworks folder is the one the host process names
// through its exported "qrxFrameworksFolder" function; a process without that function has no
// frameworks folder. A bundle's executable is the file named like the bundle without its
// extension inside the bundle's folder ("X.framework/X").
#pragma once

#include <cstdint>

using OSErr = int16_t;
using OSType = uint32_t;
using Boolean = unsigned char;

enum : OSErr { noErr = 0, fnfErr = -43 };

// Folder domains and types.
enum : int16_t { kSystemDomain = -32767, kLocalDomain = -32764, kUserDomain = -32763 };
enum : OSType { kFrameworksFolderType = 0x6672616D }; // 'fram'

// A reference to a file-system object: here its path.
struct FSRef {
    char path[4096];
};

// Every object made by these calls is released with CFRelease.
struct QrxCFObject;
using CFTypeRef = const void*;
using CFURLRef = QrxCFObject*;
using CFBundleRef = QrxCFObject*;
using CFAllocatorRef = const void*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;
inline constexpr CFAllocatorRef kCFAllocatorSystemDefault = nullptr;
// Strings are zero-terminated UTF-8 texts in this stand-in.
using CFStringRef = const char*;
#define CFSTR(text) (text)

// The frameworks folder of the domain; fnfErr when the process names none. create is accepted and
// ignored: the folder is never made.
OSErr FSFindFolder(int16_t domain, OSType folderType, Boolean create, FSRef* found);

// A URL of a file-system object, and a copy with a path component appended; null on failure.
CFURLRef CFURLCreateFromFSRef(CFAllocatorRef allocator, const FSRef* ref);
CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef allocator, CFURLRef url,
                                               CFStringRef component, Boolean isDirectory);

// A bundle for the folder a URL names (null when there is no such folder), loading its executable,
// and looking a function up in a loaded bundle (null when the executable lacks it, or the host
// process does not offer it).
CFBundleRef CFBundleCreate(CFAllocatorRef allocator, CFURLRef url);
Boolean CFBundleLoadExecutable(CFBundleRef bundle);
void* CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef name);

// Releases an object made above; a bundle's loaded executable is unloaded with it.
void CFRelease(CFTypeRef object);
