// Picture formats through the host: PNG, PAM, PPM and .ppic read into a host picture, processed,
// written and read back; JPEG size and closeness; standard input and output through
// the built qrx; qrx list searches and the host options.
#include <gtest/gtest.h>

#include <cstdio>
#include <jpeglib.h>
#include <zlib.h>

#include <array>
#include <cctype>
#include <cmath>
#include <csetjmp>
#include <nlohmann/json.hpp>
#include <set>

#include "cli_util_test.h"
#include "host_pictures.h"
#include "host_setup.h"
#include "image_io.h"
#include "support.h"

namespace {

using nlohmann::json;
using qrx::Image;
using qrxclitest::operator<<;
using qrxclitest::readFile;
using qrxclitest::runQrx;
using qrxclitest::RunResult;
using qrxclitest::runShell;
using qrxclitest::ScratchDir;
using qrxclitest::shellQuote;
using qrxclitest::writeFile;

using qrxclitest::contains;
using qrxclitest::kSample;

// ---- Host pictures in every file format ----
// Each reader is checked against files written by other writers in cli_image_io_test; here the
// fixtures come from qrx's writers and the host's side is what is checked.

constexpr int kW = 13, kH = 7;

// A reproducible picture whose components differ from pixel to pixel and channel to channel.
Image pattern(bool hasAlpha) {
    Image img;
    img.width = kW;
    img.height = kH;
    img.hasAlpha = hasAlpha;
    img.rgba.resize(size_t(kW) * kH * 4);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            for (int c = 0; c < 4; ++c)
                img.pixel(x, y)[c] = uint8_t(
                    c == 3 && !hasAlpha ? 255 : (x * 37 + y * 91 + c * 53 + x * y * 7) % 256);
    return img;
}

struct FormatCase {
    std::string name, ext;
    bool hasAlpha = false;
    // Writes the fixture and returns the picture a reader must see.
    Image make(const std::filesystem::path& path) const {
        Image img = pattern(hasAlpha);
        if (ext != ".ppic") {
            qrx::writeImage(path, img);
            return img;
        }
        // A .ppic made by the plugin from a PPM; it holds no alpha.
        const auto ppm = path.parent_path() / "source.ppm";
        qrx::writeImage(ppm, img);
        auto host = qrxtest::loadHost();
        qrx::cli::savePicture(*host, path, qrx::cli::loadPicture(*host, ppm));
        return img;
    }
};

std::vector<FormatCase> formatCases() {
    return {{"png_rgb", ".png", false}, {"png_rgba", ".png", true}, {"pam_rgb", ".pam", false},
            {"pam_rgba", ".pam", true}, {"ppm", ".ppm", false},     {"ppic", ".ppic", false}};
}

// The colours of every pixel, and the alpha bytes when the picture has an alpha channel.
void expectSamePixels(const Image& got, const Image& want, const std::string& what) {
    ASSERT_EQ(got.width, want.width) << what;
    ASSERT_EQ(got.height, want.height) << what;
    EXPECT_EQ(got.hasAlpha, want.hasAlpha) << what;
    int wrong = 0;
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x)
            for (int c = 0; c < (want.hasAlpha ? 4 : 3); ++c)
                if (got.pixel(x, y)[c] != want.pixel(x, y)[c] && wrong++ < 5)
                    ADD_FAILURE() << what << ": pixel (" << x << ", " << y << ") component " << c
                                  << " is " << int(got.pixel(x, y)[c]) << ", want "
                                  << int(want.pixel(x, y)[c]);
    EXPECT_EQ(wrong, 0) << what;
}

class FormatRoundTrip : public testing::TestWithParam<FormatCase> {};

// Read into a host picture and written straight back, on a desktop and on a console host (whose
// pictures are records of another layout), a file keeps every pixel (alpha too). What the plugin
// does to such pictures is the operation tests' part, on every host configuration.
TEST_P(FormatRoundTrip, HostPictureWrittenBackKeepsEveryPixel) {
    ScratchDir dir;
    const FormatCase& fc = GetParam();
    const auto in = dir / ("in" + fc.ext);
    const auto out = dir / ("out" + fc.ext);
    Image want = fc.make(in);
    for (qrx::HostKind kind : {qrx::HostKind::Desktop, qrx::HostKind::Console}) {
        qrx::HostConfig config = qrxtest::ofKind(kind);
        auto host = qrxtest::loadHost(config);
        qrx::cli::savePicture(*host, out, qrx::cli::loadPicture(*host, in));
        Image got = qrx::cli::loadPicture(*host, out).as<qrx::Picture>()->toImage();
        // A console keeps 7 bits of alpha: there the colours are compared.
        if (kind == qrx::HostKind::Console) got.hasAlpha = want.hasAlpha = false;
        expectSamePixels(got, want, fc.name + " on " + std::string(qrx::hostKindName(kind)));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatRoundTrip, testing::ValuesIn(formatCases()),
                         [](const auto& info) { return info.param.name; });

// ---- JPEG ----

double psnr(const Image& a, const Image& b) {
    double sum = 0;
    for (size_t i = 0; i < a.rgba.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double(a.rgba[i]) - double(b.rgba[i]);
        sum += d * d;
    }
    const double mse = sum / double(a.rgba.size() / 4 * 3);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// The sample has smooth gradients, hard colour edges and noise. Measured on it: quality 10 gives
// 24.9 dB PSNR, 50 gives 28.3, 89 gives 28.9 (colour at half resolution blurs its colour edges),
// 90 gives 50.1 and 100 gives 56.7. The floor of 40 dB from quality 90 on leaves 10 dB for other
// libjpeg builds, and fails an encoder that halves the colour resolution there, drops or swaps a
// channel, or shifts the picture. Higher qualities must be larger and closer.
constexpr double kMinPsnrFromDefaultQuality = 40.0;

TEST(Jpeg, SizeGrowsAndErrorShrinksWithQuality) {
    const Image sample = qrx::readImage(kSample);
    size_t lastSize = 0;
    double lastPsnr = 0;
    for (int quality : {10, 50, qrx::kDefaultJpegQuality, 100}) {
        const std::string bytes = qrx::encodeImage(sample, qrx::ImageFormat::Jpeg, quality, "t");
        const Image back = qrx::decodeImage(bytes, qrx::ImageFormat::Jpeg, "t");
        ASSERT_EQ(back.width, sample.width);
        ASSERT_EQ(back.height, sample.height);
        EXPECT_FALSE(back.hasAlpha);
        const double p = psnr(sample, back);
        EXPECT_GT(bytes.size(), lastSize) << "quality " << quality;
        EXPECT_GT(p, lastPsnr) << "quality " << quality;
        if (quality >= qrx::kDefaultJpegQuality) {
            EXPECT_GT(p, kMinPsnrFromDefaultQuality) << "quality " << quality;
        }
        lastSize = bytes.size();
        lastPsnr = p;
    }
}

// Through qrx: --quality reaches the encoder, the extension chooses JPEG in any case, and the
// inverted sample comes out close to the exact inversion.
TEST(Jpeg, QrxWritesJpegWithTheQualityAsked) {
    ScratchDir dir;
    Image want = qrx::readImage(kSample);
    for (size_t i = 0; i < want.rgba.size(); ++i)
        if (i % 4 != 3) want.rgba[i] = uint8_t(255 - want.rgba[i]);
    std::vector<size_t> sizes;
    for (const auto& [name, quality] : std::vector<std::pair<std::string, std::string>>{
             {"low.JPG", "30"}, {"default.jpeg", ""}, {"best.jpg", "100"}}) {
        std::vector<std::string> args{"call",      "--on", kSample,
                                      "InvertQRX", "-o",   (dir / name).string()};
        if (!quality.empty()) args.insert(args.end(), {"--quality", quality});
        auto r = runQrx(args);
        ASSERT_EQ(r.code, 0) << r.err;
        const std::string bytes = readFile(dir / name);
        EXPECT_EQ(bytes.substr(0, 3), "\xFF\xD8\xFF") << name;
        sizes.push_back(bytes.size());
        if (quality != "30") {
            EXPECT_GT(psnr(qrx::readImage(dir / name), want), kMinPsnrFromDefaultQuality) << name;
        }
    }
    EXPECT_LT(sizes[0], sizes[1]);
    EXPECT_LT(sizes[1], sizes[2]);
    auto r = runQrx(
        {"call", "--on", kSample, "InvertQRX", "-o", (dir / "x.jpg").string(), "--quality", "0"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(contains(r.err, "--quality")) << r.err;
}

// A JPEG written by libjpeg directly, in any input colour space, of flat colour blocks (which the
// codec keeps within a step or two).
struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void jpegFixtureError(j_common_ptr cinfo) {
    ADD_FAILURE() << "libjpeg failed";
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

struct JpegWrite {
    jpeg_compress_struct cinfo;
    JpegError err;
    unsigned char* out = nullptr;
    unsigned long size = 0;
};

bool encodeFixture(JpegWrite& w, J_COLOR_SPACE space, int comps, int width, int height,
                   std::vector<uint8_t>& samples) {
    if (setjmp(w.err.jump)) return false;
    jpeg_mem_dest(&w.cinfo, &w.out, &w.size);
    w.cinfo.image_width = JDIMENSION(width);
    w.cinfo.image_height = JDIMENSION(height);
    w.cinfo.input_components = comps;
    w.cinfo.in_color_space = space;
    jpeg_set_defaults(&w.cinfo);
    jpeg_set_quality(&w.cinfo, 100, TRUE);
    jpeg_start_compress(&w.cinfo, TRUE);
    while (w.cinfo.next_scanline < w.cinfo.image_height) {
        JSAMPROW row = samples.data() + size_t(w.cinfo.next_scanline) * width * comps;
        jpeg_write_scanlines(&w.cinfo, &row, 1);
    }
    jpeg_finish_compress(&w.cinfo);
    return true;
}

std::string jpegFixture(J_COLOR_SPACE space, int comps, int width, int height,
                        std::vector<uint8_t> samples) {
    JpegWrite w;
    w.cinfo.err = jpeg_std_error(&w.err.mgr);
    w.err.mgr.error_exit = jpegFixtureError;
    jpeg_create_compress(&w.cinfo);
    const bool ok = encodeFixture(w, space, comps, width, height, samples);
    jpeg_destroy_compress(&w.cinfo);
    std::string bytes(reinterpret_cast<const char*>(w.out), ok ? w.size : 0);
    std::free(w.out);
    return bytes;
}

struct JpegColourCase {
    std::string name;
    J_COLOR_SPACE space;
    std::vector<uint8_t> pixel;  // the samples of every pixel, as written
    std::array<int, 3> expected; // the RGB they decode to
};

class JpegColourSpaces : public testing::TestWithParam<JpegColourCase> {};

TEST_P(JpegColourSpaces, DecodeToRgb) {
    const JpegColourCase& jc = GetParam();
    const int comps = int(jc.pixel.size());
    std::vector<uint8_t> samples;
    for (int i = 0; i < 16 * 16; ++i)
        samples.insert(samples.end(), jc.pixel.begin(), jc.pixel.end());
    const std::string bytes = jpegFixture(jc.space, comps, 16, 16, samples);
    ASSERT_FALSE(bytes.empty());
    const Image img = qrx::decodeImage(bytes, qrx::ImageFormat::Jpeg, "fixture.jpg");
    ASSERT_EQ(img.width, 16);
    ASSERT_EQ(img.height, 16);
    EXPECT_FALSE(img.hasAlpha);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(img.pixel(7, 9)[c], jc.expected[size_t(c)], 2) << "component " << c;
    EXPECT_EQ(img.pixel(7, 9)[3], 255);
}

// libjpeg writes CMYK with an Adobe marker and stores the samples as given; the Adobe form holds
// inverted inks, so the samples written are 255 - ink. Ink C 40, M 100, Y 200, K 20 leaves red
// (255 - 40)(255 - 20) / 255 = 198, green 155 * 235 / 255 = 143, blue 55 * 235 / 255 = 51.
INSTANTIATE_TEST_SUITE_P(Spaces, JpegColourSpaces,
                         testing::Values(JpegColourCase{"gray", JCS_GRAYSCALE, {90}, {90, 90, 90}},
                                         JpegColourCase{
                                             "rgb", JCS_RGB, {200, 40, 120}, {200, 40, 120}},
                                         JpegColourCase{"adobe_cmyk",
                                                        JCS_CMYK,
                                                        {255 - 40, 255 - 100, 255 - 200, 255 - 20},
                                                        {198, 143, 51}}),
                         [](const auto& info) { return info.param.name; });

struct BadJpeg {
    std::string name;
    std::string bytes;
    std::string inMessage;
};

class JpegReadError : public testing::TestWithParam<BadJpeg> {};

TEST_P(JpegReadError, NamesTheFileAndTheFault) {
    ScratchDir dir;
    const auto path = dir / "bad.jpg";
    writeFile(path, GetParam().bytes);
    try {
        qrx::readImage(path);
        ADD_FAILURE() << "no error";
    } catch (const qrx::ImageFileError& e) {
        EXPECT_TRUE(contains(e.what(), path.string())) << e.what();
        EXPECT_TRUE(contains(e.what(), GetParam().inMessage)) << e.what();
    }
}

std::vector<BadJpeg> badJpegs() {
    std::vector<uint8_t> gray(64 * 64, 128);
    const std::string good = jpegFixture(JCS_GRAYSCALE, 1, 64, 64, gray);
    return {{"empty", "", "bad JPEG"},
            {"png_bytes", "\x89PNG\r\n\x1A\n....", "bad JPEG"},
            {"header_only", good.substr(0, 20), "damaged JPEG: Premature end"}};
}

INSTANTIATE_TEST_SUITE_P(Faults, JpegReadError, testing::ValuesIn(badJpegs()),
                         [](const auto& info) { return info.param.name; });

// ---- Damaged and oversized pictures, through every command that reads one ----

// A PNG chunk with its CRC.
std::string pngChunk(const std::string& type, const std::string& data) {
    auto be32 = [](uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    const std::string body = type + data;
    return be32(uint32_t(data.size())) + body +
           be32(uint32_t(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// The inputs of the cases, written into dir.
void writeBadInputs(const ScratchDir& dir) {
    std::vector<uint8_t> noise(64 * 48 * 3);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = uint8_t(i * 7919 % 251);
    const std::string jpeg = jpegFixture(JCS_RGB, 3, 64, 48, noise);
    writeFile(dir / "good.jpg", jpeg);
    writeFile(dir / "cut.jpg", jpeg.substr(0, jpeg.size() * 6 / 10));
    // Bytes that belong to nothing before the end marker: libjpeg's "corrupt data" warning.
    writeFile(dir / "corrupt.jpg", jpeg.substr(0, jpeg.size() - 2) + "\x12\x34\xFF\xD9");
    // The frame header says 40000 x 40000.
    std::string huge = jpeg;
    const size_t sof = huge.find("\xFF\xC0");
    huge.replace(sof + 5, 4, "\x9C\x40\x9C\x40");
    writeFile(dir / "huge.jpg", huge);
    // A PNG header declaring 40000 x 40000 gray, with a little compressed data after it.
    std::string ihdr("\x00\x00\x9C\x40\x00\x00\x9C\x40\x08\x00\x00\x00\x00", 13);
    std::string zeros(4000, '\0'), packed(compressBound(uLong(zeros.size())), '\0');
    uLongf packedSize = uLongf(packed.size());
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
             reinterpret_cast<const Bytef*>(zeros.data()), uLong(zeros.size()));
    writeFile(dir / "huge.png", std::string("\x89PNG\r\n\x1A\n", 8) + pngChunk("IHDR", ihdr) +
                                    pngChunk("IDAT", packed.substr(0, packedSize)) +
                                    pngChunk("IEND", ""));
    const std::string png = readFile(kSample);
    writeFile(dir / "cut.png", png.substr(0, png.size() / 2));
    std::string crc = png;
    crc[crc.find("IDAT") + 40] ^= 0x55;
    writeFile(dir / "crc.png", crc);
}

struct BadInputCase {
    std::string name;
    std::string command; // run in the scratch directory; writes out.png, or d/ in batch
    int code;
    std::vector<std::string> inErr;
    bool writes = false; // whether an output is expected
};

class QrxBadInput : public testing::TestWithParam<BadInputCase> {};

TEST_P(QrxBadInput, RefusedWithTheFileAndTheFault) {
    const BadInputCase& c = GetParam();
#if defined(__SANITIZE_ADDRESS__)
    if (contains(c.command, "ulimit -v"))
        GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit";
#endif
    ScratchDir dir;
    writeBadInputs(dir);
    RunResult r = runShell("cd " + shellQuote(dir.path().string()) + " && " + c.command);
    EXPECT_EQ(r.code, c.code) << r.err;
    for (const std::string& part : c.inErr)
        EXPECT_TRUE(contains(r.err, part)) << part << " not in: " << r.err;
    const bool wrote =
        std::filesystem::exists(dir / "out.png") ||
        (std::filesystem::exists(dir / "d") && !std::filesystem::is_empty(dir / "d"));
    EXPECT_EQ(wrote, c.writes);
}

const std::string kRaise = "raise it with --max-pixels N or QRX_MAX_PIXELS=N";

INSTANTIATE_TEST_SUITE_P(
    Inputs, QrxBadInput,
    testing::Values(
        BadInputCase{"truncated_jpeg_call",
                     "{qrx} call --on cut.jpg InvertQRX -o out.png",
                     2,
                     {"cut.jpg: damaged JPEG: Premature end", "--accept-damaged"}},
        BadInputCase{"corrupt_jpeg_call",
                     "{qrx} call --on corrupt.jpg InvertQRX -o out.png",
                     2,
                     {"corrupt.jpg: damaged JPEG: Corrupt JPEG data"}},
        BadInputCase{
            "truncated_jpeg_histogram", "{qrx} histogram cut.jpg", 2, {"cut.jpg: damaged JPEG"}},
        BadInputCase{
            "truncated_jpeg_sepia", "{qrx} sepia cut.jpg -o out.png", 2, {"cut.jpg: damaged JPEG"}},
        BadInputCase{"truncated_jpeg_lut3d",
                     "{qrx} lut3d --cube " + shellQuote(QRX_SOURCE_DIR) +
                         "/samples/grade.cube cut.jpg -o out.png",
                     2,
                     {"cut.jpg: damaged JPEG"}},
        BadInputCase{"truncated_jpeg_standard_input",
                     "{qrx} call --on - InvertQRX -o out.png < cut.jpg",
                     2,
                     {"standard input: damaged JPEG"}},
        BadInputCase{"truncated_jpeg_picture_argument",
                     "{qrx} call 'MergePictureQRX(good.jpg, cut.jpg)' -o out.png",
                     2,
                     {"cut.jpg: damaged JPEG"}},
        BadInputCase{"truncated_jpeg_batch",
                     "{qrx} batch InvertQRX cut.jpg good.jpg --out-dir d",
                     1,
                     {"cut.jpg", "damaged JPEG", "1 of 2"},
                     true},
        BadInputCase{"truncated_jpeg_accepted",
                     "{qrx} call --on cut.jpg InvertQRX -o out.png --accept-damaged",
                     0,
                     {"note: cut.jpg: damaged JPEG read as far as it goes"},
                     true},
        BadInputCase{"truncated_jpeg_accepted_in_batch",
                     "{qrx} batch --accept-damaged sepia cut.jpg --out-dir d",
                     0,
                     {"cut.jpg: qrx: note: cut.jpg: damaged JPEG"},
                     true},
        BadInputCase{"truncated_png",
                     "{qrx} call --on cut.png InvertQRX -o out.png",
                     2,
                     {"cut.png: bad PNG"}},
        BadInputCase{"png_crc_error", "{qrx} sepia crc.png -o out.png", 2, {"crc.png: bad PNG: "}},
        BadInputCase{"huge_jpeg_header",
                     "{qrx} call --on huge.jpg InvertQRX -o out.png",
                     2,
                     {"huge.jpg: 40000 x 40000 pixels (1,600,000,000)", "268,435,456", kRaise}},
        BadInputCase{"huge_png_header",
                     "{qrx} histogram huge.png",
                     2,
                     {"huge.png: 40000 x 40000 pixels", kRaise}},
        BadInputCase{"limit_from_environment",
                     "QRX_MAX_PIXELS=3000 {qrx} call --on good.jpg InvertQRX -o out.png",
                     2,
                     {"good.jpg: 64 x 48 pixels (3,072) is more than the limit of 3,000"}},
        BadInputCase{"option_wins_over_environment",
                     "QRX_MAX_PIXELS=3000 {qrx} call --on good.jpg InvertQRX -o out.png "
                     "--max-pixels 3072",
                     0,
                     {},
                     true},
        BadInputCase{"limit_in_batch",
                     "{qrx} batch --max-pixels 100 sepia good.jpg --out-dir d",
                     1,
                     {"good.jpg", "more than the limit of 100"}},
        BadInputCase{"limit_not_a_number",
                     "{qrx} call --on good.jpg InvertQRX --max-pixels 1e6",
                     2,
                     {"--max-pixels: '1e6' is not a whole number"}},
        BadInputCase{"out_of_memory_names_the_size",
                     "ulimit -v 600000; {qrx} call --on huge.png InvertQRX -o out.png "
                     "--max-pixels 0",
                     2,
                     {"huge.png: out of memory for its 40000 x 40000 pixels (6.0 GiB"}}),
    [](const auto& info) { return info.param.name; });

// ---- Formats by name and by first bytes ----

TEST(ImageFormats, ByExtensionNameAndFirstBytes) {
    using F = qrx::ImageFormat;
    const std::vector<std::pair<std::string, F>> byExtension{
        {"a.png", F::Png},  {"a.PNG", F::Png}, {"a.jpg", F::Jpeg}, {"a.JPEG", F::Jpeg},
        {"a.Jpg", F::Jpeg}, {"a.pam", F::Pam}, {"a.PPM", F::Ppm}};
    for (const auto& [path, format] : byExtension)
        EXPECT_EQ(qrx::imageFormatFor(path), format) << path;
    EXPECT_THROW(qrx::imageFormatFor("a.jfif"), qrx::ImageFileError);

    const std::vector<std::pair<std::string, std::optional<F>>> byName{
        {"png", F::Png}, {"jpeg", F::Jpeg},     {"jpg", F::Jpeg},      {"pam", F::Pam},
        {"ppm", F::Ppm}, {"PNG", std::nullopt}, {"gif", std::nullopt}, {"", std::nullopt}};
    for (const auto& [name, format] : byName)
        EXPECT_EQ(qrx::imageFormatNamed(name), format) << name;

    const std::vector<std::pair<std::string, std::optional<F>>> bySignature{
        {std::string("\x89PNG\r\n\x1A\n", 8) + "rest", F::Png},
        {std::string("\x89PNG\r\n\x1A", 7), std::nullopt},
        {"\xFF\xD8\xFF\xE0....", F::Jpeg},
        {"\xFF\xD8", std::nullopt},
        {"P7\nWIDTH 1\n", F::Pam},
        {"P7 ", std::nullopt},
        {"P6\n1 1\n255\n...", F::Ppm},
        {"P6 1 1 255 ...", F::Ppm},
        {"P5\n1 1\n255\n.", std::nullopt},
        {"PPIC....", std::nullopt},
        {"", std::nullopt}};
    for (const auto& [bytes, format] : bySignature)
        EXPECT_EQ(qrx::sniffImageFormat(bytes), format) << bytes;
}

// ---- Standard input and output through the built qrx ----

struct PipeCase {
    std::string name;
    std::string inputExt;  // the sample converted to this first, then piped in
    std::string format;    // --format of the picture written to standard output
    std::string signature; // what the output starts with
    bool exact = true;     // false for JPEG: closeness only
};

class QrxPipe : public testing::TestWithParam<PipeCase> {};

// The picture alone goes to standard output; the printed result goes to standard error.
TEST_P(QrxPipe, PictureFromStandardInputToStandardOutput) {
    const PipeCase& pc = GetParam();
    ScratchDir dir;
    const std::string in = (dir / ("in" + pc.inputExt)).string();
    {
        auto host = qrxtest::loadHost();
        qrx::cli::savePicture(*host, in, qrx::cli::loadPicture(*host, kSample));
    }
    RunResult r = runShell("cat " + shellQuote(in) +
                           " | {qrx} call --on - InvertQRX -o - --format " + pc.format);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, pc.signature.size()), pc.signature);
    // The result went out as the picture: nothing else is printed.
    EXPECT_EQ(r.err, "");

    Image want = qrx::readImage(kSample);
    for (size_t i = 0; i < want.rgba.size(); ++i)
        if (i % 4 != 3) want.rgba[i] = uint8_t(255 - want.rgba[i]);
    const std::string ext = pc.format == "jpeg" ? ".jpg" : "." + pc.format;
    writeFile(dir / ("got" + ext), r.out);
    auto host = qrxtest::loadHost();
    Image got = qrx::cli::loadPicture(*host, dir / ("got" + ext)).as<qrx::Picture>()->toImage();
    if (pc.exact) {
        expectSamePixels(got, want, pc.name);
    } else {
        EXPECT_GT(psnr(got, want), kMinPsnrFromDefaultQuality);
    }
}

INSTANTIATE_TEST_SUITE_P(Pipes, QrxPipe,
                         testing::Values(PipeCase{"png_to_png", ".png", "png", "\x89PNG"},
                                         PipeCase{"png_to_jpeg", ".png", "jpeg", "\xFF\xD8\xFF",
                                                  false},
                                         PipeCase{"jpeg_to_pam", ".jpg", "pam", "P7\n", false},
                                         PipeCase{"pam_to_ppm", ".pam", "ppm", "P6\n"},
                                         PipeCase{"ppm_to_ppic", ".ppm", "ppic", "PPIC"},
                                         PipeCase{"ppic_to_png", ".ppic", "png", "\x89PNG"}),
                         [](const auto& info) { return info.param.name; });

// The filter commands and the histogram plot read and write the standard streams too, and give
// the same picture as through files.
TEST(QrxPipeCommands, FilterCommandsAndPlotThroughStandardStreams) {
    ScratchDir dir;
    const std::string file = (dir / "sepia.pam").string();
    ASSERT_EQ(runQrx({"sepia", kSample, "-o", file}).code, 0);
    RunResult r = runShell("{qrx} sepia - -o - --format pam <" + shellQuote(kSample));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, readFile(file));

    r = runShell("{qrx} histogram " + shellQuote(kSample) + " -o - --format png");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 4), "\x89PNG");
    EXPECT_TRUE(contains(r.err, "value red green blue")) << "the table goes to standard error";

    // A saved MemoryBlock to standard output: its bytes alone; the printed values go to standard
    // error.
    r = runShell("{qrx} call --on " + shellQuote(kSample) +
                 " 'CountColorsQRX(r, g, b, n)' --save r=-");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.size(), 1024u);
    EXPECT_TRUE(contains(r.err, "n = 19200")) << r.err;
}

struct StreamFault {
    std::string name;
    std::string pipeline;
    std::string inMessage;
};

class QrxStreamFault : public testing::TestWithParam<StreamFault> {};

TEST_P(QrxStreamFault, ExitsWithTwoAndWritesNothing) {
    RunResult r = runShell(GetParam().pipeline);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(r.err, GetParam().inMessage)) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, QrxStreamFault,
    testing::Values(
        StreamFault{"no_format", "{qrx} call --on " + shellQuote(kSample) + " InvertQRX -o -",
                    "--format"},
        StreamFault{"json_with_picture_on_stdout",
                    "{qrx} call --on " + shellQuote(kSample) +
                        " InvertQRX -o - --format png --json",
                    "--json"},
        StreamFault{"histogram_json_with_plot_on_stdout",
                    "{qrx} histogram " + shellQuote(kSample) + " -o - --format png --json",
                    "--json"},
        StreamFault{"picture_and_block_both_on_stdout",
                    "{qrx} call --on " + shellQuote(kSample) +
                        " 'CountColorsQRX(r, g, b, n)' --save r=- -o - --format png",
                    "both want standard output"},
        StreamFault{"empty_input", "{qrx} call --on - InvertQRX -o - --format png </dev/null",
                    "standard input: empty"},
        StreamFault{"not_a_picture", "echo 'hello' | {qrx} call --on - InvertQRX -o - --format png",
                    "standard input"},
        StreamFault{"filter_input_not_a_picture", "echo 'hello' | {qrx} sepia - -o - --format png",
                    "standard input: not a PNG, JPEG, PAM or PPM picture"},
        StreamFault{"bad_format",
                    "{qrx} call --on " + shellQuote(kSample) + " InvertQRX -o - --format gif",
                    "--format"}),
    [](const auto& info) { return info.param.name; });

// ---- qrx list WORD ----

struct ListSearch {
    std::string word;
    std::vector<std::string> mustShow; // declarations (or property lines) the search shows
};

void PrintTo(const ListSearch& c, std::ostream* os) {
    *os << c.word;
}

class QrxListSearch : public testing::TestWithParam<ListSearch> {};

// Every method the search shows holds the word in any case, and every registered method that holds
// it is shown: the JSON of the search is the full list filtered by the word.
TEST_P(QrxListSearch, ShowsExactlyWhatHoldsTheWord) {
    const ListSearch& ls = GetParam();
    auto lower = [](std::string s) {
        for (char& c : s)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    auto all = runQrx({"list", "--json"});
    ASSERT_EQ(all.code, 0) << all.err;
    auto found = runQrx({"list", ls.word, "--json"});
    ASSERT_EQ(found.code, 0) << found.err;
    json full = json::parse(all.out), part = json::parse(found.out);
    EXPECT_EQ(part["search"], ls.word);

    auto declarations = [](const json& doc) {
        std::set<std::string> out;
        for (const json& c : doc["classes"])
            for (const char* key : {"methods", "extensions"})
                for (const json& m : c[key])
                    out.insert(c["name"].get<std::string>() + "." +
                               m["declaration"].get<std::string>());
        for (const json& m : doc["globalMethods"])
            out.insert(m["declaration"].get<std::string>());
        return out;
    };
    std::set<std::string> want;
    const std::string key = lower(ls.word);
    for (const json& c : full["classes"]) {
        const bool whole = contains(lower(c["name"]), key);
        for (const char* k : {"methods", "extensions"})
            for (const json& m : c[k])
                if (whole || contains(lower(m["declaration"]), key))
                    want.insert(c["name"].get<std::string>() + "." +
                                m["declaration"].get<std::string>());
    }
    for (const json& m : full["globalMethods"])
        if (contains(lower(m["declaration"]), key)) want.insert(m["declaration"]);
    EXPECT_EQ(declarations(part), want);
    EXPECT_FALSE(want.empty());

    auto text = runQrx({"list", ls.word});
    ASSERT_EQ(text.code, 0) << text.err;
    for (const std::string& s : ls.mustShow)
        EXPECT_TRUE(contains(text.out, s)) << s << " not in:\n" << text.out;
}

INSTANTIATE_TEST_SUITE_P(Words, QrxListSearch,
                         testing::Values(ListSearch{"Contrast", {"ContrastQRX"}},
                                         ListSearch{"invertqrx", {"InvertQRX as picture"}},
                                         ListSearch{"SEPIA",
                                                    {"class PictureSepiaQRX", "property SepiaRed"}},
                                         ListSearch{"as memoryblock", {"CountColorsQRX"}}),
                         [](const auto& info) {
                             std::string n = info.param.word;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

TEST(QrxListSearchFault, NoMatchSaysSoAndExitsWithTwo) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list", "NoSuchWordAnywhere"},
          std::vector<std::string>{"list", "NoSuchWordAnywhere", "--json"}}) {
        auto r = runQrx(args);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(contains(r.err, "nothing registered holds 'NoSuchWordAnywhere'")) << r.err;
        EXPECT_TRUE(contains(r.err, "'qrx list' shows everything")) << r.err;
    }
}

// ---- Host options ----

TEST(HostOptions, LegacyPictureOptionsReachTheHost) {
    struct Case {
        std::vector<std::string> args;
        bool legacyPictures, hideLegacyLibrary;
    };
    for (const Case& c :
         std::vector<Case>{{{}, false, false},
                           {{"--legacy-pictures"}, true, false},
                           {{"--hide-legacy-library"}, false, true},
                           {{"--legacy-pictures", "--hide-legacy-library"}, true, true}}) {
        CLI::App app;
        qrx::cli::HostOptions opts;
        qrx::cli::addHostOptions(app, opts);
        std::vector<std::string> args(c.args.rbegin(), c.args.rend());
        app.parse(args);
        const qrx::HostConfig config = qrx::cli::makeHostConfig(opts);
        EXPECT_EQ(config.legacyPictures, c.legacyPictures);
        EXPECT_EQ(config.hideLegacyLibrary, c.hideLegacyLibrary);
    }
    // Both options are taken by the built qrx.
    auto r = runQrx({"call", "--legacy-pictures", "--hide-legacy-library", "--on", kSample,
                     "InvertQRX", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
}

} // namespace
