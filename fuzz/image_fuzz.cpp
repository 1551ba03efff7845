// Image files: the same bytes read as PNG, PAM, PPM and JPEG. Each read gives a picture whose pixel
// buffer matches its size, or an ImageFileError.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "image_io.h"

namespace {

std::filesystem::path scratch(const char* ext) {
    return std::filesystem::temp_directory_path() /
           ("qrx-image-fuzz-" + std::to_string(getpid()) + ext);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (const char* ext : {".png", ".pam", ".ppm", ".jpg"}) {
        const std::filesystem::path path = scratch(ext);
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
        }
        try {
            qrx::Image img = qrx::readImage(path);
            if (img.width < 1 || img.height < 1 ||
                img.rgba.size() != size_t(img.width) * size_t(img.height) * 4)
                __builtin_trap();
        } catch (const qrx::ImageFileError&) {
        }
        std::filesystem::remove(path);
    }
    return 0;
}
