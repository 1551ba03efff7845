#include "ops/channels.h"

#include <cstdint>

#include "host/helpers.h"
#include "pixels/editor.h"
#include "pixels/layout_walk.h"

namespace {

enum class Channel { Red, Green, Blue };

// The result is opaque and without alpha; the channel picture may be larger than the source, of
// which only its top-left area of the source's size is read.
REALpicture ReplaceChannel(REALpicture pic, REALpicture channel, Channel which) {
    // A nil channel picture is reported before anything else, even when the source is nil too.
    if (!channel) {
        RaiseException("NilObjectException", "The channel picture is nil.", kREALTextEncodingASCII);
        return nullptr;
    }
    PictureReader source;
    if (!source.GetPictureReader(pic)) return nullptr;
    PictureReader replacement;
    if (!replacement.GetPictureReader(channel)) return nullptr;
    const int32_t W = source.width;
    const int32_t H = source.height;
    if (replacement.height < H || replacement.width < W) return nullptr;

    PictureWriter writer;
    if (!writer.NewPictureWriter(W, H)) return nullptr;

    WithSharedGroup({source.pixelType, replacement.pixelType, writer.pixelType}, [&](auto group) {
        constexpr LayoutGroup G = decltype(group)::value;
        for (int32_t y = 0; y < H; ++y) {
            const uint32_t* src = source.rowPointer;
            const uint32_t* chn = replacement.rowPointer;
            uint32_t* dst = writer.rowPointer;
            if constexpr (G == LayoutGroup::Other) {
                for (int32_t x = 0; x < W; ++x) {
                    int red, green, blue;
                    int cRed, cGreen, cBlue;
                    DecodePixel(source.pixelType, src[x], red, green, blue);
                    DecodePixel(replacement.pixelType, chn[x], cRed, cGreen, cBlue);
                    switch (which) {
                    case Channel::Red:
                        red = cRed;
                        break;
                    case Channel::Green:
                        green = cGreen;
                        break;
                    case Channel::Blue:
                        blue = cBlue;
                        break;
                    }
                    EncodePixel(writer.pixelType, red, green, blue, dst[x]);
                }
            } else {
                // The replaced component's bits come from the channel picture, the others from
                // the source; the word is then made opaque as a stored colour is.
                constexpr uint32_t kOpaque = GroupBits<G>::opaque;
                const uint32_t fromChannel = which == Channel::Red ? 0xFFu << GroupBits<G>::red
                                             : which == Channel::Green
                                                 ? 0xFFu << GroupBits<G>::green
                                                 : 0xFFu << GroupBits<G>::blue;
                const uint32_t fromSource = ColourBits<G>() & ~fromChannel;
                for (int32_t x = 0; x < W; ++x)
                    dst[x] = (src[x] & fromSource) | (chn[x] & fromChannel) | kOpaque;
            }
            writer.AddPixelRow();
            source.AddPixelRow();
            replacement.AddPixelRow();
        }
    });
    // The readers are released by their destructors, after the writer hands over its picture.
    return writer.RenderPictureWriter();
}

} // namespace

REALpicture ReplaceRedChannel(REALpicture pic, REALpicture channel) {
    return ReplaceChannel(pic, channel, Channel::Red);
}

REALpicture ReplaceGreenChannel(REALpicture pic, REALpicture channel) {
    return ReplaceChannel(pic, channel, Channel::Green);
}

REALpicture ReplaceBlueChannel(REALpicture pic, REALpicture channel) {
    return ReplaceChannel(pic, channel, Channel::Blue);
}
