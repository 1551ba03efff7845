// Image files: PNG decoding of every colour type and depth, exact PAM and PPM bytes, errors that
// name the file, and writes that leave either the whole file or nothing.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cmath>
#include <csetjmp>
#include <random>

#include "cli_util_test.h"
#include "image_io.h"

namespace {

using qrx::Image;
using qrx::ImageFileError;
using qrx::readImage;
using qrx::writeImage;
using qrxclitest::operator<<;
using qrxclitest::readFile;
using qrxclitest::ScratchDir;
using qrxclitest::writeFile;

// A PNG written directly with libpng, so the reader is checked against files it did not write.
struct PngFixture {
    int width = 0, height = 0;
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<int> samples;              // row-major, channels per pixel as the colour type has
    std::vector<png_color> palette;        // palette pictures
    std::vector<png_byte> trnsAlpha;       // palette tRNS
    std::optional<png_color_16> trnsColor; // gray or RGB tRNS
};

PngFixture fixture(int width, int height, int colorType, int bitDepth,
                   std::vector<int> samples = {}) {
    PngFixture f;
    f.width = width;
    f.height = height;
    f.colorType = colorType;
    f.bitDepth = bitDepth;
    f.samples = std::move(samples);
    return f;
}

int channelsOf(int colorType) {
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
        return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    default:
        return 4;
    }
}

void fixtureError(png_structp png, png_const_charp msg) {
    ADD_FAILURE() << "libpng: " << msg;
    png_longjmp(png, 1);
}

void writeFixture(const std::filesystem::path& path, const PngFixture& f) {
    const int channels = channelsOf(f.colorType);
    // Pack the samples of each row at the fixture's bit depth, most significant first.
    std::vector<std::vector<png_byte>> rows(size_t(f.height));
    for (int y = 0; y < f.height; ++y) {
        auto& row = rows[size_t(y)];
        row.assign(size_t((f.width * channels * f.bitDepth + 7) / 8), 0);
        for (int i = 0; i < f.width * channels; ++i) {
            int v = f.samples[size_t(y * f.width * channels + i)];
            if (f.bitDepth == 16) {
                row[size_t(2 * i)] = png_byte(v >> 8);
                row[size_t(2 * i + 1)] = png_byte(v & 0xFF);
            } else if (f.bitDepth == 8) {
                row[size_t(i)] = png_byte(v);
            } else {
                int bit = i * f.bitDepth;
                row[size_t(bit / 8)] |= png_byte(v << (8 - f.bitDepth - bit % 8));
            }
        }
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, fixtureError, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, png_uint_32(f.width), png_uint_32(f.height), f.bitDepth,
                     f.colorType, f.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (!f.palette.empty()) png_set_PLTE(png, info, f.palette.data(), int(f.palette.size()));
        if (!f.trnsAlpha.empty())
            png_set_tRNS(png, info, f.trnsAlpha.data(), int(f.trnsAlpha.size()), nullptr);
        if (f.trnsColor) {
            png_color_16 c = *f.trnsColor;
            png_set_tRNS(png, info, nullptr, 0, &c);
        }
        png_write_info(png, info);
        std::vector<png_bytep> pointers;
        for (auto& r : rows)
            pointers.push_back(r.data());
        png_write_image(png, pointers.data());
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// 16-bit samples become round(v * 255 / 65535).
int scale16(int v) {
    return int(std::lround(double(v) * 255.0 / 65535.0));
}

struct PngCase {
    std::string name;
    PngFixture fixture;
    bool hasAlpha;
    std::vector<int> rgba; // expected R G B A of every pixel
};

std::vector<PngCase> pngCases() {
    std::vector<PngCase> cases;
    cases.push_back({"rgb8",
                     fixture(3, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 250, 128, 0, 255, 255, 255}),
                     false,
                     {1, 2, 3, 255, 250, 128, 0, 255, 255, 255, 255, 255}});
    cases.push_back({"rgba8",
                     fixture(2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, {10, 20, 30, 0, 200, 100, 50, 128}),
                     true,
                     {10, 20, 30, 0, 200, 100, 50, 128}});
    cases.push_back({"gray8",
                     fixture(3, 1, PNG_COLOR_TYPE_GRAY, 8, {0, 77, 255}),
                     false,
                     {0, 0, 0, 255, 77, 77, 77, 255, 255, 255, 255, 255}});
    cases.push_back({"gray1",
                     fixture(4, 1, PNG_COLOR_TYPE_GRAY, 1, {1, 0, 0, 1}),
                     false,
                     {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 255}});
    cases.push_back({"gray4",
                     fixture(3, 1, PNG_COLOR_TYPE_GRAY, 4, {0, 5, 15}),
                     false,
                     {0, 0, 0, 255, 85, 85, 85, 255, 255, 255, 255, 255}});
    cases.push_back({"gray_alpha8",
                     fixture(2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 8, {40, 0, 200, 255}),
                     true,
                     {40, 40, 40, 0, 200, 200, 200, 255}});
    {
        PngFixture f = fixture(3, 1, PNG_COLOR_TYPE_PALETTE, 8);
        f.palette = {{255, 0, 0}, {0, 128, 255}, {7, 8, 9}};
        f.samples = {2, 0, 1};
        cases.push_back({"palette8", f, false, {7, 8, 9, 255, 255, 0, 0, 255, 0, 128, 255, 255}});
    }
    {
        PngFixture f = fixture(4, 1, PNG_COLOR_TYPE_PALETTE, 2);
        f.palette = {{255, 0, 0}, {0, 128, 255}, {7, 8, 9}, {1, 1, 1}};
        f.trnsAlpha = {0, 100};
        f.samples = {0, 1, 2, 3};
        cases.push_back({"palette2_trns",
                         f,
                         true,
                         {255, 0, 0, 0, 0, 128, 255, 100, 7, 8, 9, 255, 1, 1, 1, 255}});
    }
    {
        PngFixture f = fixture(2, 1, PNG_COLOR_TYPE_RGB, 8);
        f.trnsColor = png_color_16{0, 5, 6, 7, 0};
        f.samples = {5, 6, 7, 5, 6, 8};
        cases.push_back({"rgb8_trns", f, true, {5, 6, 7, 0, 5, 6, 8, 255}});
    }
    {
        PngFixture f = fixture(2, 1, PNG_COLOR_TYPE_GRAY, 8);
        f.trnsColor = png_color_16{0, 0, 0, 0, 9};
        f.samples = {9, 10};
        cases.push_back({"gray8_trns", f, true, {9, 9, 9, 0, 10, 10, 10, 255}});
    }
    {
        // 0x12FF is 18.93 in 8 bits: rounding gives 19 where dropping the low byte gives 18.
        PngFixture f = fixture(2, 1, PNG_COLOR_TYPE_RGB, 16);
        f.samples = {0x12FF, 0x8080, 0xFFFF, 0, 0x00FF, 0x7F7F};
        std::vector<int> rgba;
        for (int i = 0; i < 2; ++i) {
            for (int c = 0; c < 3; ++c)
                rgba.push_back(scale16(f.samples[size_t(i * 3 + c)]));
            rgba.push_back(255);
        }
        EXPECT_EQ(rgba[0], 19);
        cases.push_back({"rgb16", f, false, rgba});
    }
    {
        PngFixture f = fixture(1, 2, PNG_COLOR_TYPE_RGB_ALPHA, 16);
        f.samples = {0xFFFF, 0x0180, 0x4000, 0x8000, 1, 2, 3, 0xFF7F};
        std::vector<int> rgba;
        for (int v : f.samples)
            rgba.push_back(scale16(v));
        cases.push_back({"rgba16", f, true, rgba});
    }
    {
        PngFixture f = fixture(2, 1, PNG_COLOR_TYPE_GRAY_ALPHA, 16);
        f.samples = {0xABCD, 0x0101, 0x0000, 0xFFFF};
        int g0 = scale16(0xABCD), a0 = scale16(0x0101);
        cases.push_back({"gray_alpha16", f, true, {g0, g0, g0, a0, 0, 0, 0, 255}});
    }
    {
        // Adam7: every pixel has to land back in its place.
        PngFixture f = fixture(9, 9, PNG_COLOR_TYPE_RGB, 8);
        f.interlaced = true;
        std::vector<int> rgba;
        for (int i = 0; i < 81; ++i) {
            f.samples.insert(f.samples.end(), {i, 255 - i, (i * 7) % 256});
            rgba.insert(rgba.end(), {i, 255 - i, (i * 7) % 256, 255});
        }
        cases.push_back({"rgb8_interlaced", f, false, rgba});
    }
    return cases;
}

class PngRead : public testing::TestWithParam<PngCase> {};
TEST_P(PngRead, DecodesToRgba) {
    const PngCase& c = GetParam();
    ScratchDir dir;
    auto path = dir / "in.png";
    writeFixture(path, c.fixture);
    Image img = readImage(path);
    EXPECT_EQ(img.width, c.fixture.width);
    EXPECT_EQ(img.height, c.fixture.height);
    EXPECT_EQ(img.hasAlpha, c.hasAlpha);
    std::vector<int> got(img.rgba.begin(), img.rgba.end());
    EXPECT_EQ(got, c.rgba);
}

INSTANTIATE_TEST_SUITE_P(ColorTypesAndDepths, PngRead, testing::ValuesIn(pngCases()),
                         [](const auto& info) { return info.param.name; });

// Through qrx, a 16-bit PNG is read at 8 bits with a note naming the file; 8-bit input gets none.
TEST(PngRead, SixteenBitInputIsNotedOnStandardError) {
    ScratchDir dir;
    for (int depth : {16, 8}) {
        const auto in = dir / ("in" + std::to_string(depth) + ".png");
        PngFixture f = fixture(2, 1, PNG_COLOR_TYPE_RGB, depth);
        f.samples = {1, 2, 3, 4, 5, 6};
        writeFixture(in, f);
        auto r = qrxclitest::runQrx(
            {"call", "--on", in.string(), "InvertQRX", "-o", (dir / "o.png").string()});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out.find("16-bit"), std::string::npos);
        if (depth == 16)
            EXPECT_NE(r.err.find(in.string() + ": 16-bit PNG reduced to 8 bits"), std::string::npos)
                << r.err;
        else
            EXPECT_EQ(r.err, "");
    }
}

Image randomImage(int width, int height, bool hasAlpha, unsigned seed) {
    std::mt19937 rng(seed);
    Image img;
    img.width = width;
    img.height = height;
    img.hasAlpha = hasAlpha;
    img.rgba.resize(size_t(width) * height * 4);
    for (size_t i = 0; i < img.rgba.size(); ++i)
        img.rgba[i] = (!hasAlpha && i % 4 == 3) ? 255 : uint8_t(rng());
    return img;
}

struct RoundTrip {
    const char* ext;
    bool hasAlpha;
};

class ImageRoundTrip : public testing::TestWithParam<RoundTrip> {};
void PrintTo(const RoundTrip& c, std::ostream* os) {
    *os << c.ext << (c.hasAlpha ? " with alpha" : "");
}

TEST_P(ImageRoundTrip, ReadsBackWhatWasWritten) {
    ScratchDir dir;
    auto path = dir / (std::string("pic") + GetParam().ext);
    Image img = randomImage(37, 23, GetParam().hasAlpha, 7);
    writeImage(path, img);
    Image back = readImage(path);
    EXPECT_EQ(back.width, img.width);
    EXPECT_EQ(back.height, img.height);
    EXPECT_EQ(back.hasAlpha, img.hasAlpha);
    EXPECT_EQ(back.rgba, img.rgba);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{path.filename().string()});
}

INSTANTIATE_TEST_SUITE_P(Formats, ImageRoundTrip,
                         testing::Values(RoundTrip{".png", false}, RoundTrip{".png", true},
                                         RoundTrip{".PNG", false}, RoundTrip{".pam", false},
                                         RoundTrip{".pam", true}, RoundTrip{".ppm", false}),
                         [](const auto& info) {
                             return std::string(info.param.ext + 1) +
                                    (info.param.hasAlpha ? "_alpha" : "_plain") +
                                    (info.index == 2 ? "_upper" : "");
                         });

TEST(ImageWrite, PngWithoutAlphaIsRgbAndWithAlphaIsRgba) {
    ScratchDir dir;
    for (bool alpha : {false, true}) {
        auto path = dir / (alpha ? "a.png" : "p.png");
        writeImage(path, randomImage(4, 3, alpha, 3));
        std::string bytes = readFile(path);
        ASSERT_GT(bytes.size(), 26u);
        // IHDR: bit depth at byte 24, colour type at byte 25.
        EXPECT_EQ(int(uint8_t(bytes[24])), 8);
        EXPECT_EQ(int(uint8_t(bytes[25])), alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
    }
}

TEST(ImageWrite, NetpbmBytesAreExact) {
    Image img;
    img.width = 2;
    img.height = 1;
    img.hasAlpha = true;
    img.rgba = {1, 2, 3, 4, 250, 251, 252, 253};
    ScratchDir dir;
    auto bytes = [](std::initializer_list<int> v) {
        std::string s;
        for (int b : v)
            s += char(b);
        return s;
    };
    writeImage(dir / "a.pam", img);
    EXPECT_EQ(readFile(dir / "a.pam"),
              "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" +
                  bytes({1, 2, 3, 4, 250, 251, 252, 253}));
    writeImage(dir / "a.ppm", img);
    EXPECT_EQ(readFile(dir / "a.ppm"), "P6\n2 1\n255\n" + bytes({1, 2, 3, 250, 251, 252}));
    img.hasAlpha = false;
    writeImage(dir / "p.pam", img);
    EXPECT_EQ(readFile(dir / "p.pam"),
              "P7\nWIDTH 2\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n" +
                  bytes({1, 2, 3, 250, 251, 252}));
}

TEST(ImageRead, NetpbmHeadersWithCommentsAndGrayTuples) {
    ScratchDir dir;
    writeFile(dir / "c.ppm", std::string("P6 # comment\n# more\n2\n1 255\n") +
                                 std::string("\x09\x08\x07\x00\xFF\x10", 6));
    Image ppm = readImage(dir / "c.ppm");
    EXPECT_FALSE(ppm.hasAlpha);
    EXPECT_EQ(ppm.rgba, (std::vector<uint8_t>{9, 8, 7, 255, 0, 255, 16, 255}));

    writeFile(dir / "g.pam", "P7\n# gray\nWIDTH 2\nHEIGHT 1\nDEPTH 2\nMAXVAL 255\n"
                             "TUPLTYPE GRAYSCALE_ALPHA\nENDHDR\n\x05\x06\x07\x08");
    Image pam = readImage(dir / "g.pam");
    EXPECT_TRUE(pam.hasAlpha);
    EXPECT_EQ(pam.rgba, (std::vector<uint8_t>{5, 5, 5, 6, 7, 7, 7, 8}));
}

struct BadFile {
    std::string name;
    std::string file;  // file name in the scratch directory
    std::string bytes; // contents; empty: the file is not created
    std::string fault; // expected in the message
};

class ImageReadError : public testing::TestWithParam<BadFile> {};
TEST_P(ImageReadError, NamesTheFileAndTheFault) {
    const BadFile& c = GetParam();
    ScratchDir dir;
    auto path = dir / c.file;
    if (c.bytes == "<dir>")
        std::filesystem::create_directory(path);
    else if (!c.bytes.empty())
        writeFile(path, c.bytes);
    try {
        readImage(path);
        FAIL() << "no error for " << c.name;
    } catch (const ImageFileError& e) {
        std::string msg = e.what();
        EXPECT_NE(msg.find(path.string()), std::string::npos) << msg;
        EXPECT_NE(msg.find(c.fault), std::string::npos) << msg;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ImageReadError,
    testing::Values(
        BadFile{"missing", "none.png", "", "No such file"},
        BadFile{"directory", "dir.png", "<dir>", "directory"},
        BadFile{"unknown_extension", "pic.gif", "GIF89a", "unknown picture file type"},
        BadFile{"not_png", "fake.png", "P6\n1 1\n255\n\x01\x02\x03", "not a PNG"},
        BadFile{"truncated_png", "cut.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
                "bad PNG"},
        BadFile{"ppm_truncated", "t.ppm", "P6\n2 2\n255\n\x01\x02\x03", "truncated"},
        BadFile{"ppm_maxval", "m.ppm", "P6\n1 1\n65535\n\x01\x02\x03\x04\x05\x06", "maxval"},
        BadFile{"ppm_ascii", "a.ppm", "P3\n1 1\n255\n1 2 3\n", "P6"},
        BadFile{"ppm_zero_size", "z.ppm", "P6\n0 1\n255\n", "empty"},
        BadFile{"pam_depth", "d.pam",
                "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\nabcd",
                "DEPTH"},
        BadFile{"pam_tupltype", "u.pam",
                "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nTUPLTYPE BLACKANDWHITE\nENDHDR\na",
                "TUPLTYPE"},
        BadFile{"pam_no_end", "e.pam", "P7\nWIDTH 1\nHEIGHT 1\n", "header ends early"}),
    [](const auto& info) { return info.param.name; });

TEST(ImageWrite, UnknownExtensionOrEmptyPictureWritesNothing) {
    ScratchDir dir;
    Image good = randomImage(3, 3, false, 1);
    EXPECT_THROW(writeImage(dir / "out.gif", good), ImageFileError);
    EXPECT_THROW(writeImage("-", good), ImageFileError); // standard output needs a format
    Image empty;
    EXPECT_THROW(writeImage(dir / "out.png", empty), ImageFileError);
    Image mismatched = good;
    mismatched.rgba.pop_back();
    EXPECT_THROW(writeImage(dir / "out.pam", mismatched), ImageFileError);
    EXPECT_TRUE(dir.entries().empty());
}

TEST(ImageWrite, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    ScratchDir dir;
    auto target = dir / "keep.png";
    Image first = randomImage(5, 4, false, 11);
    writeImage(target, first);
    std::string before = readFile(target);

    Image bad = randomImage(5, 4, false, 12);
    bad.rgba.resize(7);
    EXPECT_THROW(writeImage(target, bad), ImageFileError);
    EXPECT_EQ(readFile(target), before);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"keep.png"});

    // A whole file is written, but cannot take the place of a directory: it is removed again.
    std::filesystem::create_directory(dir / "taken.ppm");
    std::filesystem::create_directory(dir / "taken.png");
    EXPECT_THROW(writeImage(dir / "taken.ppm", first), ImageFileError);
    EXPECT_THROW(writeImage(dir / "taken.png", first), ImageFileError);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"keep.png", "taken.png", "taken.ppm"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "taken.png"));

    // A directory that does not exist: the message names the file.
    try {
        writeImage(dir / "no" / "such.png", first);
        FAIL();
    } catch (const ImageFileError& e) {
        EXPECT_NE(std::string(e.what()).find("such.png"), std::string::npos);
    }
}

TEST(ImageWrite, ReplacesAnExistingFileWhole) {
    ScratchDir dir;
    auto target = dir / "pic.pam";
    writeImage(target, randomImage(40, 40, true, 1));
    Image small = randomImage(2, 2, false, 2);
    writeImage(target, small);
    EXPECT_EQ(readImage(target).rgba, small.rgba);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"pic.pam"});
}

// ---- Outputs that respect what is at the path ----

// Each case prepares the scratch directory (the shell's working directory), runs qrx, and then
// checks the directory with a shell test. ref.png is the inverted sample, made first.
struct OutputCase {
    std::string name;
    std::string setup;
    std::string command; // {sample} is the sample picture
    int code;
    std::string check; // a shell command that must succeed afterwards
    std::string inMessage = "";
    bool needsRoot = false;
};

class QrxOutputPath : public testing::TestWithParam<OutputCase> {};

TEST_P(QrxOutputPath, IsWrittenAsWhatIsThere) {
    const OutputCase& c = GetParam();
    if (c.needsRoot && geteuid() != 0) GTEST_SKIP() << "needs root to make a device node";
    ScratchDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    auto expand = [&](std::string s) {
        const std::string sample = qrxclitest::shellQuote(qrxclitest::kSample);
        for (size_t p; (p = s.find("{sample}")) != std::string::npos;)
            s.replace(p, 8, sample);
        // Another user, for whom a file of this one's is read-only; as root, nobody.
        const std::string other = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 "
                                                   "--clear-groups {qrx}"
                                                 : "{qrx}";
        for (size_t p; (p = s.find("{other}")) != std::string::npos;)
            s.replace(p, 7, other);
        return "cd " + qrxclitest::shellQuote(dir.path().string()) + " && " + s;
    };
    auto made = qrxclitest::runShell(expand("{qrx} call --on {sample} InvertQRX -o ref.png"));
    ASSERT_EQ(made.code, 0) << made.err;
    if (!c.setup.empty()) {
        ASSERT_EQ(qrxclitest::runShell(expand(c.setup)).code, 0);
    }
    auto r = qrxclitest::runShell(expand(c.command));
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.inMessage), std::string::npos) << r.err;
    auto checked = qrxclitest::runShell(expand(c.check));
    EXPECT_EQ(checked.code, 0) << c.check << "\n" << checked.out << checked.err;
    // No temporary file is left anywhere.
    EXPECT_EQ(qrxclitest::runShell(expand("ls -a | grep -c tmp-")).out, "0\n");
}

INSTANTIATE_TEST_SUITE_P(
    Paths, QrxOutputPath,
    testing::Values(
        OutputCase{"symlink_target_replaced", "cp {sample} target.png && ln -s target.png out.png",
                   "{qrx} call --on {sample} InvertQRX -o out.png", 0,
                   "test -L out.png && cmp target.png ref.png"},
        OutputCase{"symlink_into_other_folder",
                   "mkdir sub && cp {sample} sub/t.png && ln -s sub/t.png out.png",
                   "{qrx} sepia {sample} -o out.png", 0,
                   "test -L out.png && ! cmp -s sub/t.png {sample} && test $(ls -A sub) = t.png"},
        OutputCase{"dangling_symlink_creates_target", "ln -s new.png out.png",
                   "{qrx} call --on {sample} InvertQRX -o out.png", 0,
                   "test -L out.png && cmp new.png ref.png"},
        OutputCase{"mode_kept", "cp {sample} out.png && chmod 640 out.png",
                   "{qrx} call --on {sample} InvertQRX -o out.png", 0,
                   "test $(stat -c %a out.png) = 640 && cmp out.png ref.png"},
        OutputCase{"file_the_user_may_not_write", "cp {sample} out.png && chmod 444 out.png",
                   "{other} call --on {sample} InvertQRX -o out.png", 2,
                   "cmp out.png {sample} && test $(stat -c %a out.png) = 444",
                   "out.png: permission denied"},
        OutputCase{"folder_the_user_may_not_write", "mkdir ro && chmod 555 ro",
                   "{other} sepia {sample} -o ro/out.png", 2, "test ! -e ro/out.png",
                   "permission denied"},
        OutputCase{"directory_refused", "mkdir out.png",
                   "{qrx} call --on {sample} InvertQRX -o out.png", 2, "test -d out.png",
                   "is a directory"},
        OutputCase{"fifo_written_directly", "mkfifo out.png",
                   "(cat out.png > got.png &) ; {qrx} call --on {sample} InvertQRX -o out.png "
                   "--format png; sleep 0.5",
                   0, "test -p out.png && cmp got.png ref.png"},
        OutputCase{"stream_alias_written_directly", "",
                   "{qrx} sepia {sample} -o /dev/fd/1 --format png > got.png", 0,
                   "{qrx} sepia {sample} -o want.png && cmp got.png want.png"},
        OutputCase{"device_written_directly", "mknod null c 1 3",
                   "{qrx} call --on {sample} InvertQRX -o null --format png", 0, "test -c null", "",
                   true},
        OutputCase{
            "batch_through_symlink_keeping_mode",
            "mkdir out && cp {sample} t.png && chmod 600 t.png && ln -s ../t.png "
            "out/sample.png",
            "{qrx} batch InvertQRX {sample} --out-dir out", 0,
            "test -L out/sample.png && cmp t.png ref.png && test $(stat -c %a t.png) = 600"}),
    [](const auto& info) { return info.param.name; });

// ---- Metadata carried from the picture worked on into PNG and JPEG results ----

void putSegment(std::string& out, int marker, const std::string& data) {
    out += '\xFF';
    out += char(marker);
    out += char((data.size() + 2) >> 8);
    out += char((data.size() + 2) & 0xFF);
    out += data;
}

// An ICC header for RGB data (no tags) and an EXIF block holding orientation 6.
std::string iccProfile() {
    std::string p(132, '\0');
    auto be32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            p[at + size_t(i)] = char(v >> (24 - 8 * i));
    };
    be32(0, 132), be32(8, 0x02100000);
    p.replace(12, 4, "mntr"), p.replace(16, 4, "RGB "), p.replace(20, 4, "XYZ ");
    p.replace(36, 4, "acsp");
    be32(68, 0xF6D6), be32(72, 0x10000), be32(76, 0xD32D);
    return p;
}

const std::string kExif("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);

std::vector<uint8_t> bytesOf(const std::string& s) {
    return {s.begin(), s.end()};
}

struct MetadataCase {
    std::string name;
    std::string command; // {in} the tagged input, {out} the output
    std::string output;  // the output's file name
    bool kept;
};

class QrxMetadata : public testing::TestWithParam<MetadataCase> {};

TEST_P(QrxMetadata, ProfileAndExifFollowThePicture) {
    ScratchDir dir;
    // A JPEG qrx wrote, with an Exif APP1 and an ICC_PROFILE APP2 put after its start of image.
    const auto plain = dir / "plain.jpg";
    writeImage(plain, randomImage(24, 16, false, 3));
    const std::string jpeg = readFile(plain);
    std::string tagged = jpeg.substr(0, 2);
    putSegment(tagged, 0xE1, std::string("Exif\0\0", 6) + kExif);
    putSegment(tagged, 0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) + iccProfile());
    writeFile(dir / "in.jpg", tagged + jpeg.substr(2));
    // The same as a PNG, written by qrx from the JPEG.
    auto r =
        qrxclitest::runQrx({"sepia", (dir / "in.jpg").string(), "-o", (dir / "in.png").string()});
    ASSERT_EQ(r.code, 0) << r.err;

    std::string cmd =
        "cd " + qrxclitest::shellQuote(dir.path().string()) + " && " + GetParam().command;
    r = qrxclitest::runShell(cmd);
    ASSERT_EQ(r.code, 0) << r.err;
    const Image out = readImage(dir / GetParam().output);
    if (GetParam().kept) {
        // Open: libpng reads the iCCP chunk qrx writes for this tag-less test profile back as
        // "too short", so the profile is compared only where no PNG is read.
        if (!qrxclitest::contains(GetParam().command + GetParam().output, ".png")) {
            EXPECT_EQ(out.metadata.iccProfile, bytesOf(iccProfile()));
        }
        EXPECT_EQ(out.metadata.exif, bytesOf(kExif));
    } else {
        EXPECT_TRUE(out.metadata.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, QrxMetadata,
    testing::Values(
        MetadataCase{"call_jpeg_to_jpeg", "{qrx} call --on in.jpg InvertQRX -o out.jpg", "out.jpg",
                     true},
        MetadataCase{"call_jpeg_to_png", "{qrx} call --on in.jpg InvertQRX -o out.png", "out.png",
                     true},
        MetadataCase{"call_png_to_jpeg", "{qrx} call --on in.png 'InvertQRX(1, 1, 5, 5)' -o o.jpg",
                     "o.jpg", true},
        MetadataCase{"standard_input", "{qrx} call --on - InvertQRX -o out.png < in.jpg", "out.png",
                     true},
        MetadataCase{"lut3d",
                     "{qrx} lut3d --cube " + qrxclitest::shellQuote(QRX_SOURCE_DIR) +
                         "/samples/grade.cube in.png -o out.jpg",
                     "out.jpg", true},
        MetadataCase{"batch", "{qrx} batch InvertQRX in.jpg --out-dir d --format png", "d/in.png",
                     true},
        MetadataCase{"strip", "{qrx} call --on in.jpg InvertQRX -o out.jpg --strip", "out.jpg",
                     false},
        MetadataCase{"batch_strip", "{qrx} batch sepia --strip in.png --out-dir d", "d/in.png",
                     false},
        MetadataCase{"global_method_has_no_source",
                     "{qrx} call 'CombinePicturesQRX(in.png, in.png, in.png)' -o out.png",
                     "out.png", false}),
    [](const auto& info) { return info.param.name; });

} // namespace
