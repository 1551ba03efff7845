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
// alpha channel. The orientation a camera records in EXIF is not applied; the EXIF block and an
// RGB ICC profile go into the image's metadata unless the read policy strips them. A picture
// beyond the policy's pixel limit is refused from its header; any libjpeg warning (a truncated or
// corrupt stream) fails the read unless the policy accepts damaged files, which then gives a
// note. Throws ImageFileError whose message starts with name.
Image decodeJpeg(std::string_view bytes, const std::string& name);

// Encodes an RGB JPEG with quality 1 to 100: colour at full resolution from quality 90 on (so the
// default keeps sharp colour edges), at half resolution each way below 90. Alpha is not kept; the
// EXIF block (APP1) and ICC profile (APP2) of metadata, or without it of the image, are written
// after the JFIF marker. Throws ImageFileError whose message starts with name.
std::string encodeJpeg(const Image& img, int quality, const std::string& name,
                       const ImageMetadata* metadata = nullptr);

} // namespace qrx
