// Image files: PNG, PAM and PPM, chosen by the file's extension.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

#include "qrx/image.h"

namespace qrx {

// A file that cannot be read or written; the message names the file and the fault.
class ImageFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class ImageFormat { Png, Pam, Ppm };

// The format an extension stands for (".png", ".pam", ".ppm", any case); throws ImageFileError
// naming the file for any other extension.
ImageFormat imageFormatFor(const std::filesystem::path& path);

// Reads a PNG (8 or 16 bits per sample, gray, gray with alpha, palette, RGB, RGBA, with or without
// a tRNS chunk), a PAM (P7, maxval 255, RGB, RGB_ALPHA, GRAYSCALE or GRAYSCALE_ALPHA) or a PPM
// (P6, maxval 255). Samples of 16 bits are scaled to 8 bits with rounding. A picture with an alpha
// channel or a tRNS chunk gets hasAlpha; otherwise every alpha byte is 255.
Image readImage(const std::filesystem::path& path);

// Writes a PNG (RGB, or RGBA when hasAlpha), a PAM (RGB, or RGB_ALPHA when hasAlpha) or a PPM
// (P6; alpha is not kept). The file is written whole or not at all: the bytes go to a temporary
// file in the same directory, which is renamed over the target at the end and removed on failure.
void writeImage(const std::filesystem::path& path, const Image& img);

// Writes raw bytes with the same whole-or-nothing guarantee.
void writeFileAtomically(const std::filesystem::path& path, const void* data, size_t size);

// Reads a whole file; throws ImageFileError naming the file.
std::string readFileBytes(const std::filesystem::path& path);

} // namespace qrx
