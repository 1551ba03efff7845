// Picture editors: direct access to the pixel rows of a host picture, whichever form the host
// keeps them in, and the pixel layouts those rows come in.
#pragma once

#include <cstdint>

#include "sdk/records.h"

// Layout code of the 32-bit pixels of an editor's rows. Codes 1 to 6 are the alpha info of a
// bitmap context; 8 is the true-colour image record of console and web hosts.
enum RBPixelType : int32_t {
    kRBPixelPremultipliedLast = 1,  // bytes R G B A
    kRBPixelPremultipliedFirst = 2, // bytes A R G B
    kRBPixelAlphaLast = 3,          // bytes R G B A
    kRBPixelAlphaFirst = 4,         // bytes A R G B
    kRBPixelSkipLast = 5,           // bytes R G B x
    kRBPixelSkipFirst = 6,          // bytes x R G B
    kRBPixelTrueColor = 8,          // bytes B G R a, a 7-bit alpha
};

// Red in bits 0-7, green 8-15, blue 16-23, alpha 24-31: types 1, 3, 5.
inline bool IsAlphaLastLayout(RBPixelType type) {
    const auto code = static_cast<uint32_t>(type);
    return code < 9 && ((42u >> code) & 1u);
}

// Alpha in bits 0-7, red 8-15, green 16-23, blue 24-31: types 2, 4, 6.
inline bool IsAlphaFirstLayout(RBPixelType type) {
    const auto code = static_cast<uint32_t>(type);
    return code < 9 && ((84u >> code) & 1u);
}

// Blue in bits 0-7, green 8-15, red 16-23, a 7-bit alpha in 24-30: type 8.
inline bool IsTrueColorLayout(RBPixelType type) {
    return type == kRBPixelTrueColor;
}

// The colour of the stored word w in the given layout. An unknown layout gives black and false:
// the word is not consumed. Alpha, when asked for, is widened to 8 bits for type 8 (0 stays 0,
// 127 becomes 255). Premultiplied colour is taken as it is stored.
inline bool DecodePixel(RBPixelType type, uint32_t w, int& red, int& green, int& blue,
                        int* alpha = nullptr) {
    if (IsAlphaLastLayout(type)) {
        red = static_cast<int>(w & 0xFF);
        green = static_cast<int>((w >> 8) & 0xFF);
        blue = static_cast<int>((w >> 16) & 0xFF);
        if (alpha) *alpha = static_cast<int>(w >> 24);
        return true;
    }
    if (IsAlphaFirstLayout(type)) {
        red = static_cast<int>((w >> 8) & 0xFF);
        green = static_cast<int>((w >> 16) & 0xFF);
        blue = static_cast<int>(w >> 24);
        if (alpha) *alpha = static_cast<int>(w & 0xFF);
        return true;
    }
    if (IsTrueColorLayout(type)) {
        red = static_cast<int>((w >> 16) & 0xFF);
        green = static_cast<int>((w >> 8) & 0xFF);
        blue = static_cast<int>(w & 0xFF);
        if (alpha) {
            const int a = static_cast<int>((w >> 24) & 0x7F);
            *alpha = (a << 1) | (a & 1);
        }
        return true;
    }
    red = green = blue = 0;
    if (alpha) *alpha = 0;
    return false;
}

// The opaque word for a colour (components already in 0 to 255) in the given layout; false and
// nothing to store for an unknown layout.
inline bool EncodePixel(RBPixelType type, int red, int green, int blue, uint32_t& w) {
    const auto r = static_cast<uint32_t>(red);
    const auto g = static_cast<uint32_t>(green);
    const auto b = static_cast<uint32_t>(blue);
    if (IsAlphaLastLayout(type)) {
        w = 0xFF000000u | (b << 16) | (g << 8) | r;
        return true;
    }
    if (IsAlphaFirstLayout(type)) {
        w = (b << 24) | (g << 16) | (r << 8) | 0xFFu;
        return true;
    }
    if (IsTrueColorLayout(type)) {
        w = (r << 16) | (g << 8) | b;
        return true;
    }
    return false;
}

// Which kind of host application is running; decided once, at the first acquisition, and never
// reset while the process lives. At most one of them is set.
extern bool IsDesktop;
extern bool IsConsole;

// Locks a description of the requested type; a failed lock on a host older than 2012.0 is
// followed by an unlock.
bool REALLockPictureDescriptionX(REALpicture pic, REALpictureDescription* desc, int type);

// Scoped access to the pixels of a host picture. While holding, the editor owns one reference to
// its picture and at most one description lock on it, released by clear() or the destructor.
class PictureEditor {
  public:
    PictureEditor() = default;
    virtual ~PictureEditor();
    PictureEditor(const PictureEditor&) = delete;
    PictureEditor& operator=(const PictureEditor&) = delete;

    // Releases what the editor holds, then acquires pic; false leaves the editor empty.
    bool GetPictureEditor(REALpicture pic, signed char allowCopy, signed char forWriting);
    // In-place editing of pic.
    bool GetPictureEditor(REALpicture pic);

    // Moves rowPointer to the next row; past the last row it wraps to row 0.
    void AddPixelRow();
    // Address of row y (row 0 for y at or beyond height); rowPointer is left as it is.
    uint32_t* GetRow(int y);

    // Hands the written picture to the caller (one reference) and releases the editor; null for
    // an empty editor.
    REALpicture RenderPictureWriter();
    // Releases the description lock and the picture; harmless when empty.
    void clear();

    int32_t bytesPerRow = 0;
    int32_t width = 0;
    int32_t height = 0;
    RBPixelType pixelType = static_cast<RBPixelType>(0);
    uint32_t* rowPointer = nullptr;
    REALpictureDescription description{};
    uint32_t* baseAddress = nullptr;
    int32_t rowIndex = 0;
    REALpicture picture = nullptr;
    uint32_t** rowTable = nullptr;
    bool hasAlpha = false;
    bool clearCacheOnRelease = false;
    bool descriptionLocked = false;

  private:
    bool AcquireBitmap(REALpicture pic);
    bool AcquireRecord(REALpicture pic);
};

class PictureReader : public PictureEditor {
  public:
    // Reads pic, through a copy when its pixels cannot be reached directly.
    bool GetPictureReader(REALpicture pic);
};

class PictureWriter : public PictureEditor {
  public:
    // A new picture of 1 to 32767 by 1 to 32767 pixels.
    bool NewPictureWriter(int width, int height);
    // A new picture of the reader's size, with an alpha channel when the reader's has one.
    bool NewPictureWriter(PictureReader& reader);
    // pic itself when it is at least width by height and can be written, else a new picture.
    bool NewPictureWriter(REALpicture pic, int width, int height);
};
