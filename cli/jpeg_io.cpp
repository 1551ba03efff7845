#include "jpeg_io.h"

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <string>
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
    // Decoding: whether a warning (a damaged stream) stops the read, and the first warning.
    bool warningsFail = false;
    bool damaged = false;
    bool readingMetadata = false; // a faulty profile marker costs the profile, not the picture
    char warning[JMSG_LENGTH_MAX] = "";
};

void jpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// libjpeg's messages go nowhere of their own; what matters is kept in JpegError.
void jpegOutputMessage(j_common_ptr) {}

// A warning (level -1) means a damaged stream: data cut short, corrupt entropy-coded data, a
// marker in the wrong place. libjpeg would go on with gray in place of what is missing; unless
// damaged files are accepted, the read stops here as at an error.
void jpegEmitMessage(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    if (level >= 0 || err->readingMetadata) return; // trace messages
    if (!err->damaged) (*cinfo->err->format_message)(cinfo, err->warning);
    err->damaged = true;
    cinfo->err->num_warnings++;
    if (err->warningsFail) {
        std::snprintf(err->message, sizeof err->message, "%s", err->warning);
        std::longjmp(err->jump, 1);
    }
}

// Everything the decoder fills in, kept outside the function that calls setjmp.
struct DecodeState {
    jpeg_decompress_struct cinfo;
    JpegError error;
    const unsigned char* data = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t>* pixels = nullptr; // RGBA, filled row by row
    std::vector<uint8_t>* row = nullptr;
    const std::string* name = nullptr;
    ImageMetadata* metadata = nullptr; // null: none is kept
    std::string refusal;               // the size limit's message
    int width = 0, height = 0;
    unsigned headerWidth = 0, headerHeight = 0;
    bool outOfMemory = false;
};

// The ICC profile and the EXIF block of the markers libjpeg kept.
void jpegMetadata(DecodeState& s) {
    JOCTET* profile = nullptr;
    unsigned int length = 0;
    if (jpeg_read_icc_profile(&s.cinfo, &profile, &length) && profile && length >= 20) {
        // The picture is read as RGB: a profile of gray or CMYK data no longer describes it.
        if (std::memcmp(profile + 16, "RGB ", 4) == 0)
            s.metadata->iccProfile.assign(profile, profile + length);
        else
            imageNote(*s.name + ": its colour profile is for " +
                      std::string(reinterpret_cast<const char*>(profile) + 16, 4) +
                      " data and is not kept (read as RGB)");
    }
    std::free(profile);
    static constexpr char kExif[] = "Exif\0"; // with the string's own NUL: "Exif\0\0"
    for (jpeg_saved_marker_ptr m = s.cinfo.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length > sizeof kExif &&
            std::memcmp(m->data, kExif, sizeof kExif) == 0) {
            s.metadata->exif.assign(m->data + sizeof kExif, m->data + m->data_length);
            break;
        }
}

uint8_t inkToLight(unsigned ink, unsigned black) {
    // Both values already mean "light" (255 = no ink): the product scaled back to 0..255, rounded.
    return uint8_t((ink * black + 127) / 255);
}

bool decodeInto(DecodeState& s) {
    if (setjmp(s.error.jump)) return false;
    jpeg_mem_src(&s.cinfo, s.data, s.size);
    if (s.metadata) {
        jpeg_save_markers(&s.cinfo, JPEG_APP0 + 1, 0xFFFF);
        jpeg_save_markers(&s.cinfo, JPEG_APP0 + 2, 0xFFFF);
    }
    jpeg_read_header(&s.cinfo, TRUE);
    // The size from the header, checked before libjpeg sets up anything for the pixels.
    s.headerWidth = s.cinfo.image_width;
    s.headerHeight = s.cinfo.image_height;
    try {
        checkPixelLimit(*s.name, s.headerWidth, s.headerHeight);
    } catch (const ImageFileError& e) {
        s.refusal = e.what();
        return false;
    }
    if (s.metadata) {
        s.error.readingMetadata = true;
        jpegMetadata(s);
        s.error.readingMetadata = false;
    }
    const J_COLOR_SPACE in = s.cinfo.jpeg_color_space;
    const bool cmyk = in == JCS_CMYK || in == JCS_YCCK;
    s.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&s.cinfo);
    s.width = int(s.cinfo.output_width);
    s.height = int(s.cinfo.output_height);
    const int comps = s.cinfo.output_components;
    // An Adobe marker on a CMYK file means the inks are stored inverted (0 = full ink), which is
    // what the conversion below wants; without one they are stored plainly and are turned over.
    const bool inverted = cmyk && s.cinfo.saw_Adobe_marker;
    try {
        s.pixels->assign(size_t(s.width) * size_t(s.height) * 4, 255);
        s.row->resize(size_t(s.width) * size_t(comps));
    } catch (const std::bad_alloc&) {
        s.outOfMemory = true;
        return false;
    }
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

// The EXIF block as an APP1 "Exif" marker (when it fits one marker, as EXIF requires) and the ICC
// profile as APP2 ICC_PROFILE markers, right after the JFIF marker.
void writeMetadata(jpeg_compress_struct& cinfo, const ImageMetadata& meta) {
    static constexpr char kExif[] = "Exif\0"; // with the string's own NUL: "Exif\0\0"
    if (!meta.exif.empty() && meta.exif.size() + sizeof kExif <= 65533) {
        jpeg_write_m_header(&cinfo, JPEG_APP0 + 1, unsigned(meta.exif.size() + sizeof kExif));
        for (char c : kExif)
            jpeg_write_m_byte(&cinfo, static_cast<unsigned char>(c));
        for (uint8_t b : meta.exif)
            jpeg_write_m_byte(&cinfo, b);
    }
    if (!meta.iccProfile.empty())
        jpeg_write_icc_profile(&cinfo, meta.iccProfile.data(), unsigned(meta.iccProfile.size()));
}

struct EncodeState {
    jpeg_compress_struct cinfo;
    JpegError error;
    const Image* img = nullptr;
    const ImageMetadata* metadata = nullptr;
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
    writeMetadata(s.cinfo, *s.metadata);
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
    error.mgr.emit_message = jpegEmitMessage;
}

} // namespace

Image decodeJpeg(std::string_view bytes, const std::string& name) {
    std::vector<uint8_t> pixels, row;
    DecodeState s;
    s.data = reinterpret_cast<const unsigned char*>(bytes.data());
    s.size = (unsigned long)bytes.size();
    s.pixels = &pixels;
    s.row = &row;
    s.name = &name;
    Image img;
    const ImageReadPolicy& policy = imageReadPolicy();
    if (policy.keepMetadata) s.metadata = &img.metadata;
    setUpErrors(s.error);
    s.error.warningsFail = !policy.acceptDamaged;
    s.cinfo.err = &s.error.mgr;
    jpeg_create_decompress(&s.cinfo);
    const bool ok = decodeInto(s);
    jpeg_destroy_decompress(&s.cinfo);
    if (!s.refusal.empty()) throw ImageFileError(s.refusal);
    if (s.outOfMemory) throw ImageFileError(outOfMemoryText(name, s.headerWidth, s.headerHeight));
    if (!ok && s.error.damaged)
        throw ImageFileError(name + ": damaged JPEG: " + s.error.message +
                             " (--accept-damaged reads it as far as it goes)");
    if (!ok) throw ImageFileError(name + ": bad JPEG: " + s.error.message);
    if (s.width < 1 || s.height < 1) throw ImageFileError(name + ": empty JPEG picture");
    if (s.error.damaged)
        imageNote(name +
                  ": damaged JPEG read as far as it goes (--accept-damaged): " + s.error.warning);
    img.width = s.width;
    img.height = s.height;
    img.hasAlpha = false;
    img.rgba = std::move(pixels);
    return img;
}

std::string encodeJpeg(const Image& img, int quality, const std::string& name,
                       const ImageMetadata* metadata) {
    if (quality < 1 || quality > 100)
        throw ImageFileError(name + ": JPEG quality " + std::to_string(quality) +
                             " is outside 1 to 100");
    std::vector<uint8_t> row;
    EncodeState s;
    s.img = &img;
    s.metadata = metadata ? metadata : &img.metadata;
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
