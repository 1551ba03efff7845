// The plugin's helpers, editors and picture copies driven directly against the real host runtime:
// strings in every encoding and on old and new hosts, exceptions, every acquisition path of the
// editors, and the two ways a picture is copied.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/entry.h"
#include "host/helpers.h"
#include "host/services.h"
#include "pixels/copy.h"
#include "pixels/editor.h"
#include "qrx/host.h"
#include "sdk/services.h"
#include "support.h"

namespace {

using qrx::Host;
using qrx::HostConfig;
using qrx::Picture;
using qrx::Ref;

// A runtime host with the statically linked plugin code bound to it, as REALPluginMain would bind
// it, but without registering anything.
class OnRuntime : public testing::Test {
  protected:
    void start(HostConfig config = {}) {
        ResetPluginState();
        host = std::make_unique<Host>(config);
        host->makeCurrent();
        gResolver = Host::resolver();
        gHostVersion = config.version.value_or(0.0);
    }
    void TearDown() override {
        if (host) qrxtest::expectQuiet(*host);
        ResetPluginState();
    }

    Ref adopt(void* handle) { return Ref::adopt(host->fromHandle(handle)); }
    REALpicture handleOf(const Ref& r) { return static_cast<REALpicture>(r->handle()); }
    std::string textOf(const Ref& s) { return s.as<qrx::String>()->text(); }

    std::unique_ptr<Host> host;
};

// ---------------------------------------------------------------------------------------------
// Building strings

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

std::string utf32(const std::u32string& s) {
    std::string out;
    for (char32_t c : s)
        for (int i = 0; i < 4; ++i)
            out.push_back(char(c >> (8 * i)));
    return out;
}

constexpr long long kWhole = LLONG_MIN;
constexpr uint32_t k8 = kREALTextEncodingUTF8, kRaw = kREALTextEncodingRaw;

const BuildCase kBuildCases[] = {
    {"utf32_two", utf32(U"AB"), kWhole, kREALTextEncodingUTF32, "AB", k8},
    {"utf32_three_bytes_is_empty", utf32(U"AB"), 3, kREALTextEncodingUTF32, "", k8},
    {"utf32_six_bytes_one_unit", utf32(U"AB"), 6, kREALTextEncodingUTF32, "A", k8},
    // Beyond U+FFFF only the low 16 bits are kept: U+1F600 becomes U+F600.
    {"utf32_astral_truncated", utf32(U"\U0001F600"), kWhole, kREALTextEncodingUTF32, "\xEF\x98\x80",
     k8},
    {"utf16", std::string("h\0i\0\xE9\0", 6), kWhole, kREALTextEncodingUTF16, "hi\xC3\xA9", k8},
    {"raw", std::string("\xFF\0A", 3), kWhole, kRaw, std::string("\xFF\0A", 3), kRaw},
    {"ascii", "ok", kWhole, kREALTextEncodingASCII, "ok", kREALTextEncodingASCII},
    {"zero_length", "x", 0, kRaw, std::nullopt, 0},
    {"negative_length", "x", -5, kRaw, std::nullopt, 0},
    {"too_long", "x", 2147483647LL, kRaw, std::nullopt, 0},
    // Long text takes the heap path, with the same result.
    {"utf32_long", utf32(std::u32string(999, U'x') + U"\u00E9"), kWhole, kREALTextEncodingUTF32,
     std::string(999, 'x') + "\xC3\xA9", k8},
};

TEST_F(OnRuntime, BuildStringEncodingsAndLengths) {
    start();
    for (const BuildCase& c : kBuildCases) {
        const long long length = c.length == kWhole ? (long long)c.bytes.size() : c.length;
        REALstring s = REALBuildUnicodeString(c.bytes.data(), length, c.encoding);
        ASSERT_EQ(s != nullptr, c.text.has_value()) << c.name;
        if (!s) continue;
        Ref str = adopt(s);
        EXPECT_EQ(textOf(str), *c.text) << c.name;
        EXPECT_EQ(str.as<qrx::String>()->encoding, c.resultEncoding) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Exceptions: a plugin global raising through the helper, called the way the host calls it.

void RaiseUnknown() {
    RaiseException("NoSuchExceptionClass", "boom", kREALTextEncodingASCII);
}
void RaiseNil() {
    RaiseException("NilObjectException", "picture is nil", kREALTextEncodingASCII);
}
void RaiseWithoutMessage() {
    RaiseException("NilObjectException", nullptr, 0x600);
}

TEST_F(OnRuntime, ExceptionsCarryClassAndMessage) {
    start();
    static REALmethodDefinition methods[] = {
        {reinterpret_cast<void*>(RaiseUnknown), nullptr, "RaiseUnknown", 0},
        {reinterpret_cast<void*>(RaiseNil), nullptr, "RaiseNil", 0},
        {reinterpret_cast<void*>(RaiseWithoutMessage), nullptr, "RaiseWithoutMessage", 0},
    };
    MyREALRegisterMethodArray(methods, 3);
    struct {
        const char* method;
        const char* cls;
        const char* message;
    } const cases[] = {
        {"RaiseUnknown", "RuntimeException", "boom"},
        {"RaiseNil", "NilObjectException", "picture is nil"},
        {"RaiseWithoutMessage", "NilObjectException", ""},
    };
    for (const auto& c : cases) {
        qrx::CallResult r = qrxtest::auditedGlobal(*host, c.method, {});
        ASSERT_TRUE(r.exception) << c.method;
        EXPECT_EQ(r.exception->className, c.cls) << c.method;
        EXPECT_EQ(r.exception->message, c.message) << c.method;
    }
}

// ---------------------------------------------------------------------------------------------
// Reading string bytes: the string-data service, its fallback, and the record of older hosts.

struct ViewCase {
    const char* name;
    std::optional<double> version;
    std::set<std::string> withheld;
    bool readable;
};

const ViewCase kViewCases[] = {
    {"string_data_service", 2019.1, {}, true},
    {"fallback_copy", 2019.1, {"PluginGetStringData", "PluginDisposeStringData"}, true},
    {"fallback_without_cstring", 2019.1, {"PluginGetStringData", "StringGetCString"}, false},
    {"fallback_without_lenb", 2019.1, {"PluginGetStringData", "REALLoadGlobalMethod"}, false},
    {"record_of_older_host", 2012.9, {"PluginGetStringData"}, true},
    {"no_version_reads_record", std::nullopt, {}, true},
};

TEST_F(OnRuntime, StringViewBytesAsStored) {
    for (const ViewCase& c : kViewCases) {
        SCOPED_TRACE(c.name);
        HostConfig config;
        config.version = c.version;
        config.withheld = c.withheld;
        start(config);
        const std::string text = "caf\xC3\xA9 au lait";
        Ref s = host->newString(text, kREALTextEncodingUTF8);
        // A nil string or MemoryBlock gives an empty view on any host.
        rbData nilString(static_cast<REALstring>(nullptr)),
            nilBlock(static_cast<REALmemoryBlock>(nullptr), 0, 0);
        EXPECT_EQ(std::tuple(nilString.data, nilString.size, nilBlock.data, nilBlock.size),
                  std::tuple(nullptr, 0u, nullptr, 0u));
        const int refsBefore = s->refCount();
        {
            rbData view(static_cast<REALstring>(s->handle()));
            if (!c.readable) {
                EXPECT_EQ(view.data, nullptr);
                EXPECT_EQ(view.size, 0u);
            } else {
                ASSERT_NE(view.data, nullptr);
                ASSERT_EQ(view.size, text.size());
                EXPECT_EQ(std::string(reinterpret_cast<char*>(view.data), view.size), text);
                // Copies the plugin makes itself end in four zero bytes.
                if (view.ownsStringData && c.withheld.count("PluginGetStringData")) {
                    EXPECT_EQ(0, std::memcmp(view.data + view.size, "\0\0\0\0", 4));
                }
            }
        }
        EXPECT_EQ(s->refCount(), refsBefore) << "the view must drop what it held";
        s.reset();
        qrxtest::expectQuiet(*host);
    }
}

TEST_F(OnRuntime, FallbackConvertsToTheRequestedEncoding) {
    HostConfig config;
    config.withheld = {"PluginGetStringData", "PluginDisposeStringData"};
    start(config);
    Ref s = host->newString("\xC3\xA9", kREALTextEncodingUTF8);
    REALstringData data{};
    ASSERT_TRUE(
        REALGetStringData(static_cast<REALstring>(s->handle()), kREALTextEncodingUTF16, &data));
    ASSERT_EQ(data.length, 2u);
    EXPECT_EQ(0, std::memcmp(data.data, "\xE9\x00", 2));
    EXPECT_EQ(data.encoding, kREALTextEncodingUTF16);
    REALDisposeStringData(&data);
}

// ---------------------------------------------------------------------------------------------
// Editors (reading every form is covered by the operations on every host)

TEST_F(OnRuntime, AcquiringASecondPictureReleasesTheFirst) {
    start();
    Ref a = host->newPicture(4, 4, false), b = host->newPicture(4, 4, false);
    auto* pa = a.as<Picture>();
    PictureEditor editor;
    ASSERT_TRUE(editor.GetPictureEditor(handleOf(a)));
    EXPECT_EQ(pa->refCount(), 2);
    EXPECT_EQ(pa->descriptionLocks, 1);
    const int clears = pa->cacheClears;
    ASSERT_TRUE(editor.GetPictureEditor(handleOf(b)));
    EXPECT_EQ(pa->refCount(), 1);
    EXPECT_EQ(pa->descriptionLocks, 0);
    EXPECT_EQ(pa->cacheClears, clears + 1) << "an editor that writes clears the cache on release";
    editor.clear();
    editor.clear(); // releasing twice is harmless
}

TEST_F(OnRuntime, WriterSizeLimitsAndGivenPictures) {
    start();
    struct {
        int w, h;
        bool ok;
    } const cases[] = {{32767, 1, true}, {1, 32767, true}, {32768, 1, false},
                       {0, 5, false},    {5, -1, false},   {1, 1, true}};
    for (const auto& c : cases) {
        PictureWriter writer;
        EXPECT_EQ(writer.NewPictureWriter(c.w, c.h), c.ok) << c.w << "x" << c.h;
        writer.clear();
        EXPECT_EQ(host->audit().liveObjects, 0u);
    }
    // Into a given picture when it is large enough.
    Ref dest = host->newPicture(10, 10, false);
    PictureWriter writer;
    ASSERT_TRUE(writer.NewPictureWriter(handleOf(dest), 10, 8));
    EXPECT_EQ(writer.picture, handleOf(dest));
    ASSERT_TRUE(writer.NewPictureWriter(handleOf(dest), 11, 8));
    EXPECT_NE(writer.picture, handleOf(dest)) << "too small: a new picture";
    EXPECT_EQ(writer.width, 11);
}

// ---------------------------------------------------------------------------------------------
// Copies

TEST_F(OnRuntime, OwnCopyOnlyForWholeRecordsOfEqualSize) {
    HostConfig config = qrxtest::ofKind(qrx::HostKind::Console);
    start(config);
    Ref src = host->pictureFromImage(qrxtest::patternImage(6, 4, false, 5));
    Ref same = host->newPicture(6, 4, false), other = host->newPicture(5, 4, false);
    auto* pOther = other.as<Picture>();

    EXPECT_FALSE(OwnCopy(handleOf(same), handleOf(src), 1, 0, 6, 4, 0, 0, 6, 4));
    EXPECT_EQ(same.as<Picture>()->cacheClears, 0) << "an offset copy touches nothing";

    const int clears = pOther->cacheClears;
    EXPECT_FALSE(OwnCopy(handleOf(other), handleOf(src), 0, 0, 6, 4, 0, 0, 6, 4));
    EXPECT_EQ(pOther->cacheClears, clears + 1) << "the cache is cleared even when nothing moved";

    ASSERT_TRUE(OwnCopy(handleOf(same), handleOf(src), 0, 0, 6, 4, 0, 0, 6, 4));
    EXPECT_EQ(same.as<Picture>()->toImage().rgba, src.as<Picture>()->toImage().rgba);
}

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
        copy.reset();
        src.reset();
        qrxtest::expectQuiet(*host);
    }
}

TEST_F(OnRuntime, CloneOfAnEmptyPictureIsNil) {
    start();
    Ref empty = Ref::adopt(host->fromHandle(
        reinterpret_cast<rbsvc::NewInstance>(Host::resolver()("PluginNewInstance"))("Picture")));
    ASSERT_TRUE(empty);
    EXPECT_EQ(ClonePicture(handleOf(empty)), nullptr);
    EXPECT_EQ(ClonePicture(nullptr), nullptr);
}

TEST_F(OnRuntime, DrawPictureOfTheHostTakesOffsetsOwnCopyWouldRefuse) {
    start();
    Ref src = host->pictureFromImage(qrxtest::patternImage(4, 4, false, 2));
    Ref dest = host->newPicture(6, 6, false);
    auto graphics = reinterpret_cast<rbsvc::PictureGraphics>(
        Host::resolver()("pluginPictureGraphicsGetter"))(handleOf(dest));
    Ref g = adopt(graphics);
    ASSERT_TRUE(g);
    EXPECT_TRUE(
        GraphicsDrawPicture(graphics, handleOf(dest), handleOf(src), 1, 1, 4, 4, 0, 0, 4, 4));
    uint8_t got[4];
    dest.as<Picture>()->rgba(1, 1, got);
    qrx::Image s = src.as<Picture>()->toImage();
    EXPECT_EQ(0, std::memcmp(got, s.pixel(0, 0), 3));
}

} // namespace
