// Picture files as a host reads and writes them: the image formats of image_io.h, and ".ppic"
// binary picture strings, which go through the plugin's own "BinaryStringtoPictureQRX" and
// "PicturetoBinaryStringQRX".
#pragma once

#include <filesystem>

#include "qrx/host.h"

namespace qrx::cli {

// Whether the path names a binary picture string (".ppic", any case).
bool isBinaryPicturePath(const std::filesystem::path& path);
// Throws ImageFileError naming the file unless it is a picture file qrx can write.
void checkPictureFile(const std::filesystem::path& path);
// A new picture of the host from the file; throws ImageFileError naming the file.
Ref loadPicture(Host& host, const std::filesystem::path& path);
// Writes the picture, whole or not at all; throws ImageFileError naming the file.
void savePicture(Host& host, const std::filesystem::path& path, const Ref& picture);

} // namespace qrx::cli
