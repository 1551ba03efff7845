// The services as a plugin reaches them through the resolver: names, withheld names, host kinds,
// description locks, references, strings, MemoryBlocks and built-in methods, with the audit.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bitmap_context.h"
#include "host_impl.h"
#include "qrx/host.h"
#include "sdk/services.h"
#include "support.h"

namespace {

using qrx::Host;
using qrx::HostConfig;
using qrx::HostKind;
using qrx::Picture;
using qrx::Ref;

using qrxtest::ofKind;
using qrxtest::service;

template <class H> H handle(const Ref& r) {
    return reinterpret_cast<H>(r->handle());
}

TEST(Resolver, AnswersEveryServiceOfTheCurrentHostAndCountsEachAsking) {
    Host host;
    host.makeCurrent();
    const auto names = qrx::serviceNames();
    EXPECT_GE(names.size(), 30u);
    for (std::string_view n : names) {
        const std::string name(n);
        EXPECT_NE(Host::resolver()(name.c_str()), nullptr) << name;
        EXPECT_EQ(Host::resolver()(name.c_str()), Host::resolver()(name.c_str())) << name;
        EXPECT_EQ(host.resolveCount(name), 3u) << name;
    }
    for (const char* name : {"NoSuchService", "", "realLockObject"})
        EXPECT_EQ(Host::resolver()(name), nullptr) << name;
    EXPECT_EQ(Host::resolver()(nullptr), nullptr);
    EXPECT_EQ(host.resolveCount("NoSuchService"), 1u);

    // Withheld names resolve to null, though each asking counts; a host without a version
    // has no version service.
    HostConfig config;
    config.withheld = {"newPicture", "PluginGetStringData"};
    config.version = std::nullopt;
    Host h(config);
    h.makeCurrent();
    for (std::string_view n : names)
        EXPECT_EQ(Host::resolver()(std::string(n).c_str()) == nullptr,
                  config.withheld.count(std::string(n)) || n == "REALGetRBVersion")
            << n;
    EXPECT_EQ(h.resolveCount("newPicture"), 1u);

    // An address resolved once answers for whichever host is current.
    auto announce = service<rbsvc::RegisterPluginVersion>("RegisterPluginVersion");
    host.makeCurrent();
    announce(9);
    h.makeCurrent();
    announce(7);
    EXPECT_EQ(host.pluginVersion(), 9);
    EXPECT_EQ(h.pluginVersion(), 7);
    EXPECT_EQ(Host::current(), &h);
}

TEST(Resolver, OnlyTheKindsApplicationClassExists) {
    const std::pair<HostKind, const char*> kinds[] = {{HostKind::Desktop, "Application"},
                                                      {HostKind::Console, "ConsoleApplication"},
                                                      {HostKind::Web, "WebApplication"}};
    for (auto [kind, present] : kinds) {
        Host host(ofKind(kind));
        host.makeCurrent();
        auto type = service<rbsvc::ObjectType>("pluginObjectType");
        for (const char* name : {"Application", "ConsoleApplication", "WebApplication"})
            EXPECT_EQ(type(name) != nullptr, std::string(name) == present) << name;
        for (const char* name : {"Picture", "Graphics", "MemoryBlock", "String",
                                 "NilObjectException", "RuntimeException"})
            EXPECT_NE(type(name), nullptr) << name;
        EXPECT_EQ(type("NoSuchClass"), nullptr);
        EXPECT_EQ(type(nullptr), nullptr);
    }
}

// ---- description locks ------------------------------------------------------------------------

// A lock of a new 6x4 picture: the description type asked for (0: the two-argument lock, which
// reports the picture's own type), whether it is given, and the locks counted after a refusal
// (older hosts count a failed lock as held until unlocked).
struct LockCase {
    const char* name;
    HostKind kind;
    std::optional<double> version;
    bool refuseBitmap, alpha;
    uint32_t type;
    uint32_t given; // the type described, 0: refused
    int heldAfterFailure;
};

const LockCase kLocks[] = {
    {"desktop_bitmap", HostKind::Desktop, 2019.1, false, false, 8, 8, 0},
    {"desktop_record", HostKind::Desktop, 2019.1, false, false, 10, 0, 0},
    {"desktop_refused", HostKind::Desktop, 2019.1, true, false, 8, 0, 0},
    {"desktop_own_type", HostKind::Desktop, 2019.1, false, true, 0, 8, 0},
    {"console_record", HostKind::Console, 2019.1, false, false, 10, 10, 0},
    {"console_bitmap", HostKind::Console, 2019.1, false, false, 8, 0, 0},
    {"console_own_type", HostKind::Console, 2019.1, false, true, 0, 10, 0},
    {"web_record", HostKind::Web, 2012.0, false, false, 10, 10, 0},
    {"web_gworld", HostKind::Web, 2012.0, false, false, 4, 0, 0},
    {"old_console_bitmap", HostKind::Console, 2011.99, false, false, 8, 0, 1},
    {"old_desktop_refused", HostKind::Desktop, 2010.0, true, false, 8, 0, 1},
    {"unversioned_record", HostKind::Desktop, std::nullopt, false, false, 10, 0, 1},
};

TEST(DescriptionLocks, EveryKindVersionAndType) {
    for (const LockCase& c : kLocks) {
        SCOPED_TRACE(c.name);
        HostConfig config = qrxtest::ofKind(c.kind);
        config.version = c.version;
        config.bitmapLockFails = c.refuseBitmap;
        Host host(config);
        host.makeCurrent();
        Ref pic = host.newPicture(6, 4, c.alpha);
        const auto h = handle<REALpicture>(pic);
        auto unlock = service<rbsvc::UnlockPictureDescription>("unlockPictureDescription");
        REALpictureDescription desc{};
        const bool ok =
            c.type ? service<rbsvc::LockPictureDescription3>("REALLockPictureDescription")(h, &desc,
                                                                                           c.type)
                   : service<rbsvc::LockPictureDescription2>("lockPictureDescription")(h, &desc);
        ASSERT_EQ(ok, c.given != 0);
        Picture& p = *pic.as<Picture>();
        if (ok) {
            EXPECT_EQ(std::tuple(desc.pictureType, desc.width, desc.height),
                      std::tuple(c.given, 6, 4));
            EXPECT_EQ(desc.data, c.given == 8 ? static_cast<void*>(p.bitmapContext())
                                              : static_cast<void*>(p.trueColorImage()));
        }
        EXPECT_EQ(host.audit().descriptionLocks, ok ? 1 : c.heldAfterFailure);
        if (ok || c.heldAfterFailure) unlock(h);
        EXPECT_EQ(host.audit().descriptionLocks, 0);
        auto clear = service<rbsvc::PictureClearCache>("REALPictureClearCache");
        clear(h);
        clear(h);
        EXPECT_EQ(p.cacheClears, 2);
        EXPECT_TRUE(host.audit().violations.empty());
        // One unlock too many is a violation, reported and listed, never a crash.
        unlock(h);
        ASSERT_EQ(host.audit().violations.size(), 1u);
        EXPECT_NE(host.audit().violations[0].find("unlockPictureDescription"), std::string::npos);
        EXPECT_EQ(p.descriptionLocks, 0);
    }
}

TEST(DescriptionLocks, OldHostFailedLockWithoutUnlockShowsInAudit) {
    HostConfig config = qrxtest::ofKind(HostKind::Console);
    config.version = 2011.0;
    Host host(config);
    host.makeCurrent();
    {
        Ref pic = host.newPicture(2, 2, false);
        REALpictureDescription desc{};
        EXPECT_FALSE(service<rbsvc::LockPictureDescription3>("REALLockPictureDescription")(
            handle<REALpicture>(pic), &desc, 8));
        EXPECT_EQ(host.audit().descriptionLocks, 1);
    }
    // The picture died holding it: still counted, and reported.
    EXPECT_EQ(host.audit().descriptionLocks, 1);
    EXPECT_EQ(host.audit().violations.size(), 1u);
}

// ---- references -------------------------------------------------------------------------------

TEST(References, CountedDestroyedAndAudited) {
    Host host;
    host.makeCurrent();
    auto lock = service<rbsvc::LockObject>("REALLockObject");
    auto unlock = service<rbsvc::LockObject>("REALUnlockObject");
    auto obj = reinterpret_cast<REALobject>(service<rbsvc::NewPicture>("newPicture")(4, 4, 32));
    ASSERT_NE(obj, nullptr);
    // Each step, then the live objects and references after it.
    const std::tuple<void (*)(REALobject), size_t, long> steps[] = {
        {nullptr, 1, 1}, {lock, 1, 2}, {unlock, 1, 1}, {unlock, 0, 0}};
    for (auto [step, objects, references] : steps) {
        if (step) step(obj);
        EXPECT_EQ(host.audit().liveObjects, objects);
        EXPECT_EQ(host.audit().references, references);
    }
    EXPECT_TRUE(host.audit().violations.empty());
    int unknown = 0;
    unlock(obj);                                  // already destroyed
    lock(reinterpret_cast<REALobject>(&unknown)); // never a handle
    lock(nullptr);                                // nil is ignored
    unlock(nullptr);
    // The plugin may drop only references it took: one that would drop the host's own is refused.
    Ref pic = host.newPicture(4, 4, false);
    unlock(handle<REALobject>(pic));
    EXPECT_EQ(pic->refCount(), 1);
    lock(handle<REALobject>(pic));
    unlock(handle<REALobject>(pic)); // the plugin's own: accepted
    EXPECT_EQ(pic->refCount(), 1);
    const auto v = host.audit().violations;
    ASSERT_EQ(v.size(), 3u);
    for (auto [i, what] : {std::pair{0, "destroyed"}, {1, "unknown"}, {2, "does not hold"}})
        EXPECT_NE(v[i].find(what), std::string::npos) << v[i];
}

// Property services on pictures and Graphics: the answer, and the value read or set.
TEST(References, GraphicsMaskAndProperties) {
    Host host;
    host.makeCurrent();
    Ref pic = host.newPicture(7, 9, true);
    REALgraphics g =
        service<rbsvc::PictureGraphics>("pluginPictureGraphicsGetter")(handle<REALpicture>(pic));
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(pic->refCount(), 2); // the Graphics holds its picture
    auto* graphics = dynamic_cast<qrx::Graphics*>(host.fromHandle(g));
    auto p = handle<REALobject>(pic), gr = reinterpret_cast<REALobject>(g);
    auto getInt = service<rbsvc::GetPropValueInt32>("REALGetPropValueInt");
    auto setInt = service<rbsvc::SetPropValueInt32>("REALSetPropValueInt");
    int32_t i = 0;
    uint8_t b = 7;
    const std::tuple<const char*, bool, bool, int64_t> cases[] = {
        {"get Width", getInt(p, "Width", &i), true, i},
        {"get height", getInt(p, "height", &i), true, i},
        {"get bool HasAlphaChannel",
         service<rbsvc::GetPropValueUInt8>("REALGetPropValueBool")(p, "HasAlphaChannel", &b), true,
         b},
        {"get HasAlphaChannel as integer", getInt(p, "HasAlphaChannel", &i), false, 0},
        {"set Width", setInt(p, "Width", 3), false, pic.as<Picture>()->width()},
        {"set ForeColor",
         service<rbsvc::SetPropValueUInt32>("REALSetPropValueUInt32")(gr, "ForeColor", 0x123456),
         true, graphics->foreColor},
        {"set PenWidth", setInt(gr, "PenWidth", 3), true, graphics->penWidth},
        {"set ForeColor as integer", setInt(gr, "ForeColor", 3), false, graphics->foreColor},
        {"set Nothing", setInt(gr, "Nothing", 3), false, 0},
    };
    const int64_t want[] = {7, 9, 1, 0, 7, 0x123456, 3, 0x123456, 0};
    for (size_t k = 0; k < std::size(cases); ++k) {
        EXPECT_EQ(std::get<1>(cases[k]), std::get<2>(cases[k])) << std::get<0>(cases[k]);
        EXPECT_EQ(std::get<3>(cases[k]), want[k]) << std::get<0>(cases[k]);
    }
    service<rbsvc::GraphicsDrawLine>("RuntimeGraphicsDrawLine")(g, 1, 2, 3, 4);
    ASSERT_EQ(graphics->lines.size(), 1u);
    EXPECT_EQ(graphics->lines[0], (std::array<int32_t, 4>{1, 2, 3, 4}));
    service<rbsvc::LockObject>("REALUnlockObject")(gr);
    EXPECT_EQ(pic->refCount(), 1);

    auto mask = service<rbsvc::GetPictureMask>("REALGetPictureMask");
    EXPECT_EQ(mask(handle<REALpicture>(pic), 0), nullptr);
    pic.as<Picture>()->mask = host.newPicture(2, 2, false);
    REALpicture m = mask(handle<REALpicture>(pic), 0);
    ASSERT_EQ(m, handle<REALpicture>(pic.as<Picture>()->mask));
    EXPECT_EQ(pic.as<Picture>()->mask->refCount(), 2);
    service<rbsvc::LockObject>("REALUnlockObject")(reinterpret_cast<REALobject>(m));
    EXPECT_EQ(host.audit().liveObjects, 2u);
    EXPECT_TRUE(host.audit().violations.empty());
}

TEST(References, NewPictureServiceAndConstructor) {
    for (HostKind kind : {HostKind::Desktop, HostKind::Web}) {
        HostConfig config = qrxtest::ofKind(kind);
        config.alphaLayout = 2;
        config.bitmapLockFails = true; // applies to the host's own pictures, not to these
        Host host(config);
        host.makeCurrent();
        auto newPic = service<rbsvc::NewPicture>("newPicture");
        for (auto [w, h, depth] : {std::tuple{0, 5, 32}, {5, -1, 32}, {32768, 1, 32}, {4, 4, 24}})
            EXPECT_EQ(newPic(w, h, depth), nullptr) << w << "x" << h << "x" << depth;
        REALpicture plain = newPic(32767, 1, 32);
        ASSERT_NE(plain, nullptr);
        auto* p = dynamic_cast<Picture*>(host.fromHandle(plain));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::tuple(p->hasAlpha(), p->bitmapLockFails), std::tuple(false, false));
        service<rbsvc::LockObject>("REALUnlockObject")(reinterpret_cast<REALobject>(plain));

        REALobject obj = service<rbsvc::NewInstance>("PluginNewInstance")("Picture");
        ASSERT_NE(obj, nullptr);
        auto load = service<rbsvc::LoadObjectMethod>("REALLoadObjectMethod");
        EXPECT_EQ(load(obj, "Constructor(width as integer)"), nullptr);
        EXPECT_EQ(load(obj, "Constructor(width as integer, height as double)"), nullptr);
        auto ctor = reinterpret_cast<void (*)(REALobject, int32_t, int32_t)>(
            load(obj, "constructor(w as Integer, h as Integer)"));
        ASSERT_NE(ctor, nullptr);
        ctor(obj, 12, 3);
        auto* made = dynamic_cast<Picture*>(host.fromHandle(obj));
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(std::tuple(made->width(), made->height(), made->hasAlpha(), made->layout(),
                             made->bytesPerRow(), made->refCount()),
                  std::tuple(12, 3, true, kind == HostKind::Desktop ? 2u : 8u, 48, 1));
        service<rbsvc::LockObject>("REALUnlockObject")(obj);
        EXPECT_EQ(service<rbsvc::NewInstance>("PluginNewInstance")("NoSuchClass"), nullptr);
        // The host's own plain pictures refuse the bitmap.
        EXPECT_TRUE(host.newPicture(2, 2, false).as<Picture>()->bitmapLockFails);
        EXPECT_FALSE(host.newPicture(2, 2, true).as<Picture>()->bitmapLockFails);
        EXPECT_EQ(host.audit().liveObjects, 0u);
        EXPECT_TRUE(host.audit().violations.empty());
    }
}

// ---- strings ----------------------------------------------------------------------------------

struct Conversion {
    const char* name;
    std::string in;
    uint32_t from;
    uint32_t to;
    std::string out;
};

const Conversion kConversions[] = {
    {"utf8_to_utf16", "h\xC3\xA9\xE2\x82\xAC", kREALTextEncodingUTF8, kREALTextEncodingUTF16,
     std::string("h\0\xE9\0\xAC\x20", 6)},
    {"utf8_to_utf16_pair", "\xF0\x9D\x84\x9E", kREALTextEncodingUTF8, kREALTextEncodingUTF16,
     "\x34\xD8\x1E\xDD"},
    {"utf8_to_utf32", "A\xE2\x82\xAC", kREALTextEncodingUTF8, kREALTextEncodingUTF32,
     std::string("A\0\0\0\xAC\x20\0\0", 8)},
    {"utf16_to_utf8", std::string("h\0\xE9\0\x34\xD8\x1E\xDD", 8), kREALTextEncodingUTF16,
     kREALTextEncodingUTF8, "h\xC3\xA9\xF0\x9D\x84\x9E"},
    {"utf32_to_utf8", std::string("\x1E\xD1\x01\0z\0\0\0", 8), kREALTextEncodingUTF32,
     kREALTextEncodingUTF8, "\xF0\x9D\x84\x9Ez"},
    {"utf8_to_ascii", "a\xC3\xA9z", kREALTextEncodingUTF8, kREALTextEncodingASCII, "a?z"},
    {"ascii_to_utf16", "ok", kREALTextEncodingASCII, kREALTextEncodingUTF16,
     std::string("o\0k\0", 4)},
    {"raw_to_utf8", "\xE9\x41", kREALTextEncodingRaw, kREALTextEncodingUTF8, "\xC3\xA9\x41"},
    {"anything_to_raw", "\xFF\xFE", kREALTextEncodingUTF8, kREALTextEncodingRaw, "\xFF\xFE"},
    {"bad_utf8", "a\xC3(", kREALTextEncodingUTF8, kREALTextEncodingUTF16,
     std::string("a\0\xFD\xFF(\0", 6)},
    {"lone_surrogate", std::string("\x00\xD8x\0", 4), kREALTextEncodingUTF16, kREALTextEncodingUTF8,
     "\xEF\xBF\xBDx"},
    {"empty", "", kREALTextEncodingUTF16, kREALTextEncodingUTF8, ""},
};

TEST(Strings, ConvertStringAndStringData) {
    for (const Conversion& c : kConversions) {
        SCOPED_TRACE(c.name);
        Host host;
        host.makeCurrent();
        REALstring s =
            service<rbsvc::BuildString>("REALBuildString")(c.in.data(), int32_t(c.in.size()));
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(service<rbsvc::GetStringEncoding>("REALGetStringEncoding")(s),
                  kREALTextEncodingRaw);
        service<rbsvc::SetStringEncoding>("REALSetStringEncoding")(s, c.from);
        EXPECT_EQ(service<rbsvc::GetStringEncoding>("REALGetStringEncoding")(s), c.from);

        REALstring conv = service<rbsvc::ConvertString>("REALConvertString")(s, c.to);
        ASSERT_NE(conv, nullptr);
        auto* converted = dynamic_cast<qrx::String*>(host.fromHandle(conv));
        ASSERT_NE(converted, nullptr);
        EXPECT_EQ(converted->text(), c.out);
        EXPECT_EQ(converted->encoding, c.to);

        // The same bytes through the string-data service, followed by four zero bytes.
        REALstringData data{};
        ASSERT_TRUE(service<rbsvc::GetStringData>("PluginGetStringData")(s, c.to, &data));
        EXPECT_EQ(data.length, c.out.size());
        EXPECT_EQ(data.encoding, c.to);
        EXPECT_EQ(std::string(static_cast<const char*>(data.data), data.length), c.out);
        EXPECT_EQ(0, std::memcmp(static_cast<const char*>(data.data) + data.length, "\0\0\0\0", 4));
        EXPECT_EQ(host.audit().stringData, 1);
        service<rbsvc::DisposeStringData>("PluginDisposeStringData")(&data);
        EXPECT_EQ(host.audit().stringData, 0);

        auto unlock = service<rbsvc::LockString>("REALUnlockString");
        unlock(conv);
        unlock(s);
        EXPECT_EQ(host.audit().liveObjects, 0u);
        EXPECT_TRUE(host.audit().violations.empty());
    }
}

// (The record head, StringGetCString and LenB are read by the plugin's string views.)
TEST(Strings, RawDataAndMisuse) {
    Host host;
    host.makeCurrent();
    Ref s = host.newString("hello", kREALTextEncodingUTF8);
    auto str = handle<REALstring>(s);
    // 0xFFFF: the bytes as stored, whatever the encoding.
    REALstringData data{};
    ASSERT_TRUE(service<rbsvc::GetStringData>("PluginGetStringData")(str, 0xFFFF, &data));
    EXPECT_EQ(data.encoding, 0xFFFFu);
    EXPECT_EQ(std::string(static_cast<const char*>(data.data), data.length), "hello");
    REALstringData copy = data;
    auto dispose = service<rbsvc::DisposeStringData>("PluginDisposeStringData");
    dispose(&data);
    EXPECT_TRUE(host.audit().violations.empty());
    dispose(&copy); // disposed twice
    EXPECT_EQ(host.audit().violations.size(), 1u);

    // Unknown encodings fail without a string.
    EXPECT_EQ(service<rbsvc::ConvertString>("REALConvertString")(str, 0x1234), nullptr);
    EXPECT_FALSE(service<rbsvc::GetStringData>("PluginGetStringData")(str, 0x1234, &data));
    EXPECT_EQ(service<rbsvc::BuildString>("REALBuildString")(nullptr, 3), nullptr);
    EXPECT_EQ(service<rbsvc::BuildString>("REALBuildString")("x", -1), nullptr);

    // Locking counts like any object; a string service on a picture is a violation.
    auto lock = service<rbsvc::LockString>("REALLockString");
    lock(str);
    EXPECT_EQ(s->refCount(), 2);
    service<rbsvc::LockString>("REALUnlockString")(str);
    EXPECT_EQ(s->refCount(), 1);
    Ref pic = host.newPicture(1, 1, false);
    lock(handle<REALstring>(pic));
    EXPECT_EQ(pic->refCount(), 1);
    EXPECT_EQ(host.audit().violations.size(), 2u);
}

// ---- MemoryBlocks -----------------------------------------------------------------------------

TEST(MemoryBlocks, SizesAndZeroedBytes) {
    Host host;
    host.makeCurrent();
    auto make = service<rbsvc::NewMemoryBlock>("newMemoryBlock");
    auto ptr = service<rbsvc::MemoryBlockGetPtr>("memoryBlockGetPtr");
    auto size = service<rbsvc::MemoryBlockGetSize>("memoryBlockGetSize");
    EXPECT_EQ(make(-1), nullptr);
    for (int32_t n : {0, 1, 1024, 100000}) {
        REALmemoryBlock m = make(n);
        ASSERT_NE(m, nullptr) << n;
        EXPECT_EQ(size(m), n);
        auto* bytes = static_cast<uint8_t*>(ptr(m));
        if (n > 0) {
            ASSERT_NE(bytes, nullptr);
            for (int32_t i = 0; i < n; ++i)
                ASSERT_EQ(bytes[i], 0) << i;
            bytes[n - 1] = 0xAB;
            EXPECT_EQ(dynamic_cast<qrx::MemoryBlock*>(host.fromHandle(m))->bytes.back(), 0xAB);
        }
        service<rbsvc::LockObject>("REALUnlockObject")(reinterpret_cast<REALobject>(m));
    }
    const uint8_t init[] = {1, 2, 3};
    Ref block = host.newMemoryBlock(init);
    EXPECT_EQ(size(handle<REALmemoryBlock>(block)), 3);
    EXPECT_EQ(static_cast<uint8_t*>(ptr(handle<REALmemoryBlock>(block)))[2], 3);
    EXPECT_EQ(host.audit().liveObjects, 1u);
    EXPECT_TRUE(host.audit().violations.empty());
}

} // namespace
