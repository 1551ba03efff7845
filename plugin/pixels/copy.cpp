#include "pixels/copy.h"

#include <cstddef>
#include <cstring>

#include "host/helpers.h"
#include "host/services.h"
#include "pixels/editor.h"

namespace {

constexpr const char* kDrawPictureDeclaration =
    "DrawPicture(Image as Picture, x as Integer, y as Integer, w as Integer, h as Integer, "
    "sx as Integer = 0, sy as Integer = 0, sw as Integer = -10000, sh as Integer = -10000)";

using DrawPictureMethod = void (*)(REALgraphics, REALpicture, int32_t x, int32_t y, int32_t w,
                                   int32_t h, int32_t sx, int32_t sy, int32_t sw, int32_t sh);

// The true-colour image record behind a locked type 10 description, when it can be copied.
const REALtrueColorImage* CopyableImage(const REALpictureDescription& description) {
    const auto* image = static_cast<const REALtrueColorImage*>(description.data);
    if (!image || image->paletteRowTable || !image->rowTable) return nullptr;
    return image;
}

} // namespace

REALpicture ClonePicture(REALpicture src) {
    if (!src) return nullptr;
    const int width = GetPictureWidth(src);
    const int height = GetPictureHeight(src);
    if (width < 1 || height < 1) return nullptr;
    REALpicture copy = REALNewPicture(width, height, 32);
    if (!copy) return nullptr;
    REALgraphics graphics = REALGetPictureGraphics(copy);
    if (!graphics) return copy;
    // A failed drawing still gives the new picture.
    GraphicsDrawPicture(graphics, copy, src, 0, 0, width, height, 0, 0, width, height);
    REALUnlockObject(graphics);
    return copy;
}

bool GraphicsDrawPicture(REALgraphics g, REALpicture dest, REALpicture src, int x, int y, int w,
                         int h, int sx, int sy, int sw, int sh) {
    if (g && src) {
        if (auto draw = reinterpret_cast<DrawPictureMethod>(
                REALLoadObjectMethod(ToObject(g), kDrawPictureDeclaration))) {
            draw(g, src, x, y, w, h, sx, sy, sw, sh);
            return true;
        }
    }
    return OwnCopy(dest, src, x, y, w, h, sx, sy, sw, sh);
}

bool OwnCopy(REALpicture dest, REALpicture src, int x, int y, int w, int h, int sx, int sy, int sw,
             int sh) {
    if (!src || !dest || x != 0 || y != 0 || sx != 0 || sy != 0 || sw != w || sh != h) return false;

    REALpictureDescription source{};
    if (!REALLockPictureDescriptionX(src, &source, kPictureTypeTrueColorImage)) return false;

    bool copied = false;
    REALpictureDescription target{};
    if (REALLockPictureDescriptionX(dest, &target, kPictureTypeTrueColorImage)) {
        const REALtrueColorImage* from = CopyableImage(source);
        const REALtrueColorImage* to = CopyableImage(target);
        // Left to us: a record with a negative width is not copied.
        if (from && to && from->width == to->width && from->height == to->height &&
            from->width >= 0) {
            copied = true;
            const std::size_t rowBytes = static_cast<std::size_t>(from->width) * 4;
            for (int32_t row = 0; row < from->height; ++row)
                std::memcpy(to->rowTable[row], from->rowTable[row], rowBytes);
        }
        REALUnlockPictureDescription(dest);
    }
    REALUnlockPictureDescription(src);
    REALPictureClearCache(dest);
    return copied;
}
