#include "ops/operations.h"

#include <cstddef>
#include <cstring>

#include "host/helpers.h"
#include "host/legacy_shims.h"
#include "host/services.h"
#include "pixels/editor.h"

// A picture kept as a row table (the true-colour records of console and web hosts) has rows that
// need not lie one after the other: the vertical wrap rotates it row by row through the same
// buffer instead of moving one block. A picture without rows or columns has nothing to scroll and
// answers as for a delta of 0.

namespace {

unsigned char* Bytes(uint32_t* p) {
    return reinterpret_cast<unsigned char*>(p);
}

// Copies count rows from row src to row dst of the picture, one row at a time, in the order that
// keeps overlapping ranges intact.
void MoveRows(PictureEditor& editor, int dst, int src, int count) {
    const auto rowBytes = static_cast<std::size_t>(editor.bytesPerRow);
    if (dst < src) {
        for (int i = 0; i < count; ++i)
            std::memmove(editor.GetRow(dst + i), editor.GetRow(src + i), rowBytes);
    } else {
        for (int i = count - 1; i >= 0; --i)
            std::memmove(editor.GetRow(dst + i), editor.GetRow(src + i), rowBytes);
    }
}

void RowsToBuffer(PictureEditor& editor, unsigned char* buffer, int first, int count) {
    const auto rowBytes = static_cast<std::size_t>(editor.bytesPerRow);
    for (int i = 0; i < count; ++i)
        std::memcpy(buffer + i * rowBytes, editor.GetRow(first + i), rowBytes);
}

void BufferToRows(PictureEditor& editor, const unsigned char* buffer, int first, int count) {
    const auto rowBytes = static_cast<std::size_t>(editor.bytesPerRow);
    for (int i = 0; i < count; ++i)
        std::memcpy(editor.GetRow(first + i), buffer + i * rowBytes, rowBytes);
}

// Rotates the rows of the editor's picture down by s (up for a negative s), |s| < height.
bool RotateRows(PictureEditor& editor, int32_t s) {
    const int h = editor.height;
    const auto b = static_cast<std::size_t>(editor.bytesPerRow);
    const bool flat = !IsTrueColorLayout(editor.pixelType);
    // Rows set aside: those that move without leaving the picture's range are moved in place.
    const int kept = s > 0 ? h - s : -s;
    auto* buffer = static_cast<unsigned char*>(
        AllocateClearMemory(static_cast<long long>(kept) * static_cast<long long>(b)));
    if (!buffer) return false;
    unsigned char* base = Bytes(editor.baseAddress);
    if (s > 0) {
        // Rows 0..h-s-1 aside, rows h-s..h-1 to the top, the rows set aside after them.
        if (flat) {
            std::memcpy(buffer, base, kept * b);
            std::memmove(base, base + kept * b, static_cast<std::size_t>(s) * b);
            std::memcpy(base + static_cast<std::size_t>(s) * b, buffer, kept * b);
        } else {
            RowsToBuffer(editor, buffer, 0, kept);
            MoveRows(editor, 0, kept, s);
            BufferToRows(editor, buffer, s, kept);
        }
    } else {
        // Rows 0..k-1 aside, rows k..h-1 up, the rows set aside at the bottom.
        const int k = kept;
        if (flat) {
            std::memcpy(buffer, base, k * b);
            std::memmove(base, base + k * b, static_cast<std::size_t>(h - k) * b);
            std::memcpy(base + static_cast<std::size_t>(h - k) * b, buffer, k * b);
        } else {
            RowsToBuffer(editor, buffer, 0, k);
            MoveRows(editor, 0, k, h - k);
            BufferToRows(editor, buffer, h - k, k);
        }
    }
    FreeMemoryNow(buffer);
    return true;
}

// Scrolls the picture's offscreen world by (dh, dv) through the legacy calls; false when the host
// does not keep the picture as such a world. The calls themselves may be missing: then nothing
// moves, and the result is still true.
bool ScrollWorld(REALpicture pic, int32_t dh, int32_t dv) {
    REALpictureDescription description{};
    // Only a lock that was granted is unlocked.
    if (!REALLockPictureDescription(pic, &description)) return false;
    bool scrolled = false;
    if (description.pictureType == kPictureTypeGWorld) {
        CGrafPtr savedPort = nullptr;
        GDHandle savedDevice = nullptr;
        GetGWorld(&savedPort, &savedDevice);
        SetGWorld(static_cast<CGrafPtr>(description.data), nullptr);
        RgnHandle region = NewRgn();
        Rect rect;
        SetRect(&rect, 0, 0, static_cast<int16_t>(description.width),
                static_cast<int16_t>(description.height));
        ScrollRect(&rect, static_cast<int16_t>(dh), static_cast<int16_t>(dv), region);
        DisposeRgn(region);
        SetGWorld(savedPort, savedDevice);
        scrolled = true;
    }
    REALUnlockPictureDescription(pic);
    return scrolled;
}

} // namespace

int32_t ReduceShift(int32_t delta, int32_t length) {
    int32_t r = delta % length;
    const int32_t half = length / 2;
    if (r >= half) r -= length;
    if (r <= -half) r += length;
    return r;
}

bool ScrollVerticalQRX(REALpicture pic, int32_t delta, signed char wrap, signed char scrollmask) {
    if (scrollmask) {
        if (REALpicture mask = REALGetPictureMask(pic, 0)) {
            const bool maskScrolled = ScrollVerticalQRX(mask, delta, wrap, 0);
            REALUnlockObject(mask);
            if (!maskScrolled) return false;
        }
    }
    if (delta == 0) return true;
    if (!wrap) return pic && ScrollWorld(pic, 0, delta);

    PictureEditor editor;
    if (!editor.GetPictureEditor(pic)) return false;
    if (editor.height < 1) return true;
    const int32_t s = ReduceShift(delta, editor.height);
    if (s == 0) return true;
    return RotateRows(editor, s);
}

bool ScrollHorizontalQRX(REALpicture pic, int32_t delta, signed char wrap, signed char scrollmask) {
    if (scrollmask) {
        if (REALpicture mask = REALGetPictureMask(pic, 0)) {
            ScrollHorizontalQRX(mask, delta, wrap, 0);
            REALUnlockObject(mask);
        }
    }
    if (delta == 0 || !pic) return true;
    if (!wrap) {
        ScrollWorld(pic, delta, 0);
        return true;
    }

    PictureEditor editor;
    if (!editor.GetPictureEditor(pic)) return true;
    const int w = editor.width;
    if (w < 1) return true;
    const int32_t s = ReduceShift(delta, w);
    if (s == 0) return true;
    auto* buffer = static_cast<uint32_t*>(AllocateClearMemory(4LL * w));
    if (!buffer) return true;
    // Rows are reached one at a time, so row tables and flat rows are handled alike.
    const std::size_t pixelBytes = 4;
    for (int y = 0; y < editor.height; ++y) {
        uint32_t* row = editor.rowPointer;
        if (s > 0) {
            const int rest = w - s;
            std::memcpy(buffer, row, rest * pixelBytes);
            std::memmove(row, row + rest, static_cast<std::size_t>(s) * pixelBytes);
            std::memcpy(row + s, buffer, rest * pixelBytes);
        } else {
            const int k = -s;
            std::memcpy(buffer, row, k * pixelBytes);
            std::memmove(row, row + k, static_cast<std::size_t>(w - k) * pixelBytes);
            std::memcpy(row + (w - k), buffer, k * pixelBytes);
        }
        editor.AddPixelRow();
    }
    FreeMemoryNow(buffer);
    return true;
}

bool ScrollQRX(REALpicture pic, int32_t deltaX, int32_t deltaY, signed char wrap,
               signed char scrollmask) {
    ScrollHorizontalQRX(pic, deltaX, wrap, scrollmask);
    return ScrollVerticalQRX(pic, deltaY, wrap, scrollmask);
}
