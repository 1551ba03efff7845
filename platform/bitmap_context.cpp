#include "bitmap_context.h"

// A null context reads as empty, as the system's getters do.

void* CGBitmapContextGetData(CGContextRef context) { return context ? context->data : nullptr; }

size_t CGBitmapContextGetBitsPerPixel(CGContextRef context) {
    return context ? context->bitsPerPixel : 0;
}

size_t CGBitmapContextGetWidth(CGContextRef context) { return context ? context->width : 0; }

size_t CGBitmapContextGetHeight(CGContextRef context) { return context ? context->height : 0; }

size_t CGBitmapContextGetBytesPerRow(CGContextRef context) {
    return context ? context->bytesPerRow : 0;
}

uint32_t CGBitmapContextGetAlphaInfo(CGContextRef context) {
    return context ? context->alphaInfo : kCGImageAlphaNone;
}
