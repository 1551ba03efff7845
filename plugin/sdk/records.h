// Record formats shared by the plugin and its host.
//
// Every field is a 32-bit word on the 32-bit module; pointers are native, so on a 64-bit build the
// records grow where they hold addresses. Integer fields keep the widths of the host language:
// Integer and UInt32 are 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>

// Opaque, reference-counted host objects.
struct REALobjectStruct;
struct REALpictureStruct;
struct REALstringStruct;
struct REALmemoryBlockStruct;
struct REALgraphicsStruct;

using REALobject = REALobjectStruct*;
using REALpicture = REALpictureStruct*;
using REALstring = REALstringStruct*;
using REALmemoryBlock = REALmemoryBlockStruct*;
using REALgraphics = REALgraphicsStruct*;
using REALclassRef = struct REALclassRefStruct*;

// The resolver handed to REALPluginMain: maps an entry-point name to a host function (or null).
using REALResolver = void* (*)(const char* name);

// Getter or setter word meaning "the host reads/writes the instance data directly" (0xFFFFFFFF on
// the 32-bit module).
#define REALstandardGetter ((void*)(intptr_t)-1)
#define REALstandardSetter ((void*)(intptr_t)-1)

// Host flag bits for console-safe entries, and the plugin-side markers translated into them.
enum : uint32_t {
    REALconsoleSafe = 4,
    REALconsoleOnly = 8,
    kMarkerConsoleSafe = 0x40000,
    kMarkerConsoleOnly = 0x80000,
    kMarkerReserved = 0x100000,
    kMarkerBits = 0x1C0000,
};

enum : uint32_t { kPluginRecordVersion = 9 };

struct REALproperty {
    const char* group;    // null in every entry
    const char* name;     // property name
    const char* type;     // "Picture", "Integer", "Double"
    uint32_t flags;       //
    void* getter;         // function, or REALstandardGetter
    void* setter;         // function, or REALstandardSetter
    uint32_t param;       // byte offset in the instance data for the standard accessors
    uint32_t reserved[3]; // 0
};

struct REALmethodDefinition {
    void* function;          // the plugin function
    void* setterFunction;    // for an assignable method, else null
    const char* declaration; // host-language declaration
    uint32_t flags;
};

struct REALclassDefinition {
    uint32_t version;              // kPluginRecordVersion
    const char* name;              // class name
    const char* superName;         // null
    uint32_t dataSize;             // instance data size in bytes
    uint32_t reserved1;            // 0
    void (*constructor)(REALobject);
    void (*destructor)(REALobject);
    REALproperty* properties;
    int32_t propertyCount;
    REALmethodDefinition* methods;
    int32_t methodCount;
    void* unused[9]; // host features this plugin does not use
    uint32_t flags;
    REALproperty* moreProperties;
    int32_t morePropertyCount;
    REALmethodDefinition* moreMethods;
    int32_t moreMethodCount;
};

// Picture description types.
enum : uint32_t {
    kPictureTypeGWorld = 4,
    kPictureTypeBitmapContext = 8,
    kPictureTypeTrueColorImage = 10,
};

struct REALpictureDescription {
    uint32_t pictureType; // 4, 8 or 10
    void* data;           // CGBitmapContext, offscreen world or true-colour image record
    int32_t width;
    int32_t height;
    uint32_t reserved[2]; // never read by the plugin
};

// True-colour image record of console and web hosts (type 10 descriptions).
struct REALtrueColorImage {
    void* paletteRowTable; // word 0: must be null
    int32_t width;         // word 1
    int32_t height;        // word 2
    uint32_t unused[1803]; // words 3 to 1805
    uint32_t isTrueColor;  // word 1806: non-zero
    uint32_t** rowTable;   // word 1807: row pointers, top row first
};

// String bytes as handed out by the host's string-data service. When the plugin fills the record
// itself the bytes are followed by four zero bytes.
struct REALstringData {
    const void* data;
    uint32_t length;
    uint32_t encoding;
    uint32_t reserved[2];
};

// The head of a host string object, read directly on hosts older than 2013.0: word 1 is a buffer
// whose first byte precedes the text, word 3 the text's byte length.
struct REALstringRecord {
    uint32_t word0;
    const char* buffer;
    uint32_t word2;
    uint32_t length;
};

// Text encodings of host strings.
enum : uint32_t {
    kREALTextEncodingASCII = 0x600,
    kREALTextEncodingUTF16 = 0x100,
    kREALTextEncodingUTF8 = 0x08000100,
    kREALTextEncodingUTF32 = 0x0C000100,
    kREALTextEncodingRaw = 0xFFFF,
};

// On the 32-bit module every record is exactly the host's format.
#if defined(__i386__)
static_assert(sizeof(REALclassDefinition) == 100);
static_assert(offsetof(REALclassDefinition, dataSize) == 12);
static_assert(offsetof(REALclassDefinition, constructor) == 20);
static_assert(offsetof(REALclassDefinition, properties) == 28);
static_assert(offsetof(REALclassDefinition, methods) == 36);
static_assert(offsetof(REALclassDefinition, flags) == 80);
static_assert(offsetof(REALclassDefinition, moreProperties) == 84);
static_assert(offsetof(REALclassDefinition, moreMethodCount) == 96);
static_assert(sizeof(REALproperty) == 40);
static_assert(offsetof(REALproperty, getter) == 16);
static_assert(offsetof(REALproperty, param) == 24);
static_assert(sizeof(REALmethodDefinition) == 16);
static_assert(offsetof(REALmethodDefinition, flags) == 12);
static_assert(sizeof(REALpictureDescription) == 24);
static_assert(offsetof(REALtrueColorImage, isTrueColor) == 1806 * 4);
static_assert(offsetof(REALtrueColorImage, rowTable) == 1807 * 4);
static_assert(sizeof(REALstringData) == 20);
static_assert(offsetof(REALstringRecord, buffer) == 4);
static_assert(offsetof(REALstringRecord, length) == 12);
#endif
