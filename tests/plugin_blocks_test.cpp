// The plugin's building blocks, linked statically and bound to a real host runtime as
// REALPluginMain would bind them, without registering anything: strings in every encoding and on
// old and new hosts, editor acquisition and rows, refused locks, and the two ways a picture is
// copied. (Reading and writing every pixel layout, exceptions, console flags and class records are
// held by the driver and the surface snapshot.)
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <set>
#include <string>

#include "bitmap_context.h"
#include "host/helpers.h"
#include "host/services.h"
#include "hwy/targets.h"
#include "pixels/copy.h"
#include "pixels/editor.h"
#include "qrx/host.h"
#include "simd/targets.h"
#include "support.h"

namespace {

using qrx::Host;
using qrx::HostConfig;
using qrx::Picture;
using qrx::Ref;

class OnRuntime : public testing::Test {
  protected:
    // Binds the linked plugin code to a new host as the entry point would, and lets it decide
    // the host's kind again.
    void start(HostConfig config = {}) {
        host = std::make_unique<Host>(config);
        host->makeCurrent();
        UseResolver(Host::resolver());
        gHostVersion = config.version.value_or(0.0);
        IsDesktop = IsConsole = false;
    }
    void TearDown() override {
        if (host) qrxtest::expectQuiet(*host);
    }
    Ref adopt(void* handle) { return Ref::adopt(host->fromHandle(handle)); }
    REALpicture handleOf(const Ref& r) { return static_cast<REALpicture>(r->handle()); }

    std::unique_ptr<Host> host;
};

std::string utf32(const std::u32string& s) {
    std::string out;
    for (char32_t c : s)
        for (int i = 0; i < 4; ++i)
            out.push_back(char(c >> (8 * i)));
    return out;
}

// Bytes, how many of them are passed (kWhole: all), their encoding, and the string made (none:
// no string) with its encoding.
struct BuildCase {
    const char* name;
    std::string bytes;
    long long length;
    uint32_t encoding;
    std::optional<std::string> text;
    uint32_t resultEncoding;
};

constexpr long long kWhole = LLONG_MIN;
constexpr uint32_t k8 = kREALTextEncodingUTF8, k32 = kREALTextEncodingUTF32,
                   kRaw = kREALTextEncodingRaw;
// clang-format off
const BuildCase kBuildCases[] = {
    {"utf32_two", utf32(U"AB"), kWhole, k32, "AB", k8},
    {"utf32_three_bytes_is_empty", utf32(U"AB"), 3, k32, "", k8},
    {"utf32_six_bytes_one_unit", utf32(U"AB"), 6, k32, "A", k8},
    {"utf32_eight_of_nine_bytes", utf32(U"ABC"), 9, k32, "AB", k8},
    // Beyond U+FFFF only the low 16 bits are kept: U+1F600 becomes U+F600.
    {"utf32_astral_truncated", utf32(U"\U0001F600"), kWhole, k32, "\xEF\x98\x80", k8},
    {"utf16", std::string("h\0i\0\xE9\0", 6), kWhole, kREALTextEncodingUTF16, "hi\xC3\xA9", k8},
    {"raw", std::string("\xFF\0A", 3), kWhole, kRaw, std::string("\xFF\0A", 3), kRaw},
    {"ascii", "ok", kWhole, kREALTextEncodingASCII, "ok", kREALTextEncodingASCII},
    {"zero_length", "x", 0, kRaw, std::nullopt, 0},
    {"negative_length", "x", -5, kRaw, std::nullopt, 0},
    {"too_long", "x", 2147483647LL, kRaw, std::nullopt, 0},
    // Long text takes the heap path, with the same result.
    {"utf32_long", utf32(std::u32string(999, U'x') + U"\u00E9"), kWhole, k32, std::string(999, 'x') + "\xC3\xA9", k8},
};
// clang-format on

TEST_F(OnRuntime, BuildStringEncodingsAndLengths) {
    start();
    for (const BuildCase& c : kBuildCases) {
        const long long length = c.length == kWhole ? (long long)c.bytes.size() : c.length;
        REALstring s = REALBuildUnicodeString(c.bytes.data(), length, c.encoding);
        ASSERT_EQ(s != nullptr, c.text.has_value()) << c.name;
        if (!s) continue;
        Ref str = adopt(s);
        EXPECT_EQ(std::pair(str.as<qrx::String>()->text(), str.as<qrx::String>()->encoding),
                  std::pair(*c.text, c.resultEncoding))
            << c.name;
    }
}

// Reading string bytes: the string-data service, its fallback through StringGetCString and LenB
// (a copy of the plugin's own, ending in four zero bytes), and the record of older hosts.
const std::tuple<const char*, std::optional<double>, std::set<std::string>, bool> kViewCases[] = {
    {"string_data_service", 2019.1, {}, true},
    {"fallback_copy", 2019.1, {"PluginGetStringData", "PluginDisposeStringData"}, true},
    {"fallback_without_cstring", 2019.1, {"PluginGetStringData", "StringGetCString"}, false},
    {"fallback_without_lenb", 2019.1, {"PluginGetStringData", "REALLoadGlobalMethod"}, false},
    {"record_of_older_host", 2012.9, {"PluginGetStringData"}, true},
    {"no_version_reads_record", std::nullopt, {}, true},
};

TEST_F(OnRuntime, StringViewBytesAsStored) {
    for (const auto& [name, version, withheld, readable] : kViewCases) {
        SCOPED_TRACE(name);
        HostConfig config;
        config.version = version;
        config.withheld = withheld;
        start(config);
        const std::string text = "caf\xC3\xA9 au lait";
        Ref s = host->newString(text, kREALTextEncodingUTF8);
        {
            rbData view(static_cast<REALstring>(s->handle()));
            const std::string got = view.data ? std::string((char*)view.data, view.size) : "";
            EXPECT_EQ(got, readable ? text : "");
            if (view.ownsStringData && withheld.count("PluginGetStringData")) {
                EXPECT_EQ(0, std::memcmp(view.data + view.size, "\0\0\0\0", 4));
            }
        }
        EXPECT_EQ(s->refCount(), 1) << "the view must drop what it held";
    }
}

TEST_F(OnRuntime, AcquiringASecondPictureReleasesTheFirst) {
    start();
    Ref a = host->newPicture(4, 4, false), b = host->newPicture(4, 4, false);
    auto* pa = a.as<Picture>();
    PictureEditor editor;
    ASSERT_TRUE(editor.GetPictureEditor(handleOf(a)));
    EXPECT_EQ(std::pair(pa->refCount(), pa->descriptionLocks), std::pair(2, 1));
    const int clears = pa->cacheClears;
    ASSERT_TRUE(editor.GetPictureEditor(handleOf(b)));
    EXPECT_EQ(std::pair(pa->refCount(), pa->descriptionLocks), std::pair(1, 0));
    EXPECT_EQ(pa->cacheClears, clears + 1) << "an editor that writes clears the cache on release";
    editor.clear();
    editor.clear(); // releasing twice is harmless
}

// A refused bitmap lock on each side of 2012.0: older hosts (and hosts without a version) count
// it as held, and only there does the plugin unlock it.
TEST_F(OnRuntime, RefusedLockIsUndoneOnlyWhereTheHostKeepsIt) {
    for (std::optional<double> version : {std::optional(2011.99), {2012.0}, {}, {2019.1}}) {
        HostConfig config;
        config.version = version;
        config.bitmapLockFails = true;
        start(config);
        Ref pic = host->newPicture(3, 2, false);
        REALpictureDescription d{};
        EXPECT_FALSE(REALLockPictureDescriptionX(handleOf(pic), &d, kPictureTypeBitmapContext));
        PictureEditor reader; // reads from a copy
        EXPECT_TRUE(reader.GetPictureEditor(handleOf(pic), 1, 0));
        reader.clear();
        qrxtest::expectQuiet(*host);
    }
}

// A writing editor on every host: each row where the picture keeps it, row 0 again past the last.
class EditorRows : public OnRuntime, public testing::WithParamInterface<qrxtest::HostCase> {};

TEST_P(EditorRows, RowsAdvanceAndWrapToRowZero) {
    start(GetParam().config);
    Ref pic = host->newPicture(3, 4, GetParam().alpha);
    Picture& p = *pic.as<Picture>();
    PictureEditor e;
    const bool refused = GetParam().config.bitmapLockFails && !GetParam().alpha;
    ASSERT_EQ(e.GetPictureEditor(handleOf(pic)), !refused);
    if (refused) return;
    auto row = [&](int y) -> void* {
        if (!p.bitmapContext()) return p.trueColorImage()->rowTable[y];
        return static_cast<uint8_t*>(CGBitmapContextGetData(p.bitmapContext())) +
               y * p.bytesPerRow();
    };
    EXPECT_EQ(e.rowPointer, row(0));
    for (int y = 1; y < 4; ++y) {
        e.AddPixelRow();
        EXPECT_EQ(std::pair((void*)e.rowPointer, (void*)e.GetRow(y)), std::pair(row(y), row(y)));
    }
    e.AddPixelRow();
    EXPECT_EQ(std::pair((void*)e.rowPointer, (void*)e.GetRow(9)), std::pair(row(0), row(0)));
}

INSTANTIATE_TEST_SUITE_P(Hosts, EditorRows, testing::ValuesIn(qrxtest::everyHost()),
                         qrxtest::caseName);

TEST_F(OnRuntime, WriterSizeLimitsAndGivenPictures) {
    start();
    for (auto [w, h] : {std::pair{1, 32768}, {0, 5}, {32768, 1}}) // refused before asking the host
        EXPECT_FALSE(PictureWriter().NewPictureWriter(w, h)) << w << "x" << h;
    EXPECT_EQ(host->resolveCount("newPicture"), 0u);
    EXPECT_TRUE(PictureWriter().NewPictureWriter(32767, 1));
    // Into a given picture when it is large enough.
    Ref dest = host->newPicture(10, 10, false);
    PictureWriter writer;
    ASSERT_TRUE(writer.NewPictureWriter(handleOf(dest), 10, 8));
    EXPECT_EQ(writer.picture, handleOf(dest));
    ASSERT_TRUE(writer.NewPictureWriter(handleOf(dest), 11, 8));
    EXPECT_NE(writer.picture, handleOf(dest)) << "too small: a new picture";
    EXPECT_EQ(writer.width, 11);
    EXPECT_EQ(host->resolveCount("newPicture"), 1u) << "a service found is kept";
}

TEST_F(OnRuntime, OwnCopyOnlyForWholeRecordsOfEqualSize) {
    start(qrxtest::ofKind(qrx::HostKind::Console));
    Ref src = host->pictureFromImage(qrxtest::patternImage(6, 4, false, 5));
    Ref same = host->newPicture(6, 4, false), other = host->newPicture(5, 4, false);
    EXPECT_FALSE(OwnCopy(handleOf(same), handleOf(src), 1, 0, 6, 4, 0, 0, 6, 4));
    EXPECT_EQ(same.as<Picture>()->cacheClears, 0) << "an offset copy touches nothing";
    const int clears = other.as<Picture>()->cacheClears;
    EXPECT_FALSE(OwnCopy(handleOf(other), handleOf(src), 0, 0, 6, 4, 0, 0, 6, 4));
    EXPECT_EQ(other.as<Picture>()->cacheClears, clears + 1) << "cleared even when nothing moved";
    ASSERT_TRUE(OwnCopy(handleOf(same), handleOf(src), 0, 0, 6, 4, 0, 0, 6, 4));
    EXPECT_EQ(same.as<Picture>()->toImage().rgba, src.as<Picture>()->toImage().rgba);
}

// A clone is drawn through the host's DrawPicture, or copied record to record without it; an
// empty picture has no clone.
TEST_F(OnRuntime, CloneDrawsThroughTheHostOrCopiesRecords) {
    for (bool withDrawPicture : {true, false}) {
        HostConfig config = qrxtest::ofKind(qrx::HostKind::Console);
        if (!withDrawPicture) config.withheld = {"REALLoadObjectMethod"};
        start(config);
        Ref src = host->pictureFromImage(qrxtest::patternImage(7, 3, false, 9));
        Ref copy = adopt(ClonePicture(handleOf(src)));
        ASSERT_TRUE(copy) << withDrawPicture;
        EXPECT_NE(copy.get(), src.get());
        qrx::Image a = src.as<Picture>()->toImage(), b = copy.as<Picture>()->toImage();
        for (int i = 0; i < 7 * 3; ++i)
            ASSERT_EQ(0, std::memcmp(&a.rgba[i * 4], &b.rgba[i * 4], 3)) << i;
        Ref empty = adopt(qrxtest::service<HostService::NewInstance>()("Picture"));
        EXPECT_EQ(ClonePicture(handleOf(empty)), nullptr);
        EXPECT_EQ(ClonePicture(nullptr), nullptr);
    }
}

// Without a host: the allocation helpers refuse sizes outside what a host can hold (cleared memory
// 1 to 2^31 - 1 bytes, MemoryBlocks 0 to 2^31 - 2) before asking for any service.
TEST(PluginMemory, SizesOutsideTheHostRangeAreRefusedUnasked) {
    static int asked = 0;
    UseResolver([](const char*) -> void* { return ++asked, nullptr; });
    for (long long size : {-1LL, 0LL, 2147483648LL})
        EXPECT_EQ(AllocateClearMemory(size), nullptr) << size;
    auto* p = static_cast<unsigned char*>(AllocateClearMemory(4099));
    EXPECT_EQ(std::count(p, p + 4099, 0), 4099);
    FreeMemoryNow(p);
    for (long long size : {-1LL, 2147483647LL})
        EXPECT_EQ(REALNewMemoryBlock(size), nullptr) << size;
    EXPECT_EQ(asked, 0);
    REALNewMemoryBlock(0);
    EXPECT_EQ(asked, 1);
    UseResolver(nullptr);
}

// The module's own reading of the processor agrees with Highway's, and the scalar loops always
// run. (AVX-512 with VBMI is left out: Highway 1.0.3 asks for more features there.)
TEST(VectorTargets, RunWhereHighwaySaysTheProcessorCan) {
    EXPECT_TRUE(simd::Runs(simd::Target::Scalar));
#if defined(__x86_64__)
    const int64_t supported = hwy::SupportedTargets();
    for (auto [target, bit] : {std::pair{simd::Target::Sse4, HWY_SSE4},
                               {simd::Target::Avx2, HWY_AVX2},
                               {simd::Target::Avx512, HWY_AVX3}})
        EXPECT_EQ(simd::Runs(target), (supported & bit) != 0) << simd::TargetName(target);
#endif
}

} // namespace
