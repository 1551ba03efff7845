#include "jpeg_io.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image_io.h"

namespace qrx {

namespace {

// libjpeg reports a fatal error through error_exit, which must not return: it jumps back to the
// setjmp of the function that called into libjpeg. Those functions keep no objects with
// destructors between the setjmp and their calls into libjpeg, so the jump skips nothing.
struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = "";
};

void jpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings (a corrupt but decodable stream) are not fatal: the picture is read as libjpeg gives it.
void jpegOutputMessage(j_common_ptr) {}

// Everything the decoder fills in, kept outside the function that calls setjmp.
struct DecodeState {
    jpeg_decompress_struct cinfo;
    JpegError error;
    const unsigned char* data = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t>* pixels = nullptr; // RGBA, filled row by row
    std::vector<uint8_t>* row = nullptr;
    int width = 0, height = 0;
    bool tooLarge = false;
};

uint8_t inkToLight(unsigned ink, unsigned black) {
    // Both values already mean "light" (255 = no ink): the product scaled back to 0..255, rounded.
    return uint8_t((ink * black + 127) / 255);
}

bool decodeInto(DecodeState& s) {
    if (setjmp(s.error.jump)) return false;
    jpeg_mem_src(&s.cinfo, s.data, s.size);
    jpeg_read_header(&s.cinfo, TRUE);
    const J_COLOR_SPACE in = s.cinfo.jpeg_color_space;
    const bool cmyk = in == JCS_CMYK || in == JCS_YCCK;
    s.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&s.cinfo);
    if (s.cinfo.output_width > 0x7FFFFFF || s.cinfo.output_height > 0x7FFFFFF ||
        uint64_t(s.cinfo.output_width) * s.cinfo.output_height > (uint64_t(1) << 31)) {
        s.tooLarge = true;
        jpeg_abort_decompress(&s.cinfo);
        return false;
    }
    s.width = int(s.cinfo.output_width);
    s.height = int(s.cinfo.output_height);
    const int comps = s.cinfo.output_components;
    // An Adobe marker on a CMYK file means the inks are stored inverted (0 = full ink), which is
    // what the conversion below wants; without one they are stored plainly and are turned over.
    const bool inverted = cmyk && s.cinfo.saw_Adobe_marker;
    s.pixels->assign(size_t(s.width) * size_t(s.height) * 4, 255);
    s.row->resize(size_t(s.width) * size_t(comps));
    while (s.cinfo.output_scanline < s.cinfo.output_height) {
        const int y = int(s.cinfo.output_scanline);
        JSAMPROW rows[1] = {s.row->data()};
        if (jpeg_read_scanlines(&s.cinfo, rows, 1) != 1) break;
        const uint8_t* src = s.row->data();
        uint8_t* dst = s.pixels->data() + size_t(y) * size_t(s.width) * 4;
        for (int x = 0; x < s.width; ++x, src += comps, dst += 4) {
            if (!cmyk) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
                continue;
            }
            auto light = [&](uint8_t v) { return inverted ? unsigned(v) : 255u - v; };
            const unsigned k = light(src[3]);
            dst[0] = inkToLight(light(src[0]), k);
            dst[1] = inkToLight(light(src[1]), k);
            dst[2] = inkToLight(light(src[2]), k);
        }
    }
    jpeg_finish_decompress(&s.cinfo);
    return true;
}

struct EncodeState {
    jpeg_compress_struct cinfo;
    JpegError error;
    const Image* img = nullptr;
    int quality = kDefaultJpegQuality;
    unsigned char* out = nullptr; // malloc'ed by libjpeg's memory destination
    unsigned long outSize = 0;
    std::vector<uint8_t>* row = nullptr;
};

bool encodeFrom(EncodeState& s) {
    if (setjmp(s.error.jump)) return false;
    const Image& img = *s.img;
    jpeg_mem_dest(&s.cinfo, &s.out, &s.outSize);
    s.cinfo.image_width = JDIMENSION(img.width);
    s.cinfo.image_height = JDIMENSION(img.height);
    s.cinfo.input_components = 3;
    s.cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s.cinfo);
    jpeg_set_quality(&s.cinfo, s.quality, TRUE);
    const int sampling = s.quality >= 90 ? 1 : 2;
    s.cinfo.comp_info[0].h_samp_factor = sampling;
    s.cinfo.comp_info[0].v_samp_factor = sampling;
    jpeg_start_compress(&s.cinfo, TRUE);
    s.row->resize(size_t(img.width) * 3);
    while (s.cinfo.next_scanline < s.cinfo.image_height) {
        const uint8_t* src = img.pixel(0, int(s.cinfo.next_scanline));
        uint8_t* dst = s.row->data();
        for (int x = 0; x < img.width; ++x, src += 4, dst += 3)
            std::memcpy(dst, src, 3);
        JSAMPROW rows[1] = {s.row->data()};
        jpeg_write_scanlines(&s.cinfo, rows, 1);
    }
    jpeg_finish_compress(&s.cinfo);
    return true;
}

void setUpErrors(JpegError& error) {
    jpeg_std_error(&error.mgr);
    error.mgr.error_exit = jpegErrorExit;
    error.mgr.output_message = jpegOutputMessage;
}

} // namespace

Image decodeJpeg(std::string_view bytes, const std::string& name) {
    std::vector<uint8_t> pixels, row;
    DecodeState s;
    s.data = reinterpret_cast<const unsigned char*>(bytes.data());
    s.size = (unsigned long)bytes.size();
    s.pixels = &pixels;
    s.row = &row;
    setUpErrors(s.error);
    s.cinfo.err = &s.error.mgr;
    jpeg_create_decompress(&s.cinfo);
    const bool ok = decodeInto(s);
    jpeg_destroy_decompress(&s.cinfo);
    if (s.tooLarge) throw ImageFileError(name + ": picture too large");
    if (!ok) throw ImageFileError(name + ": bad JPEG: " + s.error.message);
    if (s.width < 1 || s.height < 1) throw ImageFileError(name + ": empty JPEG picture");
    Image img;
    img.width = s.width;
    img.height = s.height;
    img.hasAlpha = false;
    img.rgba = std::move(pixels);
    return img;
}

std::string encodeJpeg(const Image& img, int quality, const std::string& name) {
    if (quality < 1 || quality > 100)
        throw ImageFileError(name + ": JPEG quality " + std::to_string(quality) +
                             " is outside 1 to 100");
    std::vector<uint8_t> row;
    EncodeState s;
    s.img = &img;
    s.quality = quality;
    s.row = &row;
    setUpErrors(s.error);
    s.cinfo.err = &s.error.mgr;
    jpeg_create_compress(&s.cinfo);
    const bool ok = encodeFrom(s);
    jpeg_destroy_compress(&s.cinfo);
    std::string out;
    if (ok && s.out) out.assign(reinterpret_cast<const char*>(s.out), s.outSize);
    std::free(s.out);
    if (!ok) throw ImageFileError(name + ": JPEG encoding failed: " + s.error.message);
    return out;
}

} // namespace qrx
