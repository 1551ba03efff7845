// Bitmap contexts: the pixel store behind a desktop host's picture, and the getters the plugin
// reads it through. The host creates and owns the context; the getters only read it.
#pragma once

#include <cstddef>
#include <cstdint>

// Alpha info values (the low bits of a bitmap's info word).
enum : uint32_t {
    kCGImageAlphaNone = 0,
    kCGImageAlphaPremultipliedLast = 1,
    kCGImageAlphaPremultipliedFirst = 2,
    kCGImageAlphaLast = 3,
    kCGImageAlphaFirst = 4,
    kCGImageAlphaNoneSkipLast = 5,
    kCGImageAlphaNoneSkipFirst = 6,
};

struct CGBitmapContext {
    void* data;
    size_t bitsPerPixel;
    size_t width;
    size_t height;
    size_t bytesPerRow;
    uint32_t alphaInfo;
};

using CGContextRef = CGBitmapContext*;

void* CGBitmapContextGetData(CGContextRef context);
size_t CGBitmapContextGetBitsPerPixel(CGContextRef context);
size_t CGBitmapContextGetWidth(CGContextRef context);
size_t CGBitmapContextGetHeight(CGContextRef context);
size_t CGBitmapContextGetBytesPerRow(CGContextRef context);
uint32_t CGBitmapContextGetAlphaInfo(CGContextRef context);
