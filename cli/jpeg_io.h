// JPEG pictures through libjpeg, decoded from and encoded to bytes in memory.
#pragma once

#include <string>
#include <string_view>

#include "qrx/image.h"

namespace qrx {

// The quality a JPEG is written with unless told otherwise: high enough that a photograph shows no
// blocks, while the file stays a fraction of a PNG's size.
constexpr int kDefaultJpegQuality = 90;

// Decodes a baseline or progressive JPEG. Gray pictures become RGB with equal components; CMYK and
// YCCK pictures are converted to RGB (R = (255 - C)(255 - K) / 255 and so on), reading the inverted
// ink values Adobe applications write when the file carries an Adobe marker. The picture has no
// alpha channel. The orientation a camera records in EXIF is not applied. Throws ImageFileError
// whose message starts with name.
Image decodeJpeg(std::string_view bytes, const std::string& name);

// Encodes an RGB JPEG with quality 1 to 100: colour at full resolution from quality 90 on (so the
// default keeps sharp colour edges), at half resolution each way below 90. Alpha is not kept.
// Throws ImageFileError whose message starts with name.
// metadata, when given, is written in place of the image's own.
std::string encodeJpeg(const Image& img, int quality, const std::string& name,
                       const ImageMetadata* metadata = nullptr);

} // namespace qrx
