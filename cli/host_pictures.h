// Picture files as a host reads and writes them: the image formats of image_io.h, and ".ppic"
// binary picture strings, which go through the plugin's own "BinaryStringtoPictureQRX" and
// "PicturetoBinaryStringQRX".
#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>

#include "jpeg_io.h"
#include "qrx/host.h"

namespace qrx::cli {

// How a picture is written.
struct PictureWriteOptions {
    // png, jpeg (or jpg), pam, ppm or ppic; empty: by the extension. Writing to "-" needs one.
    std::string format;
    int quality = kDefaultJpegQuality;      // JPEG quality
    std::ostream* standardOutput = nullptr; // where "-" writes; null: std::cout
};

// Whether the path names a binary picture string (".ppic", any case).
bool isBinaryPicturePath(const std::filesystem::path& path);
// Throws ImageFileError naming the file unless qrx can write a picture there in the format given
// (or, without one, the format of its extension).
void checkPictureFile(const std::filesystem::path& path, const std::string& format = "");
// A new picture of the host from the file. "-" reads standard input: a PNG, JPEG, PAM or PPM by
// its first bytes, anything else as a binary picture string. Throws ImageFileError naming the
// file. With decoded given, it also receives the pixels as the file holds them (a binary picture
// string: as the picture holds them).
Ref loadPicture(Host& host, const std::filesystem::path& path, Image* decoded = nullptr);
// Writes the picture, whole or not at all; throws ImageFileError naming the file.
void savePicture(Host& host, const std::filesystem::path& path, const Ref& picture,
                 const PictureWriteOptions& options = {});
// The same for pixels the command made itself: image files take them as they stand, a binary
// picture string through a picture of the host.
void savePicture(Host& host, const std::filesystem::path& path, const Image& image,
                 const PictureWriteOptions& options = {});

} // namespace qrx::cli
