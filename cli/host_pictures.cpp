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

namespace {

// Whether a picture goes out as a binary picture string: by the format given, else the extension.
bool writesBinaryString(const fs::path& path, const std::string& format) {
    return format.empty() ? isBinaryPicturePath(path) : format == "ppic";
}

Ref pictureFromBinaryString(Host& host, std::string bytes, const std::string& name) {
    // The bytes are the string as they stand: raw bytes, no text encoding.
    Ref str = host.newString(bytes, kREALTextEncodingRaw);
    CallResult r = host.callGlobal("BinaryStringtoPictureQRX", {str});
    const Ref* pic = std::get_if<Ref>(&r.result);
    if (r.exception || !pic || !*pic) throw ImageFileError(name + ": not a binary picture string");
    return *pic;
}

} // namespace

void checkPictureFile(const fs::path& path, const std::string& format) {
    if (!format.empty()) {
        if (format != "ppic" && !imageFormatNamed(format))
            throw ImageFileError(outputName(path) + ": unknown format '" + format +
                                 "' (png, jpeg, pam, ppm or ppic)");
        return;
    }
    if (isStandardStream(path))
        throw ImageFileError(outputName(path) +
                             ": give the format of the picture (--format png, jpeg, pam, ppm or "
                             "ppic)");
    if (!isBinaryPicturePath(path)) imageFormatFor(path);
}

Ref loadPicture(Host& host, const fs::path& path, Image* decoded) {
    auto fromImage = [&](Image img) {
        Ref pic = host.pictureFromImage(img);
        if (decoded) *decoded = std::move(img);
        return pic;
    };
    auto fromString = [&](std::string bytes, const std::string& name) {
        Ref pic = pictureFromBinaryString(host, std::move(bytes), name);
        if (decoded) *decoded = pic.as<Picture>()->toImage();
        return pic;
    };
    if (isStandardStream(path)) {
        const std::string name = inputName(path);
        std::string bytes = readFileBytes(path);
        if (bytes.empty()) throw ImageFileError(name + ": empty: no picture was given");
        if (auto format = sniffImageFormat(bytes))
            return fromImage(decodeImage(bytes, *format, name));
        return fromString(std::move(bytes), name + " (neither PNG, JPEG, PAM, PPM)");
    }
    if (!isBinaryPicturePath(path)) return fromImage(readImage(path));
    return fromString(readFileBytes(path), path.string());
}

void savePicture(Host& host, const fs::path& path, const Ref& picture,
                 const PictureWriteOptions& options) {
    const std::string name = outputName(path);
    const Picture* pic = picture ? picture.as<Picture>() : nullptr;
    if (!pic) throw ImageFileError(name + ": no picture to write");
    checkPictureFile(path, options.format);
    if (!writesBinaryString(path, options.format)) {
        savePicture(host, path, pic->toImage(), options);
        return;
    }
    CallResult r = host.callGlobal("PicturetoBinaryStringQRX", {picture});
    const Ref* str = std::get_if<Ref>(&r.result);
    const String* s = str && *str ? str->as<String>() : nullptr;
    if (r.exception || !s)
        throw ImageFileError(name + ": the picture could not be made a binary string");
    auto bytes = s->bytes();
    writeFileAtomically(path, bytes.data(), bytes.size(), options.standardOutput);
}

void savePicture(Host& host, const fs::path& path, const Image& image,
                 const PictureWriteOptions& options) {
    checkPictureFile(path, options.format);
    if (writesBinaryString(path, options.format)) {
        savePicture(host, path, host.pictureFromImage(image), options);
        return;
    }
    ImageWriteOptions write;
    if (!options.format.empty()) write.format = imageFormatNamed(options.format);
    write.jpegQuality = options.quality;
    write.standardOutput = options.standardOutput;
    writeImage(path, image, write);
}

} // namespace qrx::cli
