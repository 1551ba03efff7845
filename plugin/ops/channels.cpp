#include "ops/operations.h"

#include <cstdint>

#include "host/helpers.h"
#include "pixels/row_walk.h"

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
    RowWalk<2> walk;
    if (!walk.Read({pic, channel})) return nullptr;
    const int32_t W = walk.readers[0].width;
    const int32_t H = walk.readers[0].height;
    if (walk.readers[1].height < H || walk.readers[1].width < W) return nullptr;
    if (!walk.writer.NewPictureWriter(W, H)) return nullptr;

    walk.Rows(W, H, [&](auto group, uint32_t* dst, int32_t n, const auto& src) {
        // The replaced component's bits come from the channel picture, the others from the
        // source; the word is then made opaque as a stored colour is.
        using B = GroupBits<decltype(group)::value>;
        const unsigned place = which == Channel::Red     ? B::red
                               : which == Channel::Green ? B::green
                                                         : B::blue;
        const uint32_t fromChannel = 0xFFu << place;
        const uint32_t fromSource = ColourBits<decltype(group)::value>() & ~fromChannel;
        for (int32_t x = 0; x < n; ++x)
            dst[x] = (src[0][x] & fromSource) | (src[1][x] & fromChannel) | B::opaque;
    });
    // The readers are released by their destructors, after the writer hands over its picture.
    return walk.writer.RenderPictureWriter();
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
