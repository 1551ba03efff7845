// The built qrx run as users run it. Each row is a shell line run in a scratch folder holding the
// samples (s.png, al.png, rings.png, needle.png, grade.cube, sample.wav) and the fixtures the row
// names; it gives the exit code, the text expected on standard output and standard error ("":
// nothing; otherwise parts separated by '|' that appear in that order, "!PART": never), and the
// files it leaves. Every new file must be named in the check, so no stray or half-written output
// goes unnoticed. Checks, separated by blanks:
//   F  F exists          !F  F does not        F==G  same bytes       F~G  close (JPEG, 40 dB)
//   F:png:WxH[:a][:exif][:icc][:bare][:NNNb]  its format (png jpeg pam ppm ppic), size, alpha
//       channel, EXIF block and ICC profile of the tagged fixtures, no metadata, byte count
//   F=G  same pixels     F=G/H[@x0,y0,x1,y1]  colours of G inside the rectangle (everywhere
//       without one), of H outside it, and H's alpha channel
//   $ CMD  the rest is a shell command that must succeed
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "cli_util_test.h"
#include "cube.h"
#include "image_io.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using namespace qrxclitest;
using qrx::Image;

std::string be32(uint32_t v) {
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string le(uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += char(v >> (8 * i));
    return s;
}

std::string pngChunk(const std::string& type, const std::string& data) {
    const std::string body = type + data;
    const auto* p = reinterpret_cast<const Bytef*>(body.data());
    return be32(uint32_t(data.size())) + body + be32(uint32_t(crc32(0, p, uInt(body.size()))));
}

// A PNG with the given header whose image data is `raw` compressed.
std::string pngFile(const std::string& ihdr, const std::string& raw) {
    std::string packed(compressBound(uLong(raw.size())), '\0');
    uLongf n = uLongf(packed.size());
    compress(reinterpret_cast<Bytef*>(packed.data()), &n,
             reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()));
    return std::string("\x89PNG\r\n\x1A\n", 8) + pngChunk("IHDR", ihdr) +
           pngChunk("IDAT", packed.substr(0, n)) + pngChunk("IEND", "");
}

Image picture(int w, int h, const std::function<std::array<int, 3>(int, int)>& f) {
    Image img{w, h, false, std::vector<uint8_t>(size_t(w) * h * 4, 255), {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                img.pixel(x, y)[c] = uint8_t(f(x, y)[size_t(c)]);
    return img;
}

// The sample with each colour component changed by f.
Image sampleMapped(const std::function<std::array<int, 3>(const uint8_t*)>& f) {
    const Image s = qrx::readImage(kSample);
    return picture(s.width, s.height, [&](int x, int y) { return f(s.pixel(x, y)); });
}

const std::string& jpeg() {
    static const std::string j = qrx::encodeImage(
        picture(64, 48,
                [](int x, int y) {
                    const int i = (y * 64 + x) * 3;
                    return std::array{i * 7919 % 251, (i + 1) * 7919 % 251, (i + 2) * 7919 % 251};
                }),
        qrx::ImageFormat::Jpeg, 90, "j");
    return j;
}

// An ICC header for RGB data without tags, and an EXIF block holding orientation 6.
std::string icc() {
    std::string p(132, '\0');
    p.replace(0, 4, be32(132)), p.replace(8, 8, be32(0x02100000) + "mntr");
    p.replace(16, 8, "RGB XYZ "), p.replace(36, 4, "acsp");
    return p.replace(68, 12, be32(0xF6D6) + be32(0x10000) + be32(0xD32D));
}
const std::string kExif("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);
std::string segment(int marker, const std::string& data) {
    return std::string{'\xFF', char(marker)} + be32(uint32_t(data.size() + 2)).substr(2) + data;
}

// A mono 16-bit WAV of 8000 frames a second: a sweep whose amplitude rises to full scale.
std::string wav(int frames) {
    std::string data;
    for (int i = 0; i < frames; ++i)
        data += le(uint32_t(std::lround(32767.0 * i / frames * std::sin(i * i * 1e-4))), 2);
    return "RIFF" + le(uint32_t(36 + data.size()), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) +
           le(1, 2) + le(8000, 4) + le(16000, 4) + le(2, 2) + le(16, 2) + "data" +
           le(uint32_t(data.size()), 4) + data;
}
std::string ppm(int w, int h, int seed) {
    std::string s = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (int i = 0; i < w * h * 3; ++i)
        s += char(i * 7 + seed * 31 + i / 3 * i % 13);
    return s;
}

using Maker = std::function<void(const fs::path&)>;
Maker bytes(const std::function<std::string()>& f) {
    return [f](const fs::path& p) { writeFile(p, f()); };
}
Maker image(const std::function<Image()>& f) {
    return [f](const fs::path& p) { qrx::writeImage(p, f()); };
}
Maker shell(const std::string& cmd) {
    return [cmd](const fs::path& p) {
        ASSERT_EQ(runShell("cd " + shellQuote(p.parent_path()) + " && " + cmd).code, 0) << cmd;
    };
}

// Named fixtures, made in a row's folder when the row's command or check names them.
const std::vector<std::pair<std::string, Maker>>& fixtures() {
    static const std::vector<std::pair<std::string, Maker>> all = {
        {"inv.png", image([] {
             return sampleMapped([](auto p) {
                 return std::array{255 - p[0], 255 - p[1], 255 - p[2]};
             });
         })},
        {"curved.png", image([] {
             return sampleMapped([](auto p) { return std::array{255 - p[0], 0, int(p[2])}; });
         })},
        {"good.jpg", bytes([] { return jpeg(); })},
        {"cut.jpg", bytes([] { return jpeg().substr(0, jpeg().size() * 6 / 10); })},
        // A marker amid the coded data: libjpeg's "corrupt data".
        {"corrupt.jpg", bytes([] {
             std::string j = jpeg();
             return j.replace(j.size() * 7 / 10, 2, "\xFF\xD3");
         })},
        {"huge.jpg", bytes([] {
             std::string j = jpeg();
             return j.replace(j.find("\xFF\xC0") + 5, 4, "\x9C\x40\x9C\x40");
         })},
        {"huge.png", bytes([] {
             return pngFile(std::string("\0\0\x9C\x40\0\0\x9C\x40\x08\0\0\0\0", 13),
                            std::string(4000, '\0'));
         })},
        {"cut.png", bytes([] {
             std::string s = readFile(kSample);
             return s.substr(0, s.size() / 2);
         })},
        {"crc.png", bytes([] {
             std::string s = readFile(kSample);
             s[s.find("IDAT") + 40] ^= 0x55;
             return s;
         })},
        {"broken.png",
         bytes([] { return std::string("\x89PNG\r\n\x1A\nnot a chunk at all", 26); })},
        {"p16.png", bytes([] {
             return pngFile(be32(2) + be32(1) + std::string("\x10\x02\0\0\0", 5),
                            std::string(1, '\0') + std::string(12, '\x12'));
         })},
        // Two pixels: red 10 and 10, green 20 and 40, blue 30 and 30.
        {"two.ppm", bytes([] { return std::string("P6\n2 1\n255\n\x0A\x14\x1E\x0A\x28\x1E"); })},
        {"a.ppm", bytes([] { return ppm(13, 9, 0); })},
        {"s.ppm", bytes([] { return ppm(5, 3, 1); })},
        {"sub/a.ppm",
         [](const fs::path& p) {
             fs::create_directory(p.parent_path()), writeFile(p, ppm(5, 2, 3));
         }},
        {"pic.bmp", bytes([] { return ppm(4, 3, 2); })},
        {"junk.ppic", bytes([] { return std::string("PPIC but not much more"); })},
        {"tagged.jpg", bytes([] {
             return "\xFF\xD8" + segment(0xE1, std::string("Exif\0\0", 6) + kExif) +
                    segment(0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) + icc()) +
                    jpeg().substr(2);
         })},
        {"tagged.png",
         [](const fs::path& p) {
             writeFile(p.parent_path() / "tagged.jpg",
                       "\xFF\xD8" + segment(0xE1, std::string("Exif\0\0", 6) + kExif) +
                           jpeg().substr(2)),
                 qrx::writeImage(p, qrx::readImage(p.parent_path() / "tagged.jpg"));
         }},
        {"bad.cube",
         bytes([] { return std::string("TITLE \"bad\"\r\nLUT_3D_SIZE 2\r\n0 0 0\r\n1 0\r\n"); })},
        // Red inverted, green zero, blue kept.
        {"curve.cube", bytes([] { return std::string("LUT_1D_SIZE 2\n1 0 0\n0 0 1\n"); })},
        {"sweep.wav", bytes([] { return wav(8000); })},
        // The sweep as the method reads 16-bit samples: offset by 32768, from the -1 to 1 scale.
        {"sweep.raw", bytes([] {
             std::string w = wav(8000), raw;
             for (size_t i = 44; i < w.size(); i += 2)
                 raw += le(uint32_t(std::lround(int16_t(uint8_t(w[i]) | uint8_t(w[i + 1]) << 8) /
                                                32768.0 * 32767) +
                                    32768),
                           2);
             return raw;
         })},
        {"silent.wav", bytes([] { return wav(0); })},
        {"empty.wav", bytes([] { return std::string(); })},
        {"cut.wav", bytes([] { return wav(8000).substr(0, 8000); })},
        {"fifo", shell("mkfifo fifo")},
        {"link.png", shell("cp s.png target.png && ln -s target.png link.png")},
        {"sublink.png", shell("mkdir sub && cp s.png sub/t.png && ln -s sub/t.png sublink.png")},
        {"dangling.png", shell("ln -s new.png dangling.png")},
        {"m640.png", shell("cp s.png m640.png && chmod 640 m640.png")},
        {"ro.png", shell("cp s.png ro.png && chmod 444 ro.png")},
        {"rodir", shell("mkdir rodir && chmod 555 rodir")},
        {"isdir.png", shell("mkdir isdir.png")},
        {"devnode", shell("mknod devnode c 1 3")},
        {"t600.png", shell("mkdir out && cp s.png t600.png && chmod 600 t600.png && ln -s "
                           "../t600.png out/s.png")},
    };
    return all;
}

std::set<std::string> tree(const fs::path& dir) {
    std::set<std::string> names;
    for (auto it =
             fs::recursive_directory_iterator(dir, fs::directory_options::skip_permission_denied);
         it != fs::recursive_directory_iterator(); ++it)
        names.insert(fs::relative(it->path(), dir).string() +
                     (it->is_directory() && !it->is_symlink() ? "/" : ""));
    return names;
}

void expectText(const std::string& got, const std::string& want, const char* stream) {
    if (want == "*") return;
    if (want.empty()) {
        EXPECT_EQ(got, "") << stream;
    }
    size_t at = 0;
    std::istringstream parts(want);
    for (std::string part; std::getline(parts, part, '|');) {
        if (part.starts_with("!")) {
            EXPECT_FALSE(contains(got, part.substr(1))) << stream << ": '" << part << "' in:\n"
                                                        << got;
        } else if (size_t p = got.find(part, at); p == std::string::npos) {
            ADD_FAILURE() << stream << ": '" << part << "' not in (after " << at << "):\n" << got;
        } else {
            at = p + part.size();
        }
    }
}

double psnr(const Image& a, const Image& b) {
    double sum = 0;
    for (size_t i = 0; i < a.rgba.size(); ++i)
        if (i % 4 != 3) sum += std::pow(double(a.rgba[i]) - double(b.rgba[i]), 2);
    return 10.0 * std::log10(255.0 * 255.0 * double(a.rgba.size() / 4 * 3) / std::max(sum, 1e-9));
}

void checkFile(const fs::path& dir, const std::string& t) {
    SCOPED_TRACE(t);
    std::smatch m;
    if (t[0] == '!') {
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / t.substr(1))));
    } else if (size_t eq = t.find("=="); eq != std::string::npos) {
        EXPECT_TRUE(readFile(dir / t.substr(0, eq)) == readFile(dir / t.substr(eq + 2)));
    } else if (size_t tilde = t.find('~'); tilde != std::string::npos) {
        EXPECT_GT(psnr(qrx::readImage(dir / t.substr(0, tilde)),
                       qrx::readImage(dir / t.substr(tilde + 1))),
                  40.0);
    } else if (std::regex_match(
                   t, m,
                   std::regex(R"(([^=]+)=([^/@]+)(?:/([^@]+))?(?:@(-?\d+),(\d+),(\d+),(\d+))?)"))) {
        const Image f = qrx::readImage(dir / m[1].str()), g = qrx::readImage(dir / m[2].str());
        const Image h = m[3].matched ? qrx::readImage(dir / m[3].str()) : g;
        ASSERT_TRUE(f.width == g.width && f.height == g.height && f.width == h.width &&
                    f.height == h.height);
        EXPECT_EQ(f.hasAlpha, h.hasAlpha);
        const int x0 = m[4].matched ? std::stoi(m[4]) : 0, y0 = m[4].matched ? std::stoi(m[5]) : 0;
        const int x1 = m[4].matched ? std::stoi(m[6]) : f.width,
                  y1 = m[4].matched ? std::stoi(m[7]) : f.height;
        int wrong = 0;
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x) {
                const Image& src = x >= x0 && x < x1 && y >= y0 && y < y1 ? g : h;
                for (int c = 0; c < 4; ++c)
                    wrong += f.pixel(x, y)[c] != (c < 3 ? src : h).pixel(x, y)[c];
            }
        EXPECT_EQ(wrong, 0);
    } else if (size_t colon = t.find(':'); colon != std::string::npos) {
        const fs::path file = dir / t.substr(0, colon);
        const std::string data = readFile(file);
        const bool ppic = data.starts_with("PPIC");
        const bool decode = !ppic && !std::regex_match(t.substr(colon + 1), std::regex(R"(\d+b)"));
        Image img;
        if (decode) img = qrx::readImage(file);
        bool alpha = false;
        std::istringstream attrs(t.substr(colon + 1));
        for (std::string a; std::getline(attrs, a, ':');) {
            const auto format = qrx::imageFormatNamed(a);
            if (a == "ppic") {
                EXPECT_TRUE(ppic);
            } else if (format) {
                EXPECT_EQ(qrx::sniffImageFormat(data), format);
            } else if (std::regex_match(a, m, std::regex(R"((\d+)x(\d+))"))) {
                const int w = ppic ? int(uint8_t(data[11]) + uint8_t(data[10]) * 256) : img.width;
                const int h = ppic ? int(uint8_t(data[15]) + uint8_t(data[14]) * 256) : img.height;
                EXPECT_EQ(std::to_string(w) + "x" + std::to_string(h), a);
            } else if (std::regex_match(a, m, std::regex(R"((\d+)b)"))) {
                EXPECT_EQ(data.size(), std::stoul(m[1]));
            } else if (a == "exif" || a == "icc" || a == "bare") {
                const std::string want = a == "exif" ? kExif : a == "icc" ? icc() : "";
                const auto& got = a == "icc" ? img.metadata.iccProfile : img.metadata.exif;
                EXPECT_EQ(std::string(got.begin(), got.end()), want);
                EXPECT_TRUE(a != "bare" || img.metadata.empty());
            } else {
                alpha = a == "a";
                EXPECT_TRUE(alpha) << "unknown check " << a;
            }
        }
        if (decode) {
            EXPECT_EQ(img.hasAlpha, alpha);
        }
    } else {
        EXPECT_TRUE(fs::exists(dir / t));
    }
}

struct Row {
    const char *name, *cmd;
    int code;
    const char *out, *err, *check;
};

class Qrx : public testing::TestWithParam<Row> {};

TEST_P(Qrx, Runs) {
    const Row& row = GetParam();
    const std::string cmd = row.cmd, check = row.check, both = cmd + " " + check;
    if (contains(cmd, "devnode") && geteuid() != 0) GTEST_SKIP() << "needs root to make a device";
#if defined(__SANITIZE_ADDRESS__)
    if (contains(cmd, "ulimit -v")) GTEST_SKIP() << "AddressSanitizer reserves more address space";
#endif
    ScratchDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    for (const char* s :
         {"s.png=sample.png", "al.png=sample_alpha.png", "rings.png=rings.png",
          "needle.png=needle.png", "grade.cube=grade.cube", "sample.wav=sample.wav"}) {
        const std::string link = s;
        fs::create_symlink(kSamples + link.substr(link.find('=') + 1),
                           dir / link.substr(0, link.find('=')));
    }
    for (const auto& [name, make] : fixtures())
        if (contains(both, name)) make(dir / name);
    const auto before = tree(dir.path());
    // Another user, for whom a file of this one's is read-only; as root, nobody.
    const std::string other =
        geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups {qrx}" : "{qrx}";
    std::string line = "cd " + shellQuote(dir.path()) + " || exit 99\n" + cmd;
    for (auto [key, value] : {std::pair<std::string, std::string>{"{other}", other},
                              {"{bin}", QRX_TEST_CLI},
                              {"{plugin}", QRX_TEST_PLUGIN}})
        for (size_t p; (p = line.find(key)) != std::string::npos;)
            line.replace(p, key.size(), value);
    const RunResult r = runShell(line);
    EXPECT_EQ(r.code, row.code) << r.err;
    std::string out = row.out;
    if (size_t p = out.find("{version}"); p != std::string::npos)
        out.replace(p, 9, QRX_TEST_VERSION);
    expectText(r.out, out, "stdout");
    expectText(r.err, row.err, "stderr");
    if (row.code != 0 && !contains(cmd, "batch")) {
        EXPECT_TRUE(r.err.starts_with("qrx: ")) << r.err;
    }
    for (const std::string& made : tree(dir.path()))
        if (!before.count(made)) {
            const std::string tag =
                made.ends_with("/") ? made.substr(made.rfind('-', made.size() - 2) + 1) : made;
            EXPECT_TRUE(contains(both, made.ends_with("/") ? tag.substr(0, tag.size() - 1) : made))
                << "stray " << made;
        }
    std::istringstream checks(check);
    for (std::string t; checks >> t;) {
        if (t == "$") {
            std::string rest;
            std::getline(checks, rest);
            const RunResult c = runShell("cd " + shellQuote(dir.path()) + " && " + rest);
            EXPECT_EQ(c.code, 0) << rest << "\n" << c.out << c.err;
            break;
        }
        checkFile(dir.path(), t);
    }
}

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}
std::string rowName(const testing::TestParamInfo<Row>& i) {
    return i.param.name;
}

// qrx call: what it prints, what it writes, and the host options it takes.
INSTANTIATE_TEST_SUITE_P(
    Call, Qrx,
    testing::Values(
        Row{"quiet", "{qrx} call --on s.png InvertQRX -o o.png", 0, "", "",
            "o.png:png:160x120 o.png=inv.png"},
        Row{"verbose", "{qrx} call -v --on s.png InvertQRX -o o.png", 0,
            "result = <Picture 160x120>\n", "qrx: wrote o.png (160x120)\n", "o.png=inv.png"},
        Row{"pam", "{qrx} call --on s.png 'InvertQRX()' -o o.pam", 0, "", "",
            "o.pam:pam:160x120 o.pam=inv.png"},
        Row{"ppm_layout5", "{qrx} call --layout 5 --on s.png InvertQRX -o o.ppm", 0, "", "",
            "o.ppm:ppm:160x120 o.ppm=inv.png"},
        Row{"jpeg_any_case", "{qrx} call --on s.png InvertQRX -o o.JPG", 0, "", "",
            "o.JPG:jpeg:160x120 o.JPG~inv.png"},
        Row{"jpeg_quality",
            "{qrx} call --on s.png InvertQRX -o lo.jpg --quality 30 && {qrx} call --on s.png "
            "InvertQRX -o hi.jpeg --quality 100",
            0, "", "",
            "lo.jpg:jpeg:160x120 hi.jpeg~inv.png $ test $(stat -c %s lo.jpg) -lt $(stat -c %s "
            "hi.jpeg)"},
        Row{"console", "{qrx} call --host console --on al.png InvertQRX -o o.png", 0, "", "",
            "o.png:png:160x120:a"},
        Row{"web_without_version",
            "{qrx} call --host web --host-version none --on s.png InvertQRX -o o.png", 0, "", "",
            "o.png=inv.png"},
        Row{"older_desktop_layouts",
            "{qrx} call --host-version 2011.0 --layout 1 --alpha-layout 2 --on s.png InvertQRX -o "
            "o.png",
            0, "", "", "o.png=inv.png"},
        Row{"json", "{qrx} call --on s.png 'InvertGrayQRX(0, 0, -1, -1)' -o o.png --json", 0,
            "{\"byref\":{},\"exception\":null,\"result\":{\"height\":120,\"path\":\"o.png\","
            "\"width\":160}}\n",
            "", "o.png"},
        Row{"json_no_path", "{qrx} call --on s.png InvertQRX --json", 0, "\"path\":null", "", ""},
        Row{"global_picture_argument",
            "{qrx} call 'TintPictureQRX(\"s.png\", &c808080, &cA0522D)' -o o.png", 0, "", "",
            "o.png:png:160x120:bare"},
        Row{"nil_result", "{qrx} call 'TintPictureQRX(nil, &c808080, &cA0522D)' -o o.png --json", 1,
            "\"exception\":null,\"result\":null", "returned nil where a picture was expected",
            "!o.png"},
        Row{"exception", "{qrx} call --on s.png 'ReplaceRedChannelQRX(nil)' -o o.png", 1,
            "result = nil\n", "raised NilObjectException: The channel picture is nil.", "!o.png"},
        Row{"exception_json", "{qrx} call --on s.png 'ReplaceRedChannelQRX(nil)' --json", 1,
            "{\"byref\":{},\"exception\":{\"class\":\"NilObjectException\",\"message\":\"The "
            "channel picture is nil.\"},\"result\":null}",
            "*", ""},
        Row{"byref", "{qrx} call --on s.png 'FindPicture(needle.png, x, y)'", 0,
            "result = true\nx = 104\ny = 12\n", "", ""},
        Row{"byref_json", "{qrx} call --on s.png 'FindPicture(needle.png, px, py)' --json", 0,
            "{\"byref\":{\"px\":104,\"py\":12},\"exception\":null,\"result\":true}\n", "", ""},
        Row{"in_place_result_kept",
            "{qrx} call --on s.png 'FindPicture(\"needle.png\", x, y)' -o o.pam", 0,
            "result = true\nx = 104\ny = 12\n", "", "o.pam=s.png"},
        Row{"assigned_in_place",
            "{qrx} call --on al.png 'EmbeddedMaskQRX(false) = rings.png' -o o.png", 0, "", "",
            "o.png:png:160x120:a"},
        Row{"string_result_raw", "{qrx} call 'PicturetoBinaryStringQRX(s.png)' -o s.ppic", 0, "",
            "", "s.ppic:ppic:160x120:57640b"},
        Row{"ppic_written_and_read",
            "{qrx} call --on s.png InvertQRX -o i.ppic && {qrx} call --on i.ppic InvertQRX -o "
            "o.png",
            0, "", "", "i.ppic:ppic:160x120:57640b o.png=s.png"},
        Row{"ppic_strings_round_trip",
            "{qrx} call 'PicturetoBinaryStringQRX(s.png)' -o p.ppic && {qrx} call "
            "'BinaryStringtoPictureQRX(p.ppic)' -o c.ppic",
            0, "", "", "c.ppic==p.ppic"},
        Row{"ppic_malformed_string", "{qrx} call 'BinaryStringtoPictureQRX(junk.ppic)'", 1,
            "result = nil\n", "*", ""},
        Row{"ppic_malformed_file", "{qrx} call --on junk.ppic InvertQRX -o o.png", 2, "",
            "junk.ppic: not a binary picture string", "!o.png"},
        Row{"png_16_bit_note", "{qrx} call --on p16.png InvertQRX -o o.png", 0, "",
            "qrx: note: p16.png: 16-bit PNG reduced to 8 bits per sample (rounded)\n",
            "o.png:png:2x1"},
        Row{"keep_alpha",
            "{qrx} call --on al.png InvertQRX -o p.pam && {qrx} call --on al.png InvertQRX -o "
            "k.pam --keep-alpha",
            0, "", "", "p.pam:pam:160x120:a k.pam=p.pam/al.png"},
        Row{"keep_alpha_console",
            "{qrx} call --host console --on al.png 'ChangeContrastQRX(0.5)' -o p.pam && {qrx} call "
            "--host console --on al.png 'ChangeContrastQRX(0.5)' -o k.pam --keep-alpha",
            0, "", "", "k.pam=p.pam/al.png"},
        Row{"keep_alpha_plain", "{qrx} call --on s.png InvertQRX -o k.pam --keep-alpha", 0, "", "",
            "k.pam=inv.png"},
        Row{"sizes_differ", "{qrx} call 'MergePictureQRX(needle.png, s.png)'", 1, "*",
            "returned nil where a picture was expected\nqrx: note: sizes differ: 24x20 and "
            "160x120\n",
            ""},
        Row{"sizes_differ_three", "{qrx} call 'CombinePicturesQRX(rings.png, needle.png, s.png)'",
            1, "*", "qrx: note: sizes differ: 160x120 and 24x20\n", ""},
        Row{"nil_argument_no_size_note", "{qrx} call 'MergePictureQRX(rings.png, nil)'", 1, "*",
            "returned nil|!sizes differ", ""},
        Row{"legacy_pictures",
            "{qrx} call --legacy-pictures --on s.png 'ScrollQRX(40, 25, false, false)' -o l.png && "
            "{qrx} call --on s.png 'ScrollQRX(40, 25, false, false)' -o p.png",
            0, "*", "", "l.png p.png $ ! cmp -s l.png p.png"},
        Row{"legacy_library_hidden",
            "{qrx} call --legacy-pictures --hide-legacy-library --on s.png InvertQRX --json", 0,
            "\"result\":{", "", ""},
        Row{"save_blocks",
            "{qrx} call --on two.ppm 'CountColorsQRX(r, g, b, n)' --save r=r.bin --save b=b.bin "
            "--json",
            0,
            "\"b\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,2,0|\"g\":[0,0,0,0,"
            "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1,0|\"n\":2|\"r\":[0,0,0,0,0,0,0,0,0,0,2,0",
            "",
            "r.bin:1024b b.bin:1024b $ od -An -tu4 -j40 -N4 r.bin | grep -qw 2 && od -An -tu4 "
            "-j120 -N4 b.bin | grep -qw 2"},
        Row{"plugin_beside_the_tool", "env -u QRX_PLUGIN {bin} list --json", 0,
            "\"pluginVersion\": 9", "", ""},
        Row{"plugin_from_environment", "QRX_PLUGIN={plugin} {bin} list Sepia", 0,
            "class PictureSepiaQRX", "", ""}),
    rowName);

// Refused command lines: exit 2, the reason on standard error, nothing written.
INSTANTIATE_TEST_SUITE_P(
    Usage, Qrx,
    testing::Values(
        Row{"unknown_method", "{qrx} call --on s.png 'InvertQR(1, 2, 3, 4)' -o o.png", 2, "",
            "Picture has no method 'InvertQR'|did you mean InvertQRX", ""},
        Row{"misspelt_in_another_case", "{qrx} call --on s.png 'countcolorsqr(a, b, c, n)'", 2, "",
            "did you mean CountColorsQRX", ""},
        Row{"misspelt_global", "{qrx} call 'TintPictureQ(nil, &c000000, &c000000)'", 2, "",
            "no global method 'TintPictureQ'|did you mean TintPictureQRX", ""},
        Row{"nothing_close", "{qrx} call --on s.png Zyxwvut", 2, "",
            "Picture has no method 'Zyxwvut'|'qrx list' shows every method", ""},
        Row{"global_called_on_picture",
            "{qrx} call --on s.png 'TintPictureQRX(nil, &c000000, &c000000)'", 2, "",
            "it is a global method: leave out --on", ""},
        Row{"picture_method_without_on", "{qrx} call InvertQRX", 2, "",
            "no global method 'InvertQRX'|--on PICTURE", ""},
        Row{"missing_file", "{qrx} call --on missing.png InvertQRX -o o.png", 2, "",
            "--on|missing.png|No such file", ""},
        Row{"broken_file", "{qrx} call --on broken.png InvertQRX -o o.png", 2, "", "broken.png|PNG",
            ""},
        Row{"broken_argument_file",
            "{qrx} call 'TintPictureQRX(broken.png, &c000000, &c000000)' -o o.png", 2, "",
            "argument 1 (source as picture)|broken.png", ""},
        Row{"no_overload", "{qrx} call --on s.png 'InvertQRX(1, 2)' -o o.png", 2, "",
            "no overload of Picture.InvertQRX|InvertQRX(left as integer,top as integer,width as "
            "integer,height as integer) as picture|InvertQRX as picture",
            ""},
        Row{"wrong_argument_type", "{qrx} call --on s.png 'InvertQRX(1, 2, 3, true)'", 2, "",
            "argument 4 (height as integer): 'true' is not an integer", ""},
        Row{"syntax", "{qrx} call --on s.png 'InvertQRX(1, 2'", 2, "", "column 10|^", ""},
        Row{"output_type", "{qrx} call --on s.png InvertQRX -o o.gif", 2, "",
            "-o|o.gif|unknown picture file type", ""},
        Row{"output_folder_missing", "{qrx} call --on s.png InvertQRX -o no/such/o.png", 2, "",
            "-o|o.png", ""},
        Row{"bad_layout", "{qrx} call --layout 7 --on s.png InvertQRX", 2, "", "--layout", ""},
        Row{"bad_host", "{qrx} call --host server --on s.png InvertQRX", 2, "", "--host", ""},
        Row{"bad_version", "{qrx} call --host-version new --on s.png InvertQRX", 2, "",
            "--host-version|'new'", ""},
        Row{"no_command", "{qrx}", 2, "", "give a command: list, call|see qrx --help", ""},
        Row{"unknown_command", "{qrx} frobnicate", 2, "",
            "qrx: unknown command 'frobnicate'; see qrx --help", ""},
        Row{"unknown_option", "{qrx} --frobnicate", 2, "", "unknown option '--frobnicate'", ""},
        Row{"parser_range", "{qrx} call --quality 0 --on s.png InvertQRX -o o.jpg", 2, "",
            "--quality|; see qrx call --help", ""},
        Row{"parser_extra", "{qrx} sepia s.png -o o.png surplus", 2, "",
            "surplus|; see qrx sepia --help", ""},
        Row{"parser_nested", "{qrx} batch sepia --frob s.png --out-dir d", 2, "",
            "--frob|; see qrx batch sepia --help", "!d"},
        Row{"plugin_missing", "QRX_PLUGIN=/nonexistent/p.so {bin} list", 2, "", "/nonexistent/p.so",
            ""},
        Row{"plugin_option_wins", "QRX_PLUGIN={plugin} {bin} --plugin /nonexistent/other.so list",
            2, "", "cannot load the plugin /nonexistent/other.so", ""},
        Row{"save_not_a_block", "{qrx} call --on s.png 'CountColorsQRX(r, g, b, n)' --save n=x.bin",
            2, "", "--save", ""},
        Row{"save_unknown_name",
            "{qrx} call --on s.png 'CountColorsQRX(r, g, b, n)' --save zz=x.bin", 2, "", "--save",
            ""},
        Row{"save_without_path", "{qrx} call --on s.png 'CountColorsQRX(r, g, b, n)' --save r", 2,
            "", "--save", ""},
        Row{"keep_alpha_of_global",
            "{qrx} call --keep-alpha 'MergePictureQRX(s.png, s.png)' -o o.png", 2, "",
            "--keep-alpha: a global method", ""},
        Row{"keep_alpha_without_output", "{qrx} call --keep-alpha --on s.png InvertQRX", 2, "",
            "--keep-alpha: no picture is written without -o", ""},
        Row{"list_no_match", "{qrx} list NoSuchWordAnywhere --json", 2, "",
            "nothing registered holds 'NoSuchWordAnywhere'|'qrx list' shows everything", ""}),
    rowName);

// Standard input and output.
INSTANTIATE_TEST_SUITE_P(
    Streams, Qrx,
    testing::Values(
        Row{"png_to_png", "cat s.png | {qrx} call --on - InvertQRX -o - --format png > o.png", 0,
            "", "", "o.png=inv.png"},
        Row{"png_to_jpeg", "{qrx} call --on - InvertQRX -o - --format jpeg < s.png > o.jpg", 0, "",
            "", "o.jpg:jpeg:160x120 o.jpg~inv.png"},
        Row{"jpeg_to_pam",
            "{qrx} call --on s.png InvertQRX -o i.jpg && {qrx} call --on - InvertQRX -o - --format "
            "pam < i.jpg > o.pam",
            0, "", "", "i.jpg o.pam:pam:160x120 o.pam~s.png"},
        Row{"pam_to_ppm",
            "{qrx} call --on al.png InvertQRX -o i.pam && {qrx} call --on - InvertQRX -o - "
            "--format ppm < i.pam > o.ppm",
            0, "", "", "i.pam o.ppm:ppm:160x120"},
        Row{"ppm_to_ppic",
            "{qrx} call --on s.png InvertQRX -o i.ppm && {qrx} call --on - InvertQRX -o - --format "
            "ppic < i.ppm > o.ppic",
            0, "", "", "i.ppm o.ppic:ppic:160x120"},
        Row{"ppic_to_png",
            "{qrx} call --on s.png InvertQRX -o i.ppic && {qrx} call --on - InvertQRX -o - "
            "--format png < i.ppic > o.png",
            0, "", "", "i.ppic o.png=s.png"},
        Row{"results_to_stderr",
            "{qrx} call --on - 'FindPicture(needle.png, x, y)' -o - --format png < s.png > o.png",
            0, "", "result = true\nx = 104\ny = 12\n", "o.png=s.png"},
        Row{"sepia",
            "{qrx} sepia - -o - --format pam < s.png > p.pam && {qrx} sepia s.png -o f.pam", 0, "",
            "", "p.pam==f.pam"},
        Row{"histogram_plot", "{qrx} histogram s.png -o - --format png > h.png", 0, "",
            "value red green blue", "h.png:png:512x300"},
        Row{"saved_block", "{qrx} call --on s.png 'CountColorsQRX(r, g, b, n)' --save r=- > r.bin",
            0, "", "n = 19200", "r.bin:1024b"},
        Row{"no_format", "{qrx} call --on s.png InvertQRX -o -", 2, "", "--format", ""},
        Row{"bad_format", "{qrx} call --on s.png InvertQRX -o - --format gif", 2, "", "--format",
            ""},
        Row{"json_with_picture", "{qrx} call --on s.png InvertQRX -o - --format png --json", 2, "",
            "--json", ""},
        Row{"histogram_json_with_plot", "{qrx} histogram s.png -o - --format png --json", 2, "",
            "--json", ""},
        Row{"picture_and_block",
            "{qrx} call --on s.png 'CountColorsQRX(r, g, b, n)' --save r=- -o - --format png", 2,
            "", "both want standard output", ""},
        Row{"empty_input", "{qrx} call --on - InvertQRX -o - --format png < /dev/null", 2, "",
            "standard input: empty", ""},
        Row{"not_a_picture", "echo hello | {qrx} call --on - InvertQRX -o - --format png", 2, "",
            "standard input", ""},
        Row{"filter_not_a_picture", "echo hello | {qrx} sepia - -o - --format png", 2, "",
            "standard input: not a PNG, JPEG, PAM or PPM picture", ""}),
    rowName);

// Output paths: what is there is respected; a refused output is left as it was.
INSTANTIATE_TEST_SUITE_P(
    Outputs, Qrx,
    testing::Values(
        Row{"symlink_target_replaced", "{qrx} call --on s.png InvertQRX -o link.png", 0, "", "",
            "target.png=inv.png $ test -L link.png"},
        Row{"symlink_into_other_folder", "{qrx} sepia s.png -o sublink.png", 0, "", "",
            "$ test -L sublink.png && ! cmp -s sub/t.png s.png && test $(ls -A sub) = t.png"},
        Row{"dangling_symlink", "{qrx} call --on s.png InvertQRX -o dangling.png", 0, "", "",
            "new.png=inv.png $ test -L dangling.png"},
        Row{"mode_kept", "{qrx} call --on s.png InvertQRX -o m640.png", 0, "", "",
            "m640.png=inv.png $ test $(stat -c %a m640.png) = 640"},
        Row{"file_not_writable", "{other} call --on s.png InvertQRX -o ro.png", 2, "",
            "ro.png: permission denied", "ro.png==s.png $ test $(stat -c %a ro.png) = 444"},
        Row{"folder_not_writable", "{other} sepia s.png -o rodir/o.png", 2, "", "permission denied",
            "!rodir/o.png"},
        Row{"directory", "{qrx} call --on s.png InvertQRX -o isdir.png", 2, "", "is a directory",
            "$ test -d isdir.png"},
        Row{"fifo",
            "cat fifo > got.png & {qrx} call --on s.png InvertQRX -o fifo --format png; wait", 0,
            "", "", "got.png=inv.png $ test -p fifo"},
        Row{"stream_alias",
            "{qrx} sepia s.png -o /dev/fd/1 --format png > got.png && {qrx} sepia s.png -o "
            "want.png",
            0, "", "", "got.png==want.png"},
        Row{"dev_null", "{qrx} call --on s.png InvertQRX -o /dev/null --format png", 0, "", "", ""},
        Row{"device", "{qrx} call --on s.png InvertQRX -o devnode --format png", 0, "", "",
            "$ test -c devnode"},
        Row{"save_through_symlink",
            "{qrx} call --on s.png 'CountColorsQRX(r, g, b, n)' --save r=dangling.png", 0, "*", "",
            "new.png:1024b $ test -L dangling.png"},
        Row{"batch_through_symlink_keeping_mode", "{qrx} batch InvertQRX s.png --out-dir out", 0,
            "", "*", "t600.png=inv.png $ test -L out/s.png && test $(stat -c %a t600.png) = 600"}),
    rowName);

// Damaged and oversized pictures, through every command that reads one.
INSTANTIATE_TEST_SUITE_P(
    BadInput, Qrx,
    testing::Values(
        Row{"truncated_jpeg", "{qrx} call --on cut.jpg InvertQRX -o o.png", 2, "",
            "cut.jpg: damaged JPEG: Premature end|--accept-damaged", ""},
        Row{"corrupt_jpeg", "{qrx} call --on corrupt.jpg InvertQRX -o o.png", 2, "",
            "corrupt.jpg: damaged JPEG: Corrupt JPEG data", ""},
        Row{"truncated_jpeg_histogram", "{qrx} histogram cut.jpg", 2, "", "cut.jpg: damaged JPEG",
            ""},
        Row{"truncated_jpeg_sepia", "{qrx} sepia cut.jpg -o o.png", 2, "", "cut.jpg: damaged JPEG",
            ""},
        Row{"truncated_jpeg_lut3d", "{qrx} lut3d --cube grade.cube cut.jpg -o o.png", 2, "",
            "cut.jpg: damaged JPEG", ""},
        Row{"truncated_jpeg_standard_input", "{qrx} call --on - InvertQRX -o o.png < cut.jpg", 2,
            "", "standard input: damaged JPEG", ""},
        Row{"truncated_jpeg_argument", "{qrx} call 'MergePictureQRX(good.jpg, cut.jpg)' -o o.png",
            2, "", "cut.jpg: damaged JPEG", ""},
        Row{"truncated_jpeg_batch", "{qrx} batch InvertQRX cut.jpg good.jpg --out-dir d", 1, "",
            "1 of 2|cut.jpg|damaged JPEG", "d/good.jpg:jpeg:64x48"},
        Row{"accept_damaged", "{qrx} call --on cut.jpg InvertQRX -o o.png --accept-damaged", 0, "",
            "note: cut.jpg: damaged JPEG read as far as it goes", "o.png:png:64x48"},
        Row{"accept_damaged_batch", "{qrx} batch --accept-damaged sepia cut.jpg --out-dir d", 0, "",
            "cut.jpg: qrx: note: cut.jpg: damaged JPEG", "d/cut.jpg:jpeg:64x48"},
        Row{"truncated_png", "{qrx} call --on cut.png InvertQRX -o o.png", 2, "",
            "cut.png: bad PNG", ""},
        Row{"png_crc_error", "{qrx} sepia crc.png -o o.png", 2, "", "crc.png: bad PNG: ", ""},
        Row{"huge_jpeg", "{qrx} call --on huge.jpg InvertQRX -o o.png", 2, "",
            "huge.jpg: 40000 x 40000 pixels (1,600,000,000) is more than the limit of 268,435,456 "
            "pixels; raise it with --max-pixels N or QRX_MAX_PIXELS=N (0: no limit)",
            ""},
        Row{"huge_png", "{qrx} histogram huge.png", 2, "",
            "huge.png: 40000 x 40000 pixels|raise it with --max-pixels", ""},
        Row{"limit_from_environment",
            "QRX_MAX_PIXELS=3000 {qrx} call --on good.jpg InvertQRX -o o.png", 2, "",
            "good.jpg: 64 x 48 pixels (3,072) is more than the limit of 3,000", ""},
        Row{"option_wins_over_environment",
            "QRX_MAX_PIXELS=3000 {qrx} call --on good.jpg InvertQRX -o o.png --max-pixels 3072", 0,
            "", "", "o.png:png:64x48"},
        Row{"limit_in_batch", "{qrx} batch --max-pixels 100 sepia good.jpg --out-dir d", 1, "",
            "good.jpg|more than the limit of 100", ""},
        Row{"limit_not_a_number", "{qrx} call --on good.jpg InvertQRX --max-pixels 1e6", 2, "",
            "--max-pixels: '1e6' is not a whole number", ""},
        Row{"out_of_memory",
            "ulimit -v 600000; {qrx} call --on huge.png InvertQRX -o o.png --max-pixels 0", 2, "",
            "huge.png: out of memory for its 40000 x 40000 pixels (6.0 GiB", ""},
        Row{"truncated_wav", "{qrx} waveform cut.wav -o w.png --width 100 --height 40", 0, "",
            "cut.wav: shorter than its header says", "w.png:png:100x40"},
        Row{"huge_waveform", "{qrx} waveform cut.wav -o w.png --width 30000 --height 10000", 2, "",
            "cut.wav: its waveform: 30000 x 10000 pixels (300,000,000) is more than the limit", ""},
        Row{"waveform_limit",
            "{qrx} waveform cut.wav -o w.png --width 300 --height 100 --max-pixels 29999", 2, "",
            "more than the limit of 29,999 pixels", ""}),
    rowName);

// The ICC profile and EXIF block of the picture worked on go into PNG and JPEG results.
INSTANTIATE_TEST_SUITE_P(
    Metadata, Qrx,
    testing::Values(
        Row{"jpeg_to_jpeg", "{qrx} call --on tagged.jpg InvertQRX -o o.jpg", 0, "", "",
            "o.jpg:jpeg:64x48:exif:icc"},
        Row{"jpeg_to_png", "{qrx} call --on tagged.jpg InvertQRX -o o.png", 0, "", "",
            "o.png:png:64x48:exif"},
        Row{"png_to_jpeg", "{qrx} call --on tagged.png 'InvertQRX(1, 1, 5, 5)' -o o.jpg", 0, "", "",
            "o.jpg:jpeg:64x48:exif"},
        Row{"standard_input", "{qrx} call --on - InvertQRX -o o.png < tagged.jpg", 0, "", "",
            "o.png:png:64x48:exif"},
        Row{"lut3d", "{qrx} lut3d --cube grade.cube tagged.jpg -o o.jpg", 0, "", "",
            "o.jpg:jpeg:64x48:exif:icc"},
        Row{"sepia", "{qrx} sepia tagged.jpg -o o.jpg", 0, "", "", "o.jpg:jpeg:64x48:exif:icc"},
        Row{"batch", "{qrx} batch InvertQRX tagged.jpg --out-dir d --format png", 0, "", "*",
            "d/tagged.png:png:64x48:exif"},
        Row{"strip", "{qrx} call --on tagged.jpg InvertQRX -o o.jpg --strip", 0, "", "",
            "o.jpg:jpeg:64x48:bare"},
        Row{"batch_strip", "{qrx} batch sepia --strip tagged.jpg --out-dir d", 0, "", "*",
            "d/tagged.jpg:jpeg:64x48:bare"},
        Row{"global_method_has_no_source",
            "{qrx} call 'CombinePicturesQRX(tagged.jpg, tagged.jpg, tagged.jpg)' -o o.jpg", 0, "",
            "", "o.jpg:jpeg:64x48:bare"}),
    rowName);

// qrx batch: each file as the single-file command does it, failures named, refusals up front.
INSTANTIATE_TEST_SUITE_P(
    Batch, Qrx,
    testing::Values(
        Row{"failures_one_worker",
            "{qrx} batch -j 1 InvertQRX pic.bmp a.ppm broken.png s.png al.png --out-dir d", 1, "",
            "qrx batch: 3 of 5 files done|2 failed|  pic.bmp: |give --format png|  broken.png: "
            "|(exit 2)",
            "d/a.ppm:ppm:13x9 d/s.png=inv.png d/al.png:png:160x120:a"},
        Row{"failures_eight_workers",
            "{qrx} batch -j 8 InvertQRX a.ppm broken.png s.png --out-dir d", 1, "",
            "2 of 3 files done|  broken.png: ", "d/a.ppm d/s.png=inv.png"},
        Row{"call_rect",
            "{qrx} batch -j 2 'InvertQRX(2, 3, 11, 8)' a.ppm s.png --out-dir d && {qrx} call --on "
            "a.ppm 'InvertQRX(2, 3, 11, 8)' -o r.ppm",
            0, "", "*", "d/a.ppm==r.ppm d/s.png"},
        Row{"console_pam",
            "{qrx} batch --host console --layout 1 --format pam InvertQRX al.png --out-dir d && "
            "{qrx} call --host console --layout 1 --on al.png InvertQRX -o r.pam",
            0, "", "*", "d/al.pam==r.pam"},
        Row{"jpeg_quality",
            "{qrx} batch --quality 40 --format jpg InvertQRX s.png --out-dir d && {qrx} call "
            "--quality 40 --on s.png InvertQRX -o r.jpg",
            0, "", "*", "d/s.jpg==r.jpg"},
        Row{"lut3d_rect_web",
            "{qrx} batch --host=web lut3d --rect 1,2,9,7 --cube grade.cube s.png --out-dir d && "
            "{qrx} lut3d --host web --rect 1,2,9,7 --cube grade.cube s.png -o r.png",
            0, "", "*", "d/s.png==r.png"},
        Row{"sepia_raw",
            "{qrx} batch --format=pam sepia --raw al.png --out-dir d && {qrx} sepia --raw al.png "
            "-o r.pam",
            0, "", "*", "d/al.pam==r.pam"},
        Row{"sepia_options_ppm",
            "{qrx} batch sepia --weights 0.5,0.25,0.25 --offsets -10,0,25 --format .PPM s.png "
            "--out-dir d && {qrx} sepia --weights 0.5,0.25,0.25 --offsets=-10,0,25 s.png -o r.ppm",
            0, "", "*", "d/s.ppm==r.ppm"},
        Row{"keep_alpha",
            "{qrx} batch --keep-alpha --format pam InvertQRX al.png --out-dir d && {qrx} call "
            "--keep-alpha --on al.png InvertQRX -o r.pam",
            0, "", "*", "d/al.pam==r.pam"},
        Row{"host_options_reach_workers",
            "{qrx} batch --host-version none InvertQRX a.ppm al.png --out-dir d", 1, "",
            "al.png: Picture.InvertQRX returned nil", "d/a.ppm"},
        Row{"results_in_file_order",
            "{qrx} batch -j 3 'CountColorsQRX(r, g, b, n)' s.png rings.png a.ppm --out-dir d", 0,
            "s.png: r = <MemoryBlock 1024 bytes>|s.png: n = 19200\nrings.png: r = |rings.png: n = "
            "19200\na.ppm: r = |a.ppm: n = 117\n",
            "*", "d/s.png d/rings.png d/a.ppm"},
        Row{"work_folders_of_gone_batches",
            "(exit 0) & p=$!; wait $p; mkdir -p d/.qrx-batch-$p-AbC123 d/.qrx-batch-$$-XyZ789/x "
            "d/.qrx-batch-old; {qrx} batch InvertQRX a.ppm --out-dir d",
            0, "", "*",
            "d/a.ppm $ ! ls -a d | grep -q AbC123 && ls -a d | grep -q XyZ789 && test -d "
            "d/.qrx-batch-old"},
        Row{"progress_bar_on_a_terminal",
            "script -qec \"{qrx} batch -j 2 InvertQRX a.ppm s.png --out-dir d\" /dev/null", 0,
            "\r[|] 2/2|\r\033[K|2 of 2 files done", "", "d/a.ppm d/s.png"},
        Row{"name_clash", "{qrx} batch InvertQRX a.ppm sub/a.ppm --out-dir d", 2, "",
            "would both be written to", "!d"},
        Row{"clash_through_format", "{qrx} batch --format png InvertQRX s.ppm s.png --out-dir d", 2,
            "", "would both be written to", "!d"},
        Row{"clash_in_filter_form", "{qrx} batch sepia a.ppm a.ppm --out-dir d", 2, "",
            "would both be written to", "!d"},
        Row{"replaces_its_input", "{qrx} batch InvertQRX a.ppm --out-dir .", 2, "",
            "would be replaced by its own result", ""},
        Row{"standard_input", "{qrx} batch InvertQRX - --out-dir d", 2, "", "standard input", "!d"},
        Row{"unwritable_format", "{qrx} batch --format gif InvertQRX a.ppm --out-dir d", 2, "",
            "--format: qrx cannot write 'gif'", "!d"},
        Row{"no_fitting_overload", "{qrx} batch 'InvertQRX(1, 2)' a.ppm --out-dir d", 2, "",
            "no overload of Picture.InvertQRX takes these 2 arguments", "!d"},
        Row{"argument_of_wrong_type", "{qrx} batch 'ChangeContrastQRX(true)' a.ppm --out-dir d", 2,
            "", "no overload of Picture.ChangeContrastQRX", "!d"},
        Row{"keep_alpha_with_a_filter", "{qrx} batch --keep-alpha sepia a.ppm --out-dir d", 2, "",
            "--keep-alpha", "!d"},
        Row{"unknown_method", "{qrx} batch InvertQRZ a.ppm --out-dir d", 2, "",
            "Picture has no method 'InvertQRZ'; did you mean InvertQRX", "!d"},
        Row{"malformed_call", "{qrx} batch 'InvertQRX(1,' a.ppm --out-dir d", 2, "",
            "CALL: ", "!d"},
        Row{"no_files", "{qrx} batch InvertQRX --out-dir d", 2, "", "no picture FILES", "!d"},
        Row{"no_call", "{qrx} batch --out-dir d", 2, "", "give a CALL", "!d"},
        Row{"no_out_dir", "{qrx} batch InvertQRX a.ppm", 2, "", "--out-dir is required", ""},
        Row{"zero_jobs", "{qrx} batch -j 0 InvertQRX a.ppm --out-dir d", 2, "", "-j", "!d"},
        Row{"bad_cube", "{qrx} batch lut3d --cube bad.cube a.ppm --out-dir d", 2, "",
            "bad.cube:4:", "!d"},
        Row{"rect_with_curve",
            "{qrx} batch lut3d --cube curve.cube --rect 0,0,2,2 a.ppm --out-dir d", 2, "",
            "1D table", "!d"},
        Row{"bad_offsets", "{qrx} batch sepia --offsets 1,2 a.ppm --out-dir d", 2, "", "--offsets",
            "!d"}),
    rowName);

// qrx sepia and lut3d: the filter's colours inside --rect, the source's outside and its alpha.
INSTANTIATE_TEST_SUITE_P(
    Filters, Qrx,
    testing::Values(Row{"sepia", "{qrx} sepia s.png -o o.png", 0, "", "", "o.png:png:160x120"},
                    Row{"sepia_verbose", "{qrx} sepia --verbose s.png -o o.png", 0, "",
                        "qrx: wrote o.png (160x120)\n", "o.png"},
                    Row{"lut3d", "{qrx} lut3d --cube grade.cube s.png -o o.png", 0, "", "",
                        "o.png:png:160x120"},
                    Row{"sepia_alpha",
                        "{qrx} sepia --raw al.png -o r.png && {qrx} sepia al.png -o o.png", 0, "",
                        "", "r.png:png:160x120 o.png=r.png/al.png"},
                    Row{"sepia_rect",
                        "{qrx} sepia --raw --rect 20,10,90,70 al.png -o r.png && {qrx} sepia "
                        "--rect 20,10,90,70 al.png -o o.png",
                        0, "", "", "o.png=r.png/al.png@20,10,90,70"},
                    Row{"sepia_rect_to_the_edges",
                        "{qrx} sepia --raw --rect -5,30,1000,1000 s.png -o r.png && {qrx} sepia "
                        "--rect -5,30,1000,1000 s.png -o o.png",
                        0, "", "", "o.png=r.png/s.png@0,30,160,120"},
                    Row{"sepia_max_not_above_min",
                        "{qrx} sepia --host console --raw --rect 50,50,50,40 al.png -o r.pam && "
                        "{qrx} sepia --host console --rect 50,50,50,40 al.png -o o.pam",
                        0, "", "", "o.pam=r.pam/al.png@50,50,160,120"},
                    Row{"sepia_rect_of_no_columns",
                        "{qrx} sepia --rect -5,30,0,1000 --offsets 5,5,5 al.png -o o.png", 0, "",
                        "", "o.png=al.png"},
                    Row{"lut3d_rect",
                        "{qrx} lut3d --raw --cube grade.cube --rect 10,5,60,40 al.png -o r.png && "
                        "{qrx} lut3d --cube grade.cube --rect 10,5,60,40 al.png -o o.png",
                        0, "", "", "r.png:png:160x120:a o.png=r.png/al.png@10,5,60,40"},
                    Row{"lut3d_curve", "{qrx} lut3d --cube curve.cube s.png -o o.png", 0, "", "",
                        "o.png=curved.png"},
                    Row{"malformed_cube", "{qrx} lut3d --cube bad.cube s.png -o o.png", 2, "",
                        "bad.cube:4: expected 3 values on a data line, found 2", ""},
                    Row{"missing_cube", "{qrx} lut3d --cube none.cube s.png -o o.png", 2, "",
                        "none.cube: cannot read", ""},
                    Row{"missing_picture", "{qrx} lut3d --cube grade.cube none.png -o o.png", 2, "",
                        "IN: ", ""},
                    Row{"no_cube", "{qrx} lut3d s.png -o o.png", 2, "", "--cube is required", ""},
                    Row{"short_rect", "{qrx} lut3d --cube grade.cube --rect 1,2,3 s.png -o o.png",
                        2, "", "--rect: '1,2,3' is not MINX,MINY,MAXX,MAXY", ""},
                    Row{"rect_not_integer", "{qrx} sepia --rect 1,2,3,4.5 s.png -o o.png", 2, "",
                        "--rect: '4.5' is not a 32-bit integer", ""},
                    Row{"rect_too_large", "{qrx} sepia --rect 0,0,2147483648,1 s.png -o o.png", 2,
                        "", "not a 32-bit integer", ""},
                    Row{"two_weights", "{qrx} sepia --weights 0.3,0.6 s.png -o o.png", 2, "",
                        "--weights: '0.3,0.6' is not R,G,B", ""},
                    Row{"weight_not_a_number", "{qrx} sepia --weights 0.3,x,0.1 s.png -o o.png", 2,
                        "", "--weights: 'x' is not a number", ""},
                    Row{"offset_fraction", "{qrx} sepia --offsets 1.5,0,0 s.png -o o.png", 2, "",
                        "--offsets: '1.5' is not a 32-bit integer", ""},
                    Row{"output_extension", "{qrx} sepia s.png -o o.gif", 2, "", "-o: ", ""},
                    Row{"curve_with_rect",
                        "{qrx} lut3d --cube curve.cube --rect 0,0,5,5 s.png -o o.png", 2, "",
                        "holds a 1D table", ""},
                    Row{"no_output", "{qrx} sepia s.png", 2, "", "--output is required", ""},
                    Row{"bad_host", "{qrx} sepia --host mac s.png -o o.png", 2, "", "--host", ""}),
    rowName);

// qrx waveform, histogram, list, --version and help.
INSTANTIATE_TEST_SUITE_P(
    Tools, Qrx,
    testing::Values(
        Row{"waveform_as_the_method_draws",
            "{qrx} waveform sweep.wav -o w.png --width 100 --height 41 --outline 0 --back "
            "'&c000000' --fore '#ffffff' && {qrx} call 'RenderSamplesQRX(sweep.raw, 0, 1, 100, 41, "
            "0, &c000000, &cFFFFFF, &c203F4E, 16, false)' -o c.png",
            0, "", "", "w.png:png:100x41 w.png=c.png"},
        Row{"waveform_defaults", "{qrx} waveform sample.wav -o w.png", 0, "", "",
            "w.png:png:800x250"},
        Row{"waveform_negative_width", "{qrx} waveform sweep.wav -o w.png --width -5", 2, "",
            "--width: -5 is not in 1 to 32767", ""},
        Row{"waveform_zero_width", "{qrx} waveform sweep.wav -o w.png --width 0", 2, "",
            "--width: 0 is not in 1 to 32767", ""},
        Row{"waveform_tall", "{qrx} waveform sweep.wav -o w.png --height 100000", 2, "",
            "--height: 100000 is not in 1 to 32767", ""},
        Row{"waveform_wide_outline", "{qrx} waveform sweep.wav -o w.png --outline 1000", 2, "",
            "--outline: 1000 is not in 0 to 8", ""},
        Row{"waveform_negative_outline", "{qrx} waveform sweep.wav -o w.png --outline -1", 2, "",
            "--outline: -1 is not in 0 to 8", ""},
        Row{"waveform_bad_colour", "{qrx} waveform sweep.wav -o w.png --fore '#12345'", 2, "",
            "--fore: #12345 is not a colour", ""},
        Row{"waveform_channel", "{qrx} waveform sweep.wav -o w.png --channel 1", 2, "",
            "--channel: 1 is not mix", ""},
        Row{"waveform_no_samples", "{qrx} waveform silent.wav -o w.png", 2, "", "holds no samples",
            ""},
        Row{"waveform_empty_file", "{qrx} waveform empty.wav -o w.png", 2, "", "empty.wav is empty",
            ""},
        Row{"waveform_missing_file", "{qrx} waveform missing.wav -o w.png", 2, "", "missing.wav",
            ""},
        Row{"histogram_table", "{qrx} histogram two.ppm", 0,
            "pixels 2\nvalue red green blue\n0 0 0 0\n|\n10 2 0 0\n|\n20 0 1 0\n|\n30 0 0 2\n|\n40 "
            "0 1 0\n|\n255 0 0 0\n",
            "", ""},
        Row{"histogram_console", "{qrx} histogram --host console two.ppm --json", 0,
            "\"blue\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,2,0|\"green\":["
            "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1,0|\"pixels\":2,\"plot\":null,\"red\":[0,0,0,"
            "0,0,0,0,0,0,0,2,0",
            "", ""},
        Row{"histogram_plot", "{qrx} histogram s.png -o h.png --json", 0, "\"plot\":\"h.png\"", "",
            "h.png:png:512x300"},
        Row{"histogram_plot_not_a_picture", "{qrx} histogram s.png -o h.txt", 2, "", "h.txt",
            "!h.txt"},
        Row{"version", "{qrx} --version", 0, "qrx {version}\n", "", ""},
        Row{"list", "{qrx} list", 0,
            "class PictureSepiaQRX|property SourcePicture as Picture  flags 0x0  direct, "
            "offset|property FactorRed as Double  flags 0x0  getter, setter|class "
            "PictureLut3DQRX|extension Picture|  method InvertQRX as picture  flags "
            "0x4|assignable|global methods",
            "", ""},
        Row{"list_json", "{qrx} list --json | tr -d ' \\n'", 0,
            "\"builtIn\":true|{\"assignable\":false,\"declaration\":\"InvertQRX(leftasinteger,"
            "topasinteger,widthasinteger,heightasinteger)aspicture\",\"flags\":4},{\"assignable\":"
            "false,\"declaration\":\"InvertQRXaspicture\",\"flags\":4}|\"pluginVersion\":9",
            "", ""},
        Row{"list_flags_of_an_old_host", "{qrx} list --json --host-version 2009.0 | tr -d ' \\n'",
            0, "\"declaration\":\"InvertQRXaspicture\",\"flags\":0}", "", ""},
        Row{"list_word_any_case", "{qrx} list invertqrx", 0,
            "InvertQRX(left as integer|InvertQRX as picture|!InvertGrayQRX|!Sepia|!global methods",
            "", ""},
        Row{"list_class_whole", "{qrx} list SEPIA", 0,
            "class PictureSepiaQRX|property SepiaRed|method Run as boolean|!Lut3D|!InvertQRX", "",
            ""},
        Row{"list_declarations", "{qrx} list 'as memoryblock' --json | tr -d ' \\n'", 0,
            "CountColorsQRX|RenderSamplesQRX|\"search\":\"asmemoryblock\"|!InvertQRX|!"
            "\"properties\":[{",
            "", ""},
        Row{"help", "{qrx} --help", 0,
            "  list|  call|  waveform|  lut3d|  sepia|  histogram|  batch|  demo|Examples:", "",
            ""},
        Row{"call_help", "{qrx} call --help", 0,
            "--quality|--on|--json|--keep-alpha|--save|Host "
            "options:|--host-version|2019.1|--legacy-pictures|--hide-legacy-library|Example|  qrx "
            "call ",
            "", ""},
        Row{"sepia_help", "{qrx} sepia --help", 0,
            "--weights|default 40,20,-20|--rect|--raw|Host options:|Example|  qrx sepia ", "", ""},
        Row{"lut3d_help", "{qrx} lut3d --help", 0,
            "--rect|--raw|Host options:|Example|  qrx lut3d ", "", ""},
        Row{"histogram_help", "{qrx} histogram --help", 0,
            "CountColorsQRX|--json|Host options:|Example|  qrx histogram", "", ""},
        Row{"waveform_help", "{qrx} waveform --help", 0,
            "--width INT=800|--height INT=250|--smooth INT=1|--outline INT=1|2 to "
            "8|=&c88B5C4|=&c274C5A|=&c203F4E|--autoscale|--channel TEXT=mix|Host options:|Example",
            "", ""}),
    rowName);

// --raw is the filter class's own result, run through the runtime with the properties the
// options stand for.
TEST(FilterCommands, RawIsTheFilterClassRunWithTheOptions) {
    ScratchDir dir;
    const qrx::Image source = qrx::readImage(kSamples + "sample_alpha.png");
    const auto table = qrx::cli::lutTable(qrx::cli::readCube(kSamples + "grade.cube"));
    struct Case {
        std::string args, cls;
        std::function<void(qrx::Host&, const qrx::Ref&)> set;
        std::array<int32_t, 4> rect;
    };
    const Case cases[] = {
        {"sepia --weights 0.5,0.25,-0.1 --offsets=-10,+0,300 --rect 20,10,90,70",
         "PictureSepiaQRX",
         [](qrx::Host& h, const qrx::Ref& o) {
             for (auto [name, v] :
                  {std::pair{"FactorRed", 0.5}, {"FactorGreen", 0.25}, {"FactorBlue", -0.1}})
                 h.setProperty(o, name, v);
             for (auto [name, v] :
                  {std::pair{"SepiaRed", -10}, {"SepiaGreen", 0}, {"SepiaBlue", 300}})
                 h.setProperty(o, name, int32_t(v));
         },
         {20, 10, 90, 70}},
        {"lut3d --cube " + kSamples + "grade.cube --rect 3,40,150,100",
         "PictureLut3DQRX",
         [&](qrx::Host& h, const qrx::Ref& o) {
             for (uint32_t i = 0; i < 18 * 18 * 18 * 3; ++i)
                 h.assign(o, "Table", {i / 972, i / 54 % 18, i / 3 % 18, i % 3},
                          table[qrx::cli::lutIndex(int(i / 972), int(i / 54 % 18), int(i / 3 % 18),
                                                   int(i % 3))]);
         },
         {3, 40, 150, 100}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        auto r = runShell("{qrx} " + c.args + " --host console --raw " + kSamples +
                          "sample_alpha.png -o " + (dir / "r.pam").string());
        ASSERT_EQ(r.code, 0) << r.err;
        auto host = qrxtest::loadHost(qrxtest::ofKind(qrx::HostKind::Console));
        qrx::Ref obj = host->newInstance(c.cls);
        c.set(*host, obj);
        host->setProperty(obj, "SourcePicture", host->pictureFromImage(source));
        for (int i = 0; i < 4; ++i)
            host->setProperty(obj, std::array{"MinX", "MinY", "MaxX", "MaxY"}[size_t(i)],
                              c.rect[size_t(i)]);
        ASSERT_EQ(std::get<bool>(host->call(obj, "Run", {}).result), true);
        const Image want = std::get<qrx::Ref>(host->getProperty(obj, "DestinationPicture"))
                               .as<qrx::Picture>()
                               ->toImage();
        const Image got = qrx::readImage(dir / "r.pam");
        EXPECT_EQ(got.hasAlpha, want.hasAlpha);
        EXPECT_TRUE(got.rgba == want.rgba);
        EXPECT_NE(want.rgba, source.rgba);
    }
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

const std::vector<std::string> kCommands = {"",      "list",        "call",       "lut3d",
                                            "sepia", "histogram",   "waveform",   "batch",
                                            "demo",  "batch lut3d", "batch sepia"};

// Help fits an 80-column terminal, with the six host options in their own group, last.
TEST(QrxHelp, FitsEightyColumnsWithHostOptionsLast) {
    for (const std::string& words : kCommands) {
        const RunResult r = runShell("{qrx} " + words + " --help");
        ASSERT_EQ(r.code, 0) << words;
        for (const std::string& line : lines(r.out))
            EXPECT_LE(line.size(), 80u) << words << ": " << line;
        const size_t group = r.out.find("\nHost options:\n");
        if (!contains(r.out, "--host-version")) continue;
        ASSERT_NE(group, std::string::npos) << words;
        EXPECT_LT(r.out.find("\nOptions:\n"), group) << words;
        for (const char* opt : {"--host ", "--host-version", "--layout", "--alpha-layout",
                                "--legacy-pictures", "--hide-legacy-library"})
            EXPECT_GT(r.out.find(std::string("  ") + opt), group) << words << ": " << opt;
        const std::string rest = r.out.substr(group, r.out.find("\n\n", group + 1) - group);
        EXPECT_FALSE(contains(rest, "--output") || contains(rest, "--quality")) << words;
    }
}

// ---- Every example of the README and of each command's help, run as printed ----

struct Example {
    std::string name, line;
};

std::vector<Example> allExamples() {
    std::vector<Example> out;
    const std::string readme = readFile(std::string(QRX_SOURCE_DIR) + "/README.md");
    for (const std::string section : {"## Using qrx\n", "## Processing many files\n"}) {
        const size_t begin = readme.find("```sh\n", readme.find(section)),
                     end = readme.find("```\n", begin + 6);
        for (const std::string& line : lines(readme.substr(begin + 6, end - begin - 6)))
            if (contains(line, "build/qrx"))
                out.push_back({"readme_" + std::to_string(out.size() + 1), line});
    }
    for (const std::string& words : kCommands) {
        bool inExamples = false;
        int n = 0;
        for (const std::string& line : lines(runShell("{qrx} " + words + " --help").out)) {
            inExamples = line.starts_with("Example") || (inExamples && line.starts_with("  "));
            if (inExamples && line.starts_with("  "))
                out.push_back({"help_" + std::regex_replace(words, std::regex(" "), "_") + "_" +
                                   std::to_string(++n),
                               line.substr(2)});
        }
    }
    return out;
}

class QrxExamples : public testing::TestWithParam<Example> {};
TEST_P(QrxExamples, RunAsPrinted) {
    const std::string line = GetParam().line;
    const std::string cmd =
        std::regex_replace(line, std::regex(R"((^\s*|[|;&]\s*)(build/)?qrx\b)"), "$1{qrx}");
    ASSERT_TRUE(contains(cmd, "{qrx}")) << line;
    ScratchDir dir;
    fs::copy(kSamples, dir / "samples");
    const auto before = tree(dir.path());
    // On a line of its own, so that a comment at its end stays a comment.
    const RunResult r = runShell("cd " + shellQuote(dir.path()) + " && " + cmd + "\n");
    EXPECT_EQ(r.code, 0) << line << "\n" << r.err;
    EXPECT_TRUE(!r.out.empty() || tree(dir.path()) != before) << line << ": did nothing";
}

INSTANTIATE_TEST_SUITE_P(ReadmeAndHelp, QrxExamples, testing::ValuesIn(allExamples()),
                         [](const auto& info) { return info.param.name; });

TEST(QrxExamples, EveryCommandHasSome) {
    std::string names;
    for (const Example& e : allExamples())
        names += e.name + " ";
    for (const char* source :
         {"readme_20 ", "help__1", "help_list_", "help_call_", "help_lut3d_", "help_sepia_",
          "help_histogram_", "help_waveform_", "help_batch_1", "help_demo_"})
        EXPECT_TRUE(contains(names, source)) << source << " not in " << names;
}

} // namespace
