#include "host_pictures.h"

#include <algorithm>
#include <cctype>
#include <span>
#include <string>

#include "image_io.h"

namespace qrx::cli {

namespace fs = std::filesystem;

bool isBinaryPicturePath(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".ppic";
}

void checkPictureFile(const fs::path& path) {
    if (!isBinaryPicturePath(path)) imageFormatFor(path);
}

Ref loadPicture(Host& host, const fs::path& path) {
    if (!isBinaryPicturePath(path)) return host.pictureFromImage(readImage(path));
    // The file's bytes are the string as they stand: raw bytes, no text encoding.
    Ref bytes = host.newString(readFileBytes(path), kREALTextEncodingRaw);
    CallResult r = host.callGlobal("BinaryStringtoPictureQRX", {bytes});
    const Ref* pic = std::get_if<Ref>(&r.result);
    if (r.exception || !pic || !*pic)
        throw ImageFileError(path.string() + ": not a binary picture string");
    return *pic;
}

void savePicture(Host& host, const fs::path& path, const Ref& picture) {
    const Picture* pic = picture ? picture.as<Picture>() : nullptr;
    if (!pic) throw ImageFileError(path.string() + ": no picture to write");
    if (!isBinaryPicturePath(path)) {
        writeImage(path, pic->toImage());
        return;
    }
    CallResult r = host.callGlobal("PicturetoBinaryStringQRX", {picture});
    const Ref* str = std::get_if<Ref>(&r.result);
    const String* s = str && *str ? str->as<String>() : nullptr;
    if (r.exception || !s)
        throw ImageFileError(path.string() + ": the picture could not be made a binary string");
    auto bytes = s->bytes();
    writeFileAtomically(path, bytes.data(), bytes.size());
}

} // namespace qrx::cli
