#include "host/helpers.h"

#include <cstdlib>
#include <cstring>

#include "host/services.h"

namespace {

constexpr long long kMaxInt32 = 0x7FFFFFFF;

// UTF-32 text up to this many bytes is narrowed in a stack buffer of kShortUTF16Bytes.
constexpr long long kShortUTF32Bytes = 799;
constexpr std::size_t kShortUTF16Bytes = 400;

// Re-tags a freshly built UTF-16 string as such and converts it to UTF-8, dropping the original.
REALstring UTF16ToUTF8(REALstring utf16) {
    if (utf16) REALSetStringEncoding(utf16, kREALTextEncodingUTF16);
    REALstring utf8 = REALConvertString(utf16, kREALTextEncodingUTF8);
    if (utf16) REALUnlockString(utf16);
    return utf8;
}

// Keeps the low 16 bits of each little-endian 32-bit unit: no surrogate pairs are formed.
void NarrowUTF32(const unsigned char* in, long long units, unsigned char* out) {
    for (long long i = 0; i < units; ++i) {
        out[2 * i] = in[4 * i];
        out[2 * i + 1] = in[4 * i + 1];
    }
}

#ifdef QRX_ALLOCATION_HOOK
// Test builds of the module only: the n-th allocation after QRXFailAllocation(n) fails.
long long gAllocationsAsked = 0;
long long gFailingAllocation = 0;

bool AllocationRefused() {
    return ++gAllocationsAsked == gFailingAllocation;
}
#else
constexpr bool AllocationRefused() {
    return false;
}
#endif

} // namespace

#ifdef QRX_ALLOCATION_HOOK
// n = 1 refuses the next allocation, 0 none; the count of allocations asked starts again.
extern "C" [[gnu::visibility("default")]] void QRXFailAllocation(long long n) {
    gAllocationsAsked = 0;
    gFailingAllocation = n;
}

// Allocations asked since the last QRXFailAllocation, the refused one included.
extern "C" [[gnu::visibility("default")]] long long QRXAllocationsAsked() {
    return gAllocationsAsked;
}

#endif

void* AllocateClearMemory(long long size) {
    if (size < 1 || size > kMaxInt32) return nullptr;
    if (AllocationRefused()) return nullptr;
    return std::calloc(static_cast<std::size_t>(size), 1);
}

void FreeMemoryNow(const void* p) {
    std::free(const_cast<void*>(p));
}

REALmemoryBlock REALNewMemoryBlock(long long size) {
    if (size < 0 || size > kMaxInt32 - 1) return nullptr;
    return REALNewMemoryBlockOriginal(static_cast<int32_t>(size));
}

REALstring REALBuildUnicodeString(const void* data, long long length, uint32_t encoding) {
    if (!data || length < 1 || length > kMaxInt32 - 1) return nullptr;
    const auto* bytes = static_cast<const unsigned char*>(data);

    if (encoding == kREALTextEncodingUTF32) {
        const long long units = length / 4;
        const auto utf16Length = static_cast<int32_t>(units * 2);
        REALstring utf16;
        if (length <= kShortUTF32Bytes) {
            unsigned char buffer[kShortUTF16Bytes] = {};
            NarrowUTF32(bytes, units, buffer);
            utf16 = originalREALBuildString(buffer, utf16Length);
        } else {
            auto* buffer = static_cast<unsigned char*>(AllocateClearMemory(units * 2 + 4));
            if (!buffer) return nullptr;
            NarrowUTF32(bytes, units, buffer);
            utf16 = originalREALBuildString(buffer, utf16Length);
            FreeMemoryNow(buffer);
        }
        // A string the host could not build goes to the conversion as it is (null).
        return UTF16ToUTF8(utf16);
    }

    REALstring built = originalREALBuildString(bytes, static_cast<int32_t>(length));
    if (!built) return nullptr;
    if (encoding == kREALTextEncodingUTF16) return UTF16ToUTF8(built);
    REALSetStringEncoding(built, encoding);
    return built;
}

void RaiseException(const char* className, const char* message, uint32_t encoding) {
    REALstring text = nullptr;
    if (message)
        text =
            REALBuildUnicodeString(message, static_cast<long long>(std::strlen(message)), encoding);

    REALobject exception = REALnewInstance(className);
    if (!exception) exception = REALnewInstance("RuntimeException");
    if (exception) {
        REALSetPropValueString(exception, "Message", text);
        REALRaiseException(exception);
        REALUnlockObject(exception);
    }
    if (text) REALUnlockString(text);
}

bool REALGetStringData(REALstring string, uint32_t encoding, REALstringData* out) {
    if (auto service = HostServiceFunction<HostService::GetStringData>())
        return service(string, encoding, out);

    auto cString = HostServiceFunction<HostService::StringGetCString>();
    auto lenB = reinterpret_cast<LenBFunction>(
        REALLoadGlobalMethod(nullptr, "LenB( s as string ) as integer"));
    if (!cString || !lenB || !string) return false;

    REALstring taken = string;
    REALstring converted = nullptr;
    if (encoding != kREALTextEncodingRaw && encoding != REALGetStringEncoding(string)) {
        converted = REALConvertString(string, encoding);
        if (!converted) return false;
        taken = converted;
    }

    const int32_t length = lenB(taken);
    const std::size_t n = length > 0 ? static_cast<std::size_t>(length) : 0;
    auto* copy = AllocationRefused() ? nullptr : static_cast<unsigned char*>(std::malloc(n + 4));
    if (copy) {
        const char* bytes = n ? cString(taken) : nullptr;
        if (bytes)
            std::memcpy(copy, bytes, n);
        else
            std::memset(copy, 0, n);
        std::memset(copy + n, 0, 4);
    }
    if (converted) REALUnlockString(converted);
    // Left to us: a failed allocation gives false rather than a record without bytes.
    if (!copy) return false;

    *out = REALstringData{};
    out->data = copy;
    out->length = static_cast<uint32_t>(n);
    out->encoding = encoding;
    return true;
}

void REALDisposeStringData(REALstringData* data) {
    if (auto service = HostServiceFunction<HostService::DisposeStringData>()) {
        service(data);
        return;
    }
    if (data) std::free(const_cast<void*>(data->data));
}

rbData::rbData(REALstring str) {
    if (!str) return;
    if (gHostVersion >= kHostVersionStringData) {
        if (REALGetStringData(str, kREALTextEncodingRaw, &stringData)) {
            ownsStringData = true;
            data = static_cast<unsigned char*>(const_cast<void*>(stringData.data));
            size = stringData.length;
        }
        return;
    }
    // Older hosts: the string object itself starts with the host's string record, whose buffer
    // holds one byte before the text.
    REALLockString(str);
    string = str;
    const auto* record = reinterpret_cast<const REALstringRecord*>(str);
    size = record->length;
    data = reinterpret_cast<unsigned char*>(const_cast<char*>(record->buffer)) + 1;
}

rbData::rbData(REALmemoryBlock block, uint32_t offset, uint32_t length) {
    if (!block) return;
    REALLockObject(block);
    memoryBlock = block;
    const uint32_t blockSize =
        length ? length : static_cast<uint32_t>(REALMemoryBlockGetSize(block));
    if (auto* base = static_cast<unsigned char*>(REALMemoryBlockGetPtr(block))) {
        data = base + offset;
        size = blockSize;
    }
}

rbData::~rbData() {
    if (string) REALUnlockString(string);
    if (memoryBlock) REALUnlockObject(memoryBlock);
    if (ownsStringData) REALDisposeStringData(&stringData);
    string = nullptr;
    memoryBlock = nullptr;
    stringData = REALstringData{};
    ownsStringData = false;
    data = nullptr;
    size = 0;
}

int GetPictureWidth(REALpicture pic) {
    int32_t value = 0;
    if (!pic || !REALGetPropValueInt32(ToObject(pic), "Width", &value)) return 0;
    return value;
}

int GetPictureHeight(REALpicture pic) {
    int32_t value = 0;
    if (!pic || !REALGetPropValueInt32(ToObject(pic), "Height", &value)) return 0;
    return value;
}

bool SetGraphicsForeColor(REALgraphics g, uint32_t colour) {
    return REALSetPropValueUInt32(ToObject(g), "ForeColor", colour);
}

bool SetGraphicsPenWidth(REALgraphics g, int32_t width) {
    return REALSetPropValueInt32(ToObject(g), "PenWidth", width);
}

bool SetGraphicsPenHeight(REALgraphics g, int32_t height) {
    return REALSetPropValueInt32(ToObject(g), "PenHeight", height);
}
