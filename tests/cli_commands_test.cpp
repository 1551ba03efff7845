// The built qrx run as users run it. Each row of the tables below is
//   NAME | SHELL LINE | EXIT CODE | STANDARD OUTPUT | STANDARD ERROR | CHECKS
// The line runs in a scratch folder holding the samples (s.png, al.png, rings.png, needle.png,
// grade.cube, sample.wav) and every fixture it or its checks name; q is the built qrx. The text
// expected on a stream is "" (nothing), "*" (anything) or parts separated by '|' that appear in
// that order ("!PART": never; \n, \r and \e are a line end, a carriage return and an escape).
// Every file the line makes must be named in the checks, so no stray or half-written output
// goes unnoticed. Checks, separated by blanks:
//   F  F exists          !F  F does not        F==G  same bytes       F~G  close (JPEG, 40 dB)
//   F:png:WxH[:a][:exif][:icc][:bare][:NNNb]  its format (png jpeg pam ppm ppic), size, alpha
//       channel, the EXIF block and ICC profile of the tagged fixtures, no metadata, byte count
//   F=G  same pixels     F=G/H[@x0,y0,x1,y1]  colours of G inside the rectangle (everywhere
//       without one), of H outside it, and H's alpha channel
//   $ CMD  the rest is a shell command that must succeed
#include <gtest/gtest.h>
#include <unistd.h>

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

std::string le(uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += char(v >> (8 * i));
    return s;
}

// The sample with colour c of each pixel made m[4c] + m[4c + 1] r + m[4c + 2] g + m[4c + 3] b.
Image sampleMapped(std::array<int, 12> m) {
    Image s = qrx::readImage(kSample);
    for (size_t i = 0; i < s.rgba.size(); i += 4) {
        const int r = s.rgba[i], g = s.rgba[i + 1], b = s.rgba[i + 2];
        for (size_t c = 0; c < 3; ++c)
            s.rgba[i + c] =
                uint8_t(m[4 * c] + m[4 * c + 1] * r + m[4 * c + 2] * g + m[4 * c + 3] * b);
    }
    return s;
}

// 64 x 48 pixels of noise, whose coded data a damaged byte or marker upsets.
const std::string& jpeg() {
    static const std::string j = [] {
        Image img{64, 48, false, std::vector<uint8_t>(64 * 48 * 4, 255), {}};
        for (size_t i = 0; i < img.rgba.size(); ++i)
            if (i % 4 != 3) img.rgba[i] = uint8_t((i - i / 4) * 7919 % 251);
        return qrx::encodeImage(img, qrx::ImageFormat::Jpeg, 90, "j");
    }();
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
std::string tagged(bool withProfile) {
    auto segment = [](int marker, const std::string& data) {
        return std::string{'\xFF', char(marker)} + be32(uint32_t(data.size() + 2)).substr(2) + data;
    };
    return "\xFF\xD8" + segment(0xE1, std::string("Exif\0\0", 6) + kExif) +
           (withProfile ? segment(0xE2, std::string("ICC_PROFILE\0\x01\x01", 14) + icc()) : "") +
           jpeg().substr(2);
}

// A mono 16-bit WAV of 8000 frames a second: a sweep whose amplitude rises to full scale; and
// its samples as the method reads 16 bits: offset by 32768, from the -1 to 1 scale.
std::string wav(int frames, bool raw = false) {
    std::string data;
    for (int i = 0; i < frames; ++i) {
        const double v = std::lround(32767.0 * i / frames * std::sin(i * i * 1e-4));
        data += le(uint32_t(raw ? std::lround(v / 32768 * 32767) + 32768 : long(v)), 2);
    }
    return raw ? data
               : "RIFF" + le(uint32_t(36 + data.size()), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) +
                     le(1, 2) + le(8000, 4) + le(16000, 4) + le(2, 2) + le(16, 2) + "data" +
                     le(uint32_t(data.size()), 4) + data;
}

// Fixtures: made in a row's folder, in this order, when the row (or a fixture it needs) names
// them. These by code; the shell-made ones below.
const std::vector<std::string> kMadeByCode = {
    "inv.png",     "curved.png", "red.png",   "const.png", "white.png",
    "swapped.png", "good.jpg",   "huge.jpg",  "huge.png",  "p16.png",
    "tagged.jpg",  "tagged.png", "sweep.wav", "sweep.raw", "silent.wav"};
void makeByCode(const std::string& name, const fs::path& p) {
    auto image = [&](std::array<int, 12> m) { qrx::writeImage(p, sampleMapped(m)); };
    if (name == "inv.png") image({255, -1, 0, 0, 255, 0, -1, 0, 255, 0, 0, -1});
    if (name == "curved.png") image({255, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    if (name == "red.png") image({0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0});
    if (name == "const.png") image({10, 0, 0, 0, 20, 0, 0, 0, 30, 0, 0, 0});
    if (name == "white.png") image({255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0});
    if (name == "swapped.png") image({0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0});
    std::string bytes = jpeg();
    if (name == "huge.jpg") bytes.replace(bytes.find("\xFF\xC0") + 5, 4, "\x9C\x40\x9C\x40");
    const std::string huge("\0\0\x9C\x40\0\0\x9C\x40\x08\0\0\0\0", 13), p16("\x10\x02\0\0\0", 5);
    if (name == "huge.png") bytes = pngFile(huge, std::string(4000, '\0'));
    if (name == "p16.png")
        bytes = pngFile(be32(2) + be32(1) + p16, std::string(1, '\0') + std::string(12, '\x12'));
    if (name == "tagged.jpg") bytes = tagged(true);
    if (name == "tagged.png")
        qrx::writeImage(p, qrx::decodeImage(tagged(false), qrx::ImageFormat::Jpeg, "t"));
    if (name.ends_with(".wav") || name.ends_with(".raw"))
        bytes = wav(name == "silent.wav" ? 0 : 8000, name.ends_with(".raw"));
    if (name.ends_with(".jpg") || name.ends_with(".wav") || name.ends_with(".raw") ||
        name == "huge.png" || name == "p16.png")
        writeFile(p, bytes);
}

const char* const kMadeByShell = R"(
cut.jpg | head -c $(($(stat -c %s good.jpg) * 6 / 10)) good.jpg > cut.jpg
corrupt.jpg | cp good.jpg corrupt.jpg && printf '\377\323' | dd of=corrupt.jpg bs=1 seek=$(($(stat -c %s good.jpg) * 7 / 10)) conv=notrunc 2>/dev/null
cut.png | head -c $(($(stat -c %s s.png) / 2)) s.png > cut.png
crc.png | cp s.png crc.png && printf U | dd of=crc.png bs=1 seek=300 conv=notrunc 2>/dev/null
broken.png | printf '\211PNG\r\n\032\nnot a chunk at all' > broken.png
two.ppm | printf 'P6\n2 1\n255\n\n\024\036\n(\036' > two.ppm
a.ppm | (printf 'P6\n13 9\n255\n'; tail -c 351 s.png) > a.ppm
s.ppm | (printf 'P6\n5 3\n255\n'; tail -c 45 al.png) > s.ppm
sub/a.ppm | mkdir sub && (printf 'P6\n5 2\n255\n'; tail -c 30 rings.png) > sub/a.ppm
pic.bmp | (printf 'P6\n4 3\n255\n'; tail -c 36 needle.png) > pic.bmp
junk.ppic | printf 'PPIC but not much more' > junk.ppic
bad.cube | printf 'TITLE "bad"\r\nLUT_3D_SIZE 2\r\n0 0 0\r\n1 0\r\n' > bad.cube
curve.cube | printf 'LUT_1D_SIZE 2\n1 0 0\n0 0 1\n' > curve.cube
swap.cube | printf 'LUT_3D_SIZE 2\n0 0 0\n0 0 1\n0 1 0\n0 1 1\n1 0 0\n1 0 1\n1 1 0\n1 1 1\n' > swap.cube
empty.wav | : > empty.wav
cut.wav | head -c 8000 sweep.wav > cut.wav
fifo | mkfifo fifo
link.png | cp s.png target.png && ln -s target.png link.png
sublink.png | mkdir sub && cp s.png sub/t.png && ln -s sub/t.png sublink.png
dangling.png | ln -s new.png dangling.png
m640.png | cp s.png m640.png && chmod 640 m640.png
ro.png | cp s.png ro.png && chmod 444 ro.png
rodir | mkdir rodir && chmod 555 rodir
isdir.png | mkdir isdir.png
devnode | mknod devnode c 1 3
t600.png | mkdir out && cp s.png t600.png && chmod 600 t600.png && ln -s ../t600.png out/s.png
)";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) out.push_back(line);
    return out;
}

// Makes in dir the fixtures that `text` names, and those their making names.
void makeFixtures(const fs::path& dir, std::string text) {
    std::vector<std::pair<std::string, std::string>> all;
    for (const std::string& name : kMadeByCode)
        all.push_back({name, ""});
    for (const auto& f : rowsOf(kMadeByShell, 2))
        all.push_back({f[0], f[1]});
    std::vector<bool> needed(all.size());
    for (size_t i = all.size(); i-- > 0;)
        if ((needed[i] = contains(text, all[i].first))) text += " " + all[i].second;
    for (size_t i = 0; i < all.size(); ++i) {
        if (needed[i] && i < kMadeByCode.size()) makeByCode(all[i].first, dir / all[i].first);
        const std::string cmd = "cd " + shellQuote(dir) + " && " + all[i].second;
        EXPECT_TRUE(!needed[i] || all[i].second.empty() || runShell(cmd).code == 0) << cmd;
    }
}

std::set<std::string> tree(const fs::path& dir) {
    std::set<std::string> names;
    using It = fs::recursive_directory_iterator;
    for (It it(dir, fs::directory_options::skip_permission_denied); it != It(); ++it)
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
        part = unescape(part);
        if (part.starts_with("!")) {
            EXPECT_FALSE(contains(got, part.substr(1))) << stream << ": " << part << " in:\n"
                                                        << got;
        } else if (size_t p = got.find(part, at); p == std::string::npos) {
            ADD_FAILURE() << stream << ": '" << part << "' not in (from " << at << "):\n" << got;
        } else {
            at = p + part.size();
        }
    }
}

double psnr(const Image& a, const Image& b) {
    double sum = 1e-9;
    for (size_t i = 0; i < a.rgba.size(); ++i)
        if (i % 4 != 3) sum += std::pow(double(a.rgba[i]) - double(b.rgba[i]), 2);
    return 10.0 * std::log10(255.0 * 255.0 * double(a.rgba.size() / 4 * 3) / sum);
}

// What a file is, as the checks name it: its byte count NNNb, and for a picture its format,
// WxH, "a" for an alpha channel, "exif" and "icc" for the tagged fixtures' blocks, "bare" for none.
std::set<std::string> describe(const fs::path& file) {
    const std::string data = readFile(file);
    std::set<std::string> d{std::to_string(data.size()) + "b"};
    auto size = [](int w, int h) { return std::to_string(w) + "x" + std::to_string(h); };
    if (data.starts_with("PPIC"))
        return d.insert("ppic"),
               d.insert(
                   size(data[10] * 256 + uint8_t(data[11]), data[14] * 256 + uint8_t(data[15]))),
               d;
    const auto format = qrx::sniffImageFormat(data);
    if (!format) return d;
    const Image img = qrx::readImage(file);
    const auto &exif = img.metadata.exif, &profile = img.metadata.iccProfile;
    for (const char* a :
         {std::array{"png", "jpeg", "pam", "ppm"}[int(*format)], img.hasAlpha ? "a" : "",
          std::string(exif.begin(), exif.end()) == kExif ? "exif" : "",
          std::string(profile.begin(), profile.end()) == icc() ? "icc" : "",
          img.metadata.empty() ? "bare" : ""})
        d.insert(a);
    return d.insert(size(img.width, img.height)), d;
}

void checkFile(const fs::path& dir, const std::string& t) {
    SCOPED_TRACE(t);
    std::smatch m;
    auto read = [&](const std::string& name) { return qrx::readImage(dir / name); };
    if (t[0] == '!') {
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / t.substr(1))));
    } else if (size_t eq = t.find("=="); eq != std::string::npos) {
        EXPECT_TRUE(readFile(dir / t.substr(0, eq)) == readFile(dir / t.substr(eq + 2)));
    } else if (size_t tilde = t.find('~'); tilde != std::string::npos) {
        EXPECT_GT(psnr(read(t.substr(0, tilde)), read(t.substr(tilde + 1))), 40.0);
    } else if (std::regex_match(t, m, std::regex(R"(([^=]+)=([^/@]+)(/([^@]+))?(@(.*))?)"))) {
        const Image f = read(m[1]), g = read(m[2]), h = m[4].matched ? read(m[4]) : g;
        ASSERT_TRUE(f.width == g.width && f.height == g.height && f.rgba.size() == h.rgba.size());
        EXPECT_EQ(f.hasAlpha, h.hasAlpha);
        int r[4] = {0, 0, f.width, f.height}, wrong = 0;
        if (m[6].matched) std::sscanf(m[6].str().c_str(), "%d,%d,%d,%d", r, r + 1, r + 2, r + 3);
        for (int i = 0; i < f.width * f.height * 4; ++i) {
            const int x = i / 4 % f.width, y = i / 4 / f.width;
            const bool in = x >= r[0] && x < r[2] && y >= r[1] && y < r[3] && i % 4 < 3;
            wrong += f.rgba[size_t(i)] != (in ? g : h).rgba[size_t(i)];
        }
        EXPECT_EQ(wrong, 0);
    } else if (size_t colon = t.find(':'); colon != std::string::npos) {
        const auto d = describe(dir / t.substr(0, colon));
        std::istringstream in(t.substr(colon + 1));
        for (std::string a; std::getline(in, a, ':');)
            EXPECT_TRUE(d.count(a)) << a;
        EXPECT_EQ(d.count("a"), size_t(contains(t + ":", ":a:"))) << "alpha channel";
    } else {
        EXPECT_TRUE(fs::exists(dir / t));
    }
}

struct Row {
    std::string name, cmd;
    int code;
    std::string out, err, check;
};
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}
std::string rowName(const testing::TestParamInfo<Row>& i) {
    return i.param.name;
}
auto rows(const char* table) {
    std::vector<Row> out;
    for (const auto& f : rowsOf(table, 6))
        out.push_back({f.at(0), f.at(1), std::stoi(f.at(2)), f.at(3), f.at(4), f.at(5)});
    return testing::ValuesIn(out);
}

class Qrx : public testing::TestWithParam<Row> {};

TEST_P(Qrx, Runs) {
    const Row& row = GetParam();
    const std::string both = row.cmd + " " + row.check;
    if (contains(both, "devnode") && geteuid() != 0) GTEST_SKIP() << "needs root to make a device";
#if defined(__SANITIZE_ADDRESS__)
    if (contains(row.cmd, "ulimit -v")) GTEST_SKIP() << "AddressSanitizer reserves more memory";
#endif
    ScratchDir dir;
    fs::permissions(dir.path(), fs::perms::all);
    // q is qrx; `other` runs it as another user, for whom this one's files are read-only.
    const std::string shell =
        "cd " + shellQuote(dir.path()) + " || exit 99\nq() { {qrx} \"$@\"; }\nbin=" + QRX_TEST_CLI +
        " plugin=" + QRX_TEST_PLUGIN + "\nother() { " +
        (geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
        "{qrx} \"$@\"; }\n";
    ASSERT_EQ(runShell(shell +
                       "for f in sample.png:s sample_alpha.png:al rings.png:rings "
                       "needle.png:needle; do ln -s " +
                       kSamples + "${f%:*} ${f#*:}.png; done; ln -s " + kSamples + "grade.cube " +
                       kSamples + "sample.wav .")
                  .code,
              0);
    makeFixtures(dir.path(), both);
    const auto before = tree(dir.path());
    const RunResult r = runShell(shell + row.cmd);
    EXPECT_EQ(r.code, row.code) << r.err;
    expectText(r.out, std::regex_replace(row.out, std::regex("\\{version\\}"), QRX_TEST_VERSION),
               "stdout");
    expectText(r.err, row.err, "stderr");
    if (row.code != 0 && !contains(row.cmd, "batch")) {
        EXPECT_TRUE(r.err.starts_with("qrx: ")) << r.err;
    }
    // A new folder is named by its last part after any '-' (a work folder's tag).
    for (std::string made : tree(dir.path()))
        if (!before.count(made)) {
            if (made.ends_with("/")) made.pop_back(), made.erase(0, made.rfind('-') + 1);
            EXPECT_TRUE(contains(both, made)) << "stray " << made;
        }
    const size_t shellCheck = row.check.find("$ ");
    std::istringstream checks(row.check.substr(0, shellCheck));
    for (std::string t; checks >> t;)
        checkFile(dir.path(), t);
    if (shellCheck != std::string::npos) {
        const RunResult c = runShell(shell + row.check.substr(shellCheck + 2));
        EXPECT_EQ(c.code, 0) << c.out << c.err;
    }
}

// qrx call: what it prints, what it writes, and the host options it takes.
INSTANTIATE_TEST_SUITE_P(Call, Qrx, rows(R"(
quiet | q call --on s.png InvertQRX -o o.png | 0 |  |  | o.png:png:160x120 o.png=inv.png
verbose | q call -v --on s.png InvertQRX -o o.png | 0 | result = <Picture 160x120>\n | qrx: wrote o.png (160x120)\n | o.png=inv.png
ppm_layout5 | q call --layout 5 --on s.png InvertQRX -o o.ppm | 0 |  |  | o.ppm:ppm:160x120 o.ppm=inv.png
jpeg_any_case | q call --on s.png InvertQRX -o o.JPG | 0 |  |  | o.JPG:jpeg:160x120 o.JPG~inv.png
jpeg_quality | q call --on s.png InvertQRX -o lo.jpg --quality 30 && q call --on s.png InvertQRX -o hi.jpeg --quality 100 | 0 |  |  | lo.jpg:jpeg:160x120 hi.jpeg~inv.png $ test $(stat -c %s lo.jpg) -lt $(stat -c %s hi.jpeg)
older_desktop_layouts | q call --host-version 2011.0 --layout 1 --alpha-layout 2 --on s.png InvertQRX -o o.png | 0 |  |  | o.png=inv.png
json | q call --on s.png 'InvertGrayQRX(0, 0, -1, -1)' -o o.png --json | 0 | {"byref":{},"exception":null,"result":{"height":120,"path":"o.png","width":160}}\n |  | o.png
global_picture_argument | q call 'TintPictureQRX("s.png", &c808080, &cA0522D)' -o o.png | 0 |  |  | o.png:png:160x120:bare
nil_result | q call 'TintPictureQRX(nil, &c808080, &cA0522D)' -o o.png --json | 1 | "exception":null,"result":null | returned nil where a picture was expected | !o.png
exception_json | q call --on s.png 'ReplaceRedChannelQRX(nil)' --json | 1 | {"byref":{},"exception":{"class":"NilObjectException","message":"The channel picture is nil."},"result":null} | * |
byref_json | q call --on s.png 'FindPicture(needle.png, px, py)' --json | 0 | {"byref":{"px":104,"py":12},"exception":null,"result":true}\n |  |
in_place_result_kept | q call --on s.png 'FindPicture("needle.png", x, y)' -o o.pam | 0 | result = true\nx = 104\ny = 12\n |  | o.pam=s.png
string_result_raw | q call 'PicturetoBinaryStringQRX(s.png)' -o s.ppic | 0 |  |  | s.ppic:ppic:160x120:57640b
ppic_written_and_read | q call --on s.png InvertQRX -o i.ppic && q call --on i.ppic InvertQRX -o o.png | 0 |  |  | i.ppic:ppic:160x120:57640b o.png=s.png
ppic_malformed_file | q call --on junk.ppic InvertQRX -o o.png | 2 |  | junk.ppic: not a binary picture string | !o.png
png_16_bit_note | q call --on p16.png InvertQRX -o o.png | 0 |  | qrx: note: p16.png: 16-bit PNG reduced to 8 bits per sample (rounded)\n | o.png:png:2x1
keep_alpha | q call --on al.png InvertQRX -o p.pam && q call --on al.png InvertQRX -o k.pam --keep-alpha | 0 |  |  | p.pam:pam:160x120:a k.pam=p.pam/al.png
keep_alpha_console | q call --host console --on al.png 'ChangeContrastQRX(0.5)' -o p.pam && q call --host console --on al.png 'ChangeContrastQRX(0.5)' -o k.pam --keep-alpha | 0 |  |  | k.pam=p.pam/al.png
sizes_differ | q call 'MergePictureQRX(needle.png, s.png)' | 1 | * | returned nil where a picture was expected\nqrx: note: sizes differ: 24x20 and 160x120\n |
legacy_pictures | q call --legacy-pictures --on s.png 'ScrollQRX(40, 25, false, false)' -o l.png && q call --on s.png 'ScrollQRX(40, 25, false, false)' -o p.png | 0 | * |  | l.png p.png $ ! cmp -s l.png p.png
save_blocks | q call --on two.ppm 'CountColorsQRX(r, g, b, n)' --save r=r.bin --save b=b.bin --json | 0 | "b":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,2,0|"g":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1,0|"n":2|"r":[0,0,0,0,0,0,0,0,0,0,2,0 |  | r.bin:1024b b.bin:1024b $ od -An -tu4 -j40 -N4 r.bin | grep -qw 2 && od -An -tu4 -j120 -N4 b.bin | grep -qw 2
plugin_beside_the_tool | env -u QRX_PLUGIN $bin list --json | 0 | "pluginVersion": 9 |  |
plugin_from_environment | QRX_PLUGIN=$plugin $bin list Sepia | 0 | class PictureSepiaQRX |  |
)"),
                         rowName);

// Refused command lines: exit 2, the reason on standard error, nothing written.
INSTANTIATE_TEST_SUITE_P(Usage, Qrx, rows(R"(
unknown_method | q call --on s.png 'InvertQR(1, 2, 3, 4)' -o o.png | 2 |  | Picture has no method 'InvertQR'|did you mean InvertQRX |
misspelt_global | q call 'TintPictureQ(nil, &c000000, &c000000)' | 2 |  | no global method 'TintPictureQ'|did you mean TintPictureQRX |
nothing_close | q call --on s.png Zyxwvut | 2 |  | Picture has no method 'Zyxwvut'|'qrx list' shows every method |
missing_file | q call --on missing.png InvertQRX -o o.png | 2 |  | --on|missing.png|No such file |
broken_argument_file | q call 'TintPictureQRX(broken.png, &c000000, &c000000)' -o o.png | 2 |  | argument 1 (source as picture)|broken.png |
no_overload | q call --on s.png 'InvertQRX(1, 2)' -o o.png | 2 |  | no overload of Picture.InvertQRX|InvertQRX(left as integer,top as integer,width as integer,height as integer) as picture|InvertQRX as picture |
syntax | q call --on s.png 'InvertQRX(1, 2' | 2 |  | column 10|^ |
output_type | q call --on s.png InvertQRX -o o.gif | 2 |  | -o|o.gif|unknown picture file type |
bad_layout | q call --layout 7 --on s.png InvertQRX | 2 |  | --layout |
unknown_command | q frobnicate | 2 |  | qrx: unknown command 'frobnicate'; see qrx --help |
parser_range | q call --quality 0 --on s.png InvertQRX -o o.jpg | 2 |  | --quality|; see qrx call --help |
parser_extra | q sepia s.png -o o.png surplus | 2 |  | surplus|; see qrx sepia --help |
parser_nested | q batch sepia --frob s.png --out-dir d | 2 |  | --frob|; see qrx batch sepia --help | !d
plugin_option_wins | QRX_PLUGIN=$plugin $bin --plugin /nonexistent/other.so list | 2 |  | cannot load the plugin /nonexistent/other.so |
plugin_without_entry_point | $bin --plugin ${plugin%/*}/frameworks/ApplicationServices.framework/ApplicationServices list | 2 |  | ApplicationServices has no REALPluginMain |
keep_alpha_of_global | q call --keep-alpha 'MergePictureQRX(s.png, s.png)' -o o.png | 2 |  | --keep-alpha: a global method |
keep_alpha_without_output | q call --keep-alpha --on s.png InvertQRX | 2 |  | --keep-alpha: no picture is written without -o |
list_no_match | q list NoSuchWordAnywhere --json | 2 |  | nothing registered holds 'NoSuchWordAnywhere'|'qrx list' shows everything |
)"),
                         rowName);

// Standard input and output.
INSTANTIATE_TEST_SUITE_P(Streams, Qrx, rows(R"(
png_to_png | cat s.png|q call --on - InvertQRX -o - --format png > o.png | 0 |  |  | o.png=inv.png
png_to_jpeg | q call --on - InvertQRX -o - --format jpeg < s.png > o.jpg | 0 |  |  | o.jpg:jpeg:160x120 o.jpg~inv.png
pam_to_ppm | q call --on al.png InvertQRX -o i.pam && q call --on - InvertQRX -o - --format ppm < i.pam > o.ppm | 0 |  |  | i.pam o.ppm:ppm:160x120
ppic_to_png | q call --on s.png InvertQRX -o i.ppic && q call --on - InvertQRX -o - --format png < i.ppic > o.png | 0 |  |  | i.ppic o.png=s.png
sepia | q sepia - -o - --format pam < s.png > p.pam && q sepia s.png -o f.pam | 0 |  |  | p.pam==f.pam
histogram_plot | q histogram s.png -o - --format png > h.png | 0 |  | value red green blue | h.png:png:512x300
saved_block | q call --on s.png 'CountColorsQRX(r, g, b, n)' --save r=- > r.bin | 0 |  | n = 19200 | r.bin:1024b
no_format | q call --on s.png InvertQRX -o - | 2 |  | --format |
json_with_picture | q call --on s.png InvertQRX -o - --format png --json | 2 |  | --json |
picture_and_block | q call --on s.png 'CountColorsQRX(r, g, b, n)' --save r=- -o - --format png | 2 |  | both want standard output |
filter_not_a_picture | echo hello|q sepia - -o - --format png | 2 |  | standard input: not a PNG, JPEG, PAM or PPM picture |
)"),
                         rowName);

// Output paths: a link, a mode, a FIFO or a device is written as what it is; a refused output is
// left as it was.
INSTANTIATE_TEST_SUITE_P(Outputs, Qrx, rows(R"(
symlink_target_replaced | q call --on s.png InvertQRX -o link.png | 0 |  |  | target.png=inv.png $ test -L link.png
symlink_into_other_folder | q sepia s.png -o sublink.png | 0 |  |  | $ test -L sublink.png && ! cmp -s sub/t.png s.png && test $(ls -A sub) = t.png
mode_kept | q call --on s.png InvertQRX -o m640.png | 0 |  |  | m640.png=inv.png $ test $(stat -c %a m640.png) = 640
file_not_writable | other call --on s.png InvertQRX -o ro.png | 2 |  | ro.png: permission denied | ro.png==s.png $ test $(stat -c %a ro.png) = 444
folder_not_writable | other sepia s.png -o rodir/o.png | 2 |  | permission denied | !rodir/o.png
directory | q call --on s.png InvertQRX -o isdir.png | 2 |  | is a directory | $ test -d isdir.png
fifo | cat fifo > got.png & q call --on s.png InvertQRX -o fifo --format png; wait | 0 |  |  | got.png=inv.png $ test -p fifo
dev_null | q call --on s.png InvertQRX -o /dev/null --format png | 0 |  |  |
device | q call --on s.png InvertQRX -o devnode --format png | 0 |  |  | $ test -c devnode
batch_through_symlink_keeping_mode | q batch InvertQRX s.png --out-dir out | 0 |  | * | t600.png=inv.png $ test -L out/s.png && test $(stat -c %a t600.png) = 600
)"),
                         rowName);

// Damaged and oversized pictures, through every command that reads one.
INSTANTIATE_TEST_SUITE_P(BadInput, Qrx, rows(R"(
truncated_jpeg | q call --on cut.jpg InvertQRX -o o.png | 2 |  | cut.jpg: damaged JPEG: Premature end|--accept-damaged |
corrupt_jpeg | q call --on corrupt.jpg InvertQRX -o o.png | 2 |  | corrupt.jpg: damaged JPEG: Corrupt JPEG data |
truncated_jpeg_histogram | q histogram cut.jpg | 2 |  | cut.jpg: damaged JPEG |
truncated_jpeg_argument | q call 'MergePictureQRX(good.jpg, cut.jpg)' -o o.png | 2 |  | cut.jpg: damaged JPEG |
truncated_jpeg_batch | q batch InvertQRX cut.jpg good.jpg --out-dir d | 1 |  | 1 of 2|cut.jpg|damaged JPEG | d/good.jpg:jpeg:64x48
accept_damaged | q call --on cut.jpg InvertQRX -o o.png --accept-damaged | 0 |  | note: cut.jpg: damaged JPEG read as far as it goes | o.png:png:64x48
accept_damaged_batch | q batch --accept-damaged sepia cut.jpg --out-dir d | 0 |  | cut.jpg: qrx: note: cut.jpg: damaged JPEG | d/cut.jpg:jpeg:64x48
png_crc_error | q sepia crc.png -o o.png | 2 |  | crc.png: bad PNG:  |
huge_jpeg | q call --on huge.jpg InvertQRX -o o.png | 2 |  | huge.jpg: 40000 x 40000 pixels (1,600,000,000) is more than the limit of 268,435,456 pixels; raise it with --max-pixels N or QRX_MAX_PIXELS=N (0: no limit) |
limit_from_environment | QRX_MAX_PIXELS=3000 {qrx} call --on good.jpg InvertQRX -o o.png | 2 |  | good.jpg: 64 x 48 pixels (3,072) is more than the limit of 3,000 |
option_wins_over_environment | QRX_MAX_PIXELS=3000 {qrx} call --on good.jpg InvertQRX -o o.png --max-pixels 3072 | 0 |  |  | o.png:png:64x48
out_of_memory | ulimit -v 600000; q call --on huge.png InvertQRX -o o.png --max-pixels 0 | 2 |  | huge.png: out of memory for its 40000 x 40000 pixels (6.0 GiB |
truncated_wav | q waveform cut.wav -o w.png --width 100 --height 40 | 0 |  | cut.wav: shorter than its header says | w.png:png:100x40
huge_waveform | q waveform cut.wav -o w.png --width 30000 --height 10000 | 2 |  | cut.wav: its waveform: 30000 x 10000 pixels (300,000,000) is more than the limit |
)"),
                         rowName);

// The ICC profile and EXIF block of the picture worked on go into PNG and JPEG results.
INSTANTIATE_TEST_SUITE_P(Metadata, Qrx, rows(R"(
jpeg_to_jpeg | q call --on tagged.jpg InvertQRX -o o.jpg | 0 |  |  | o.jpg:jpeg:64x48:exif:icc
png_to_jpeg | q call --on tagged.png 'InvertQRX(1, 1, 5, 5)' -o o.jpg | 0 |  |  | o.jpg:jpeg:64x48:exif
standard_input | q call --on - InvertQRX -o o.png < tagged.jpg | 0 |  |  | o.png:png:64x48:exif
lut3d | q lut3d --cube grade.cube tagged.jpg -o o.jpg | 0 |  |  | o.jpg:jpeg:64x48:exif:icc
batch | q batch InvertQRX tagged.jpg --out-dir d --format png | 0 |  | * | d/tagged.png:png:64x48:exif
strip | q call --on tagged.jpg InvertQRX -o o.jpg --strip | 0 |  |  | o.jpg:jpeg:64x48:bare
global_method_has_no_source | q call 'CombinePicturesQRX(tagged.jpg, tagged.jpg, tagged.jpg)' -o o.jpg | 0 |  |  | o.jpg:jpeg:64x48:bare
)"),
                         rowName);

// qrx batch: each file as the single-file command does it, failures named, refusals up front.
INSTANTIATE_TEST_SUITE_P(Batch, Qrx, rows(R"(
failures_one_worker | q batch -j 1 InvertQRX pic.bmp a.ppm broken.png s.png al.png --out-dir d | 1 |  | qrx batch: 3 of 5 files done|2 failed|  pic.bmp: |give --format png|  broken.png: |(exit 2) | d/a.ppm:ppm:13x9 d/s.png=inv.png d/al.png:png:160x120:a
console_pam | q batch --host console --layout 1 --format pam InvertQRX al.png --out-dir d && q call --host console --layout 1 --on al.png InvertQRX -o r.pam | 0 |  | * | d/al.pam==r.pam
jpeg_quality | q batch --quality 40 --format jpg InvertQRX s.png --out-dir d && q call --quality 40 --on s.png InvertQRX -o r.jpg | 0 |  | * | d/s.jpg==r.jpg
lut3d_rect_web | q batch --host=web lut3d --rect 1,2,9,7 --cube grade.cube s.png --out-dir d && q lut3d --host web --rect 1,2,9,7 --cube grade.cube s.png -o r.png | 0 |  | * | d/s.png==r.png
sepia_raw | q batch --format=pam sepia --raw al.png --out-dir d && q sepia --raw al.png -o r.pam | 0 |  | * | d/al.pam==r.pam
sepia_options_ppm | q batch sepia --weights 0.5,0.25,0.25 --offsets -10,0,25 --format .PPM s.png --out-dir d && q sepia --weights 0.5,0.25,0.25 --offsets=-10,0,25 s.png -o r.ppm | 0 |  | * | d/s.ppm==r.ppm
keep_alpha | q batch --keep-alpha --format pam InvertQRX al.png --out-dir d && q call --keep-alpha --on al.png InvertQRX -o r.pam | 0 |  | * | d/al.pam==r.pam
host_options_reach_workers | q batch --host-version none InvertQRX a.ppm al.png --out-dir d | 1 |  | al.png: Picture.InvertQRX returned nil | d/a.ppm
results_in_file_order | q batch -j 3 'CountColorsQRX(r, g, b, n)' s.png rings.png a.ppm --out-dir d | 0 | s.png: r = <MemoryBlock 1024 bytes>|s.png: n = 19200\nrings.png: r = |rings.png: n = 19200\na.ppm: r = |a.ppm: n = 117\n | * | d/s.png d/rings.png d/a.ppm
work_folders_of_gone_batches | (exit 0) & p=$!; wait $p; mkdir -p d/.qrx-batch-$p-AbC123 d/.qrx-batch-$$-XyZ789/x d/.qrx-batch-old; q batch InvertQRX a.ppm --out-dir d | 0 |  | * | d/a.ppm $ ! ls -a d | grep -q AbC123 && ls -a d | grep -q XyZ789 && test -d d/.qrx-batch-old
progress_bar_on_a_terminal | script -qec "{qrx} batch -j 2 InvertQRX a.ppm s.png --out-dir d" /dev/null | 0 | \r[|] 2/2|\r\e[K|2 of 2 files done |  | d/a.ppm d/s.png
name_clash | q batch InvertQRX a.ppm sub/a.ppm --out-dir d | 2 |  | would both be written to | !d
clash_through_format | q batch --format png InvertQRX s.ppm s.png --out-dir d | 2 |  | would both be written to | !d
standard_input | q batch InvertQRX - --out-dir d | 2 |  | standard input | !d
unwritable_format | q batch --format gif InvertQRX a.ppm --out-dir d | 2 |  | --format: qrx cannot write 'gif' | !d
no_fitting_overload | q batch 'InvertQRX(1, 2)' a.ppm --out-dir d | 2 |  | no overload of Picture.InvertQRX takes these 2 arguments | !d
keep_alpha_with_a_filter | q batch --keep-alpha sepia a.ppm --out-dir d | 2 |  | --keep-alpha | !d
unknown_method | q batch InvertQRZ a.ppm --out-dir d | 2 |  | Picture has no method 'InvertQRZ'; did you mean InvertQRX | !d
no_files | q batch InvertQRX --out-dir d | 2 |  | no picture FILES | !d
no_out_dir | q batch InvertQRX a.ppm | 2 |  | --out-dir is required |
bad_cube | q batch lut3d --cube bad.cube a.ppm --out-dir d | 2 |  | bad.cube:4: | !d
bad_offsets | q batch sepia --offsets 1,2 a.ppm --out-dir d | 2 |  | --offsets | !d
)"),
                         rowName);

// qrx sepia and lut3d: the filter's colours inside --rect, the source's outside and its alpha.
INSTANTIATE_TEST_SUITE_P(Filters, Qrx, rows(R"(
sepia_verbose | q sepia --verbose s.png -o o.png | 0 |  | qrx: wrote o.png (160x120)\n | o.png
sepia_alpha | q sepia --raw al.png -o r.png && q sepia al.png -o o.png | 0 |  |  | r.png:png:160x120 o.png=r.png/al.png
sepia_rect | q sepia --raw --rect 20,10,90,70 al.png -o r.png && q sepia --rect 20,10,90,70 al.png -o o.png | 0 |  |  | o.png=r.png/al.png@20,10,90,70 r.png=r.png/white.png@20,10,90,70
sepia_weights | q sepia --raw --weights 1,0,0 --offsets 0,0,0 s.png -o o.png | 0 |  |  | o.png=red.png
sepia_offsets | q sepia --raw --weights 0,0,0 --offsets 10,20,30 s.png -o o.png | 0 |  |  | o.png=const.png
lut3d_table_axes | q lut3d --raw --cube swap.cube s.png -o o.png | 0 |  |  | o.png~swapped.png
sepia_max_not_above_min | q sepia --host console --raw --rect 50,50,50,40 al.png -o r.pam && q sepia --host console --rect 50,50,50,40 al.png -o o.pam | 0 |  |  | o.pam=r.pam/al.png@50,50,160,120
sepia_rect_of_no_columns | q sepia --rect -5,30,0,1000 --offsets 5,5,5 al.png -o o.png | 0 |  |  | o.png=al.png
lut3d_rect | q lut3d --raw --cube grade.cube --rect 10,5,60,40 al.png -o r.png && q lut3d --cube grade.cube --rect 10,5,60,40 al.png -o o.png | 0 |  |  | r.png:png:160x120:a o.png=r.png/al.png@10,5,60,40
lut3d_curve | q lut3d --cube curve.cube s.png -o o.png | 0 |  |  | o.png=curved.png
malformed_cube | q lut3d --cube bad.cube s.png -o o.png | 2 |  | bad.cube:4: expected 3 values on a data line, found 2 |
missing_cube | q lut3d --cube none.cube s.png -o o.png | 2 |  | none.cube: cannot read |
no_cube | q lut3d s.png -o o.png | 2 |  | --cube is required |
short_rect | q lut3d --cube grade.cube --rect 1,2,3 s.png -o o.png | 2 |  | --rect: '1,2,3' is not MINX,MINY,MAXX,MAXY |
rect_not_integer | q sepia --rect 1,2,3,4.5 s.png -o o.png | 2 |  | --rect: '4.5' is not a 32-bit integer |
two_weights | q sepia --weights 0.3,0.6 s.png -o o.png | 2 |  | --weights: '0.3,0.6' is not R,G,B |
curve_with_rect | q lut3d --cube curve.cube --rect 0,0,5,5 s.png -o o.png | 2 |  | holds a 1D table |
bad_host | q sepia --host mac s.png -o o.png | 2 |  | --host |
)"),
                         rowName);

// qrx waveform, histogram, list, --version and help.
INSTANTIATE_TEST_SUITE_P(Tools, Qrx, rows(R"(
waveform_as_the_method_draws | q waveform sweep.wav -o w.png --width 100 --height 41 --outline 0 --back '&c000000' --fore '#ffffff' && q call 'RenderSamplesQRX(sweep.raw, 0, 1, 100, 41, 0, &c000000, &cFFFFFF, &c203F4E, 16, false)' -o c.png | 0 |  |  | w.png:png:100x41 w.png=c.png
waveform_defaults | q waveform sample.wav -o w.png | 0 |  |  | w.png:png:800x250
waveform_zero_width | q waveform sweep.wav -o w.png --width 0 | 2 |  | --width: 0 is not in 1 to 32767 |
waveform_wide_outline | q waveform sweep.wav -o w.png --outline 1000 | 2 |  | --outline: 1000 is not in 0 to 8 |
waveform_negative_outline | q waveform sweep.wav -o w.png --outline -1 | 2 |  | --outline: -1 is not in 0 to 8 |
waveform_bad_colour | q waveform sweep.wav -o w.png --fore '#12345' | 2 |  | --fore: #12345 is not a colour |
waveform_no_samples | q waveform silent.wav -o w.png | 2 |  | holds no samples |
histogram_table | q histogram two.ppm | 0 | pixels 2\nvalue red green blue\n0 0 0 0\n|\n10 2 0 0\n|\n20 0 1 0\n|\n30 0 0 2\n|\n40 0 1 0\n|\n255 0 0 0\n |  |
histogram_console | q histogram --host console two.ppm --json | 0 | "blue":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,2,0|"green":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1,0|"pixels":2,"plot":null,"red":[0,0,0,0,0,0,0,0,0,0,2,0 |  |
histogram_plot | q histogram s.png -o h.png --json | 0 | "plot":"h.png" |  | h.png:png:512x300
version | q --version | 0 | qrx {version}\n |  |
list | q list | 0 | class PictureSepiaQRX|property SourcePicture as Picture  flags 0x0  direct, offset|property FactorRed as Double  flags 0x0  getter, setter|class PictureLut3DQRX|extension Picture|  method InvertQRX as picture  flags 0x4|assignable|global methods |  |
list_json | q list --json|tr -d ' \n' | 0 | "builtIn":true|{"assignable":false,"declaration":"InvertQRX(leftasinteger,topasinteger,widthasinteger,heightasinteger)aspicture","flags":4},{"assignable":false,"declaration":"InvertQRXaspicture","flags":4}|"pluginVersion":9 |  |
list_flags_of_an_old_host | q list --json --host-version 2009.0|tr -d ' \n' | 0 | "declaration":"InvertQRXaspicture","flags":0} |  |
list_word_any_case | q list invertqrx | 0 | InvertQRX(left as integer|InvertQRX as picture|!InvertGrayQRX|!Sepia|!global methods |  |
list_declarations | q list 'as memoryblock' --json|tr -d ' \n' | 0 | CountColorsQRX|RenderSamplesQRX|"search":"asmemoryblock"|!InvertQRX|!"properties":[{ |  |
help | q --help | 0 |   list|  call|  waveform|  lut3d|  sepia|  histogram|  batch|  demo|Examples: |  |
call_help | q call --help | 0 | --quality|--on|--json|--keep-alpha|--save|Host options:|--host-version|2019.1|--legacy-pictures|--hide-legacy-library|Example|  qrx call  |  |
sepia_help | q sepia --help | 0 | --weights|default 40,20,-20|--rect|--raw|Host options:|Example|  qrx sepia  |  |
waveform_help | q waveform --help | 0 | --width INT=800|--height INT=250|--smooth INT=1|--outline INT=1|2 to 8|=&c88B5C4|=&c274C5A|=&c203F4E|--autoscale|--channel TEXT=mix|Host options:|Example |  |
)"),
                         rowName);

const std::vector<std::string> kCommands = {"",      "list",        "call",       "lut3d",
                                            "sepia", "histogram",   "waveform",   "batch",
                                            "demo",  "batch lut3d", "batch sepia"};

// Help fits an 80-column terminal, with the six host options in their own group, last.
TEST(QrxHelp, FitsEightyColumnsWithHostOptionsLast) {
    for (const std::string& words : kCommands) {
        const std::string help = runShell("{qrx} " + words + " --help").out;
        std::istringstream in(help);
        for (std::string line; std::getline(in, line);)
            EXPECT_LE(line.size(), 80u) << words << ": " << line;
        const size_t group = help.find("\nHost options:\n");
        // The groups and the host options in this order (searched in turn, not by a regular
        // expression, whose backtracking overflows the stack on texts this long).
        size_t at = 0;
        for (const char* part :
             {"\nOptions:\n", "\nHost options:\n  --host ", "  --host-version", "  --layout",
              "  --alpha-layout", "  --legacy-pictures", "  --hide-legacy-library"})
            if (contains(help, "--host-version") && at != std::string::npos) {
                EXPECT_NE(at = help.find(part, at), std::string::npos) << words << ": " << part;
            }
        const std::string rest =
            help.substr(std::min(group, help.size()), help.find("\n\n", group + 1) - group);
        EXPECT_FALSE(contains(rest, "--output") || contains(rest, "--quality")) << words;
    }
}

// ---- Every example of the README and of each command's help, run as printed ----

using Example = std::pair<std::string, std::string>; // name, line

std::vector<Example> allExamples() {
    std::vector<Example> out;
    const std::string readme = readFile(std::string(QRX_SOURCE_DIR) + "/README.md");
    for (const std::string section : {"## Using qrx\n", "## Processing many files\n"}) {
        const size_t begin = readme.find("```sh\n", readme.find(section));
        for (const std::string& line :
             lines(readme.substr(begin + 6, readme.find("```\n", begin + 6) - begin - 6)))
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
    const std::string line = GetParam().second;
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
                         [](const auto& info) { return info.param.first; });

} // namespace
