// The host runtime as a plugin reaches it through the resolver, each part as a table: registration
// records and calls (a small class of this file's own functions, registered as a plugin would:
// overloads, defaults, object slots, assignable methods, direct and function properties, malformed
// records), the services (description locks, references, strings, MemoryBlocks) with the audit,
// and how host pictures of both forms and every layout store a pixel.
// (What the plugin's own methods ask of the runtime, Graphics.DrawPicture of whole pictures among
// them, is driven and audited by the driver.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "bitmap_context.h"
#include "qrx/host.h"
#include "sdk/services.h"
#include "support.h"

namespace {

using qrx::CallError;
using qrx::Color;
using qrx::Host;
using qrx::HostConfig;
using qrx::HostKind;
using qrx::Nil;
using qrx::Picture;
using qrx::Ref;
using qrx::Value;
using qrxtest::service;

// Instance data of the test class "Counter".
struct CounterData {
    int32_t count;  // offset 0, direct "Count"
    int32_t unused; // offset 4
    double scale;   // offset 8, direct "Scale"
    int32_t items[8];
};

REALclassDefinition gCounterClass{};
int gDestroyed = 0;

// The functions of Counter, its Picture extension and the globals.
struct F {
    static CounterData* of(REALobject obj) {
        return static_cast<CounterData*>(service<HostService::GetClassData>()(obj, &gCounterClass));
    }
    static void construct(REALobject self) { of(self)->count = 100; }
    static void destroy(REALobject) { ++gDestroyed; }
    static int32_t addInt(REALobject self, int32_t n) { return of(self)->count += n; }
    static double addDouble(REALobject self, double x) { return of(self)->scale += x; }
    static int32_t mix(REALobject, int32_t a, int32_t b, uint32_t c) {
        return a * 10 + b + int32_t(c) * 100;
    }
    // Puts a new picture in the slot, handing over its reference; or leaves the slot alone.
    static void replace(REALobject, REALpicture* slot) {
        *slot = service<HostService::NewPicture>()(3, 2, 32);
    }
    static void keep(REALobject, REALpicture*) {}
    static int32_t getItem(REALobject self, int32_t i) { return of(self)->items[i & 7]; }
    static void setItem(REALobject self, int32_t i, int32_t v) { of(self)->items[i & 7] = v; }
    // Both see the property's parameter word (77); any other word gives -1.
    static int32_t getDoubled(REALobject self, int32_t w) {
        return w == 77 ? of(self)->count * 2 : -1;
    }
    static void setDoubled(REALobject self, int32_t w, int32_t v) {
        of(self)->count = w == 77 ? v / 2 : -1;
    }
    static int32_t width(REALpicture pic) {
        int32_t w = 0;
        service<HostService::GetPropValueInt32>()(reinterpret_cast<REALobject>(pic), "Width", &w);
        return w;
    }
    static int32_t twiceInt(int32_t x) { return 2 * x; }
    static double twiceDouble(double x) { return 2 * x; }
};
template <class Fn> void* fn(Fn* f) {
    return reinterpret_cast<void*>(f);
}

void* const kStd[] = {REALstandardGetter, REALstandardSetter};
REALproperty gCounterProperties[] = {{nullptr, "Count", "Integer", 0, kStd[0], kStd[1], 0, {}},
                                     {nullptr, "Scale", "Double", 0, kStd[0], kStd[1], 8, {}}};
REALproperty gMoreProperties[] = {
    {nullptr, "Doubled", "Integer", 0x40000, fn(F::getDoubled), fn(F::setDoubled), 77, {}}};
REALmethodDefinition gCounterMethods[] = {
    {fn(F::addInt), nullptr, "Add(n as integer) as integer", 4},
    {fn(F::addDouble), nullptr, "Add(x as double) as double", 0},
    {fn(F::mix), nullptr, "Mix(a as integer, b as integer = 5, c as color = &c010203) as integer",
     0}};
REALmethodDefinition gMoreMethods[] = {
    {fn(F::replace), nullptr, "Replace(byref p as picture)", 0},
    {fn(F::keep), nullptr, "Keep(byref p as picture)", 0},
    {fn(F::getItem), fn(F::setItem), "Item(i as integer) as integer", 0}};
REALmethodDefinition gPictureMethods[] = {{fn(F::width), nullptr, "W as integer", 0x40004}};
REALmethodDefinition gGlobals[] = {
    {fn(F::twiceInt), nullptr, "Twice(x as integer) as integer", 0},
    {fn(F::twiceDouble), nullptr, "Twice(x as double) as double", 0}};

class Calls : public testing::Test {
  protected:
    void SetUp() override {
        gDestroyed = 0;
        REALclassDefinition& c = gCounterClass = {};
        c.version = kPluginRecordVersion, c.name = "Counter", c.dataSize = 64, c.flags = 4;
        c.constructor = F::construct, c.destructor = F::destroy;
        c.properties = gCounterProperties, c.propertyCount = 2;
        c.methods = gCounterMethods, c.methodCount = 3;
        c.moreProperties = gMoreProperties, c.morePropertyCount = 1;
        c.moreMethods = gMoreMethods, c.moreMethodCount = 3;
        static REALclassDefinition extension{};
        extension.name = "Picture", extension.methods = gPictureMethods, extension.methodCount = 1;
        host.makeCurrent();
        service<HostService::RegisterClass>()(&gCounterClass);
        service<HostService::RegisterClassExtension>()(&extension);
        for (auto& g : gGlobals)
            service<HostService::RegisterMethod>()(&g);
        ASSERT_TRUE(host.registrationErrors().empty()) << host.registrationErrors().front();
    }
    Host host;
};

// Instance data is aligned to 16 and only for the class's own record; the destructor runs once.
TEST_F(Calls, ConstructorDestructorAndInstanceData) {
    {
        Ref c = host.newInstance("Counter"), pic = host.newPicture(1, 1, false);
        REALclassDefinition other = gCounterClass;
        const auto obj = static_cast<REALobject>(c->handle());
        EXPECT_EQ(reinterpret_cast<uintptr_t>(F::of(obj)) % 16, 0u);
        EXPECT_EQ(service<HostService::GetClassData>()(obj, &other), nullptr);
        EXPECT_EQ(F::of(static_cast<REALobject>(pic->handle())), nullptr);
    }
    EXPECT_EQ(gDestroyed, 1);
    EXPECT_EQ(host.audit().liveObjects, 0u);
    EXPECT_THROW(host.newInstance("NoSuchClass"), CallError);
}

// One call on a fresh Counter ("counter+pic": with a new 5x5 picture as the first argument; "same":
// the previous row's object), on a 4x3 picture, on nil or as a global: the result as described,
// or "error:" and a fragment of the refusal; then the byref values. "Name=" assigns (the value
// last), ".Name" reads a property and ".Name=" sets it. After each row every reference the call
// made is gone again. (Byref numbers and exceptions come back from the plugin's own methods in the
// driver.)
TEST_F(Calls, EveryCallAsATableRow) {
    // clang-format off
    // On what, method, arguments, result (then " byref" and the first byref value that is not nil).
    const std::tuple<std::string, std::string, std::vector<Value>, std::string> cases[] = {
        // Overloads chosen by count and type, names in any case.
        {"counter", "ADD", {int32_t(5)}, "105"},
        {"counter", "add", {2.5}, "2.5"},
        {"global", "Twice", {int32_t(21)}, "42"},
        {"picture", "w", {}, "4"},
        // Defaults fill missing arguments; an Integer is taken for a Color.
        {"counter", "Mix", {int32_t(1)}, "6605115"},
        {"counter", "Mix", {int32_t(4), int32_t(6), Color{0x0BCDEF}}, "77361546"},
        {"counter", "Mix", {int32_t(4), int32_t(6), int32_t(0x123456)}, "119304646"},
        // An object slot holds one reference per variable: a new picture put in it, or the same
        // picture left there.
        {"counter", "Replace", {Nil{}}, "nil byref <Picture 3x2>"},
        {"counter+pic", "Replace", {}, "nil byref <Picture 3x2>"},
        {"counter+pic", "Keep", {}, "nil byref <Picture 5x5>"},
        // No fitting overload: the method named, with every declaration of it.
        {"counter", "Add", {true}, "error: Counter.Add"},
        {"counter", "Add", {}, "error: Add(n as integer) as integer"},
        {"counter", "Add", {int32_t(1), int32_t(2)}, "error: Add(x as double) as double"},
        {"counter", "Mix", {}, "error: Mix"},
        {"global", "Nothing", {}, "error: "},
        // A Picture extension is not a Counter method, and the other way round.
        {"counter", "W", {}, "error: "},
        {"picture", "Add", {int32_t(1)}, "error: "},
        {"nil", "Add", {int32_t(1)}, "error: "},
        // Assignable methods take the value last, each index its own item.
        {"counter", "Item=", {int32_t(3), int32_t(34)}, "nil"},
        {"same", "Item=", {int32_t(7), int32_t(78)}, "nil"},
        {"same", "Item", {int32_t(3)}, "34"},
        {"counter", "Add=", {int32_t(1), int32_t(2)}, "error: "},
        {"counter", "Item=", {int32_t(1), 2.5}, "error: "},
        {"counter", "Item=", {int32_t(2)}, "error: "},
        // Direct properties, any case; an Integer is taken for a Double, not the other way round.
        {"counter", ".Count=", {int32_t(-7)}, "nil"},
        {"same", ".count", {}, "-7"},
        {"counter", ".Scale=", {int32_t(3)}, "nil"},
        {"same", ".Scale", {}, "3"},
        {"counter", ".Count=", {1.5}, "error: "},
        // Getter and setter functions receive the property's parameter word.
        {"counter", ".Doubled=", {int32_t(50)}, "nil"},
        {"same", ".Count", {}, "25"},
        {"same", ".Doubled", {}, "50"},
    };
    // clang-format on
    Ref self;
    for (const auto& [on, name, given, want] : cases) {
        std::string method = name;
        const std::string where = on + " " + method;
        if (on != "same")
            self = on.starts_with("counter") ? host.newInstance("Counter")
                   : on == "picture"         ? host.newPicture(4, 3, false)
                                             : Ref();
        std::vector<Value> args = given;
        if (on == "counter+pic") args.insert(args.begin(), host.newPicture(5, 5, false));
        const qrx::Audit before = host.audit();
        std::string got;
        qrx::CallResult r;
        try {
            const bool assigns = method.ends_with("=");
            Value value = Nil{};
            if (assigns) method.pop_back(), value = args.back(), args.pop_back();
            if (method[0] == '.' && assigns)
                host.setProperty(self, method.substr(1), value);
            else if (method[0] == '.')
                r.result = host.getProperty(self, method.substr(1));
            else if (assigns)
                r = host.assign(self, method, args, value);
            else
                r = on == "global" ? host.callGlobal(method, args) : host.call(self, method, args);
            got = qrx::describe(r.result);
            for (const Value& v : r.byRef)
                if (!std::holds_alternative<Nil>(v)) got += " byref " + qrx::describe(v);
        } catch (const CallError& e) {
            got = std::string("error: ") + e.what();
        }
        const bool error = want.starts_with("error: ");
        EXPECT_TRUE(error
                        ? got.starts_with(want.substr(0, 7)) && got.find(want.substr(7)) != got.npos
                        : got == want)
            << where << ": " << got;
        r = {};
        const qrx::Audit after = host.audit();
        EXPECT_EQ(std::pair(after.liveObjects, after.references),
                  std::pair(before.liveObjects, before.references))
            << where << ": the call kept a reference";
        qrxtest::expectQuiet(host);
    }
}

// A direct picture property holds one reference to the picture it holds.
REALmethodDefinition kBadDecl[] = {{fn(F::twiceInt), nullptr, "Broken(x as ) as integer", 0}};
REALmethodDefinition kNoFunction[] = {{nullptr, nullptr, "Fine as integer", 0}};
REALmethodDefinition kSetterNoResult[] = {
    {fn(F::twiceInt), fn(F::twiceInt), "Set(x as integer)", 0}};
REALproperty kOutside[] = {{nullptr, "Far", "Integer", 0, kStd[0], kStd[1], 14, {}}};
REALproperty kUnknownType[] = {{nullptr, "Odd", "Banana", 0, kStd[0], kStd[1], 0, {}}};

TEST(Registration, MalformedRecordsAreCollectedWithTheirFault) {
    using D = REALclassDefinition&;
    // clang-format off
    // A class record (16 bytes of data) with one fault, and part of the message it is refused with.
    const std::tuple<const char*, void (*)(D), const char*> cases[] = {
        {"bad declaration", [](D d) { d.methods = kBadDecl, d.methodCount = 1; }, "Broken(x as ) as integer"},
        {"no function", [](D d) { d.moreMethods = kNoFunction, d.moreMethodCount = 1; }, "no function"},
        {"setter without result", [](D d) { d.methods = kSetterNoResult, d.methodCount = 1; }, "result type"},
        {"property outside data", [](D d) { d.properties = kOutside, d.propertyCount = 1; }, "offset 14"},
        {"unknown property type", [](D d) { d.moreProperties = kUnknownType, d.morePropertyCount = 1; }, "Banana"},
        {"no name", [](D d) { d.name = nullptr; }, "without a name"},
    };
    // clang-format on
    for (auto [what, fault, message] : cases) {
        REALclassDefinition def{};
        def.name = "A", def.dataSize = 16;
        fault(def);
        Host host;
        host.makeCurrent();
        service<HostService::RegisterClass>()(&def);
        ASSERT_EQ(host.registrationErrors().size(), 1u) << what;
        EXPECT_NE(host.registrationErrors()[0].find(message), std::string::npos)
            << what << ": " << host.registrationErrors()[0];
    }
}

// ---- services
template <class H> H handle(const Ref& r) {
    return reinterpret_cast<H>(r->handle());
}
void unlockObject(const void* h) {
    service<HostService::UnlockObject>()(static_cast<REALobject>(const_cast<void*>(h)));
}

// A lock of a new 6x4 picture: the description type asked for (0: the two-argument lock, which
// reports the picture's own type), the type given (0: refused), and the locks counted after a
// refusal (hosts before 2012.0 count a refused lock as held until unlocked).
struct LockCase {
    const char* name;
    HostKind kind;
    std::optional<double> version;
    bool refuseBitmap, alpha;
    uint32_t type, given;
    int heldAfterRefusal;
};

// clang-format off
const LockCase kLocks[] = {
    {"desktop_bitmap", HostKind::Desktop, 2019.1, false, false, 8, 8, 0},
    {"desktop_refused", HostKind::Desktop, 2019.1, true, false, 8, 0, 0},
    {"desktop_own_type", HostKind::Desktop, 2019.1, false, true, 0, 8, 0},
    {"desktop_2012_refused", HostKind::Desktop, 2012.0, true, false, 8, 0, 0},
    {"console_record", HostKind::Console, 2019.1, false, false, 10, 10, 0},
    {"console_own_type", HostKind::Console, 2019.1, false, true, 0, 10, 0},
    {"web_gworld", HostKind::Web, 2012.0, false, false, 4, 0, 0},
    {"old_console_bitmap", HostKind::Console, 2011.99, false, false, 8, 0, 1},
    {"old_desktop_refused", HostKind::Desktop, 2010.0, true, false, 8, 0, 1},
    {"unversioned_record", HostKind::Desktop, std::nullopt, false, false, 10, 0, 1},
};
// clang-format on

TEST(DescriptionLocks, EveryKindVersionAndType) {
    for (const LockCase& c : kLocks) {
        SCOPED_TRACE(c.name);
        HostConfig config = qrxtest::ofKind(c.kind);
        config.version = c.version;
        config.bitmapLockFails = c.refuseBitmap;
        Host host(config);
        host.makeCurrent();
        Ref pic = host.newPicture(6, 4, c.alpha);
        Picture& p = *pic.as<Picture>();
        const auto h = handle<REALpicture>(pic);
        auto unlock = service<HostService::UnlockPictureDescription>();
        REALpictureDescription d{};
        const bool ok = c.type ? service<HostService::LockPictureDescription3>()(h, &d, c.type)
                               : service<HostService::LockPictureDescription2>()(h, &d);
        ASSERT_EQ(ok, c.given != 0);
        if (ok) {
            EXPECT_EQ(std::tuple(d.pictureType, d.width, d.height, d.data),
                      std::tuple(c.given, 6, 4,
                                 c.given == 8 ? static_cast<void*>(p.bitmapContext())
                                              : static_cast<void*>(p.trueColorImage())));
        }
        EXPECT_EQ(host.audit().descriptionLocks, ok ? 1 : c.heldAfterRefusal);
        if (ok || c.heldAfterRefusal) unlock(h);
        EXPECT_EQ(host.audit().descriptionLocks, 0);
        EXPECT_TRUE(host.audit().violations.empty());
        // One unlock too many is a violation, reported and listed, never a crash.
        unlock(h);
        ASSERT_EQ(host.audit().violations.size(), 1u);
        EXPECT_NE(host.audit().violations[0].find("unlockPictureDescription"), std::string::npos);
        EXPECT_EQ(p.descriptionLocks, 0);
        if (c.heldAfterRefusal) { // a picture that dies holding a lock still shows in the audit
            service<HostService::LockPictureDescription3>()(h, &d, c.type);
            pic.reset();
            EXPECT_EQ(host.audit().descriptionLocks, 1);
            EXPECT_EQ(host.audit().violations.size(), 2u);
        }
    }
}

TEST(References, CountedDestroyedAndAudited) {
    Host host;
    host.makeCurrent();
    auto lock = service<HostService::LockObject>();
    auto unlock = service<HostService::UnlockObject>();
    auto obj = reinterpret_cast<REALobject>(service<HostService::NewPicture>()(4, 4, 32));
    // Each step, then the live objects and references after it.
    const std::tuple<void (*)(REALobject), size_t, long> steps[] = {
        {nullptr, 1, 1}, {lock, 1, 2}, {unlock, 1, 1}, {unlock, 0, 0}};
    for (auto [step, objects, references] : steps) {
        if (step) step(obj);
        EXPECT_EQ(std::pair(host.audit().liveObjects, host.audit().references),
                  std::pair(objects, references));
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
    lock(handle<REALobject>(pic));
    unlock(handle<REALobject>(pic)); // the plugin's own: accepted
    EXPECT_EQ(pic->refCount(), 1);
    // A string service on a picture is a violation too.
    service<HostService::LockString>()(handle<REALstring>(pic));
    EXPECT_EQ(pic->refCount(), 1);
    const auto v = host.audit().violations;
    ASSERT_EQ(v.size(), 4u);
    for (auto [i, what] : {std::pair{0, "destroyed"}, {1, "unknown"}, {2, "does not hold"}})
        EXPECT_NE(v[i].find(what), std::string::npos) << v[i];
}

constexpr uint32_t k8 = kREALTextEncodingUTF8, k16 = kREALTextEncodingUTF16,
                   kRaw = kREALTextEncodingRaw;
// Bytes of one encoding converted to another.
// clang-format off
const std::tuple<const char*, std::string, uint32_t, uint32_t, std::string> kConversions[] = {
    {"utf8_to_utf16", "h\xC3\xA9\xE2\x82\xAC", k8, k16, std::string("h\0\xE9\0\xAC\x20", 6)},
    {"utf8_to_utf16_pair", "\xF0\x9D\x84\x9E", k8, k16, "\x34\xD8\x1E\xDD"},
    {"utf32_to_utf8", std::string("\x1E\xD1\x01\0z\0\0\0", 8), kREALTextEncodingUTF32, k8, "\xF0\x9D\x84\x9Ez"},
    {"utf8_to_ascii", "a\xC3\xA9z", k8, kREALTextEncodingASCII, "a?z"},
    {"raw_to_utf8", "\xE9\x41", kRaw, k8, "\xC3\xA9\x41"},
    {"bad_utf8", "a\xC3(", k8, k16, std::string("a\0\xFD\xFF(\0", 6)},
    {"lone_surrogate", std::string("\x00\xD8x\0", 4), k16, k8, "\xEF\xBF\xBDx"},
    {"as_stored", "\xFF\xFE", k8, 0xFFFF, "\xFF\xFE"},
};
// clang-format on

// A built string converted, and the same bytes through the string-data service: followed by four
// zero bytes, counted until disposed, and disposing twice is a violation.
TEST(Strings, ConvertStringAndStringData) {
    for (const auto& [name, in, from, to, out] : kConversions) {
        SCOPED_TRACE(name);
        Host host;
        host.makeCurrent();
        REALstring s = service<HostService::BuildString>()(in.data(), int32_t(in.size()));
        EXPECT_EQ(service<HostService::GetStringEncoding>()(s), kRaw);
        service<HostService::SetStringEncoding>()(s, from);
        if (to != 0xFFFF) {
            REALstring conv = service<HostService::ConvertString>()(s, to);
            auto* converted = dynamic_cast<qrx::String*>(host.fromHandle(conv));
            ASSERT_NE(converted, nullptr);
            EXPECT_EQ(std::pair(converted->text(), converted->encoding), std::pair(out, to));
            unlockObject(conv);
        }
        REALstringData data{};
        ASSERT_TRUE(service<HostService::GetStringData>()(s, to, &data));
        EXPECT_EQ(std::string(static_cast<const char*>(data.data), data.length) + "|" +
                      std::to_string(data.encoding),
                  out + "|" + std::to_string(to));
        EXPECT_EQ(0, std::memcmp(static_cast<const char*>(data.data) + data.length, "\0\0\0\0", 4));
        EXPECT_EQ(host.audit().stringData, 1);
        REALstringData copy = data;
        service<HostService::DisposeStringData>()(&data);
        EXPECT_EQ(host.audit().stringData, 0);
        EXPECT_TRUE(host.audit().violations.empty());
        service<HostService::DisposeStringData>()(&copy);
        EXPECT_EQ(host.audit().violations.size(), 1u);
        // Unknown encodings fail without a string.
        EXPECT_EQ(service<HostService::ConvertString>()(s, 0x1234), nullptr);
        EXPECT_FALSE(service<HostService::GetStringData>()(s, 0x1234, &data));
        service<HostService::UnlockString>()(s);
        EXPECT_EQ(host.audit().liveObjects, 0u);
    }
}

// MemoryBlocks of every size hold zeroed bytes; strings, pictures and blocks out of range are
// refused.
TEST(MemoryBlocks, SizesAndZeroedBytes) {
    Host host;
    host.makeCurrent();
    EXPECT_EQ(service<HostService::BuildString>()(nullptr, 3), nullptr);
    EXPECT_EQ(service<HostService::BuildString>()("x", -1), nullptr);
    auto make = service<HostService::NewMemoryBlock>();
    auto ptr = service<HostService::MemoryBlockGetPtr>();
    auto size = service<HostService::MemoryBlockGetSize>();
    EXPECT_EQ(make(-1), nullptr);
    auto newPic = service<HostService::NewPicture>(); // sizes 1..32767, depth 32 only
    for (auto [w, h, depth] : {std::tuple{0, 5, 32}, {5, -1, 32}, {32768, 1, 32}, {4, 4, 24}})
        EXPECT_EQ(newPic(w, h, depth), nullptr) << w << "x" << h << "x" << depth;
    for (int32_t n : {0, 1, 1024, 100000}) {
        REALmemoryBlock m = make(n);
        ASSERT_NE(m, nullptr) << n;
        EXPECT_EQ(size(m), n);
        auto* bytes = static_cast<uint8_t*>(ptr(m));
        EXPECT_EQ(std::count(bytes, bytes + n, 0), n);
        unlockObject(m);
    }
    EXPECT_TRUE(host.audit().violations.empty());
}

// ---- pictures
// How a picture is kept: host kind, layout for the bitmap, alpha channel, row padding, and the four
// bytes the pixel R 0x11 G 0x22 B 0x33 A 0x44 is stored as: alpha last (layouts 1, 3, 5) or first
// (2, 4, 6) in a bitmap; B G R and the 7-bit transparency (255 - 0x44) >> 1 in a record.
struct Form {
    const char* name;
    HostKind kind;
    uint32_t layout;
    bool alpha;
    int padding;
    uint8_t stored[4];
};

constexpr uint8_t kLast[4] = {0x11, 0x22, 0x33, 0x44};
// clang-format off
const Form kForms[] = {
    {"bitmap1", HostKind::Desktop, 1, false, 0, {0x11, 0x22, 0x33, 0x44}},
    {"bitmap2", HostKind::Desktop, 2, false, 4, {0x44, 0x11, 0x22, 0x33}},
    {"bitmap3", HostKind::Desktop, 3, false, 0, {0x11, 0x22, 0x33, 0x44}},
    {"bitmap4", HostKind::Desktop, 4, false, 12, {0x44, 0x11, 0x22, 0x33}},
    {"bitmap5", HostKind::Desktop, 5, false, 0, {0x11, 0x22, 0x33, 0x44}},
    {"bitmap6", HostKind::Desktop, 6, false, 3, {0x44, 0x11, 0x22, 0x33}},
    {"bitmap1a", HostKind::Desktop, 1, true, 0, {0x11, 0x22, 0x33, 0x44}},
    {"bitmap2a", HostKind::Desktop, 2, true, 8, {0x44, 0x11, 0x22, 0x33}},
    {"console", HostKind::Console, 0, false, 0, {0x33, 0x22, 0x11, 0x5D}},
    {"web_a", HostKind::Web, 0, true, 0, {0x33, 0x22, 0x11, 0x5D}},
};
// clang-format on

class PictureForms : public testing::TestWithParam<Form> {};

// A pixel is stored as its form says and reads back, in rows of the stated stride. (Whole pictures
// go in and out of every form around every call of the driver.)
TEST_P(PictureForms, StoredBytes) {
    const Form& f = GetParam();
    HostConfig config = qrxtest::ofKind(f.kind);
    config.rowPadding = f.padding;
    (f.alpha ? config.alphaLayout : config.plainLayout) = f.layout;
    Host host(config);
    Ref ref = host.newPicture(5, 4, f.alpha);
    Picture& p = *ref.as<Picture>();
    const bool bitmap = f.kind == HostKind::Desktop;
    EXPECT_EQ(p.bytesPerRow(), 5 * 4 + f.padding);
    p.setRgba(3, 2, kLast);
    uint8_t back[4];
    p.rgba(3, 2, back);
    EXPECT_EQ(0, std::memcmp(back, kLast, 4)); // 0x44 survives the 7-bit store
    const uint8_t* row = bitmap ? static_cast<uint8_t*>(CGBitmapContextGetData(p.bitmapContext())) +
                                      2 * p.bytesPerRow()
                                : reinterpret_cast<uint8_t*>(p.trueColorImage()->rowTable[2]);
    EXPECT_EQ(0, std::memcmp(row + 3 * 4, f.stored, 4));
}

// A new picture reads as the host's fill in every pixel and 0 in its row padding, also when its
// storage comes back from an earlier picture that left other bytes in it, and whether the fill
// is written by copies or, from a megabyte on, by streaming stores. Record rows are apart from
// each other, so a reader must take each one from the row table.
TEST_P(PictureForms, NewPicturesHoldTheFill) {
    const Form& f = GetParam();
    for (const auto& [width, height] :
         {std::pair{5, 4}, std::pair{600, 500}, std::pair{601, 500}}) {
        HostConfig config = qrxtest::ofKind(f.kind);
        config.rowPadding = f.padding;
        (f.alpha ? config.alphaLayout : config.plainLayout) = f.layout;
        // The default fills (each one byte repeated in most forms), or bytes that differ.
        if (width % 2) {
            const uint8_t plain[4] = {7, 77, 177, 255}, alpha[4] = {9, 99, 199, 0};
            std::memcpy(config.plainFill, plain, 4);
            std::memcpy(config.alphaFill, alpha, 4);
        }
        Host host(config);
        uint8_t fill[4];
        host.newPicture(1, 1, f.alpha).as<Picture>()->rgba(0, 0, fill);
        auto rowOf = [&](Picture& p, int y) {
            return f.kind == HostKind::Desktop
                       ? static_cast<uint8_t*>(CGBitmapContextGetData(p.bitmapContext())) +
                             size_t(y) * size_t(p.bytesPerRow())
                       : reinterpret_cast<uint8_t*>(p.trueColorImage()->rowTable[y]);
        };
        {
            Ref old = host.newPicture(width, height, f.alpha);
            for (int y = 0; y < height; ++y)
                std::memset(rowOf(*old.as<Picture>(), y), 0xA5,
                            size_t(old.as<Picture>()->bytesPerRow()));
        }
        Ref ref = host.newPicture(width, height, f.alpha);
        Picture& p = *ref.as<Picture>();
        size_t wrong = 0;
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = rowOf(p, y);
            for (int x = 0; x < width; ++x) {
                uint8_t px[4];
                p.rgba(x, y, px);
                wrong += std::memcmp(px, fill, 4) != 0;
            }
            for (int i = width * 4; i < p.bytesPerRow(); ++i)
                wrong += row[i] != 0;
            if (f.kind != HostKind::Desktop && y > 0) {
                EXPECT_GT(size_t(row - rowOf(p, y - 1)), size_t(width) * 4);
            }
        }
        EXPECT_EQ(wrong, 0u) << width << " x " << height;
    }
}

INSTANTIATE_TEST_SUITE_P(AllForms, PictureForms, testing::ValuesIn(kForms),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
