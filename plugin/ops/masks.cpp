#include "ops/operations.h"

#include <algorithm>
#include <cstdint>

#include "host/services.h"
#include "pixels/editor.h"

// Alpha is taken as stored, without un-premultiplying. For the true-colour records of console and
// web hosts it is the 7-bit field in bits 24-30, widened as DecodePixel widens it; the setter
// stores the mask value halved into that field (which the widening undoes exactly for values
// whose two low bits are equal) and leaves bit 31 as it is. Hosts that keep a transparency there
// (0 opaque) thus show opaque pixels black without swap; swap gives the other convention.
//
// A mask narrower or lower than the picture is read only within its own rows and columns: the
// pixels it does not cover keep their alpha.
//
// The setter writes through a reading editor; when it worked on the picture itself (not on a
// copy) it tells the host that the pixels changed, so cached renderings are not shown stale.

namespace {

uint8_t MaskValue(int v, bool swap) {
    return static_cast<uint8_t>(swap ? 255 - v : v);
}

// The word w with its alpha replaced by a, in the layout's alpha position; unchanged for a layout
// without one.
uint32_t WithAlpha(RBPixelType type, uint32_t w, uint8_t a) {
    if (IsAlphaLastLayout(type)) return (w & 0x00FFFFFFu) | (uint32_t(a) << 24);
    if (IsAlphaFirstLayout(type)) return (w & 0xFFFFFF00u) | a;
    if (IsTrueColorLayout(type)) return (w & 0x80FFFFFFu) | (uint32_t(a >> 1) << 24);
    return w;
}

} // namespace

REALpicture GetEmbededMask(REALpicture pic, signed char swap) {
    PictureReader reader;
    if (!reader.GetPictureReader(pic)) return nullptr;
    PictureWriter writer;
    if (!writer.NewPictureWriter(reader.width, reader.height)) return nullptr;
    const bool swapped = swap != 0;
    for (int y = 0; y < reader.height; ++y) {
        const uint32_t* src = reader.rowPointer;
        uint32_t* dst = writer.rowPointer;
        for (int x = 0; x < reader.width; ++x) {
            int red, green, blue, alpha;
            DecodePixel(reader.pixelType, src[x], red, green, blue, &alpha);
            const int v = MaskValue(alpha, swapped);
            EncodePixel(writer.pixelType, v, v, v, dst[x]);
        }
        reader.AddPixelRow();
        writer.AddPixelRow();
    }
    REALpicture result = writer.RenderPictureWriter();
    reader.clear();
    return result;
}

void SetEmbededMask(REALpicture pic, signed char swap, REALpicture mask) {
    if (!mask) return;
    PictureReader target;
    if (!target.GetPictureReader(pic)) return;
    PictureReader source;
    if (!source.GetPictureReader(mask)) return;
    const bool swapped = swap != 0;
    const int rows = std::min(target.height, source.height);
    const int columns = std::min(target.width, source.width);
    for (int y = 0; y < rows; ++y) {
        uint32_t* dst = target.rowPointer;
        const uint32_t* src = source.rowPointer;
        for (int x = 0; x < columns; ++x) {
            int red, green, blue;
            DecodePixel(source.pixelType, src[x], red, green, blue);
            dst[x] = WithAlpha(target.pixelType, dst[x], MaskValue(red, swapped));
        }
        target.AddPixelRow();
        source.AddPixelRow();
    }
    if (target.picture == pic && rows > 0 && columns > 0) REALPictureClearCache(pic);
}

bool PictureHasMask(REALpicture pic) {
    if (!pic) return false;
    REALpicture mask = REALGetPictureMask(pic, 0);
    if (!mask) return false;
    REALUnlockObject(mask);
    return true;
}
