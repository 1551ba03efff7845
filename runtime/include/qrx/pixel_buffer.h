// The storage of a picture's pixels. Storage a picture releases goes to a process-wide pool and is
// handed to the next picture that asks for the same number of bytes: its pages are already
// mapped, so a new picture of a size seen before does not pay a page fault on every page it
// writes. Whoever takes a buffer writes every byte of it before anything reads it, so a reused
// buffer holds exactly what a fresh one would.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qrx {

// Bytes of released storage the pool keeps at most: four 4096 x 4096 pictures. A release that
// would take the pool past this frees the buffers released longest ago until it fits; a buffer
// larger than the bound is freed at once.
inline constexpr size_t kPixelPoolBound = size_t(256) << 20;

class PixelBuffer {
  public:
    PixelBuffer() = default;
    // bytes of storage, from the pool when it holds a buffer of exactly that size; the contents
    // are whatever the last owner left. Throws std::bad_alloc when no memory is left.
    explicit PixelBuffer(size_t bytes);
    ~PixelBuffer();
    PixelBuffer(PixelBuffer&& other) noexcept;
    PixelBuffer& operator=(PixelBuffer&& other) noexcept;
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    uint8_t* data() const { return data_; }
    uint32_t* words() const { return reinterpret_cast<uint32_t*>(data_); }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Marks bytes from offset on as belonging to no one: under AddressSanitizer an access to them
    // is reported; otherwise nothing happens. The whole buffer is usable again when released.
    void poison(size_t offset, size_t bytes) const;

  private:
    void release() noexcept;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Bytes the pool holds now, and the number of buffers it holds.
size_t pixelPoolBytes();
size_t pixelPoolBuffers();
// Frees every buffer the pool holds.
void drainPixelPool();

} // namespace qrx
