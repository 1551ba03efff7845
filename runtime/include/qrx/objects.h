// Host objects owned by the runtime: pictures, Graphics, MemoryBlocks, strings and class instances.
//
// Every object is reference counted. The handle the plugin sees (REALobject, REALpicture, ...) is
// Object::handle(); Host::fromHandle maps it back.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "qrx/image.h"
#include "qrx/pixel_buffer.h"
#include "qrx/value.h"
#include "sdk/records.h"

struct CGBitmapContext;

namespace qrx {

class Host;
struct ClassInfo;

class Object {
  public:
    Object(Host& host, const ClassInfo* cls);
    virtual ~Object();
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Host& host() const { return host_; }
    const ClassInfo* cls() const { return cls_; }
    const std::string& className() const;
    int refCount() const { return refs_; }
    int hostRefCount() const { return hostRefs_; } // of refCount(), those the host's values hold
    // The address the plugin is given for this object.
    virtual void* handle() { return this; }

  private:
    friend class Host;
    Host& host_;
    const ClassInfo* cls_;
    int refs_ = 0;
    int hostRefs_ = 0; // of refs_, those held by the host's own values (Ref); the rest the plugin's
};

// How a picture keeps its pixels.
enum class PictureForm {
    Bitmap, // desktop: a bitmap context, rows at a fixed stride, alpha info 1 to 6
    Record, // console and web: a true-colour image record, each row allocated on its own
};

class Picture : public Object {
  public:
    // A picture of the given size in the given form; layout is the alpha info of a Bitmap
    // (ignored for Record). Every pixel starts as fill (R G B A bytes).
    Picture(Host& host, int width, int height, bool hasAlpha, PictureForm form, uint32_t layout,
            int rowPadding, const uint8_t fill[4]);
    ~Picture() override;

    int width() const { return width_; }
    int height() const { return height_; }
    bool hasAlpha() const { return hasAlpha_; }
    PictureForm form() const { return form_; }
    uint32_t layout() const; // alpha info for Bitmap, 8 for Record
    int bytesPerRow() const; // stride of a Bitmap, width * 4 for Record

    // Raw 32-bit word of a pixel, as stored in its layout.
    uint32_t word(int x, int y) const;
    void setWord(int x, int y, uint32_t w);
    // A pixel as R G B A (a Record's 7-bit alpha widened to 8 bits).
    void rgba(int x, int y, uint8_t out[4]) const;
    void setRgba(int x, int y, const uint8_t in[4]);

    Image toImage() const;
    void fromImage(const Image& img); // same size required

    // Test hooks: make the bitmap (type 8) description lock fail, so readers take the copy path.
    bool bitmapLockFails = false;

    // The separate mask picture a picture may carry (REALGetPictureMask), or null.
    Ref mask;
    // The offscreen world a legacy host describes the picture's rows with, made at the first
    // two-argument description lock.
    std::shared_ptr<void> legacyWorld;

    // Description locks currently held, and cache clears seen.
    int descriptionLocks = 0;
    int cacheClears = 0;

    // Set by the "Constructor" of a picture made with PluginNewInstance("Picture").
    void construct(int width, int height, bool hasAlpha);

    CGBitmapContext* bitmapContext();
    REALtrueColorImage* trueColorImage();

  private:
    void allocate();
    int width_ = 0, height_ = 0;
    bool hasAlpha_ = false;
    PictureForm form_;
    uint32_t layout_;
    int rowPadding_;
    uint8_t fill_[4];
    PixelBuffer pixels_;
    std::unique_ptr<CGBitmapContext> context_;
    std::vector<uint32_t*> rowTable_;
    std::unique_ptr<REALtrueColorImage> record_;
};

class Graphics : public Object {
  public:
    Graphics(Host& host, Ref picture);
    Picture* picture() const { return picture_.as<Picture>(); }
    uint32_t foreColor = 0;
    int32_t penWidth = 1;
    int32_t penHeight = 1;
    // Lines asked for through "RuntimeGraphicsDrawLine" (x1, y1, x2, y2), in call order.
    std::vector<std::array<int32_t, 4>> lines;

  private:
    Ref picture_;
};

class MemoryBlock : public Object {
  public:
    MemoryBlock(Host& host, size_t size); // zero-filled
    std::vector<uint8_t> bytes;
};

class String : public Object {
  public:
    String(Host& host, std::span<const uint8_t> bytes, uint32_t encoding);
    void* handle() override { return &record_; }
    std::span<const uint8_t> bytes() const;
    std::string text() const { return std::string(bytes().begin(), bytes().end()); }
    uint32_t encoding = kREALTextEncodingRaw;

  private:
    REALstringRecord record_{}; // head read directly on older hosts
    // One byte, the text, a terminating zero: in large_ from 1 MiB of text on, else in small_.
    std::vector<char> small_;
    PixelBuffer large_;
};

// An instance of a plugin class or of a built-in class without pixels (exceptions, applications).
class Instance : public Object {
  public:
    Instance(Host& host, const ClassInfo* cls, size_t dataSize);
    ~Instance() override;
    void* data() { return data_.get(); }
    std::string message; // "Message" of exception classes

  private:
    struct Free {
        void operator()(void* p) const;
    };
    std::unique_ptr<void, Free> data_; // zeroed, 16-byte aligned
};

template <class T> T* Ref::as() const {
    return dynamic_cast<T*>(obj_);
}

} // namespace qrx
