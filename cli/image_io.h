// Image files: PNG, JPEG, PAM and PPM, chosen by the file's extension, and "-" for standard input
// (the format read from the first bytes) and standard output (the format given).
#pragma once

#include <cstdint>
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

// The largest picture read unless told otherwise: 16384 x 16384 pixels (1 GiB of RGBA).
constexpr uint64_t kDefaultMaxPixels = uint64_t(16384) * 16384;
// Pictures of more pixels than this are never read: sizes are kept in 32-bit integers.
constexpr uint64_t kHardMaxPixels = uint64_t(1) << 31;

// What the readers accept, set from the command line (--max-pixels and QRX_MAX_PIXELS,
// --accept-damaged, --strip) for the whole process.
struct ImageReadPolicy {
    uint64_t maxPixels = kDefaultMaxPixels; // 0: only kHardMaxPixels
    bool acceptDamaged = false;             // a damaged JPEG is read as far as it goes, with a note
    bool keepMetadata = true; // the ICC profile and EXIF block go into Image::metadata
};
void setImageReadPolicy(const ImageReadPolicy& policy);
const ImageReadPolicy& imageReadPolicy();

// Throws ImageFileError when a picture of width x height pixels is more than the policy's limit;
// the message names the file, its size, the limit and how to raise it. Readers call it with the
// size from the header, before any pixel is decoded.
void checkPixelLimit(const std::string& name, uint64_t width, uint64_t height);
// The message for a picture of width x height pixels that could not be given memory.
std::string outOfMemoryText(const std::string& name, uint64_t width, uint64_t height);
// "381 MiB", "4.0 GiB": a byte count as people read it.
std::string byteSizeText(uint64_t bytes);
// A one-line note on what a reader did ("qrx: note: TEXT"), where ImageNotesTo sends notes.
void imageNote(const std::string& text);

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

// Decodes the bytes of a picture file; name is what messages call it. The ICC profile and EXIF
// block of a PNG or JPEG go into the image's metadata (unless the policy strips them); a colour
// profile of gray or CMYK data is left out with a note, since the picture is read as RGB. A PNG may
// have 8 or 16 bits per sample and be gray, gray with alpha, palette, RGB or RGBA, with or without
// a tRNS chunk; a PAM must be P7 with MAXVAL 255 and TUPLTYPE RGB, RGB_ALPHA, GRAYSCALE or
// GRAYSCALE_ALPHA; a PPM P6 with maxval 255; a JPEG as decodeJpeg reads it. Samples of 16 bits are
// scaled to 8 bits with rounding, and a note saying so goes to the image notes. A picture with an
// alpha channel or a tRNS chunk gets hasAlpha; otherwise every alpha byte is 255.
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
    // The ICC profile and EXIF block written; null: the image's own.
    const ImageMetadata* metadata = nullptr;
};

// The bytes of a PNG (RGB, or RGBA when hasAlpha), a JPEG (RGB), a PAM (RGB, or RGB_ALPHA when
// hasAlpha) or a PPM (P6). Alpha is not kept in JPEG and PPM. The image's metadata goes into PNG
// (iCCP, eXIf) and JPEG (APP2 ICC_PROFILE, APP1 Exif); PAM and PPM have no place for it.
// metadata, when given, is written in place of the image's own.
std::string encodeImage(const Image& img, ImageFormat format, int jpegQuality,
                        const std::string& name, const ImageMetadata* metadata = nullptr);

// Writes a picture file as writeFileAtomically does. To "-" the picture is encoded whole before
// its first byte goes out.
void writeImage(const std::filesystem::path& path, const Image& img,
                const ImageWriteOptions& options = {});

// Writes raw bytes to an output path according to what is there ("-": to standardOutput, or
// std::cout when it is null):
// - nothing, or a regular file: the bytes go to a temporary file in the same directory, which is
//   renamed over the file at the end (removed on failure), so the file is whole or untouched. An
//   existing file keeps its permission bits, and its owner and group as far as the process may
//   set them; a file the process may not write is refused ("permission denied").
// - a symbolic link: the file it leads to, as above, in that file's directory.
// - a device, a FIFO, or /dev/stdout, /dev/stderr, /dev/fd/N: written directly.
// Throws ImageFileError naming the path.
void writeFileAtomically(const std::filesystem::path& path, const void* data, size_t size,
                         std::ostream* standardOutput = nullptr);

// Throws ImageFileError naming the path when writeFileAtomically would refuse it before writing:
// a directory, a file the process may not write, a folder that does not exist.
void checkOutputWritable(const std::filesystem::path& path);

// Moves a finished file to an output path as writeFileAtomically writes there: renamed into
// place when it can be, else its bytes written; staged is gone afterwards. Throws ImageFileError.
void moveFileToOutput(const std::filesystem::path& staged, const std::filesystem::path& path);

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
