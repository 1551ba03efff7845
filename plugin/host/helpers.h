// Small helpers over the host services: memory, host strings and MemoryBlocks, exceptions, and a
// few properties of pictures and Graphics objects.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// Zero-filled heap block of 1 to 0x7FFFFFFF bytes, else null.
void* AllocateClearMemory(long long size);
// Releases a block of AllocateClearMemory (null allowed).
void FreeMemoryNow(const void* p);

// New host MemoryBlock of 0 to 0x7FFFFFFE bytes, else null.
REALmemoryBlock REALNewMemoryBlock(long long size);

// New host string from bytes in the given encoding (the caller owns one reference), or null.
// UTF-32 and UTF-16 input comes back as UTF-8.
REALstring REALBuildUnicodeString(const void* data, long long length, uint32_t encoding);

// Raises a host exception of the named class (or a RuntimeException when the class cannot be
// made) carrying the message, and returns normally.
void RaiseException(const char* className, const char* message, uint32_t encoding);

// The bytes of a host string in the requested encoding; from the host's string-data service when
// it offers one, else copied by the plugin (followed by four zero bytes).
bool REALGetStringData(REALstring string, uint32_t encoding, REALstringData* out);
void REALDisposeStringData(REALstringData* data);

// A scoped view of the bytes of a host string or MemoryBlock.
class rbData {
  public:
    explicit rbData(REALstring str);
    rbData(REALmemoryBlock block, uint32_t offset, uint32_t length);
    ~rbData();
    rbData(const rbData&) = delete;
    rbData& operator=(const rbData&) = delete;

    REALstring string = nullptr;
    REALmemoryBlock memoryBlock = nullptr;
    REALstringData stringData{};
    bool ownsStringData = false;
    unsigned char* data = nullptr;
    uint32_t size = 0;
};

int GetPictureWidth(REALpicture pic);
int GetPictureHeight(REALpicture pic);

bool SetGraphicsForeColor(REALgraphics g, uint32_t colour);
bool SetGraphicsPenWidth(REALgraphics g, int32_t width);
bool SetGraphicsPenHeight(REALgraphics g, int32_t height);
