#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "bitmap_context.h"
#include "host_impl.h"
#include "qrx/objects.h"

namespace qrx {

// ---- pixel words ----------------------------------------------------------------------------

// The top bits of a record pixel hold a 7-bit transparency: a pixel whose top byte is 0 is opaque,
// which is what plugins write for an opaque pixel. It is widened to 8 bits as (t << 1) | (t & 1),
// so every alpha of the form 255 - widened(t) survives a store exactly.

uint32_t encodeWord(uint32_t layout, const uint8_t p[4]) {
    switch (layout) {
    case 1:
    case 3:
    case 5: // bytes R G B A
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    case 2:
    case 4:
    case 6: // bytes A R G B
        return uint32_t(p[3]) | uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24;
    default: // record: bytes B G R t, t a 7-bit transparency in bits 24-30
        return uint32_t(p[2]) | uint32_t(p[1]) << 8 | uint32_t(p[0]) << 16 |
               uint32_t((255 - p[3]) >> 1) << 24;
    }
}

void decodeWord(uint32_t layout, uint32_t w, uint8_t p[4]) {
    switch (layout) {
    case 1:
    case 3:
    case 5:
        p[0] = uint8_t(w), p[1] = uint8_t(w >> 8), p[2] = uint8_t(w >> 16), p[3] = uint8_t(w >> 24);
        return;
    case 2:
    case 4:
    case 6:
        p[3] = uint8_t(w), p[0] = uint8_t(w >> 8), p[1] = uint8_t(w >> 16), p[2] = uint8_t(w >> 24);
        return;
    default: {
        p[2] = uint8_t(w), p[1] = uint8_t(w >> 8), p[0] = uint8_t(w >> 16);
        uint8_t t = (w >> 24) & 0x7F;
        p[3] = uint8_t(255 - (t << 1 | (t & 1))); // 0 is opaque (255), 127 transparent (0)
        return;
    }
    }
}

// ---- Object ---------------------------------------------------------------------------------

Object::Object(Host& host, const ClassInfo* cls) : host_(host), cls_(cls) {}

Object::~Object() = default;

const std::string& Object::className() const {
    static const std::string none;
    return cls_ ? cls_->name : none;
}

// ---- Picture --------------------------------------------------------------------------------

Picture::Picture(Host& host, int width, int height, bool hasAlpha, PictureForm form,
                 uint32_t layout, int rowPadding, const uint8_t fill[4])
    : Object(host, host.impl().pictureClass), width_(width < 0 ? 0 : width),
      height_(height < 0 ? 0 : height), hasAlpha_(hasAlpha), form_(form), layout_(layout),
      rowPadding_(rowPadding < 0 ? 0 : rowPadding) {
    if (form_ == PictureForm::Bitmap && (layout_ < 1 || layout_ > 6))
        throw std::invalid_argument("bitmap alpha info must be 1 to 6, not " +
                                    std::to_string(layout_));
    std::memcpy(fill_, fill, 4);
    allocate();
}

Picture::~Picture() = default;

namespace {

// Fills from this many bytes on are larger than the caches: they are written with streaming
// stores, which do not first read the lines they write. Measured on a 4096 x 4096 record picture,
// whose opaque white is 0x00FFFFFF (not a memset): its fill took 0.49 x a copy of the picture
// instead of 0.70 x by copies of the first row.
constexpr size_t kStreamingFill = size_t(1) << 20;

// Writes count copies of a 4-byte word from dst on; dst may start at any byte. A word whose four
// bytes are equal is a memset; any other is streamed when asked (for the pictures from
// kStreamingFill bytes on), or else written once into the first pixels and then doubled by
// copying what is already written, so the loop runs on wide copies rather than 4-byte stores.
void fillWords(uint8_t* dst, size_t count, uint32_t word, bool stream) {
    if (count == 0) return;
    const uint8_t b = uint8_t(word);
    if (word == 0x01010101u * b) {
        std::memset(dst, b, count * 4);
        return;
    }
    const size_t total = count * 4;
#ifdef __SSE2__
    if (stream) {
        // The word's bytes repeated, so that 16 bytes from any of the first four are the pattern
        // at that phase.
        uint8_t pattern[20];
        for (size_t i = 0; i < sizeof pattern; i += 4)
            std::memcpy(pattern + i, &word, 4);
        const size_t head = std::min(total, (16 - reinterpret_cast<uintptr_t>(dst) % 16) % 16);
        std::memcpy(dst, pattern, head);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern + head % 4));
        size_t at = head;
        for (; at + 16 <= total; at += 16)
            _mm_stream_si128(reinterpret_cast<__m128i*>(dst + at), v);
        _mm_sfence();
        std::memcpy(dst + at, pattern + at % 4, total - at);
        return;
    }
#endif
    std::memcpy(dst, &word, 4);
    size_t done = 4;
    // Doubling up to a block that stays in the first-level cache, then copies of that block.
    constexpr size_t kBlock = 4096;
    while (done < total) {
        const size_t n = std::min({done, kBlock, total - done});
        std::memcpy(dst + done, dst, n);
        done += n;
    }
}

} // namespace

void Picture::allocate() {
    const uint32_t fillWord = encodeWord(layout(), fill_);
    // Storage may come back from the pool holding an older picture's pixels: every byte is
    // written here, so a new picture starts as a fresh one does, each pixel the fill and the
    // padding at the end of each row 0.
    pixels_ = PixelBuffer();
    rowTable_.clear();
    const size_t pixelBytes = size_t(width_) * 4;
    const bool stream = pixelBytes * size_t(height_) >= kStreamingFill;
    if (form_ == PictureForm::Bitmap) {
        const size_t stride = size_t(bytesPerRow());
        pixels_ = PixelBuffer(stride * size_t(height_));
        if (stride == pixelBytes) {
            // No padding: the rows are one run of pixels.
            fillWords(pixels_.data(), size_t(width_) * size_t(height_), fillWord, stream);
        } else {
            // Bitmap rows start at any byte when the padding is not a multiple of 4.
            for (int y = 0; y < height_; ++y) {
                uint8_t* row = pixels_.data() + size_t(y) * stride;
                fillWords(row, size_t(width_), fillWord, stream);
                std::memset(row + pixelBytes, 0, stride - pixelBytes);
            }
        }
        if (!context_) context_ = std::make_unique<CGBitmapContext>();
        *context_ = {pixels_.empty() ? nullptr : pixels_.data(),
                     32,
                     size_t(width_),
                     size_t(height_),
                     stride,
                     layout_};
    } else {
        // The rows share one buffer, each at its own 64-byte boundary and followed by a gap of at
        // least 64 bytes that belongs to no row, so readers must go through the row table: a
        // reader that steps from one row to the next by the row's bytes reads the gap, and under
        // AddressSanitizer the gaps are poisoned, so a read or write past a row's end is caught
        // as it is with rows allocated one by one. One buffer rather than a heap block per row:
        // making a 4096 x 4096 picture took 1.25 x as long with a block per row.
        const size_t rowBytes = size_t(width_ > 0 ? width_ : 1) * 4;
        const size_t stride = (rowBytes + 63) / 64 * 64 + 64;
        pixels_ = PixelBuffer(stride * size_t(height_));
        rowTable_.reserve(size_t(height_) + 1);
        for (int y = 0; y < height_; ++y)
            rowTable_.push_back(reinterpret_cast<uint32_t*>(pixels_.data() + size_t(y) * stride));
        // Every row starts at a multiple of 4 bytes from the first and the gaps hold nothing, so
        // one fill covers every row.
        fillWords(pixels_.data(), pixels_.size() / 4, fillWord, stream);
        for (int y = 0; y < height_; ++y)
            pixels_.poison(size_t(y) * stride + size_t(width_) * 4, stride - size_t(width_) * 4);
        if (!record_) record_ = std::make_unique<REALtrueColorImage>();
        std::memset(record_.get(), 0, sizeof(REALtrueColorImage));
        record_->paletteRowTable = nullptr;
        record_->width = width_;
        record_->height = height_;
        record_->isTrueColor = 1;
        rowTable_.push_back(nullptr); // keeps the table non-null for an empty picture
        record_->rowTable = rowTable_.data();
    }
}

uint32_t Picture::layout() const {
    return form_ == PictureForm::Bitmap ? layout_ : 8;
}

int Picture::bytesPerRow() const {
    return form_ == PictureForm::Bitmap ? width_ * 4 + rowPadding_ : width_ * 4;
}

uint32_t Picture::word(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        throw std::out_of_range("pixel outside the picture");
    if (form_ == PictureForm::Record) return rowTable_[size_t(y)][size_t(x)];
    uint32_t w;
    std::memcpy(&w, pixels_.data() + size_t(y) * size_t(bytesPerRow()) + size_t(x) * 4, 4);
    return w;
}

void Picture::setWord(int x, int y, uint32_t w) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        throw std::out_of_range("pixel outside the picture");
    if (form_ == PictureForm::Record) {
        rowTable_[size_t(y)][size_t(x)] = w;
        return;
    }
    std::memcpy(pixels_.data() + size_t(y) * size_t(bytesPerRow()) + size_t(x) * 4, &w, 4);
}

void Picture::rgba(int x, int y, uint8_t out[4]) const {
    decodeWord(layout(), word(x, y), out);
}

void Picture::setRgba(int x, int y, const uint8_t in[4]) {
    setWord(x, y, encodeWord(layout(), in));
}

// The alpha bytes of a picture without an alpha channel may be padding: they read as opaque.
Image Picture::toImage() const {
    Image img;
    img.width = width_;
    img.height = height_;
    img.hasAlpha = hasAlpha_;
    img.rgba.resize(size_t(width_) * size_t(height_) * 4);
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            uint8_t* p = img.pixel(x, y);
            rgba(x, y, p);
            if (!hasAlpha_) p[3] = 255;
        }
    }
    return img;
}

void Picture::fromImage(const Image& img) {
    if (img.width != width_ || img.height != height_)
        throw std::invalid_argument("image of " + std::to_string(img.width) + "x" +
                                    std::to_string(img.height) + " does not fit a picture of " +
                                    std::to_string(width_) + "x" + std::to_string(height_));
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            setRgba(x, y, img.pixel(x, y));
}

void Picture::construct(int width, int height, bool hasAlpha) {
    width_ = width < 0 ? 0 : width;
    height_ = height < 0 ? 0 : height;
    hasAlpha_ = hasAlpha;
    allocate();
}

CGBitmapContext* Picture::bitmapContext() {
    return form_ == PictureForm::Bitmap ? context_.get() : nullptr;
}

REALtrueColorImage* Picture::trueColorImage() {
    return form_ == PictureForm::Record ? record_.get() : nullptr;
}

// ---- Graphics, MemoryBlock, String, Instance ------------------------------------------------

Graphics::Graphics(Host& host, Ref picture)
    : Object(host, host.impl().graphicsClass), picture_(std::move(picture)) {}

MemoryBlock::MemoryBlock(Host& host, size_t size)
    : Object(host, host.impl().memoryBlockClass), bytes(size, 0) {}

// The buffer holds one byte before the text and a zero after it; word 1 of the record points at
// the buffer and word 3 holds the text's length, as older plugins read them directly.
// Large strings (binary pictures) are kept on pixel storage: a string of a size seen before
// reuses pages that are already mapped instead of faulting in fresh ones. Decision: the process
// heap itself is left as glibc sets it up; keeping every freed block in it made these strings
// cheaper still but raised the peak memory of a one-shot call by 16 MiB. Small ones stay off the
// pool, which would otherwise keep a buffer of every small size it was given.
String::String(Host& host, std::span<const uint8_t> bytes, uint32_t enc)
    : Object(host, host.impl().stringClass), encoding(enc) {
    constexpr size_t kPooledSize = size_t(1) << 20;
    char* buffer;
    if (bytes.size() >= kPooledSize) {
        large_ = PixelBuffer(bytes.size() + 2);
        buffer = reinterpret_cast<char*>(large_.data());
    } else {
        small_.resize(bytes.size() + 2);
        buffer = small_.data();
    }
    buffer[0] = 0;
    if (!bytes.empty()) std::memcpy(buffer + 1, bytes.data(), bytes.size());
    buffer[bytes.size() + 1] = 0;
    record_.word0 = 1;
    record_.buffer = buffer;
    record_.word2 = 0;
    record_.length = uint32_t(bytes.size());
}

std::span<const uint8_t> String::bytes() const {
    return {reinterpret_cast<const uint8_t*>(record_.buffer) + 1, record_.length};
}

void Instance::Free::operator()(void* p) const {
    std::free(p);
}

Instance::Instance(Host& host, const ClassInfo* cls, size_t dataSize) : Object(host, cls) {
    size_t size = (dataSize + 15) / 16 * 16;
    if (size == 0) size = 16;
    void* p = std::aligned_alloc(16, size);
    if (!p) throw std::bad_alloc();
    std::memset(p, 0, size);
    data_.reset(p);
}

Instance::~Instance() = default;

} // namespace qrx
