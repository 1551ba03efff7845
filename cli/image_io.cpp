#include "image_io.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string_view>
#include <vector>

namespace qrx {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void fail(const fs::path& path, const std::string& fault) {
    throw ImageFileError(path.string() + ": " + fault);
}

[[noreturn]] void failNamed(const std::string& name, const std::string& fault) {
    throw ImageFileError(name + ": " + fault);
}

std::ostream* gNotes = nullptr;

void note(const std::string& text) {
    (gNotes ? *gNotes : std::cerr) << "qrx: note: " << text << "\n";
}

std::string lowerExtension(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

FilePtr openForReading(const fs::path& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fail(path, std::strerror(errno));
    return FilePtr(f);
}

void checkImage(const fs::path& path, const Image& img) {
    if (img.width < 1 || img.height < 1)
        fail(path, "cannot write an empty picture (" + std::to_string(img.width) + "x" +
                       std::to_string(img.height) + ")");
    if (img.rgba.size() != size_t(img.width) * size_t(img.height) * 4)
        fail(path, "picture data does not match its size");
}

// What the process may do, as the file system says: "permission denied" for EACCES and EPERM
// (what users know from cp), the system's words otherwise.
std::string faultText(int err) {
    return err == EACCES || err == EPERM ? "permission denied" : std::strerror(err);
}

// Where the bytes for an output path go.
struct OutputTarget {
    enum class Kind { NewFile, ReplaceFile, Direct };
    Kind kind = Kind::NewFile;
    fs::path file;           // the path itself, or where its symbolic links lead
    struct stat existing {}; // ReplaceFile: the file's status before it is replaced
    bool stream = false;     // /dev/stdout and the like: appended to, never truncated
};

// The names of the process's own open streams, which are written to as they stand.
bool isStreamAlias(const fs::path& path) {
    const std::string s = path.lexically_normal().string();
    return s == "/dev/stdout" || s == "/dev/stderr" || s.rfind("/dev/fd/", 0) == 0 ||
           s.rfind("/proc/self/fd/", 0) == 0;
}

OutputTarget resolveOutput(const fs::path& path) {
    OutputTarget t;
    if (isStreamAlias(path)) {
        t.kind = OutputTarget::Kind::Direct;
        t.file = path;
        t.stream = true;
        return t;
    }
    // Only the last component's links are followed here: the directories on the way are the
    // kernel's to resolve, and a temporary file made beside t.file is in the same file system.
    fs::path p = path;
    for (int hops = 0;; ++hops) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) {
            if (errno != ENOENT) fail(path, faultText(errno));
            t.file = p;
            return t;
        }
        if (S_ISLNK(st.st_mode)) {
            std::error_code ec;
            fs::path link = fs::read_symlink(p, ec);
            if (ec || hops >= 40) fail(path, "cannot follow the symbolic link: " + ec.message());
            p = link.is_absolute() ? link : p.parent_path() / link;
            continue;
        }
        t.file = p;
        if (S_ISDIR(st.st_mode)) fail(path, "is a directory");
        if (!S_ISREG(st.st_mode)) {
            t.kind = OutputTarget::Kind::Direct;
            return t;
        }
        if (faccessat(AT_FDCWD, p.c_str(), W_OK, AT_EACCESS) != 0) fail(path, faultText(errno));
        t.kind = OutputTarget::Kind::ReplaceFile;
        t.existing = st;
        return t;
    }
}

// Gives a new file the permission bits, and the owner and group as far as the process may set
// them, of the file it replaces. The owner goes first: changing it may clear set-user-ID bits.
void keepOwnership(int fd, const struct stat& existing) {
    if (fchown(fd, existing.st_uid, existing.st_gid) != 0) {
        // Another user's file the process may write becomes the process's own; its group stays
        // when the process belongs to it.
        if (fchown(fd, uid_t(-1), existing.st_gid) != 0) {
        }
    }
    if (fchmod(fd, existing.st_mode & 07777) != 0) {
    }
}

// Writes the bytes to a device, a FIFO or a stream as they stand.
void writeDirect(const OutputTarget& t, const fs::path& shown, const void* data, size_t size) {
    const int fd = open(t.file.c_str(), O_WRONLY | O_CLOEXEC | (t.stream ? O_APPEND : 0));
    if (fd < 0) fail(shown, faultText(errno));
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = errno;
            close(fd);
            fail(shown, std::string("write failed: ") + std::strerror(err));
        }
        p += n;
        size -= size_t(n);
    }
    if (close(fd) != 0 && errno != EINTR)
        fail(shown, std::string("write failed: ") + std::strerror(errno));
}

// A temporary file beside the target; renamed over the target by commit(), removed otherwise.
class AtomicFile {
  public:
    AtomicFile(const OutputTarget& t, const fs::path& shown) : target_(t.file), shown_(shown) {
        fs::path dir = target_.parent_path();
        std::string name = "." + target_.filename().string() + ".tmp-XXXXXX";
        std::string tmpl = (dir.empty() ? fs::path(name) : dir / name).string();
        int fd = mkstemp(tmpl.data());
        if (fd < 0) fail(shown, "cannot create a file here: " + faultText(errno));
        temp_ = tmpl;
        if (t.kind == OutputTarget::Kind::ReplaceFile) {
            keepOwnership(fd, t.existing);
        } else {
            // mkstemp creates the file readable by its owner only; give it what a new file gets.
            mode_t mask = umask(0);
            umask(mask);
            fchmod(fd, 0666 & ~mask);
        }
        file_.reset(fdopen(fd, "wb"));
        if (!file_) {
            int err = errno;
            close(fd);
            unlink(temp_.c_str());
            fail(shown, std::strerror(err));
        }
    }
    ~AtomicFile() {
        if (!committed_) {
            file_.reset();
            unlink(temp_.c_str());
        }
    }
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void write(const void* data, size_t size) {
        if (size && std::fwrite(data, 1, size, file_.get()) != size)
            fail(shown_, std::string("write failed: ") + std::strerror(errno));
    }

    void commit() {
        if (std::fflush(file_.get()) != 0 || std::ferror(file_.get()))
            fail(shown_, std::string("write failed: ") + std::strerror(errno));
        FILE* f = file_.release();
        if (std::fclose(f) != 0) fail(shown_, std::string("write failed: ") + std::strerror(errno));
        if (std::rename(temp_.c_str(), target_.c_str()) != 0)
            fail(shown_, "cannot replace the file: " + faultText(errno));
        committed_ = true;
    }

  private:
    fs::path target_;
    fs::path shown_;
    std::string temp_;
    FilePtr file_;
    bool committed_ = false;
};

ImageReadPolicy gPolicy;

std::string withSeparators(uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// ---- PNG --------------------------------------------------------------------------------------

// libpng reports errors through a callback that must not return; it jumps back to the setjmp of
// the function that called into libpng. Those functions keep no objects with destructors of their
// own, so nothing is skipped by the jump.
struct PngError {
    char message[256] = "";
};

void pngErrorFn(png_structp png, png_const_charp msg) {
    auto* err = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(err->message, sizeof err->message, "%s", msg ? msg : "PNG error");
    png_longjmp(png, 1);
}

void pngWarningFn(png_structp, png_const_charp) {}

// The bytes a PNG is decoded from, and how far libpng has read.
struct PngSource {
    const png_byte* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
};

void pngReadFn(png_structp png, png_bytep out, png_size_t length) {
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (src->size - src->pos < length) png_error(png, "file ends early");
    std::memcpy(out, src->data + src->pos, length);
    src->pos += length;
}

struct PngReadState {
    PngSource source;
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngError error;
    const std::string* name = nullptr;
    std::string refusal; // the size limit's message, when the header asks for too much
    png_uint_32 width = 0, height = 0;
    bool hasAlpha = false;
    bool sixteenBits = false;
    bool outOfMemory = false;
    std::vector<png_byte>* pixels = nullptr;
    std::vector<png_bytep>* rows = nullptr;
};

bool readPngInto(PngReadState& s) {
    if (setjmp(png_jmpbuf(s.png))) return false;
    png_set_read_fn(s.png, &s.source, pngReadFn);
    png_read_info(s.png, s.info);
    s.width = png_get_image_width(s.png, s.info);
    s.height = png_get_image_height(s.png, s.info);
    try {
        checkPixelLimit(*s.name, s.width, s.height);
    } catch (const ImageFileError& e) {
        s.refusal = e.what();
        return false;
    }
    int colorType = png_get_color_type(s.png, s.info);
    int bitDepth = png_get_bit_depth(s.png, s.info);
    bool trns = png_get_valid(s.png, s.info, PNG_INFO_tRNS) != 0;
    s.hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || trns;
    s.sixteenBits = bitDepth == 16;

    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(s.png);
    if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(s.png);
    if (trns) png_set_tRNS_to_alpha(s.png);
    if (bitDepth == 16) png_set_scale_16(s.png);
    if (!(colorType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(s.png);
    if (!s.hasAlpha) png_set_add_alpha(s.png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    if (png_get_rowbytes(s.png, s.info) != size_t(s.width) * 4)
        png_error(s.png, "unexpected row size after conversion");

    try {
        s.pixels->resize(size_t(s.width) * s.height * 4);
        s.rows->resize(s.height);
    } catch (const std::bad_alloc&) {
        s.outOfMemory = true;
        return false;
    }
    for (png_uint_32 y = 0; y < s.height; ++y)
        (*s.rows)[y] = s.pixels->data() + size_t(y) * s.width * 4;
    png_read_image(s.png, s.rows->data());
    // Chunks after the pixels (an eXIf may come there) go into the same info.
    png_read_end(s.png, s.info);
    return true;
}

// The ICC profile and EXIF block libpng read, into metadata.
void pngMetadata(png_structp png, png_infop info, ImageMetadata& metadata,
                 const std::string& name) {
    png_charp profileName = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(png, info, &profileName, &compression, &profile, &profileLength) && profile &&
        profileLength >= 20) {
        // The picture is read as RGB: a gray profile does not describe it any more.
        if (std::memcmp(profile + 16, "RGB ", 4) == 0)
            metadata.iccProfile.assign(profile, profile + profileLength);
        else
            note(name + ": its colour profile is for gray data and is not kept (read as RGB)");
    }
    png_bytep exif = nullptr;
    png_uint_32 exifLength = 0;
    if (png_get_eXIf_1(png, info, &exifLength, &exif) && exif && exifLength > 0)
        metadata.exif.assign(exif, exif + exifLength);
}

Image decodePng(std::string_view bytes, const std::string& name) {
    if (bytes.size() < 8 || png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8) != 0)
        failNamed(name, "not a PNG file");

    std::vector<png_byte> pixels;
    std::vector<png_bytep> rows;
    PngReadState s;
    s.source.data = reinterpret_cast<const png_byte*>(bytes.data());
    s.source.size = bytes.size();
    s.pixels = &pixels;
    s.rows = &rows;
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s.error, pngErrorFn, pngWarningFn);
    if (!s.png) failNamed(name, "out of memory");
    s.info = png_create_info_struct(s.png);
    if (!s.info) {
        png_destroy_read_struct(&s.png, nullptr, nullptr);
        failNamed(name, "out of memory");
    }
    s.name = &name;
    bool ok = readPngInto(s);
    Image img;
    if (ok && imageReadPolicy().keepMetadata) pngMetadata(s.png, s.info, img.metadata, name);
    png_destroy_read_struct(&s.png, &s.info, nullptr);
    if (!s.refusal.empty()) throw ImageFileError(s.refusal);
    if (s.outOfMemory) throw ImageFileError(outOfMemoryText(name, s.width, s.height));
    if (!ok) failNamed(name, std::string("bad PNG: ") + s.error.message);
    if (s.sixteenBits) note(name + ": 16-bit PNG reduced to 8 bits per sample (rounded)");

    img.width = int(s.width);
    img.height = int(s.height);
    img.hasAlpha = s.hasAlpha;
    img.rgba = std::move(pixels);
    return img;
}

void pngWriteFn(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    try {
        out->append(reinterpret_cast<const char*>(data), length);
    } catch (const std::bad_alloc&) {
        png_error(png, "out of memory");
    }
}

void pngFlushFn(png_structp) {}

struct PngWriteState {
    std::string* out = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngError error;
    const Image* img = nullptr;
    const ImageMetadata* metadata = nullptr;
    std::vector<png_byte>* row = nullptr;
};

bool writePngFrom(PngWriteState& s) {
    if (setjmp(png_jmpbuf(s.png))) return false;
    const Image& img = *s.img;
    png_set_write_fn(s.png, s.out, pngWriteFn, pngFlushFn);
    png_set_IHDR(s.png, s.info, png_uint_32(img.width), png_uint_32(img.height), 8,
                 img.hasAlpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Written for speed: zlib's fastest level with the Sub filter alone halves the time of a
    // whole qrx call on a large picture against the default level and the five-way filter
    // search, for files about a sixth larger on noisy photographic content.
    png_set_compression_level(s.png, 1);
    png_set_filter(s.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    // A profile libpng finds unfit for the picture is left out with a warning, not an error.
    png_set_benign_errors(s.png, 1);
    const ImageMetadata& meta = *s.metadata;
    if (!meta.iccProfile.empty())
        png_set_iCCP(s.png, s.info, "ICC profile", PNG_COMPRESSION_TYPE_BASE,
                     meta.iccProfile.data(), png_uint_32(meta.iccProfile.size()));
    if (!meta.exif.empty())
        png_set_eXIf_1(s.png, s.info, png_uint_32(meta.exif.size()),
                       const_cast<png_bytep>(meta.exif.data()));
    png_write_info(s.png, s.info);
    const int channels = img.hasAlpha ? 4 : 3;
    s.row->resize(size_t(img.width) * channels);
    for (int y = 0; y < img.height; ++y) {
        const uint8_t* src = img.pixel(0, y);
        png_byte* dst = s.row->data();
        for (int x = 0; x < img.width; ++x, src += 4, dst += channels)
            std::memcpy(dst, src, size_t(channels));
        png_write_row(s.png, s.row->data());
    }
    png_write_end(s.png, nullptr);
    return true;
}

std::string encodePng(const Image& img, const std::string& name, const ImageMetadata& metadata) {
    std::string out;
    // Room for the whole file up front, as much as the pixels take uncompressed and then some:
    // pages of it that are never written are never made resident, and the file is never copied
    // into a larger block as it grows (which held the old and the new block at once).
    const int channels = img.hasAlpha ? 4 : 3;
    const size_t raw = (size_t(img.width) * size_t(channels) + 1) * size_t(img.height);
    out.reserve(raw + raw / 64 + 4096);
    std::vector<png_byte> row;
    PngWriteState s;
    s.out = &out;
    s.img = &img;
    s.metadata = &metadata;
    s.row = &row;
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s.error, pngErrorFn, pngWarningFn);
    if (!s.png) failNamed(name, "out of memory");
    s.info = png_create_info_struct(s.png);
    if (!s.info) {
        png_destroy_write_struct(&s.png, nullptr);
        failNamed(name, "out of memory");
    }
    bool ok = writePngFrom(s);
    png_destroy_write_struct(&s.png, &s.info);
    if (!ok) failNamed(name, std::string("PNG encoding failed: ") + s.error.message);
    return out;
}

// ---- PAM and PPM ------------------------------------------------------------------------------

// The bytes of a netpbm file and a read position.
struct Netpbm {
    const std::string& path;
    std::string_view bytes;
    size_t pos = 0;

    bool atEnd() const { return pos >= bytes.size(); }

    // A PPM header token: skips blanks and '#' comments.
    std::string token() {
        for (;;) {
            while (!atEnd() && std::isspace(static_cast<unsigned char>(bytes[pos])))
                ++pos;
            if (!atEnd() && bytes[pos] == '#') {
                while (!atEnd() && bytes[pos] != '\n')
                    ++pos;
                continue;
            }
            break;
        }
        size_t start = pos;
        while (!atEnd() && !std::isspace(static_cast<unsigned char>(bytes[pos])))
            ++pos;
        return std::string(bytes.substr(start, pos - start));
    }

    // A PAM header line without its end of line.
    std::string line() {
        size_t end = bytes.find('\n', pos);
        if (end == std::string::npos) fail(path, "header ends early");
        std::string l(bytes.substr(pos, end - pos));
        pos = end + 1;
        return l;
    }

    int number(const std::string& text, const char* what) {
        if (text.empty() || text.size() > 9 ||
            !std::all_of(text.begin(), text.end(),
                         [](unsigned char c) { return std::isdigit(c) != 0; }))
            fail(path, std::string("bad ") + what + " '" + text + "'");
        return std::stoi(text);
    }

    void pixels(Image& img, int channels, bool gray) {
        size_t need = size_t(img.width) * size_t(img.height) * size_t(channels);
        if (bytes.size() - pos < need)
            fail(path, "truncated pixel data (" + std::to_string(bytes.size() - pos) + " of " +
                           std::to_string(need) + " bytes)");
        try {
            img.rgba.assign(size_t(img.width) * img.height * 4, 255);
        } catch (const std::bad_alloc&) {
            throw ImageFileError(outOfMemoryText(path, uint64_t(img.width), uint64_t(img.height)));
        }
        const uint8_t* src = reinterpret_cast<const uint8_t*>(bytes.data()) + pos;
        uint8_t* dst = img.rgba.data();
        for (size_t i = 0, n = size_t(img.width) * img.height; i < n; ++i, dst += 4) {
            if (gray) {
                dst[0] = dst[1] = dst[2] = *src++;
                if (channels == 2) dst[3] = *src++;
            } else {
                dst[0] = *src++;
                dst[1] = *src++;
                dst[2] = *src++;
                if (channels == 4) dst[3] = *src++;
            }
        }
    }
};

void checkSize(const std::string& path, int width, int height) {
    if (width < 1 || height < 1)
        fail(path, "empty picture (" + std::to_string(width) + "x" + std::to_string(height) + ")");
    checkPixelLimit(path, uint64_t(width), uint64_t(height));
}

Image decodePpm(std::string_view bytes, const std::string& path) {
    Netpbm f{path, bytes};
    if (f.token() != "P6") fail(path, "not a binary PPM file (P6)");
    Image img;
    img.width = f.number(f.token(), "width");
    img.height = f.number(f.token(), "height");
    int maxval = f.number(f.token(), "maxval");
    if (maxval != 255) fail(path, "maxval " + std::to_string(maxval) + " (only 255 is read)");
    if (f.atEnd()) fail(path, "header ends early");
    ++f.pos; // the single blank after maxval
    checkSize(path, img.width, img.height);
    f.pixels(img, 3, false);
    return img;
}

Image decodePam(std::string_view bytes, const std::string& path) {
    Netpbm f{path, bytes};
    if (f.line() != "P7") fail(path, "not a PAM file (P7)");
    int width = -1, height = -1, depth = -1, maxval = -1;
    std::string tupltype;
    for (;;) {
        std::string l = f.line();
        if (l.empty() || l[0] == '#') continue;
        size_t sp = l.find_first_of(" \t");
        std::string key = l.substr(0, sp);
        std::string value;
        if (sp != std::string::npos) {
            size_t b = l.find_first_not_of(" \t", sp);
            size_t e = l.find_last_not_of(" \t\r");
            if (b != std::string::npos) value = l.substr(b, e - b + 1);
        }
        if (key == "ENDHDR") break;
        if (key == "WIDTH")
            width = f.number(value, "WIDTH");
        else if (key == "HEIGHT")
            height = f.number(value, "HEIGHT");
        else if (key == "DEPTH")
            depth = f.number(value, "DEPTH");
        else if (key == "MAXVAL")
            maxval = f.number(value, "MAXVAL");
        else if (key == "TUPLTYPE")
            tupltype += (tupltype.empty() ? "" : " ") + value;
        else
            fail(path, "unknown header line '" + l + "'");
    }
    if (width < 0 || height < 0 || depth < 0 || maxval < 0)
        fail(path, "header lacks WIDTH, HEIGHT, DEPTH or MAXVAL");
    if (maxval != 255) fail(path, "MAXVAL " + std::to_string(maxval) + " (only 255 is read)");
    checkSize(path, width, height);
    struct Tuple {
        const char* name;
        int depth;
        bool gray, alpha;
    };
    static const Tuple tuples[] = {{"RGB", 3, false, false},
                                   {"RGB_ALPHA", 4, false, true},
                                   {"GRAYSCALE", 1, true, false},
                                   {"GRAYSCALE_ALPHA", 2, true, true}};
    const Tuple* t = nullptr;
    for (const Tuple& c : tuples)
        if (tupltype == c.name) t = &c;
    if (!t) fail(path, "TUPLTYPE '" + tupltype + "' (RGB, RGB_ALPHA, GRAYSCALE, GRAYSCALE_ALPHA)");
    if (depth != t->depth)
        fail(path, "DEPTH " + std::to_string(depth) + " does not fit TUPLTYPE " + tupltype);
    Image img;
    img.width = width;
    img.height = height;
    img.hasAlpha = t->alpha;
    f.pixels(img, t->depth, t->gray);
    return img;
}

std::string netpbmBytes(const Image& img, ImageFormat format) {
    const bool alpha = format == ImageFormat::Pam && img.hasAlpha;
    const int channels = alpha ? 4 : 3;
    std::string out;
    if (format == ImageFormat::Pam)
        out = "P7\nWIDTH " + std::to_string(img.width) + "\nHEIGHT " + std::to_string(img.height) +
              "\nDEPTH " + std::to_string(channels) + "\nMAXVAL 255\nTUPLTYPE " +
              (alpha ? "RGB_ALPHA" : "RGB") + "\nENDHDR\n";
    else
        out = "P6\n" + std::to_string(img.width) + " " + std::to_string(img.height) + "\n255\n";
    size_t head = out.size();
    out.resize(head + size_t(img.width) * img.height * channels);
    char* dst = out.data() + head;
    const uint8_t* src = img.rgba.data();
    for (size_t i = 0, n = size_t(img.width) * img.height; i < n; ++i, src += 4, dst += channels)
        std::memcpy(dst, src, size_t(channels));
    return out;
}

} // namespace

bool isStandardStream(const fs::path& path) {
    return path.native() == "-";
}

std::string inputName(const fs::path& path) {
    return isStandardStream(path) ? "standard input" : path.string();
}

std::string outputName(const fs::path& path) {
    return isStandardStream(path) ? "standard output" : path.string();
}

ImageFormat imageFormatFor(const fs::path& path) {
    std::string ext = lowerExtension(path);
    if (ext == ".png") return ImageFormat::Png;
    if (ext == ".jpg" || ext == ".jpeg") return ImageFormat::Jpeg;
    if (ext == ".pam") return ImageFormat::Pam;
    if (ext == ".ppm") return ImageFormat::Ppm;
    fail(path, "unknown picture file type '" + ext + "' (use .png, .jpg, .jpeg, .pam or .ppm)");
}

std::optional<ImageFormat> imageFormatNamed(std::string_view name) {
    if (name == "png") return ImageFormat::Png;
    if (name == "jpeg" || name == "jpg") return ImageFormat::Jpeg;
    if (name == "pam") return ImageFormat::Pam;
    if (name == "ppm") return ImageFormat::Ppm;
    return std::nullopt;
}

std::optional<ImageFormat> sniffImageFormat(std::string_view bytes) {
    static constexpr std::string_view pngSignature("\x89PNG\r\n\x1A\n", 8);
    if (bytes.substr(0, 8) == pngSignature) return ImageFormat::Png;
    if (bytes.substr(0, 3) == "\xFF\xD8\xFF") return ImageFormat::Jpeg;
    if (bytes.size() >= 3 && bytes.substr(0, 2) == "P7" && (bytes[2] == '\n' || bytes[2] == '\r'))
        return ImageFormat::Pam;
    if (bytes.size() >= 3 && bytes.substr(0, 2) == "P6" &&
        std::isspace(static_cast<unsigned char>(bytes[2])))
        return ImageFormat::Ppm;
    return std::nullopt;
}

std::string readFileBytes(const fs::path& path) {
    std::string bytes;
    char buf[65536];
    size_t n;
    if (isStandardStream(path)) {
        while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0)
            bytes.append(buf, n);
        if (std::ferror(stdin))
            fail(inputName(path), std::string("read failed: ") + std::strerror(errno));
        return bytes;
    }
    std::error_code ec;
    if (fs::is_directory(path, ec)) fail(path, "is a directory");
    FilePtr file = openForReading(path);
    while ((n = std::fread(buf, 1, sizeof buf, file.get())) > 0)
        bytes.append(buf, n);
    if (std::ferror(file.get())) fail(path, std::string("read failed: ") + std::strerror(errno));
    return bytes;
}

Image decodeImage(std::string_view bytes, ImageFormat format, const std::string& name) {
    switch (format) {
    case ImageFormat::Png:
        return decodePng(bytes, name);
    case ImageFormat::Jpeg:
        return decodeJpeg(bytes, name);
    case ImageFormat::Pam:
        return decodePam(bytes, name);
    case ImageFormat::Ppm:
        return decodePpm(bytes, name);
    }
    failNamed(name, "unknown picture file type");
}

Image readImage(const fs::path& path) {
    if (isStandardStream(path)) {
        const std::string name = inputName(path);
        std::string bytes = readFileBytes(path);
        if (bytes.empty()) failNamed(name, "empty: no picture was given");
        std::optional<ImageFormat> format = sniffImageFormat(bytes);
        if (!format) failNamed(name, "not a PNG, JPEG, PAM or PPM picture");
        return decodeImage(bytes, *format, name);
    }
    ImageFormat format = imageFormatFor(path);
    std::string bytes = readFileBytes(path);
    return decodeImage(bytes, format, path.string());
}

std::string encodeImage(const Image& img, ImageFormat format, int jpegQuality,
                        const std::string& name, const ImageMetadata* metadata) {
    const ImageMetadata& meta = metadata ? *metadata : img.metadata;
    checkImage(name, img);
    switch (format) {
    case ImageFormat::Png:
        return encodePng(img, name, meta);
    case ImageFormat::Jpeg:
        return encodeJpeg(img, jpegQuality, name, &meta);
    case ImageFormat::Pam:
    case ImageFormat::Ppm:
        return netpbmBytes(img, format);
    }
    failNamed(name, "unknown picture file type");
}

void writeImage(const fs::path& path, const Image& img, const ImageWriteOptions& options) {
    if (isStandardStream(path) && !options.format)
        fail(outputName(path), "give the format of the picture (--format png, jpeg, pam or ppm)");
    ImageFormat format = options.format ? *options.format : imageFormatFor(path);
    std::string bytes =
        encodeImage(img, format, options.jpegQuality, outputName(path), options.metadata);
    writeFileAtomically(path, bytes.data(), bytes.size(), options.standardOutput);
}

void writeFileAtomically(const fs::path& path, const void* data, size_t size,
                         std::ostream* standardOutput) {
    if (isStandardStream(path)) {
        std::ostream& out = standardOutput ? *standardOutput : std::cout;
        out.write(static_cast<const char*>(data), std::streamsize(size));
        out.flush();
        if (!out) fail(outputName(path), "write failed");
        return;
    }
    const OutputTarget target = resolveOutput(path);
    if (target.kind == OutputTarget::Kind::Direct) {
        writeDirect(target, path, data, size);
        return;
    }
    AtomicFile out(target, path);
    out.write(data, size);
    out.commit();
}

void checkOutputWritable(const fs::path& path) {
    if (isStandardStream(path)) return;
    const OutputTarget target = resolveOutput(path);
    if (target.kind != OutputTarget::Kind::NewFile) return;
    fs::path dir = target.file.parent_path();
    if (dir.empty()) dir = ".";
    // A folder that is not there yet (qrx batch makes its output folder) is not judged here.
    if (faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0 && errno != ENOENT)
        fail(path, "cannot create a file in " + dir.string() + ": " + faultText(errno));
}

void moveFileToOutput(const fs::path& staged, const fs::path& path) {
    const OutputTarget target = resolveOutput(path);
    if (target.kind != OutputTarget::Kind::Direct) {
        if (target.kind == OutputTarget::Kind::ReplaceFile) {
            const int fd = open(staged.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                keepOwnership(fd, target.existing);
                close(fd);
            }
        }
        if (std::rename(staged.c_str(), target.file.c_str()) == 0) return;
        // Another file system (a link leading out of the folder): the bytes are copied.
        if (errno != EXDEV) fail(path, "cannot replace the file: " + faultText(errno));
    }
    const std::string bytes = readFileBytes(staged);
    writeFileAtomically(path, bytes.data(), bytes.size());
    unlink(staged.c_str());
}

void setImageReadPolicy(const ImageReadPolicy& policy) {
    gPolicy = policy;
}

const ImageReadPolicy& imageReadPolicy() {
    return gPolicy;
}

std::string byteSizeText(uint64_t bytes) {
    char buf[48];
    if (bytes < (uint64_t(1) << 20))
        std::snprintf(buf, sizeof buf, "%llu KiB", (unsigned long long)((bytes + 1023) >> 10));
    else if (bytes < (uint64_t(1) << 30))
        std::snprintf(buf, sizeof buf, "%llu MiB",
                      (unsigned long long)((bytes + (1 << 20) - 1) >> 20));
    else
        std::snprintf(buf, sizeof buf, "%.1f GiB", double(bytes) / double(uint64_t(1) << 30));
    return buf;
}

void checkPixelLimit(const std::string& name, uint64_t width, uint64_t height) {
    const uint64_t pixels = width * height; // each side below 2^32
    const uint64_t limit = gPolicy.maxPixels;
    const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (pixels > kHardMaxPixels)
        failNamed(name, size + " (" + withSeparators(pixels) + "): qrx reads at most " +
                            withSeparators(kHardMaxPixels) + " pixels");
    if (limit != 0 && pixels > limit)
        failNamed(name, size + " (" + withSeparators(pixels) + ") is more than the limit of " +
                            withSeparators(limit) + " pixels; raise it with --max-pixels N or " +
                            "QRX_MAX_PIXELS=N (0: no limit)");
}

std::string outOfMemoryText(const std::string& name, uint64_t width, uint64_t height) {
    return name + ": out of memory for its " + std::to_string(width) + " x " +
           std::to_string(height) + " pixels (" + byteSizeText(width * height * 4) + " as RGBA)";
}

void imageNote(const std::string& text) {
    note(text);
}

ImageNotesTo::ImageNotesTo(std::ostream& notes) : previous_(gNotes) {
    gNotes = &notes;
}

ImageNotesTo::~ImageNotesTo() {
    gNotes = previous_;
}

} // namespace qrx
