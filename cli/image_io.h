// Image files: PNG, JPEG, PAM and PPM, chosen by the file's extension, and "-" for standard input
// (the format read from the first bytes) and standard output (the format given).
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "jpeg_io.h"
#include "qrx/image.h"

namespace qrx {

// A file that cannot be read or written; the message names the file and the fault.
class ImageFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class ImageFormat { Png, Jpeg, Pam, Ppm };

// Whether the path is "-", which stands for standard input when read and standard output when
// written.
bool isStandardStream(const std::filesystem::path& path);
// How messages name a path: the path, or "standard input" / "standard output" for "-".
std::string inputName(const std::filesystem::path& path);
std::string outputName(const std::filesystem::path& path);

// The format an extension stands for (".png", ".jpg", ".jpeg", ".pam", ".ppm", any case); throws
// ImageFileError naming the file for any other extension.
ImageFormat imageFormatFor(const std::filesystem::path& path);
// The format a --format word names ("png", "jpeg" or "jpg", "pam", "ppm"), or nothing.
std::optional<ImageFormat> imageFormatNamed(std::string_view name);
// The format whose signature the bytes start with (PNG signature, JPEG start of image, "P7"
// followed by a line end, "P6" followed by a blank), or nothing.
std::optional<ImageFormat> sniffImageFormat(std::string_view bytes);

// Decodes the bytes of a picture file; name is what messages call it. A PNG may have 8 or 16 bits
// per sample and be gray, gray with alpha, palette, RGB or RGBA, with or without a tRNS chunk; a
// PAM must be P7 with MAXVAL 255 and TUPLTYPE RGB, RGB_ALPHA, GRAYSCALE or GRAYSCALE_ALPHA; a PPM
// P6 with maxval 255; a JPEG as decodeJpeg reads it. Samples of 16 bits are scaled to 8 bits with
// rounding, and a note saying so goes to the image notes. A picture with an alpha channel or a
// tRNS chunk gets hasAlpha; otherwise every alpha byte is 255.
Image decodeImage(std::string_view bytes, ImageFormat format, const std::string& name);

// Reads a picture file by its extension, or standard input ("-") by its first bytes.
Image readImage(const std::filesystem::path& path);

// How a picture is written.
struct ImageWriteOptions {
    // The format; without one the extension decides. Writing to "-" needs one.
    std::optional<ImageFormat> format;
    int jpegQuality = kDefaultJpegQuality;
    // Where "-" writes to; null: std::cout.
    std::ostream* standardOutput = nullptr;
};

// The bytes of a PNG (RGB, or RGBA when hasAlpha), a JPEG (RGB), a PAM (RGB, or RGB_ALPHA when
// hasAlpha) or a PPM (P6). Alpha is not kept in JPEG and PPM.
std::string encodeImage(const Image& img, ImageFormat format, int jpegQuality,
                        const std::string& name);

// Writes a picture file whole or not at all: the bytes go to a temporary file in the same
// directory, which is renamed over the target at the end and removed on failure. To "-" the
// picture is encoded whole before its first byte goes out.
void writeImage(const std::filesystem::path& path, const Image& img,
                const ImageWriteOptions& options = {});

// Writes raw bytes with the same whole-or-nothing guarantee ("-": to standardOutput, or std::cout
// when it is null).
void writeFileAtomically(const std::filesystem::path& path, const void* data, size_t size,
                         std::ostream* standardOutput = nullptr);

// Reads a whole file, or all of standard input for "-"; throws ImageFileError naming the file.
std::string readFileBytes(const std::filesystem::path& path);

// Where readers send one-line notes about what they changed in a picture (a 16-bit PNG reduced to
// 8 bits). While an ImageNotesTo lives, its stream; otherwise std::cerr.
class ImageNotesTo {
  public:
    explicit ImageNotesTo(std::ostream& notes);
    ~ImageNotesTo();
    ImageNotesTo(const ImageNotesTo&) = delete;
    ImageNotesTo& operator=(const ImageNotesTo&) = delete;

  private:
    std::ostream* previous_;
};

} // namespace qrx
