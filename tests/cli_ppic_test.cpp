// ".ppic" files through qrx: binary picture strings as an image format for --on, picture
// arguments and -o, converted by the plugin's own global methods.
#include <gtest/gtest.h>

#include <string>

#include "cli_util_test.h"
#include "image_io.h"

namespace {

using qrxclitest::readFile;
using qrxclitest::runQrx;
using qrxclitest::ScratchDir;

using qrxclitest::kSample;

uint32_t bigEndianAt(const std::string& s, size_t at) {
    return uint32_t(uint8_t(s[at])) << 24 | uint32_t(uint8_t(s[at + 1])) << 16 |
           uint32_t(uint8_t(s[at + 2])) << 8 | uint8_t(s[at + 3]);
}

// The red, green and blue bytes of every pixel.
std::string colorsOf(const qrx::Image& img) {
    std::string out;
    for (size_t i = 0; i < img.rgba.size(); i += 4)
        out.append(reinterpret_cast<const char*>(&img.rgba[i]), 3);
    return out;
}

TEST(QrxPpic, PictureWrittenAsBinaryStringAndReadBack) {
    ScratchDir dir;
    const std::string ppic = (dir / "b.ppic").string();
    auto r = runQrx({"call", "--on", kSample, "InvertQRX", "-o", ppic});
    ASSERT_EQ(r.code, 0) << r.err;
    const qrx::Image sample = qrx::readImage(kSample);
    const std::string s = readFile(ppic);
    ASSERT_EQ(s.size(), 40 + size_t(sample.width) * sample.height * 3);
    EXPECT_EQ(s.substr(0, 4), "PPIC");
    EXPECT_EQ(bigEndianAt(s, 4), s.size());
    EXPECT_EQ(bigEndianAt(s, 8), uint32_t(sample.width));
    EXPECT_EQ(bigEndianAt(s, 12), uint32_t(sample.height));
    // The pixels are the inverted sample's.
    std::string inverted = colorsOf(sample);
    for (char& c : inverted)
        c = char(255 - uint8_t(c));
    EXPECT_EQ(s.substr(40), inverted);

    // A .ppic input: inverting again gives the sample back.
    const std::string png = (dir / "c.png").string();
    r = runQrx({"call", "--on", ppic, "InvertQRX", "-o", png});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(colorsOf(qrx::readImage(png)), colorsOf(sample));
}

TEST(QrxPpic, ConvertsToPngAndBackByteForByte) {
    ScratchDir dir;
    const std::string first = (dir / "a.ppic").string(), png = (dir / "a.png").string(),
                      second = (dir / "b.ppic").string();
    ASSERT_EQ(runQrx({"call", "PicturetoBinaryStringQRX(" + kSample + ")", "-o", first}).code, 0);
    auto r = runQrx({"call", "BinaryStringtoPictureQRX(" + first + ")", "-o", png});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(colorsOf(qrx::readImage(png)), colorsOf(qrx::readImage(kSample)));
    // A picture argument and -o both take .ppic.
    r = runQrx({"call", "PicturetoBinaryStringQRX(" + png + ")", "-o", second});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(second), readFile(first));
    r = runQrx(
        {"call", "BinaryStringtoPictureQRX(" + first + ")", "-o", (dir / "c.ppic").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(dir / "c.ppic"), readFile(first));
}

TEST(QrxPpic, AFileThatIsNoBinaryPictureIsRefusedByName) {
    ScratchDir dir;
    const std::string bad = (dir / "bad.ppic").string();
    qrxclitest::writeFile(bad, "PPIC but not much more");
    auto r = runQrx({"call", "--on", bad, "InvertQRX", "-o", (dir / "x.png").string()});
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("bad.ppic"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "x.png"));
}

} // namespace
