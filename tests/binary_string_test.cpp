// Binary picture strings that are random, truncated or inconsistent give nil or a picture whose
// pixels lie inside the string: the reader never reads past the string's end (the sanitizer run
// watches the reads; the results and the well-formed strings are held to their model by
// ops_driver_test.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "qrx/host.h"
#include "support.h"

namespace {

using qrx::Picture;
using qrx::Ref;
using qrx::Value;
using qrxtest::HostCase;
using Bytes = std::vector<uint8_t>;

void putBE(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v >> 24), b[at + 1] = uint8_t(v >> 16), b[at + 2] = uint8_t(v >> 8),
    b[at + 3] = uint8_t(v);
}

uint32_t getBE(const Bytes& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// A well-formed string for w by h pixels of the given bytes (3 per pixel), data at offset d.
Bytes makeString(int32_t w, int32_t h, const Bytes& pixels, uint32_t d = 40) {
    Bytes b(d, 0);
    b[0] = 'P', b[1] = 'P', b[2] = 'I', b[3] = 'C';
    b.insert(b.end(), pixels.begin(), pixels.end());
    putBE(b, 4, uint32_t(b.size()));
    putBE(b, 8, uint32_t(w));
    putBE(b, 12, uint32_t(h));
    putBE(b, 16, 32);
    putBE(b, 20, d);
    return b;
}

Bytes randomPixels(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& v : b)
        v = uint8_t(rng());
    return b;
}

// The picture read from the bytes, or null.
Ref fromString(qrx::Host& host, const Bytes& bytes) {
    Ref s =
        host.newString(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                       kREALTextEncodingRaw);
    qrx::CallResult r = qrxtest::auditedGlobal(host, "BinaryStringtoPictureQRX", {s});
    EXPECT_FALSE(r.exception);
    const Ref* p = std::get_if<Ref>(&r.result);
    return p ? *p : Ref();
}

class PpicOnHost : public testing::TestWithParam<HostCase> {
  protected:
    void SetUp() override { host = qrxtest::loadHost(GetParam().config); }
    bool alphaCase() const { return GetParam().alpha; }
    Ref picture(int w, int h, unsigned seed) {
        return host->pictureFromImage(qrxtest::patternImage(w, h, alphaCase(), seed));
    }
    std::unique_ptr<qrx::Host> host;
};

TEST_P(PpicOnHost, RandomAndTruncatedStringsNeverReadPastTheirEnd) {
    std::mt19937 rng(11);
    const Bytes good = makeString(5, 4, randomPixels(60, 2));
    for (int i = 0; i < 200; ++i) {
        Bytes b;
        switch (i % 4) {
        case 0: // any bytes behind a valid magic
            b = randomPixels(rng() % 80, rng());
            if (b.size() >= 4) b[0] = 'P', b[1] = 'P', b[2] = 'I', b[3] = 'C';
            break;
        case 1: // a truncated string with its length field made to match
            b.assign(good.begin(), good.begin() + long(rng() % good.size()));
            if (b.size() >= 8) putBE(b, 4, uint32_t(b.size()));
            break;
        case 2: // one header word replaced by a random value
            b = good;
            putBE(b, 4 * (2 + rng() % 4), rng());
            break;
        default: // random sizes and offset, consistent length
            b = good;
            putBE(b, 8, rng() % 8);
            putBE(b, 12, rng() % 8);
            putBE(b, 20, rng() % 64);
            break;
        }
        Ref pic = fromString(*host, b);
        if (!pic) continue;
        // Whatever was accepted holds its pixels inside the string.
        auto* p = pic.as<Picture>();
        const uint64_t need = uint64_t(getBE(b, 20)) + uint64_t(p->width()) * p->height() * 3;
        EXPECT_LE(need, b.size());
        EXPECT_EQ(uint32_t(p->width()), getBE(b, 8));
        EXPECT_EQ(uint32_t(p->height()), getBE(b, 12));
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, PpicOnHost, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

} // namespace
